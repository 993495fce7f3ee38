#include "relay/message_file.h"

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

bool MessageFile::AtEnd() {
  return stream_.peek() == std::ifstream::traits_type::eof();
}

std::string MessageFile::ReadLine() {
  std::string line;
  std::getline(stream_, line, '\r');
  if (stream_.bad()) throw std::runtime_error("cannot read " + path_);
  if (stream_.eof()) {
    stream_.clear(stream_.rdstate() & ~std::ios::failbit & ~std::ios::eofbit);
    return line;
  }
  if (stream_.peek() == '\n') stream_.get();
  return line;
}

}  // namespace quillport
