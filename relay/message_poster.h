// Turning one queued message file into one news article.
#pragma once

#include <string>

#include "board/status_board.h"
#include "news/news_client.h"
#include "relay/presence_check.h"
#include "relay/queue_name_generator.h"
#include "relay/relay_settings.h"

namespace quillport {

// What posting a message needs from the running relay.
struct PostingContext {
  NewsClient& client;
  StatusBoard& board;
  Yield yield;
  QueueNameGenerator& names;
  const RelaySettings& settings;
};

// Reads the message at `path` (the drop folder, a separator and the file's
// name), drops its transport headers (Received, Return-path, X-Envelope-To,
// Date, To, CC and their continuation lines), disguises the From address
// when an X-Envelope-To line holds "_NoSpam", and posts the rest: the kept
// header block in one piece, then each body line as it is read.
//
// Disposal: a header that never ends, or one without "Newsgroups: ", and the
// file is deleted unposted. An accepted article: the file is deleted and the
// error line hidden. A refused one: the error line is shown; if the server
// holds the message id already the file is deleted, otherwise it is filed
// in the error folder.
//
// A header block or body line longer than 32767 characters can never be
// posted: the news client drops the connection, the file is filed in the
// error folder, and a NewsError(kOverflow) saying so is thrown. Any other
// failure is thrown as it came and the file stays in the drop folder.
void TrtMsg(const std::string& path, PostingContext& context);

}  // namespace quillport
