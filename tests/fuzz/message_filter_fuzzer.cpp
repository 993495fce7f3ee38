// Fuzzes the message filter together with the article encoder: any file
// content is posted with TrtMsg to a client that turns each piece into wire
// bytes exactly as the NNTP client does. Checked on every input:
//   - no dropped transport header is among the header lines on the wire;
//   - the article ends at its terminator and nowhere before it;
//   - no piece handed to the client is longer than 32767 characters.
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "board/memory_status_board.h"
#include "common/ignoring_case.h"
#include "news/article_encoder.h"
#include "news/news_client.h"
#include "relay/message_poster.h"

namespace quillport {
namespace {

[[noreturn]] void Broken(const char* what, std::string_view wire) {
  std::fprintf(stderr, "invariant broken: %s\n--- wire ---\n%.*s\n", what,
               static_cast<int>(std::min<std::size_t>(wire.size(), 4000)), wire.data());
  std::abort();
}

// Accepts every article and keeps its wire form.
class WireClient : public NewsClient {
 public:
  std::string wire;
  bool ended = false;

  void SetSetting(NewsSetting, const NewsValue&) override {}
  NewsValue Setting(NewsSetting) const override { return std::string(); }
  void SetErrorHandler(NewsErrorHandler) override {}
  std::int16_t Connect() override { return 0; }
  std::int16_t Disconnect() override { return 0; }
  std::int16_t BeginArticle() override {
    encoder_.Reset();
    wire.clear();
    return 0;
  }
  void WriteText(std::string_view text) override {
    if (text.size() > 32767) Broken("a piece longer than 32767 characters", text);
    encoder_.Encode(text, wire);
  }
  std::int16_t EndArticle() override {
    encoder_.Finish(wire);
    ended = true;
    return 0;
  }
  void AbandonArticle() override { wire.clear(); }
  void CommandText(std::string_view) override {}
  std::string ReceivedText() override { return {}; }
  bool Readable() const override { return false; }

 private:
  ArticleEncoder encoder_;
};

void CheckWire(std::string_view wire) {
  static constexpr std::array<std::string_view, 6> kDropped = {
      "Received: ", "Return-path: ", "X-Envelope-To: ", "Date: ", "To: ", "CC: "};
  // The article ends at its first terminator line, which must be its end.
  const std::size_t terminator = ("\r\n" + std::string(wire)).find("\r\n.\r\n");
  if (terminator == std::string::npos || terminator + 3 != wire.size()) {
    Broken("the article does not end exactly at its terminator", wire);
  }
  // The header is every line up to the first empty one.
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = wire.find("\r\n", start);
    if (end == std::string_view::npos) Broken("a line without CR LF", wire);
    const std::string_view line = wire.substr(start, end - start);
    if (line.empty()) break;
    if (line.find_first_of("\r\n") != std::string_view::npos) Broken("a lone CR or LF", wire);
    for (std::string_view dropped : kDropped) {
      if (StartsWithIgnoringCase(line, dropped)) Broken("a dropped header on the wire", wire);
    }
    start = end + 2;
  }
}

struct Folders {
  Folders() {
    char pattern[] = "/tmp/quillport-fuzz-XXXXXX";
    root = ::mkdtemp(pattern);
    settings = {root + "/drop", "*.cnm", root + "/errors", ""};
    std::filesystem::create_directories(settings.drop_folder);
    std::filesystem::create_directories(settings.error_folder);
  }
  std::string root;
  RelaySettings settings;
};

}  // namespace
}  // namespace quillport

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillport;
  static Folders folders;
  static MemoryStatusBoard board;
  static QueueNameGenerator names;
  const std::string path = folders.settings.drop_folder + "/m.cnm";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  WireClient client;
  try {
    QueuedFile file = QueuedFile::Open(path, size, {}, std::chrono::system_clock::now());
    PostingContext context{client, board, [] {}, names, folders.settings};
    TrtMsg(file, context);
  } catch (const FileFailure&) {
    // Over-long messages are filed and reported: not what this checks.
  }
  if (client.ended) CheckWire(client.wire);

  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  for (const auto& entry : std::filesystem::directory_iterator(folders.settings.error_folder, ignored)) {
    std::filesystem::remove(entry.path(), ignored);
  }
  return 0;
}
