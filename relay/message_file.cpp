#include "relay/message_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "relay/queued_file.h"

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

bool MessageFile::Fill() {
  if (position_ < length_) return true;
  if (at_end_) return false;
  ssize_t count;
  do {
    count = ::read(descriptor_, buffer_.data(), buffer_.size());
  } while (count < 0 && errno == EINTR);
  if (count < 0) throw FileFailure("cannot read " + path_ + ": " + std::strerror(errno));
  position_ = 0;
  length_ = static_cast<std::size_t>(count);
  bytes_read_ += length_;
  at_end_ = count == 0;
  return !at_end_;
}

bool MessageFile::AtEnd() { return !Fill(); }

bool MessageFile::ReadLine(std::string& line) {
  line.clear();
  while (Fill()) {
    const char* start = buffer_.data() + position_;
    const std::size_t available = length_ - position_;
    const char* end = FindLineEnd(start, available);
    const std::size_t count = end ? static_cast<std::size_t>(end - start) : available;
    if (line.size() + count > kMaxLineKept) {
      const std::size_t taken = kMaxLineKept - line.size();
      line.append(start, taken);
      position_ += taken;
      return false;
    }
    line.append(start, count);
    position_ += count;
    if (end) {
      ++position_;
      // CR LF is one line end, even when the LF comes in the next buffer.
      if (*end == '\r' && Fill() && buffer_[position_] == '\n') ++position_;
      return true;
    }
  }
  return true;
}

}  // namespace quillport
