#include "relay/message_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quillport {

MessageFile::MessageFile(const std::string& path)
    : path_(path), stream_(path, std::ios::in | std::ios::binary) {
  if (!stream_.is_open()) {
    throw std::runtime_error("cannot open " + path_ + ": " + std::strerror(errno));
  }
}

bool MessageFile::Fill() {
  if (position_ < length_) return true;
  if (!stream_.is_open()) return false;
  stream_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  if (stream_.bad()) throw std::runtime_error("cannot read " + path_);
  position_ = 0;
  length_ = static_cast<std::size_t>(stream_.gcount());
  return length_ > 0;
}

bool MessageFile::AtEnd() { return !Fill(); }

std::string MessageFile::ReadLine() {
  std::string line;
  while (Fill()) {
    const char* start = buffer_.data() + position_;
    const std::size_t available = length_ - position_;
    const auto* cr = static_cast<const char*>(std::memchr(start, '\r', available));
    const std::size_t count = cr ? static_cast<std::size_t>(cr - start) : available;
    if (line.size() < kMaxLineKept) {
      line.append(start, std::min(count, kMaxLineKept - line.size()));
    }
    position_ += count;
    if (cr) {
      ++position_;
      if (Fill() && buffer_[position_] == '\n') ++position_;
      return line;
    }
  }
  return line;
}

}  // namespace quillport
