// A listed message file, opened the safe way before the relay reads it.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <string>

#include "common/file_descriptor.h"
#include "relay/failure.h"
#include "relay/file_system.h"
#include "relay/queued_message.h"

namespace quillport {

// How long a file must have stayed unchanged before it is read.
struct QuietPeriods {
  // When a read lease could be taken on it: nobody has it open for writing.
  std::chrono::milliseconds with_lease{};
  // When no lease can be taken (the relay is not its owner and lacks
  // CAP_LEASE, or its file system has no leases).
  std::chrono::milliseconds without_lease{};
};

// An open, regular message file that no program was writing when it was
// opened. Owns its descriptor.
class QueuedFile {
 public:
  // Opens `message` for reading. Only a regular file is opened: the name is
  // not followed when it is a symbolic link, the open never blocks (a FIFO
  // or device in its place), and the type is checked on the opened file.
  // Fails (reach kFile) when the file has vanished (fate kGone), is no
  // regular file or cannot be opened.
  //
  // Returns an unopened QueuedFile (busy() true) when the file may still be
  // being written: another program has it open for writing, its size is not
  // `message.listed_size` any more, or it was modified less than its quiet
  // period (one of `quiet`) before `now`. Such a file is left for a later
  // Action.
  static Result<QueuedFile> Open(FileSystem& files, QueuedMessage message, QuietPeriods quiet,
                                 std::chrono::system_clock::time_point now);

  bool busy() const { return !file_.valid(); }
  // For a busy file: true when it was busy only because it changed lately
  // (no other program has it open for writing), so it may settle soon.
  bool settling() const { return busy() && !written_elsewhere_; }
  // The quiet period the file was judged by.
  std::chrono::milliseconds quiet_period() const { return quiet_period_; }
  // The message, its identity filled in.
  const QueuedMessage& message() const { return message_; }
  std::string path() const { return message_.Path(); }
  int descriptor() const { return file_.get(); }
  std::uint64_t size() const { return opened_.size; }

  // True when the file's size or modification time is no longer what it was
  // when it was opened: someone wrote to it meanwhile.
  bool ChangedSinceOpened() const;

  // True when path() still names this very file (and not one put there in
  // its place since it was opened).
  bool StillAtItsPath() const;

  // Fails when the relay could not delete the file from its folder
  // afterwards: the folder is not writable to it, a sticky folder belongs
  // to someone else, or the file or folder is immutable.
  Status RequireRemovable() const;

  // Deletes the file from its folder, provided its path still names this
  // very file, and flushes the folder to disk, so the deletion lasts a
  // crash. Fails when the deletion or the flush fails; a path that names
  // another file by now is left alone.
  Status Remove() const;

  // Closes the file; it stays where it is.
  void Close();

 private:
  QueuedFile(FileSystem& files, QueuedMessage message, FileDescriptor file, const FileStatus& opened,
             bool written_elsewhere, std::chrono::milliseconds quiet_period)
      : files_(&files),
        message_(std::move(message)),
        file_(std::move(file)),
        written_elsewhere_(written_elsewhere),
        quiet_period_(quiet_period),
        opened_(opened) {}

  FileSystem* files_;
  QueuedMessage message_;
  FileDescriptor file_;
  bool written_elsewhere_ = false;
  std::chrono::milliseconds quiet_period_{};
  FileStatus opened_;
};

// What kind of entry `mode` (from stat) describes, as a failure text says
// it: "a symbolic link", "a FIFO", "a socket", "a device", "a folder".
const char* FileKindName(mode_t mode);

// The folder part of `path`: everything before its last separator.
std::string FolderOf(const std::string& path);

}  // namespace quillport
