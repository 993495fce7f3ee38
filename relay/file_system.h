// Everything the relay does to files and folders, behind one interface, so
// that the engine never calls the operating system itself and a test can
// make any one operation fail. PosixFileSystem (posix_file_system.h) is the
// real one; DefaultFileSystem() returns it.
//
// Every operation that can fail returns the errno value of its failure, 0
// on success; an operation never throws for what it meets on disk. Open
// files are FileDescriptor objects, closed when they go out of scope; the
// operations on them take the descriptor.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_descriptor.h"
#include "common/unnamed_file.h"
#include "relay/queued_message.h"

namespace quillport {

// What examining an entry or an open file tells.
struct FileStatus {
  mode_t mode = 0;  // type and permission bits, as stat gives them
  uid_t owner = 0;
  std::uint64_t size = 0;
  std::chrono::system_clock::time_point modified{};  // to the nanosecond where the file system keeps it
  FileIdentity identity{};

  bool regular() const { return S_ISREG(mode); }
  bool folder() const { return S_ISDIR(mode); }
};

// One entry of a folder as listed.
struct FolderEntry {
  std::string name;
  FileStatus status;      // of the entry itself, never of what a link leads to
  bool examined = false;  // false when the entry could not be examined (status then tells nothing)
};

class FileSystem {
 public:
  // How a file is opened. Every open is close-on-exec, never follows a
  // symbolic link at the last step of the path (ELOOP), never blocks on a
  // FIFO or device, and never makes a terminal the controlling one.
  enum class OpenMode {
    kRead,       // for reading
    kReadWrite,  // for reading and writing, an existing file
    kCreateNew,  // for reading and writing, a new file (EEXIST when the name is taken)
    kAppend,     // for appending, made when missing
    kFolder,     // a folder, for reading its attributes; this one follows links
  };
  // Whether examining a path follows a symbolic link at its last step.
  enum class Follow { kNo, kYes };

  FileSystem() = default;
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;
  virtual ~FileSystem() = default;

  // --- Entries by path

  // Every entry of `folder` but "." and "..", in no particular order, each
  // examined without following links. An entry gone before it could be
  // examined is left out.
  virtual int ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) = 0;
  // Examines the entry at `path`.
  virtual int Examine(const std::string& path, FileStatus& status, Follow follow) = 0;
  // Whether this process, with its effective ids, may make and delete
  // entries in `folder`: 0, or why not (EACCES, EROFS, ENOENT ...).
  virtual int CheckFolderWritable(const std::string& folder) = 0;
  // Deletes the entry `path` (never a folder).
  virtual int Delete(const std::string& path) = 0;
  // Renames `from` to `to` unless an entry bears `to` (EEXIST then); EXDEV
  // across file systems.
  virtual int RenameWithoutReplacing(const std::string& from, const std::string& to) = 0;
  // Flushes the entries of `folder` to disk, so a rename or deletion in it
  // lasts.
  virtual int SyncFolder(const std::string& folder) = 0;

  // --- Open files

  // Opens `path` as `mode` says into `file` (left invalid on failure).
  // `permissions` are those of a file made by the open (before the umask).
  virtual int Open(const std::string& path, OpenMode mode, FileDescriptor& file, mode_t permissions = 0) = 0;
  // Examines the open file.
  virtual int ExamineOpen(int file, FileStatus& status) = 0;
  // Reads at most `buffer.size()` bytes from where the file stands into
  // `buffer`; `count` is how many (0 at the end). An interruption is retried.
  virtual int Read(int file, std::span<char> buffer, std::size_t& count) = 0;
  // As Read, at `offset`, without moving the file's position.
  virtual int ReadAt(int file, std::span<char> buffer, std::uint64_t offset, std::size_t& count) = 0;
  // Writes all of `bytes` where the file stands, going on after a partial
  // write.
  virtual int Write(int file, std::string_view bytes) = 0;
  // Appends all of `bytes` at the end of the file, or nothing: when the
  // write fails part way (a full disk), the file is cut back to the length
  // it had, so a record is never torn nor the next one glued onto a piece.
  virtual int AppendWhole(int file, std::string_view bytes) = 0;
  // Makes `bytes` the whole content of the file.
  virtual int Overwrite(int file, std::string_view bytes) = 0;
  // Sets the file's permission bits, past the umask.
  virtual int ChangeMode(int file, mode_t permissions) = 0;
  // Flushes the file's content to disk.
  virtual int Sync(int file) = 0;
  // Closes `file` now; a failure is a write that may be lost.
  virtual int Close(FileDescriptor& file) = 0;
  // Takes a read lease on the file and gives it back at once: 0 when
  // nobody has it open for writing; EAGAIN or EBUSY when someone has; any
  // other value when leases cannot tell (not the file's owner without
  // CAP_LEASE, a file system without leases).
  virtual int TakeReadLease(int file) = 0;
  // Whether the file's attributes forbid deleting it or entries in it
  // (immutable, append-only). False when that cannot be told.
  virtual bool Undeletable(int file) = 0;
  // Takes the exclusive lock (flock) of the file without waiting:
  // EWOULDBLOCK when another open file holds it.
  virtual int Lock(int file) = 0;

  // --- New files without a name

  // Makes a file in `folder` that has no name yet (see UnnamedFile), for
  // `owner` (a word naming the program) into `file`.
  virtual int CreateUnnamedFile(const std::string& folder, const std::string& owner,
                                std::unique_ptr<UnnamedFile>& file) = 0;
  // Gives `file` the name `path`, never replacing an entry (EEXIST then).
  virtual int NameUnnamedFile(UnnamedFile& file, const std::string& path) = 0;

  // --- Watching a folder (inotify)

  // Opens a watcher, which reads without blocking, into `watcher`.
  virtual int StartWatcher(FileDescriptor& watcher) = 0;
  // Watches `folder` for `events` (inotify masks); `watch` names the watch.
  virtual int AddWatch(int watcher, const std::string& folder, std::uint32_t events, int& watch) = 0;
  // Ends a watch; nothing when it has ended already.
  virtual void RemoveWatch(int watcher, int watch) = 0;
};

// The process's real file system, a PosixFileSystem. It holds no state.
FileSystem& DefaultFileSystem();

// The text of an errno value, as strerror gives it.
std::string ErrorText(int error);

}  // namespace quillport
