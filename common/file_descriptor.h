// An open file descriptor, closed when it goes out of scope.
#pragma once

#include <unistd.h>

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

  int get() const { return descriptor_; }
  bool valid() const { return descriptor_ >= 0; }

  // Gives the descriptor up without closing it.
  int release() { return std::exchange(descriptor_, -1); }

  // Closes it now; false when the close reports a failure (a lost write).
  bool Close() { return ::close(release()) == 0; }

 private:
  int descriptor_;
};

}  // namespace quillport
