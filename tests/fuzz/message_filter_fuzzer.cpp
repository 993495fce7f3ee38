// Fuzzes the message filter with the article encoder: any file is posted with PostMessageFile, its pieces made wire
// bytes as the NNTP client makes them. No piece is over 32767 characters, no dropped transport header is on
// the wire, the header has exactly one Message-ID, and the article ends at its terminator, not before.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/header_field.h"
#include "news/article_encoder.h"
#include "relay/message_poster.h"
#include "tests/testing/fake_news_client.h"
#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

[[noreturn]] void Broken(const char* what, std::string_view wire) {
  std::fprintf(stderr, "invariant broken: %s\n--- wire ---\n%.*s\n", what,
               static_cast<int>(std::min<std::size_t>(wire.size(), 4000)), wire.data());
  std::abort();
}

void CheckWire(std::string_view wire) {
  const std::size_t terminator = ("\r\n" + std::string(wire)).find("\r\n.\r\n");
  if (terminator == std::string::npos || terminator + 3 != wire.size()) {
    Broken("the article does not end exactly at its terminator", wire);
  }
  // The header: every line up to the first empty one.
  int message_ids = 0;
  for (std::size_t start = 0, end; (end = wire.find("\r\n", start)) != start; start = end + 2) {
    if (end == std::string_view::npos) Broken("a line without CR LF", wire);
    const std::string_view line = wire.substr(start, end - start);
    if (line.find_first_of("\r\n") != std::string::npos) Broken("a lone CR or LF", wire);
    for (std::string_view dropped : {"Received", "Return-path", "X-Envelope-To", "Date", "To", "CC"}) {
      if (IsHeaderField(line, dropped)) Broken("a dropped header on the wire", wire);
    }
    if (IsHeaderField(line, "Message-ID")) ++message_ids;
  }
  if (message_ids != 1) Broken("not exactly one Message-ID", wire);
}

}  // namespace
}  // namespace quillport

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillport;
  static const testing::TempFolder folder;
  static const RelaySettings settings{folder / "drop", "*.cnm", folder / "errors", ""};
  static QueueNameGenerator names;
  std::filesystem::create_directories(settings.drop_folder);
  std::filesystem::create_directories(settings.error_folder);
  const std::string path = settings.drop_folder + "/m.cnm";
  testing::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));

  testing::FakeNewsClient client;
  Result<QueuedFile> file = QueuedFile::Open(DefaultFileSystem(), {settings.drop_folder, "m.cnm", size}, {},
                                             std::chrono::system_clock::now());
  PostingContext context{client, names, settings, DefaultFileSystem()};
  // A file that cannot be read, deleted or filed is not what this checks; a failure of the client (which
  // accepts every article) is.
  Result<MessageOutcome> posted = file.ok() ? PostMessageFile(*file, context) : Result<MessageOutcome>(file.failure());
  if (!posted && posted.failure().reach == Failure::Reach::kAction) {
    Broken("a piece longer than 32767 characters", client.pieces.empty() ? "" : client.pieces.back());
  }
  if (std::ranges::find(client.calls, "EndArticle") != client.calls.end()) {
    ArticleEncoder encoder;
    std::string wire;
    for (const std::string& piece : client.pieces) encoder.Encode(piece, wire);
    encoder.Finish(wire);
    CheckWire(wire);
  }
  std::filesystem::remove_all(folder.path());
  return 0;
}
