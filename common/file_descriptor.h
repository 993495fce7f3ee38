// An open file descriptor, closed when it goes out of scope.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

namespace quillport {

class FileDescriptor {
 public:
  explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
  ~FileDescriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : descriptor_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      if (descriptor_ >= 0) ::close(descriptor_);
      descriptor_ = other.release();
    }
    return *this;
  }

  int get() const { return descriptor_; }
  bool valid() const { return descriptor_ >= 0; }

  // Gives the descriptor up without closing it.
  int release() { return std::exchange(descriptor_, -1); }

  // Closes it now; false when the close reports a failure (a lost write).
  bool Close() { return ::close(release()) == 0; }

 private:
  int descriptor_;
};

// Writes all of `bytes` to `descriptor`, going on after a partial write or
// an interruption. False on a failure, with errno telling why.
inline bool WriteAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace quillport
