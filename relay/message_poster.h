// Turning one queued message file into one news article.
#pragma once

#include <string>

#include "news/news_client.h"
#include "relay/failure.h"
#include "relay/file_system.h"
#include "relay/message_outcome.h"
#include "relay/queue_name_generator.h"
#include "relay/queued_file.h"
#include "relay/relay_settings.h"

namespace quillport {

// What posting a message needs from the running relay.
struct PostingContext {
  NewsClient& client;
  QueueNameGenerator& names;
  const RelaySettings& settings;
  FileSystem& files;
  // Set when an article had to be abandoned: the connection is gone and
  // must be opened again before the next message.
  bool connection_dropped = false;
};

// Reads the message in `file` (opened and checked by QueuedFile::Open),
// drops its transport headers (Received, Return-path, X-Envelope-To, Date,
// To, CC and their continuation lines), disguises the From address when an
// X-Envelope-To line holds "_NoSpam", and posts the rest: the kept header
// block in one piece, then each body line as it is read. A header field is
// known by its name up to the colon, whatever the case and whatever follows
// the colon (a space, a TAB or nothing).
//
// Lines end at CR LF, a lone CR or a lone LF, in the header as in the body
// (see MessageFile), and every line goes out with CR LF: the filter judges
// exactly the lines the server will see, so no dropped header can reach it
// hidden behind a kept one.
//
// A header field may be folded: a line that starts with a space or TAB
// continues the field before it. The filter judges each field whole: a
// dropped field goes with its continuation lines (an X-Envelope-To guards
// when "_NoSpam" stands on any of its lines), and a Message-ID whose value
// stands on a continuation line is that value; the Message-ID is sent
// unfolded, on one line, as news servers refuse it folded. Every other kept
// field goes out as it came.
//
// A message without a Message-ID (an empty or blank one counts as none and
// is left out with its continuation lines) is given the one DerivedMessageId makes of its content, so
// posting the same message again always meets the server's duplicate
// check.
//
// Disposal: a header that never ends, or one without Newsgroups, and the
// file is deleted unposted. An accepted article: the file is deleted. An
// article refused as such (441): if the server holds the message id already
// the file is deleted, otherwise it is filed in the error folder. A message that can never be
// posted, because a line or the header block with its empty line is longer
// than 32767 characters on the wire, or because it has more than one
// Message-ID, is filed in the error folder unposted (the article, if begun,
// abandoned). Reading stops at the first line that is too long. Only the
// very file that was read is ever deleted or filed.
//
// Fails with reach kFile, with the file left in the drop folder unless the
// failure's fate says otherwise, when: the file cannot be read; it could not
// be deleted after posting (checked before anything is sent); it changed
// while it was read (the article is abandoned, never completed on the
// server); a message to be filed cannot be filed. An abandoned article sets
// `context.connection_dropped`. Fails with reach kAction, the file left in
// place, when the news client fails (the text is its what(), the number
// NewsError's), and when the server answers the article with anything but
// acceptance or a refusal of it (authentication required, service
// unavailable, ...): such an answer is not about this message.
Result<MessageOutcome> PostMessageFile(QueuedFile& file, PostingContext& context);

}  // namespace quillport
