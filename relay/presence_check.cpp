#include "relay/presence_check.h"

#include <string>

namespace quillport {

bool ArticleExists(NewsClient& client, std::string_view message_id) {
  try {
    if (client.Command("Head " + std::string(message_id))) return false;  // refused: not held
  } catch (const NewsError&) {
    return false;  // nothing tells that the server holds it
  }
  // The reply's head is read to its end and dropped, so the next command finds the connection clear.
  while (client.Readable()) {
    const std::string piece = client.ReceivedText();
    if (piece.empty() || piece == ".\r\n") break;
  }
  return true;
}

}  // namespace quillport
