#include "common/unnamed_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/durable_write.h"
#include "common/message_name.h"
#include "common/path_join.h"

namespace quillport {

namespace {

// Opens the new file: unnamed where the file system allows, else under a
// temporary name, which is then stored in `temporary`. -1 with errno set
// when neither works.
int OpenNewFile(const std::string& folder, const std::string& owner, std::string& temporary) {
  const int unnamed = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return unnamed;
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string path = JoinPath(folder, TemporaryName(owner));
    const int named = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (named >= 0) temporary = std::move(path);
    if (named >= 0 || errno != EEXIST) return named;
  }
  return -1;  // errno is EEXIST
}

}  // namespace

UnnamedFile::UnnamedFile(const std::string& folder, const std::string& owner)
    : file_(OpenNewFile(folder, owner, temporary_)), error_(file_.valid() ? 0 : errno) {}

UnnamedFile::~UnnamedFile() {
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

int UnnamedFile::Name(const std::string& path) {
  if (!temporary_.empty()) {
    const int error = RenameNoReplace(temporary_, path);
    if (error == 0) temporary_.clear();
    return error;
  }
  // linkat never replaces an existing entry. Through /proc it needs no
  // privilege; AT_EMPTY_PATH is the way where /proc is not mounted.
  const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  const int error = errno;
  if (error != ENOENT || ::access("/proc/self/fd", F_OK) == 0) return error;
  return ::linkat(file_.get(), "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

}  // namespace quillport
