// The shape of an NNTP reply: its status line, whether a body of lines
// follows it, and where that body ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillport {

struct NntpStatus {
  std::int16_t code = 0;  // three digits, 100 to 599
  std::string line;       // the whole status line without its line end
};

// Reads a status line ("NNN text", with or without its line end). Empty
// when the line does not start with a three-digit code followed by a space
// or by nothing.
std::optional<NntpStatus> ParseStatusLine(std::string_view line);

// True when a reply with this code to this command line carries a body of
// lines ended by a "." line. 211 has a body only after LISTGROUP.
bool HasBody(std::string_view command, std::int16_t code);

// Follows the body of a multi-line reply as it is handed out piece by piece,
// and finds the end of its terminating "." line, which may be cut across
// pieces anywhere. The body is taken as it stands on the wire (still
// dot-stuffed); a stuffed line ("..text") is not the end.
class ReplyBodyTracker {
 public:
  // How many leading bytes of `available`, at most `limit`, to hand out
  // next: all of them, or up to the end of the terminating line when it
  // lies among them. Counts those bytes as handed out.
  std::size_t Take(std::string_view available, std::size_t limit);

  // True once the terminating line has been handed out in full.
  bool Complete() const { return state_ == State::kDone; }

  // Starts following a new body.
  void Reset() { state_ = State::kLineStart; }

 private:
  enum class State { kLineStart, kDot, kDotCr, kInLine, kDone };
  State state_ = State::kLineStart;
};

}  // namespace quillport
