#include "relay/message_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "relay/queued_file.h"

namespace quillport {

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
    const auto* cr = static_cast<const char*>(std::memchr(start, '\r', available));
    const std::size_t count = cr ? static_cast<std::size_t>(cr - start) : available;
    if (line.size() + count > kMaxLineKept) {
      const std::size_t taken = kMaxLineKept - line.size();
      line.append(start, taken);
      position_ += taken;
      return false;
    }
    line.append(start, count);
    position_ += count;
    if (cr) {
      ++position_;
      if (Fill() && buffer_[position_] == '\n') ++position_;
      return true;
    }
  }
  return true;
}

}  // namespace quillport
