#include "relay/drop_folder_lock.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

#include "common/path_join.h"

namespace quillport {
namespace {

using OpenMode = FileSystem::OpenMode;

constexpr mode_t kGroupShared = 0660;
constexpr std::size_t kMaxHolderText = 128;

// Opens the lock file at `path`, making it when it is missing: for writing
// when this user may, else for reading (enough for flock). Every open never
// follows a link, never blocks on a FIFO or device, and never passes to a
// child process (a program started for VIEW would go on holding the lock
// after the relay ended). Returns 0 or why it could not be opened.
int OpenLockFile(FileSystem& files, const std::string& path, FileDescriptor& file, bool& writable) {
  writable = true;
  int error = files.Open(path, OpenMode::kCreateNew, file, kGroupShared);
  if (error == 0) {
    files.ChangeMode(file.get(), kGroupShared);  // past the umask: every user of the group may take it
    return 0;
  }
  if (error != EEXIST) return error;
  error = files.Open(path, OpenMode::kReadWrite, file);
  if (error != EACCES && error != EROFS) return error;
  writable = false;
  return files.Open(path, OpenMode::kRead, file);
}

// Whether `path` names the very file open as `descriptor`.
bool SameFile(FileSystem& files, int descriptor, const std::string& path) {
  FileStatus open_file, named;
  return files.ExamineOpen(descriptor, open_file) == 0 && files.Examine(path, named, FileSystem::Follow::kNo) == 0 &&
         open_file.identity == named.identity;
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
std::string Holder(FileSystem& files, int descriptor) {
  std::array<char, kMaxHolderText> text{};
  std::size_t length = 0;
  if (files.ReadAt(descriptor, text, 0, length) != 0) length = 0;
  std::istringstream words(std::string(text.data(), length));
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

DropFolderLock::DropFolderLock(const std::string& folder, FileSystem& files)
    : files_(files), folder_(folder), path_(JoinPath(folder, kDropFolderLockName)) {}

bool DropFolderLock::Hold() {
  if (file_ && SameFile(files_, file_->get(), path_)) return true;
  file_.reset();  // the file was removed or replaced: its lock no longer guards the folder
  problem_.clear();
  return Take();
}

bool DropFolderLock::Take() {
  bool writable = false;
  FileDescriptor file(-1);
  if (const int error = OpenLockFile(files_, path_, file, writable); error != 0) {
    problem_ = "the lock file " + path_ +
               " cannot be opened: " + (error == ELOOP ? "it is a symbolic link" : ErrorText(error));
    return false;
  }
  FileStatus status;
  if (files_.ExamineOpen(file.get(), status) != 0 || !status.regular()) {
    problem_ = "the lock file " + path_ + " is not a regular file";
    return false;
  }
  if (const int error = files_.Lock(file.get()); error != 0) {
    // Who holds it comes first: the window cuts a long text at its end.
    problem_ = error == EWOULDBLOCK ? "another relay (" + Holder(files_, file.get()) + ") serves the folder " +
                                          folder_ + "; no Action runs here while it does"
                                    : "the lock file " + path_ + " cannot be locked: " + ErrorText(error);
    return false;
  }
  if (writable) {
    // Who holds it, for the relays that find it taken; the lock works without.
    const std::string holder = UserName(::geteuid()) + ' ' + std::to_string(::getpid()) + ' ' +
                               (PlainWord(program_invocation_short_name) ? program_invocation_short_name : "") + '\n';
    files_.Overwrite(file.get(), holder);
  }
  file_.emplace(file.release());
  return true;
}

}  // namespace quillport
