#include "news/nntp_reply.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace quillport {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string UpperVerb(std::string_view command) {
  std::string verb;
  for (char c : command) {
    if (c == ' ' || c == '\t') break;
    verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return verb;
}

}  // namespace

std::optional<NntpStatus> ParseStatusLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) return std::nullopt;
  if (line[0] < '1' || line[0] > '5') return std::nullopt;
  if (line.size() > 3 && line[3] != ' ') return std::nullopt;
  NntpStatus status;
  status.code = static_cast<std::int16_t>((line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0'));
  status.line = std::string(line);
  return status;
}

bool HasBody(std::string_view command, std::int16_t code) {
  // 100 HELP, 101 CAPABILITIES, 215 LIST, 220 ARTICLE, 221 HEAD, 222 BODY,
  // 224 OVER/XOVER, 225 HDR, 230 NEWNEWS, 231 NEWGROUPS.
  static constexpr std::array<std::int16_t, 10> kBodyCodes = {100, 101, 215, 220, 221, 222, 224, 225, 230, 231};
  if (code == 211) return UpperVerb(command) == "LISTGROUP";
  return std::find(kBodyCodes.begin(), kBodyCodes.end(), code) != kBodyCodes.end();
}

std::size_t ReplyBodyTracker::Take(std::string_view available, std::size_t limit) {
  const std::size_t end = std::min(available.size(), limit);
  std::size_t taken = 0;
  while (taken < end && state_ != State::kDone) {
    const char c = available[taken++];
    switch (state_) {
      case State::kLineStart: state_ = c == '.' ? State::kDot : c == '\n' ? State::kLineStart : State::kInLine; break;
      case State::kDot:
        // A bare LF after the dot is taken as the end too, from a server
        // that ends its lines with LF alone.
        state_ = c == '\r' ? State::kDotCr : c == '\n' ? State::kDone : State::kInLine;
        break;
      case State::kDotCr: state_ = c == '\n' ? State::kDone : State::kInLine; break;
      case State::kInLine:
        if (c == '\n') state_ = State::kLineStart;
        break;
      case State::kDone: break;
    }
  }
  return taken;
}

}  // namespace quillport
