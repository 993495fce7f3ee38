// Fuzzes the reading of an NNTP reply: the input's first line is a status line for the parser, the rest
// body data (maybe several bodies in a row) for the tracker that finds where a body ends, fed whole and in pieces.
// Read backwards, the input also supplies piece sizes and limits for Take.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
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
  for (std::size_t i = 0, line_start = 0; i < stream.size(); ++i) {
    if (stream[i] != '\n') continue;
    const std::string_view line = stream.substr(line_start, i + 1 - line_start);
    if (line == ".\n" || line == ".\r\n") ends.push_back(i + 1);
    line_start = i + 1;
  }
  return ends;
}

// Feeds `body` to a tracker piece by piece (each in a buffer of its exact size, for ASan), a new body after each
// end; returns where the bodies ended. Read backwards, `input` gives the sizes and limits; empty, it is fed whole.
std::vector<std::size_t> FeedPieces(std::string_view body, std::string_view input) {
  std::vector<std::size_t> ends;
  ReplyBodyTracker tracker;
  std::size_t tail = 0;
  const auto next = [&]() -> unsigned {
    return static_cast<unsigned char>(input[input.size() - 1 - tail++ % input.size()]);
  };
  for (std::size_t offset = 0, idle = 0; offset < body.size();) {
    std::size_t size = body.size() - offset, limit = kNoLimit;
    if (idle >= 2) {
      size = limit = 1;  // make progress after two empty pieces
    } else if (!input.empty()) {
      size = std::min<std::size_t>(size, next() % 40);
      const unsigned chosen = next();
      if ((chosen & 0x80) == 0) limit = chosen % 24;
    }
    const std::vector<char> buffer(body.begin() + offset, body.begin() + offset + size);
    const std::string_view available(buffer.data(), buffer.size());

    const std::size_t taken = tracker.Take(available, limit);
    Check(taken <= std::min(size, limit), "Take returns at most min(available, limit)");
    if (tracker.Complete()) {
      Check(taken > 0 && available[taken - 1] == '\n', "a body ends right after an LF");
      Check(tracker.Take(available.substr(taken), kNoLimit) == 0, "a complete tracker takes nothing");
      Check(tracker.Take(".\r\n\n", 4) == 0, "a complete tracker takes nothing");
      Check(tracker.Complete(), "a complete tracker stays complete");
      ends.push_back(offset + taken);
      tracker.Reset();
      Check(!tracker.Complete(), "Reset starts a new body");
    } else {
      Check(taken == std::min(size, limit), "Take hands out everything it may while the body goes on");
    }
    idle = taken == 0 ? idle + 1 : 0;
    offset += taken;
  }
  return ends;
}

// A status line parses to its first three digits, 100 to 599, and the line without its end; or not at all.
void CheckStatusLine(std::string_view line) {
  const std::optional<NntpStatus> status = ParseStatusLine(line);
  if (!status) return;
  Check(status->code >= 100 && status->code <= 599 && line.starts_with(std::to_string(status->code)),
        "the status code is the line's first three digits, 100 to 599");
  Check(line.starts_with(status->line) && line.substr(status->line.size()).find_first_not_of("\r\n") == line.npos,
        "the status line is the line without its line end");
}

}  // namespace
}  // namespace quillport

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillport;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t lf = input.find('\n');
  const std::size_t status_end = lf == std::string_view::npos ? input.size() : lf + 1;
  CheckStatusLine(input.substr(0, status_end));
  // However its bytes are cut, the body ends at the end of its first "." line (CR LF or LF).
  const std::string_view body = input.substr(status_end);
  const std::vector<std::size_t> expected = ExpectedEnds(body);
  for (const std::string_view sizes : {std::string_view(), input}) {
    Check(FeedPieces(body, sizes) == expected, "the bodies end after their first \".\" lines");
  }
  return 0;
}
