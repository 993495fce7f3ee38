#include "relay/drop_folder_lock.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

#include "common/path_join.h"

namespace quillport {
namespace {

// Never follows a link, never blocks on a FIFO or device, and never passes
// to a child process (a program started for VIEW would go on holding the
// lock after the relay ended).
constexpr int kOpenFlags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
constexpr mode_t kGroupShared = 0660;
constexpr std::size_t kMaxHolderText = 128;

// Opens the lock file at `path`, making it when it is missing: for writing
// when this user may, else for reading (enough for flock). On failure the
// descriptor is invalid and errno says why.
FileDescriptor OpenLockFile(const std::string& path, bool* writable) {
  *writable = true;
  const int made = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | kOpenFlags, kGroupShared);
  if (made >= 0) {
    ::fchmod(made, kGroupShared);  // past the umask: every user of the group may take it
    return FileDescriptor(made);
  }
  if (errno != EEXIST) return FileDescriptor(-1);
  const int opened = ::open(path.c_str(), O_RDWR | kOpenFlags);
  if (opened >= 0 || (errno != EACCES && errno != EROFS)) return FileDescriptor(opened);
  *writable = false;
  return FileDescriptor(::open(path.c_str(), O_RDONLY | kOpenFlags));
}

// Whether `path` names the very file open as `descriptor`.
bool SameFile(int descriptor, const std::string& path) {
  struct stat open_file {
  }, named{};
  return ::fstat(descriptor, &open_file) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

std::string UserName(uid_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(4096);
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return std::to_string(uid);
}

// Whether `text` is a user name or number fit to show: letters, digits and
// . _ - only, so that the file's text never puts anything else on a record.
bool PlainWord(const std::string& text) {
  return !text.empty() && text.size() <= 64 &&
         std::ranges::all_of(text, [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '_' || c == '-'; });
}

// Who holds the lock open as `descriptor`, from the text its holder wrote:
// "USER PID PROGRAM" (the program's name is missing from older relays).
std::string Holder(int descriptor) {
  char text[kMaxHolderText] = {};
  const ssize_t length = ::pread(descriptor, text, sizeof text - 1, 0);
  std::istringstream words(std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0));
  std::string user, process, program;
  words >> user >> process >> program;
  const bool plain = PlainWord(user) && !process.empty() && process.size() < 10 &&
                     std::ranges::all_of(process, [](unsigned char c) { return std::isdigit(c); });
  // A holder that could only read the file left the text of an earlier one:
  // it is shown only while that process lives.
  const pid_t pid = plain ? std::stoi(process) : 0;
  if (pid <= 0 || (::kill(pid, 0) != 0 && errno != EPERM)) return "user and process unknown";
  return (PlainWord(program) ? program + ", " : std::string()) + "user " + user + ", process " + process;
}

}  // namespace

DropFolderLock::DropFolderLock(const std::string& folder)
    : folder_(folder), path_(JoinPath(folder, kDropFolderLockName)) {}

bool DropFolderLock::Hold() {
  if (file_ && SameFile(file_->get(), path_)) return true;
  file_.reset();  // the file was removed or replaced: its lock no longer guards the folder
  problem_.clear();
  return Take();
}

bool DropFolderLock::Take() {
  bool writable = false;
  FileDescriptor file = OpenLockFile(path_, &writable);
  if (!file.valid()) {
    const int error = errno;
    problem_ = "the lock file " + path_ +
               " cannot be opened: " + (error == ELOOP ? "it is a symbolic link" : std::strerror(error));
    return false;
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    problem_ = "the lock file " + path_ + " is not a regular file";
    return false;
  }
  if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    // Who holds it comes first: the window cuts a long text at its end.
    problem_ = error == EWOULDBLOCK ? "another relay (" + Holder(file.get()) + ") serves the folder " + folder_ +
                                          "; no Action runs here while it does"
                                    : "the lock file " + path_ + " cannot be locked: " + std::strerror(error);
    return false;
  }
  if (writable) {
    // Who holds it, for the relays that find it taken; the lock works without.
    const std::string holder = UserName(::geteuid()) + ' ' + std::to_string(::getpid()) + ' ' +
                               (PlainWord(program_invocation_short_name) ? program_invocation_short_name : "") + '\n';
    if (::ftruncate(file.get(), 0) == 0) {
      [[maybe_unused]] const ssize_t written = ::pwrite(file.get(), holder.data(), holder.size(), 0);
    }
  }
  file_.emplace(file.release());
  return true;
}

}  // namespace quillport
