#include "deliver/drop_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/message_name.h"
#include "common/path_join.h"
#include "deliver/delivery_failure.h"

namespace quillport {
namespace {

[[noreturn]] void TemporaryFailure(const std::string& what, int error) {
  throw DeliveryFailure(EX_TEMPFAIL, what + ": " + std::strerror(error));
}

// Opens a new file in `folder` for writing: an unnamed one where the file
// system has them, otherwise one under a temporary name, which `temporary`
// then holds. -1 with errno set when it cannot.
int OpenFile(const std::string& folder, std::string& temporary) {
  const int unnamed = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (unnamed >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return unnamed;
  temporary = JoinPath(folder, TemporaryNameTemplate("quillport-deliver"));
  return ::mkostemps(temporary.data(), kTemporarySuffixLength, O_CLOEXEC);
}

// Links the unnamed file open on `descriptor` to `path`, unless a file bears
// that name. Through /proc, which any user may; without /proc through
// AT_EMPTY_PATH, which the kernel may allow only with CAP_DAC_READ_SEARCH.
// Returns 0 or the errno value of the failure (EEXIST when `path` exists).
int LinkUnnamed(int descriptor, const std::string& path) {
  const std::string opened = "/proc/self/fd/" + std::to_string(descriptor);
  if (::linkat(AT_FDCWD, opened.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  const int error = errno;
  if (error != ENOENT || ::access("/proc/self/fd", F_OK) == 0) return error;
  return ::linkat(descriptor, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

}  // namespace

std::string MessageName(int attempt) {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  tm utc{};
  ::gmtime_r(&now.tv_sec, &utc);
  char name[96];
  const int length = std::snprintf(name, sizeof name, "%04d%02d%02d-%02d%02d%02d-%06ld-%ld", utc.tm_year + 1900,
                                   utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                                   static_cast<long>(now.tv_usec), static_cast<long>(::getpid()));
  std::string text(name, static_cast<std::size_t>(length));
  if (attempt > 0) text.append("-").append(std::to_string(attempt));
  return text + ".cnm";
}

namespace {

// The mode of a message file: what open(2) would give it under the process's
// umask, and readable by the group in any case, so that the relay's users
// (the folder's group) can read it whatever umask the mail system set
// (procmail's is 077).
mode_t MessageFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return (0666 & ~mask) | 0640;
}

}  // namespace

DropFile::DropFile(std::string folder)
    : folder_(std::move(folder)),
      file_(OpenFile(folder_, temporary_)),
      partial_(file_.valid() ? temporary_ : std::string()) {
  if (!file_.valid()) TemporaryFailure("cannot create a file in the drop folder " + folder_, errno);
}

void DropFile::Write(std::string_view bytes) {
  if (!WriteAll(file_.get(), bytes)) {
    TemporaryFailure("cannot write into the drop folder " + folder_, errno);
  }
}

void DropFile::Overwrite(std::uint64_t offset, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(file_.get(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) TemporaryFailure("cannot write into the drop folder " + folder_, errno);
    bytes.remove_prefix(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
}

std::string DropFile::Commit(const std::function<std::string(int attempt)>& name_for) {
  if (::fchmod(file_.get(), MessageFileMode()) != 0 || ::fsync(file_.get()) != 0) {
    TemporaryFailure("cannot write into the drop folder " + folder_, errno);
  }
  constexpr int kAttempts = 1000;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string name = name_for(attempt);
    const std::string path = JoinPath(folder_, name);
    const int error = GiveName(path);
    if (error == EEXIST) continue;
    if (error != 0) TemporaryFailure("cannot name the message " + path, error);
    partial_.Keep();
    if (!file_.Close() || !SyncFolder(folder_)) {
      const int sync_error = errno;
      ::unlink(path.c_str());
      TemporaryFailure("cannot flush the drop folder " + folder_ + " to disk", sync_error);
    }
    return name;
  }
  throw DeliveryFailure(EX_TEMPFAIL, "no free message name in the drop folder " + folder_);
}

int DropFile::GiveName(const std::string& path) {
  return temporary_.empty() ? LinkUnnamed(file_.get(), path) : RenameNoReplace(temporary_, path);
}

}  // namespace quillport
