// Fuzzes the reading of an NNTP reply: the status line parser and the tracker that finds where a
// multi-line body ends. The input's first line is the status line, the rest body data (maybe several
// bodies in a row); read backwards, the input also supplies the piece sizes and limits for Take. Checked:
//  - a parsed code lies in 100..599 and is the line's first three digits, its line the input line
//    without its line end; a line starting with such a code and a space (or nothing) always parses;
//  - Take returns at most min(available, limit), and all of it unless the body ends inside, right
//    after an LF; a complete tracker takes nothing more;
//  - the body ends at the end of its first "." line (CR LF or LF), however its bytes are cut: whole,
//    byte by byte, line by line, or in fuzz-chosen pieces and limits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "news/nntp_reply.h"

namespace quillport {
namespace {

void Check(bool ok, const char* rule) {
  if (ok) return;
  std::fprintf(stderr, "nntp_reply_fuzzer: broken rule: %s\n", rule);
  std::abort();
}

constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

// Where each body in `stream` ends (one past its terminating line), found the plain way.
std::vector<std::size_t> ExpectedEnds(std::string_view stream) {
  std::vector<std::size_t> ends;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    if (stream[i] != '\n') continue;
    const std::string_view line = stream.substr(line_start, i + 1 - line_start);
    if (line == ".\n" || line == ".\r\n") ends.push_back(i + 1);
    line_start = i + 1;
  }
  return ends;
}

struct Piece {  // one piece to hand to Take
  std::size_t available;
  std::size_t limit;
};

// Feeds `stream` to a tracker piece by piece as `next(offset, rest)` says, a new body after each end;
// returns where the bodies ended. Each piece is copied to a buffer of its exact size for ASan.
using NextPiece = std::function<Piece(std::size_t offset, std::size_t rest)>;
std::vector<std::size_t> FeedPieces(std::string_view stream, const NextPiece& next) {
  std::vector<std::size_t> ends;
  ReplyBodyTracker tracker;
  std::size_t offset = 0;
  int idle = 0;
  while (offset < stream.size()) {
    Piece piece = next(offset, stream.size() - offset);
    if (idle >= 2) piece = {1, 1};  // make progress after two empty pieces
    piece.available = std::min(piece.available, stream.size() - offset);
    const std::vector<char> buffer(stream.begin() + offset, stream.begin() + offset + piece.available);
    const std::string_view available(buffer.data(), buffer.size());

    const std::size_t most = std::min(piece.available, piece.limit);
    const std::size_t taken = tracker.Take(available, piece.limit);
    Check(taken <= most, "Take returns at most min(available, limit)");
    if (tracker.Complete()) {
      Check(taken > 0 && available[taken - 1] == '\n', "a body ends right after an LF");
      Check(tracker.Take(available.substr(taken), kNoLimit) == 0, "a complete tracker takes nothing");
      Check(tracker.Take(".\r\n\n", 4) == 0, "a complete tracker takes nothing");
      Check(tracker.Complete(), "a complete tracker stays complete");
      ends.push_back(offset + taken);
      tracker.Reset();
      Check(!tracker.Complete(), "Reset starts a new body");
    } else {
      Check(taken == most, "Take hands out everything it may while the body goes on");
    }
    idle = taken == 0 ? idle + 1 : 0;
    offset += taken;
  }
  return ends;
}

void CheckStatusLine(std::string_view line) {
  const std::optional<NntpStatus> status = ParseStatusLine(line);
  std::string_view bare = line;
  while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r')) bare.remove_suffix(1);
  const auto digit = [&](std::size_t i) { return bare.size() > i && bare[i] >= '0' && bare[i] <= '9'; };
  const bool well_formed =
      digit(0) && digit(1) && digit(2) && bare[0] >= '1' && bare[0] <= '5' && (bare.size() == 3 || bare[3] == ' ');
  if (!status) {
    Check(!well_formed, "a line starting with a code 100..599 and a space parses");
    return;
  }
  Check(status->code >= 100 && status->code <= 599, "a status code lies in 100..599");
  Check(digit(0) && digit(1) && digit(2), "a status line starts with three digits");
  Check(status->code == (bare[0] - '0') * 100 + (bare[1] - '0') * 10 + (bare[2] - '0'),
        "the status code is the line's first three digits");
  Check(status->line == bare, "the status line is the line without its line end");
  Check(status->code == 211 || HasBody(status->line, status->code) == HasBody("", status->code),
        "only 211 depends on the command");
}

void CheckBody(std::string_view body, std::string_view input) {
  std::size_t tail = 0;
  const auto tail_byte = [&] {
    return input.empty() ? 0 : static_cast<unsigned char>(input[input.size() - 1 - tail++ % input.size()]);
  };
  const std::pair<const char*, NextPiece> feeds[] = {
      {"fed whole, the body ends after its first \".\" line",
       [](std::size_t, std::size_t rest) {
         return Piece{rest, kNoLimit};
       }},
      {"fed byte by byte, the body ends where it does fed whole",
       [](std::size_t, std::size_t rest) {
         return Piece{std::min<std::size_t>(rest, 3), 1};
       }},
      {"fed line by line, the body ends where it does fed whole",
       [body](std::size_t offset, std::size_t rest) {
         const std::size_t lf = body.find('\n', offset);
         const std::size_t length = lf == std::string_view::npos ? rest : lf + 1 - offset;
         return Piece{length, length};
       }},
      {"fed in chosen pieces and limits, the body ends where it does fed whole",
       [&](std::size_t, std::size_t) {
         const unsigned size = tail_byte(), limit = tail_byte();
         return Piece{size % 40, (limit & 0x80) ? kNoLimit : limit % 24};
       }},
  };
  const std::vector<std::size_t> expected = ExpectedEnds(body);
  for (const auto& [how, next] : feeds) Check(FeedPieces(body, next) == expected, how);
}

}  // namespace
}  // namespace quillport

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t lf = input.find('\n');
  const std::size_t status_end = lf == std::string_view::npos ? input.size() : lf + 1;
  quillport::CheckStatusLine(input.substr(0, status_end));
  quillport::CheckBody(input.substr(status_end), input);
  return 0;
}
