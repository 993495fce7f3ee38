#include "relay/presence_check.h"

#include <cstdint>
#include <string>

namespace quillport {
namespace {

bool IsTerminator(const std::string& piece) { return piece == ".\r\n"; }

// Runs `step`, retrying it while it fails without a message text and the
// call's retry budget lasts.
template <class Step>
auto WithRetries(std::uint8_t& retries, Step step) {
  for (;;) {
    try {
      return step();
    } catch (const NewsError& error) {
      if (!std::string_view(error.what()).empty() || retries >= 2) throw;
      ++retries;
    }
  }
}

}  // namespace

bool ArticleExists(NewsClient& client, std::string_view message_id) {
  try {
    if (client.Command("Head " + std::string(message_id))) return false;  // refused: not held
  } catch (const NewsError&) {
    return false;  // nothing tells that the server holds it
  }
  std::uint8_t retries = 0;
  for (;;) {
    const std::string piece = WithRetries(retries, [&] { return client.ReceivedText(); });
    const bool readable = WithRetries(retries, [&] { return client.Readable(); });
    if (piece.empty() || IsTerminator(piece) || !readable) break;
  }
  return true;
}

}  // namespace quillport
