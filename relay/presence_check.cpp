#include "relay/presence_check.h"

#include <string>

namespace quillport {

bool ArticleExists(NewsClient& client, std::string_view message_id) {
  if (client.Command("Head " + std::string(message_id))) return false;  // refused: not held
  // The reply's head is read to its end and dropped, so the next command finds the connection clear.
  while (client.Readable()) {
    const std::string piece = client.ReceivedText();
    if (piece.empty() || piece == ".\r\n") break;
  }
  return true;
}

}  // namespace quillport
