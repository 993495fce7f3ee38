#include "relay/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/durable_write.h"
#include "common/path_join.h"

namespace quillport {
namespace {

// errno as this file system's answer: 0 when `succeeded`.
int Answer(bool succeeded) { return succeeded ? 0 : errno; }

FileStatus StatusOf(const struct stat& status) {
  FileStatus out;
  out.mode = status.st_mode;
  out.owner = status.st_uid;
  out.size = static_cast<std::uint64_t>(status.st_size);
  out.modified = std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
      std::chrono::seconds(status.st_mtim.tv_sec) + std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
  out.identity = {status.st_dev, status.st_ino};
  return out;
}

int OpenFlags(FileSystem::OpenMode mode) {
  constexpr int kAlways = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  switch (mode) {
    case FileSystem::OpenMode::kRead: return O_RDONLY | O_NOFOLLOW | kAlways;
    case FileSystem::OpenMode::kReadWrite: return O_RDWR | O_NOFOLLOW | kAlways;
    case FileSystem::OpenMode::kCreateNew: return O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | kAlways;
    case FileSystem::OpenMode::kAppend: return O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | kAlways;
    case FileSystem::OpenMode::kFolder: return O_RDONLY | O_DIRECTORY | kAlways;
  }
  return O_RDONLY | O_NOFOLLOW | kAlways;
}

// Closes a folder stream when it goes out of scope.
struct FolderStream {
  DIR* stream;
  ~FolderStream() {
    if (stream != nullptr) ::closedir(stream);
  }
};

}  // namespace

FileSystem& DefaultFileSystem() {
  static PosixFileSystem posix;  // holds no state
  return posix;
}

std::string ErrorText(int error) { return std::strerror(error); }

int PosixFileSystem::ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  entries.clear();
  const FolderStream folder_stream{::opendir(folder.c_str())};
  if (folder_stream.stream == nullptr) return errno;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(folder_stream.stream);
    if (entry == nullptr) return errno;
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat status {};
    if (::fstatat(::dirfd(folder_stream.stream), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) entries.push_back({name, {}, false});
      continue;
    }
    entries.push_back({name, StatusOf(status), true});
  }
}

int PosixFileSystem::Examine(const std::string& path, FileStatus& status, Follow follow) {
  struct stat found {};
  const int result = follow == Follow::kYes ? ::stat(path.c_str(), &found) : ::lstat(path.c_str(), &found);
  if (result != 0) return errno;
  status = StatusOf(found);
  return 0;
}

int PosixFileSystem::CheckFolderWritable(const std::string& folder) {
  return Answer(::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0);
}

int PosixFileSystem::Delete(const std::string& path) { return Answer(::unlink(path.c_str()) == 0); }

int PosixFileSystem::RenameWithoutReplacing(const std::string& from, const std::string& to) {
  return RenameNoReplace(from, to);
}

int PosixFileSystem::SyncFolder(const std::string& folder) { return Answer(quillport::SyncFolder(folder)); }

int PosixFileSystem::Open(const std::string& path, OpenMode mode, FileDescriptor& file, mode_t permissions) {
  const int opened = ::open(path.c_str(), OpenFlags(mode), permissions);
  const int error = Answer(opened >= 0);
  file = FileDescriptor(opened);
  return error;
}

int PosixFileSystem::ExamineOpen(int file, FileStatus& status) {
  struct stat found {};
  if (::fstat(file, &found) != 0) return errno;
  status = StatusOf(found);
  return 0;
}

int PosixFileSystem::Read(int file, std::span<char> buffer, std::size_t& count) {
  for (;;) {
    const ssize_t got = ::read(file, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    count = static_cast<std::size_t>(got);
    return 0;
  }
}

int PosixFileSystem::ReadAt(int file, std::span<char> buffer, std::uint64_t offset, std::size_t& count) {
  for (;;) {
    const ssize_t got = ::pread(file, buffer.data(), buffer.size(), static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    count = static_cast<std::size_t>(got);
    return 0;
  }
}

int PosixFileSystem::Write(int file, std::string_view bytes) { return Answer(WriteAll(file, bytes)); }

int PosixFileSystem::AppendWhole(int file, std::string_view bytes) {
  struct stat before {};
  if (::fstat(file, &before) != 0) return errno;
  const int error = Write(file, bytes);
  if (error != 0) ::ftruncate(file, before.st_size);  // what did fit goes again
  return error;
}

int PosixFileSystem::Overwrite(int file, std::string_view bytes) {
  if (::ftruncate(file, 0) != 0) return errno;
  for (off_t at = 0; !bytes.empty();) {
    const ssize_t written = ::pwrite(file, bytes.data(), bytes.size(), at);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    bytes.remove_prefix(static_cast<std::size_t>(written));
    at += written;
  }
  return 0;
}

int PosixFileSystem::ChangeMode(int file, mode_t permissions) { return Answer(::fchmod(file, permissions) == 0); }

int PosixFileSystem::Sync(int file) { return Answer(::fsync(file) == 0); }

int PosixFileSystem::Close(FileDescriptor& file) { return Answer(file.Close()); }

int PosixFileSystem::TakeReadLease(int file) {
  // A lease broken while held would raise a signal: SIGURG, which is
  // ignored unless handled.
  ::fcntl(file, F_SETSIG, SIGURG);
  if (::fcntl(file, F_SETLEASE, F_RDLCK) != 0) return errno;
  ::fcntl(file, F_SETLEASE, F_UNLCK);
  return 0;
}

bool PosixFileSystem::Undeletable(int file) {
  int flags = 0;
  if (::ioctl(file, FS_IOC_GETFLAGS, &flags) != 0) return false;
  return (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
}

int PosixFileSystem::Lock(int file) { return Answer(::flock(file, LOCK_EX | LOCK_NB) == 0); }

int PosixFileSystem::CreateUnnamedFile(const std::string& folder, const std::string& owner,
                                       std::unique_ptr<UnnamedFile>& file) {
  file = std::make_unique<UnnamedFile>(folder, owner);
  return file->valid() ? 0 : file->error();
}

int PosixFileSystem::NameUnnamedFile(UnnamedFile& file, const std::string& path) { return file.Name(path); }

int PosixFileSystem::StartWatcher(FileDescriptor& watcher) {
  const int opened = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  const int error = Answer(opened >= 0);
  watcher = FileDescriptor(opened);
  return error;
}

int PosixFileSystem::AddWatch(int watcher, const std::string& folder, std::uint32_t events, int& watch) {
  watch = ::inotify_add_watch(watcher, folder.c_str(), events);
  return Answer(watch >= 0);
}

void PosixFileSystem::RemoveWatch(int watcher, int watch) { ::inotify_rm_watch(watcher, watch); }

}  // namespace quillport
