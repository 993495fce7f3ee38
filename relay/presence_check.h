// Asking the news server whether it already holds an article.
#pragma once

#include <string_view>

#include "news/news_client.h"

namespace quillport {

// Sends "Head <message_id>" and returns whether the server accepted the
// command: false when it refused it; true otherwise. An accepted command's
// reply is drained piece by piece and discarded. A failure of the command
// or of the draining is passed on as it came: it tells nothing of what the
// server holds, so the message must stay where it is (filing it could put a
// message the server holds into the error folder as well).
bool ArticleExists(NewsClient& client, std::string_view message_id);

}  // namespace quillport
