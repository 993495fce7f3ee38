// One relay per drop folder on the whole machine, whoever runs it.
//
// The relay serving a drop folder holds an exclusive flock(2) on the file
// `.quillport.lock` inside it (a name the message pattern never matches) for
// as long as it runs; the kernel lets it go when the process ends, however
// it ends. The file says "USER PID PROGRAM" of its holder (PROGRAM is
// quillport or quillportd), so that a second relay can say which one serves
// the folder. Every user of the folder's group can see the lock: it is made
// readable and writable by the group (in the packaged setgid folder it
// belongs to that group), and a file that can only be read is locked
// through a read-only descriptor. Others cannot open it, so they cannot
// hold it. The file is never removed: a relay that removed it could let a
// second one lock a new file while a third still holds the old.
#pragma once

#include <optional>
#include <string>

#include "common/file_descriptor.h"
#include "relay/file_system.h"

namespace quillport {

// The lock file's name in the drop folder.
inline constexpr char kDropFolderLockName[] = ".quillport.lock";

class DropFolderLock {
 public:
  explicit DropFolderLock(const std::string& folder, FileSystem& files = DefaultFileSystem());

  // Whether this relay serves the folder: true when it already holds the
  // lock of the file now at the lock's name, or takes it now (a relay that
  // held it may have ended). When false, problem() says which relay holds
  // it or why the lock cannot be taken; nothing is held then. Never throws
  // for what it meets in the folder.
  bool Hold();

  // The reason the last Hold() failed, a whole sentence naming the folder.
  const std::string& problem() const { return problem_; }

 private:
  bool Take();

  FileSystem& files_;
  std::string folder_;
  std::string path_;
  std::optional<FileDescriptor> file_;
  std::string problem_;
};

}  // namespace quillport
