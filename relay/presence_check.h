// Asking the news server whether it already holds an article.
#pragma once

#include <string_view>

#include "news/news_client.h"

namespace quillport {

// Sends "Head <message_id>" and returns whether the server accepted the
// command: false when it refused it, or the command failed; true otherwise.
// An accepted command's reply is drained piece by piece and discarded; a
// failure while draining is passed on as it came.
bool ArticleExists(NewsClient& client, std::string_view message_id);

}  // namespace quillport
