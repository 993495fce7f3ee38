#include "relay/message_file.h"

#include <cstring>

namespace quillport {
namespace {

// The first CR or LF among `count` bytes at `start`; null when there is none.
const char* FindLineEnd(const char* start, std::size_t count) {
  const auto* cr = static_cast<const char*>(std::memchr(start, '\r', count));
  const std::size_t before_cr = cr ? static_cast<std::size_t>(cr - start) : count;
  const auto* lf = static_cast<const char*>(std::memchr(start, '\n', before_cr));
  return lf ? lf : cr;
}

}  // namespace

Result<bool> MessageFile::Fill() {
  if (position_ < length_) return true;
  if (at_end_) return false;
  std::size_t count = 0;
  if (const int error = files_.Read(descriptor_, buffer_, count); error != 0) {
    return Failure::OfFile("cannot read " + path_ + ": " + ErrorText(error));
  }
  position_ = 0;
  length_ = count;
  bytes_read_ += length_;
  at_end_ = count == 0;
  return !at_end_;
}

Result<MessageFile::Line> MessageFile::ReadLine(std::string& line) {
  line.clear();
  for (bool first = true;; first = false) {
    Result<bool> filled = Fill();
    if (!filled) return filled.failure();
    if (!*filled) return first ? Line::kNone : Line::kRead;
    const char* start = buffer_.data() + position_;
    const std::size_t available = length_ - position_;
    const char* end = FindLineEnd(start, available);
    const std::size_t count = end ? static_cast<std::size_t>(end - start) : available;
    if (line.size() + count > kMaxLineKept) {
      const std::size_t taken = kMaxLineKept - line.size();
      line.append(start, taken);
      position_ += taken;
      return Line::kTooLong;
    }
    line.append(start, count);
    position_ += count;
    if (end) {
      ++position_;
      // CR LF is one line end, even when the LF comes in the next buffer.
      if (*end == '\r') {
        Result<bool> more = Fill();
        if (!more) return more.failure();
        if (*more && buffer_[position_] == '\n') ++position_;
      }
      return Line::kRead;
    }
  }
}

}  // namespace quillport
