#include "relay/queued_file.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "common/settings.h"

namespace quillport {
namespace {

Failure NotRegular(const std::string& path, mode_t mode) {
  return Failure::OfFile(path + " is " + FileKindName(mode) + ", not a message file; it is left alone");
}

Failure Vanished(const std::string& path) {
  return Failure::OfFile(path + " vanished before it could be read", Failure::Fate::kGone);
}

Failure CannotOpen(const std::string& path, int error) {
  if (error == ENOENT) return Vanished(path);
  if (error == ELOOP) return NotRegular(path, S_IFLNK);
  std::string text = "cannot open " + path + ": " + ErrorText(error);
  if (error == EACCES) {
    text += "; it needs read permission for the relay's group (deliver it with a umask of 007 or 002)";
  }
  return Failure::OfFile(std::move(text));
}

// What a read lease tells of the file (see FileSystem::TakeReadLease).
enum class LeaseAnswer { kNobodyWrites, kSomeoneWrites, kUnknown };

LeaseAnswer AskLease(FileSystem& files, int descriptor) {
  const int error = files.TakeReadLease(descriptor);
  if (error == 0) return LeaseAnswer::kNobodyWrites;
  return error == EAGAIN || error == EBUSY ? LeaseAnswer::kSomeoneWrites : LeaseAnswer::kUnknown;
}

bool ModifiedRecently(const FileStatus& status, std::chrono::milliseconds quiet_period,
                      std::chrono::system_clock::time_point now) {
  const auto age = now - status.modified;
  // A time in the future by more than the quiet period is a clock problem,
  // not a writer: waiting for it would hold the file back indefinitely.
  return age < quiet_period && age > -quiet_period;
}

}  // namespace

Result<QueuedFile> QueuedFile::Open(FileSystem& files, QueuedMessage message, QuietPeriods quiet,
                                    std::chrono::system_clock::time_point now) {
  const std::string path = message.Path();
  // Look before opening, so no device or FIFO is ever opened.
  FileStatus named;
  if (const int error = files.Examine(path, named, FileSystem::Follow::kNo); error != 0) {
    if (error == ENOENT) return Vanished(path);
    return Failure::OfFile("cannot examine " + path + ": " + ErrorText(error));
  }
  if (!named.regular()) return NotRegular(path, named.mode);

  FileDescriptor file(-1);
  if (const int error = files.Open(path, FileSystem::OpenMode::kRead, file); error != 0) {
    return CannotOpen(path, error);
  }
  FileStatus opened;
  if (const int error = files.ExamineOpen(file.get(), opened); error != 0) {
    return Failure::OfFile("cannot examine " + path + ": " + ErrorText(error));
  }
  // Something else may have been put under the name since it was looked at.
  if (!opened.regular()) return NotRegular(path, opened.mode);
  message.identity = opened.identity;

  const LeaseAnswer lease = AskLease(files, file.get());
  const auto quiet_period = lease == LeaseAnswer::kUnknown ? quiet.without_lease : quiet.with_lease;
  const bool written_elsewhere = lease == LeaseAnswer::kSomeoneWrites;
  if (written_elsewhere || opened.size != message.listed_size || ModifiedRecently(opened, quiet_period, now)) {
    file = FileDescriptor(-1);
  }
  return QueuedFile(files, std::move(message), std::move(file), opened, written_elsewhere, quiet_period);
}

void QueuedFile::Close() {
  if (file_.valid()) files_->Close(file_);
}

bool QueuedFile::ChangedSinceOpened() const {
  FileStatus now;
  if (!file_.valid() || files_->ExamineOpen(file_.get(), now) != 0) return true;
  return now.size != opened_.size || now.modified != opened_.modified;
}

bool QueuedFile::StillAtItsPath() const {
  FileStatus named;
  if (files_->Examine(path(), named, FileSystem::Follow::kNo) != 0 || !named.regular()) return false;
  return named.identity == message_.identity;
}

Status QueuedFile::RequireRemovable() const {
  const std::string folder = message_.folder;
  const auto refuse = [&](const std::string& why) {
    return Failure::OfFile(path() + " could not be deleted after posting (" + why +
                           "); it is left unposted, so that it is never posted twice");
  };
  if (const int error = files_->CheckFolderWritable(folder); error != 0) {
    return refuse("its folder: " + ErrorText(error));
  }
  FileStatus folder_status;
  if (const int error = files_->Examine(folder, folder_status, FileSystem::Follow::kYes); error != 0) {
    return refuse("its folder: " + ErrorText(error));
  }
  const uid_t me = ::geteuid();
  if ((folder_status.mode & S_ISVTX) != 0 && me != 0 && me != opened_.owner && me != folder_status.owner) {
    return refuse("its folder is sticky and the file belongs to someone else");
  }
  if (file_.valid() && files_->Undeletable(file_.get())) return refuse("the file is immutable or append-only");
  FileDescriptor folder_file(-1);
  if (files_->Open(folder, FileSystem::OpenMode::kFolder, folder_file) == 0 && files_->Undeletable(folder_file.get())) {
    return refuse("its folder is immutable or append-only");
  }
  return {};
}

Status QueuedFile::Remove() const {
  if (!StillAtItsPath()) return {};  // another file bears the name now: not ours to delete
  if (const int error = files_->Delete(path()); error != 0 && error != ENOENT) {
    return Failure::OfFile("cannot delete " + path() + ": " + ErrorText(error));
  }
  // Only a deletion on disk lasts a crash: one lost would post the message again.
  if (const int error = files_->SyncFolder(FolderOf(path())); error != 0) {
    return Failure::OfFile("deleted " + path() +
                           ", but the deletion may not last: cannot flush its folder to disk: " + ErrorText(error));
  }
  return {};
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
