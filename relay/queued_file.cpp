#include "relay/queued_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/file_descriptor.h"
#include "common/settings.h"

namespace quillport {
namespace {

std::string Reason() { return std::strerror(errno); }

[[noreturn]] void NotRegular(const std::string& path, mode_t mode) {
  throw FileFailure(path + " is " + FileKindName(mode) + ", not a message file; it is left alone");
}

[[noreturn]] void Vanished(const std::string& path) {
  throw FileFailure(path + " vanished before it could be read", FileFailure::Fate::kGone);
}

// What a read lease tells of the file. A lease can only be taken while
// nobody has the file open for writing; it is given back at once. Where
// leases are not available (not the file's owner, a file system without
// them) it tells nothing. A lease broken while held would raise a signal:
// it is SIGURG, which is ignored unless handled.
enum class LeaseAnswer { kNobodyWrites, kSomeoneWrites, kUnknown };

LeaseAnswer AskLease(int descriptor) {
  ::fcntl(descriptor, F_SETSIG, SIGURG);
  if (::fcntl(descriptor, F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(descriptor, F_SETLEASE, F_UNLCK);
    return LeaseAnswer::kNobodyWrites;
  }
  return errno == EAGAIN || errno == EBUSY ? LeaseAnswer::kSomeoneWrites : LeaseAnswer::kUnknown;
}

bool ModifiedRecently(const struct stat& status, std::chrono::milliseconds quiet_period,
                      std::chrono::system_clock::time_point now) {
  const auto modified =
      std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::seconds(status.st_mtim.tv_sec) + std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
  const auto age = now - modified;
  // A time in the future by more than the quiet period is a clock problem,
  // not a writer: waiting for it would hold the file back indefinitely.
  return age < quiet_period && age > -quiet_period;
}

// The attribute flags that forbid deleting (immutable, append-only).
bool Undeletable(int descriptor) {
  int flags = 0;
  if (::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) != 0) return false;
  return (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
}

}  // namespace

QueuedFile QueuedFile::Open(const std::string& path, std::uint64_t listed_size, QuietPeriods quiet,
                            std::chrono::system_clock::time_point now) {
  // Look before opening, so no device or FIFO is ever opened.
  struct stat named {};
  if (::lstat(path.c_str(), &named) != 0) {
    if (errno == ENOENT) Vanished(path);
    throw FileFailure("cannot examine " + path + ": " + Reason());
  }
  if (!S_ISREG(named.st_mode)) NotRegular(path, named.st_mode);

  FileDescriptor descriptor(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (descriptor.get() < 0) {
    if (errno == ENOENT) Vanished(path);
    if (errno == ELOOP) NotRegular(path, S_IFLNK);
    if (errno == EACCES) {
      throw FileFailure("cannot open " + path + ": " + Reason() +
                        "; it needs read permission for the relay's group (deliver it with a umask of 007 or 002)");
    }
    throw FileFailure("cannot open " + path + ": " + Reason());
  }
  struct stat opened {};
  if (::fstat(descriptor.get(), &opened) != 0) {
    throw FileFailure("cannot examine " + path + ": " + Reason());
  }
  // Something else may have been put under the name since it was looked at.
  if (!S_ISREG(opened.st_mode)) NotRegular(path, opened.st_mode);

  const LeaseAnswer lease = AskLease(descriptor.get());
  const auto quiet_period = lease == LeaseAnswer::kUnknown ? quiet.without_lease : quiet.with_lease;
  if (lease == LeaseAnswer::kSomeoneWrites) return QueuedFile(path, -1, opened, true, quiet_period);
  if (static_cast<std::uint64_t>(opened.st_size) != listed_size || ModifiedRecently(opened, quiet_period, now)) {
    return QueuedFile(path, -1, opened, false, quiet_period);
  }
  return QueuedFile(path, descriptor.release(), opened, false, quiet_period);
}

QueuedFile::QueuedFile(QueuedFile&& other) noexcept
    : path_(std::move(other.path_)),
      descriptor_(std::exchange(other.descriptor_, -1)),
      written_elsewhere_(other.written_elsewhere_),
      quiet_period_(other.quiet_period_),
      opened_(other.opened_) {}

QueuedFile& QueuedFile::operator=(QueuedFile&& other) noexcept {
  if (this != &other) {
    Close();
    path_ = std::move(other.path_);
    descriptor_ = std::exchange(other.descriptor_, -1);
    written_elsewhere_ = other.written_elsewhere_;
    quiet_period_ = other.quiet_period_;
    opened_ = other.opened_;
  }
  return *this;
}

QueuedFile::~QueuedFile() { Close(); }

void QueuedFile::Close() {
  if (descriptor_ >= 0) ::close(std::exchange(descriptor_, -1));
}

bool QueuedFile::ChangedSinceOpened() const {
  struct stat now {};
  if (descriptor_ < 0 || ::fstat(descriptor_, &now) != 0) return true;
  return now.st_size != opened_.st_size || now.st_mtim.tv_sec != opened_.st_mtim.tv_sec ||
         now.st_mtim.tv_nsec != opened_.st_mtim.tv_nsec;
}

bool QueuedFile::StillAtItsPath() const {
  struct stat named {};
  if (::lstat(path_.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return false;
  return FileIdentity{named.st_dev, named.st_ino} == identity();
}

void QueuedFile::RequireRemovable() const {
  const std::string folder = FolderOf(path_);
  const auto refuse = [&](const std::string& why) {
    throw FileFailure(path_ + " could not be deleted after posting (" + why +
                      "); it is left unposted, so that it is never posted twice");
  };
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    refuse("its folder: " + Reason());
  }
  struct stat folder_status {};
  if (::stat(folder.c_str(), &folder_status) != 0) refuse("its folder: " + Reason());
  const uid_t me = ::geteuid();
  if ((folder_status.st_mode & S_ISVTX) != 0 && me != 0 && me != opened_.st_uid && me != folder_status.st_uid) {
    refuse("its folder is sticky and the file belongs to someone else");
  }
  if (descriptor_ >= 0 && Undeletable(descriptor_)) refuse("the file is immutable or append-only");
  FileDescriptor folder_descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder_descriptor.get() >= 0 && Undeletable(folder_descriptor.get())) {
    refuse("its folder is immutable or append-only");
  }
}

void QueuedFile::Remove() const {
  if (!StillAtItsPath()) return;  // another file bears the name now: not ours to delete
  if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
    throw FileFailure("cannot delete " + path_ + ": " + Reason());
  }
}

const char* FileKindName(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISDIR(mode)) return "a folder";
  return "not a regular file";
}

std::string FolderOf(const std::string& path) {
  const std::size_t separator = path.rfind(settings::kPathSeparator);
  if (separator == std::string::npos) return ".";
  if (separator == 0) return path.substr(0, 1);
  return path.substr(0, separator);
}

}  // namespace quillport
