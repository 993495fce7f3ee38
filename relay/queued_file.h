// A listed message file, opened the safe way before the relay reads it.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/durable_write.h"
#include "relay/queued_message.h"

namespace quillport {

// A failure that belongs to one message file (it vanished, it is no regular
// file, it cannot be read, deleted or filed, ...). The Action reports it and
// goes on with the next file; the connection is not at fault.
class FileFailure : public std::runtime_error {
 public:
  // What became of the file: it stays where it was (the usual case), or it
  // is gone.
  enum class Fate { kLeftInPlace, kGone };

  explicit FileFailure(const std::string& what, Fate fate = Fate::kLeftInPlace)
      : std::runtime_error(what), fate_(fate) {}

  Fate fate() const { return fate_; }

 private:
  Fate fate_;
};

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
  // Opens `path` for reading. Only a regular file is opened: the name is not
  // followed when it is a symbolic link, the open never blocks (a FIFO or
  // device in its place), and the type is checked on the opened descriptor.
  // Throws FileFailure when the file has vanished, is no regular file or
  // cannot be opened.
  //
  // Returns an unopened QueuedFile (busy() true) when the file may still be
  // being written: another program has it open for writing, its size is not
  // `listed_size` any more, or it was modified less than its quiet period
  // (one of `quiet`) before `now`. Such a file is left for a later Action.
  static QueuedFile Open(const std::string& path, std::uint64_t listed_size, QuietPeriods quiet,
                         std::chrono::system_clock::time_point now);

  QueuedFile(QueuedFile&& other) noexcept;
  QueuedFile& operator=(QueuedFile&& other) noexcept;
  QueuedFile(const QueuedFile&) = delete;
  QueuedFile& operator=(const QueuedFile&) = delete;
  ~QueuedFile();

  bool busy() const { return descriptor_ < 0; }
  // For a busy file: true when it was busy only because it changed lately
  // (no other program has it open for writing), so it may settle soon.
  bool settling() const { return busy() && !written_elsewhere_; }
  // The quiet period the file was judged by.
  std::chrono::milliseconds quiet_period() const { return quiet_period_; }
  const std::string& path() const { return path_; }
  int descriptor() const { return descriptor_; }
  std::uint64_t size() const { return static_cast<std::uint64_t>(opened_.st_size); }
  FileIdentity identity() const { return {opened_.st_dev, opened_.st_ino}; }

  // True when the file's size or modification time is no longer what it was
  // when it was opened: someone wrote to it meanwhile.
  bool ChangedSinceOpened() const;

  // True when path() still names this very file (and not one put there in
  // its place since it was opened).
  bool StillAtItsPath() const;

  // Throws FileFailure when the relay could not delete the file from its
  // folder afterwards: the folder is not writable to it, a sticky folder
  // belongs to someone else, or the file or folder is immutable.
  void RequireRemovable() const;

  // Deletes the file from its folder, provided its path still names this
  // very file. Throws FileFailure when the deletion fails; a path that names
  // another file by now is left alone.
  void Remove() const;

  // Closes the descriptor; the file stays where it is.
  void Close();

 private:
  QueuedFile(std::string path, int descriptor, const struct stat& opened, bool written_elsewhere,
             std::chrono::milliseconds quiet_period)
      : path_(std::move(path)),
        descriptor_(descriptor),
        written_elsewhere_(written_elsewhere),
        quiet_period_(quiet_period),
        opened_(opened) {}

  std::string path_;
  int descriptor_ = -1;
  bool written_elsewhere_ = false;
  std::chrono::milliseconds quiet_period_{};
  struct stat opened_ {};
};

// What kind of entry `mode` (from stat) describes, as a failure text says
// it: "a symbolic link", "a FIFO", "a socket", "a device", "a folder".
const char* FileKindName(mode_t mode);

// The folder part of `path`: everything before its last separator.
std::string FolderOf(const std::string& path);

}  // namespace quillport
