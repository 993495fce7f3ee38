#include "relay/presence_check.h"

#include <algorithm>
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
      if (!error.description().empty() || retries >= 2) throw;
      ++retries;
    }
  }
}

}  // namespace

bool ArticleExists(NewsClient& client, std::string_view message_id) {
  client.SetSetting(NewsSetting::kReadLines, false);
  try {
    client.CommandText("Head " + std::string(message_id));
  } catch (const NewsError& error) {
    if (error.number() > 0) return false;
  }

  std::uint8_t retries = 0;
  for (;;) {
    WithRetries(retries, [&] { client.SetSetting(NewsSetting::kReadSize, std::int16_t{1024}); });
    std::string piece = WithRetries(retries, [&] { return client.ReceivedText(); });
    std::replace(piece.begin(), piece.end(), '\0', ' ');
    std::replace(piece.begin(), piece.end(), '\x1a', ' ');
    const bool readable = WithRetries(retries, [&] { return client.Readable(); });
    if (piece.empty() || IsTerminator(piece) || !readable) break;
  }
  return true;
}

}  // namespace quillport
