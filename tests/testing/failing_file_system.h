// The real file system, but for the failures a test asks for: an operation fails with a chosen errno, for every
// path or only for paths that hold a given text, at every call or only at the nth.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "relay/posix_file_system.h"

namespace quillport::testing {

// The operations a fault can be armed for: those of FileSystem's that tests make fail, the opens by mode.
enum class Operation {
  kCheckWritable,
  kDelete,
  kRename,
  kSyncFolder,
  kOpenRead,
  kOpenReadWrite,
  kRead,
  kReadAt,
  kWrite,
  kSync,
  kClose,
  kLease,
  kUndeletable,
  kCreateUnnamed,
  kNameUnnamed,
  kStartWatcher
};

class FailingFileSystem : public PosixFileSystem {
 public:
  // Makes `operation` fail with `error` from now on, on paths that hold `path_part` (any path when empty), at
  // every call or only at the `nth` that matches (from 1). An operation on an open file goes by the path it was
  // opened under. A failing kWrite writes the first half of its bytes before it fails, as a disk that fills up
  // during the write does.
  void Add(Operation operation, int error, std::string path_part = {}, int nth = 0);
  void Clear();  // ends every failure

// An override of `name` that fails as armed for `operation` on `path` (or the open file's), else calls the real one.
#define QUILLPORT_FAILING(name, operation, path, parameters, arguments)           \
  int name parameters override {                                                  \
    return Due(operation, path, [&] { return PosixFileSystem::name arguments; }); \
  }

  QUILLPORT_FAILING(CheckFolderWritable, Operation::kCheckWritable, folder, (const std::string& folder), (folder))
  QUILLPORT_FAILING(Delete, Operation::kDelete, path, (const std::string& path), (path))
  QUILLPORT_FAILING(RenameWithoutReplacing, Operation::kRename, from + " " + to,
                    (const std::string& from, const std::string& to), (from, to))
  QUILLPORT_FAILING(SyncFolder, Operation::kSyncFolder, folder, (const std::string& folder), (folder))
  QUILLPORT_FAILING(Read, Operation::kRead, file, (int file, std::span<char> buffer, std::size_t& count),
                    (file, buffer, count))
  QUILLPORT_FAILING(ReadAt, Operation::kReadAt, file,
                    (int file, std::span<char> b, std::uint64_t at, std::size_t& count), (file, b, at, count))
  QUILLPORT_FAILING(Sync, Operation::kSync, file, (int file), (file))
  QUILLPORT_FAILING(TakeReadLease, Operation::kLease, file, (int file), (file))
  QUILLPORT_FAILING(NameUnnamedFile, Operation::kNameUnnamed, path, (UnnamedFile & file, const std::string& path),
                    (file, path))
  QUILLPORT_FAILING(StartWatcher, Operation::kStartWatcher, std::string(), (FileDescriptor & watcher), (watcher))
#undef QUILLPORT_FAILING
  int Open(const std::string& path, OpenMode mode, FileDescriptor& file, mode_t permissions = 0) override;
  int Close(FileDescriptor& file) override;
  int Write(int file, std::string_view bytes) override;
  int CreateUnnamedFile(const std::string& folder, const std::string& owner,
                        std::unique_ptr<UnnamedFile>& file) override;
  bool Undeletable(int file) override {
    return Due(Operation::kUndeletable, file, [] { return 0; }) != 0 || PosixFileSystem::Undeletable(file);
  }

 private:
  struct Armed {
    Operation operation;
    int error = 0;
    std::string path_part;
    int nth = 0;
    int calls = 0;  // that matched so far
  };
  // The errno a call of `operation` on `path` is to fail with; 0 to run it.
  int Fault(Operation operation, const std::string& path);
  std::string PathOf(int file);
  // The fault's errno, or what `real` returns.
  template <class Real>
  int Due(Operation operation, const std::string& path, Real real) {
    const int error = Fault(operation, path);
    return error != 0 ? error : real();
  }
  template <class Real>
  int Due(Operation operation, int file, Real real) {
    return Due(operation, PathOf(file), real);
  }
  void Opened(int file, const std::string& path);

  std::mutex mutex_;  // the writer watch calls from its own thread
  std::vector<Armed> faults_;
  std::map<int, std::string> paths_;  // of the open files, by descriptor
};

}  // namespace quillport::testing
