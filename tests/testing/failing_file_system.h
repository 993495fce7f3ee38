// The real file system, but for the failures a test asks for: any one
// operation fails with a chosen errno, for every path or only for paths that
// hold a given text, at every call or only at the nth.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "relay/posix_file_system.h"

namespace quillport::testing {

class FailingFileSystem : public PosixFileSystem {
 public:
  // Makes `operation` fail with `error` from now on, on paths that hold `path_part` (any path when empty), at
  // every call or only at the `nth` that matches (from 1). The operation goes by name: "list", "examine",
  // "check-writable", "delete", "rename", "sync-folder", "open-read", "open-read-write", "open-create", "open-append",
  // "open-folder", "examine-open", "read", "read-at", "write", "overwrite", "change-mode", "sync", "close", "lease",
  // "undeletable", "lock", "create-unnamed", "name-unnamed", "start-watcher", "add-watch". An operation on an open file
  // goes by the path it was opened under.
  void Add(std::string operation, int error, std::string path_part = {}, int nth = 0);
  // Ends every failure.
  void Clear();

// An override of `name` that fails as armed for `operation` on `path` (or the open file's), else calls the real one.
#define QUILLPORT_FAILING(name, operation, path, parameters, arguments)           \
  int name parameters override {                                                  \
    return Due(operation, path, [&] { return PosixFileSystem::name arguments; }); \
  }

  QUILLPORT_FAILING(ListFolder, "list", f, (const std::string& f, std::vector<FolderEntry>& out), (f, out))
  QUILLPORT_FAILING(Examine, "examine", path, (const std::string& path, FileStatus& s, Follow follow),
                    (path, s, follow))
  QUILLPORT_FAILING(CheckFolderWritable, "check-writable", folder, (const std::string& folder), (folder))
  QUILLPORT_FAILING(Delete, "delete", path, (const std::string& path), (path))
  QUILLPORT_FAILING(RenameWithoutReplacing, "rename", from + " " + to, (const std::string& from, const std::string& to),
                    (from, to))
  QUILLPORT_FAILING(SyncFolder, "sync-folder", folder, (const std::string& folder), (folder))
  QUILLPORT_FAILING(ExamineOpen, "examine-open", file, (int file, FileStatus& status), (file, status))
  QUILLPORT_FAILING(Read, "read", file, (int file, std::span<char> buffer, std::size_t& count), (file, buffer, count))
  QUILLPORT_FAILING(ReadAt, "read-at", file, (int file, std::span<char> b, std::uint64_t at, std::size_t& count),
                    (file, b, at, count))
  QUILLPORT_FAILING(Write, "write", file, (int file, std::string_view bytes), (file, bytes))
  QUILLPORT_FAILING(Overwrite, "overwrite", file, (int file, std::string_view bytes), (file, bytes))
  QUILLPORT_FAILING(ChangeMode, "change-mode", file, (int file, mode_t permissions), (file, permissions))
  QUILLPORT_FAILING(Sync, "sync", file, (int file), (file))
  QUILLPORT_FAILING(TakeReadLease, "lease", file, (int file), (file))
  QUILLPORT_FAILING(Lock, "lock", file, (int file), (file))
  QUILLPORT_FAILING(NameUnnamedFile, "name-unnamed", path, (UnnamedFile & file, const std::string& path), (file, path))
  QUILLPORT_FAILING(StartWatcher, "start-watcher", std::string(), (FileDescriptor & watcher), (watcher))
#undef QUILLPORT_FAILING
  int Open(const std::string& path, OpenMode mode, FileDescriptor& file, mode_t permissions = 0) override;
  int Close(FileDescriptor& file) override;
  int CreateUnnamedFile(const std::string& folder, const std::string& owner,
                        std::unique_ptr<UnnamedFile>& file) override;
  bool Undeletable(int file) override {
    return Due("undeletable", file, [] { return 0; }) != 0 || PosixFileSystem::Undeletable(file);
  }
  int AddWatch(int watcher, const std::string& folder, std::uint32_t events, int& watch) override {
    watch = -1;
    return Due("add-watch", folder, [&] { return PosixFileSystem::AddWatch(watcher, folder, events, watch); });
  }

 private:
  struct Armed {
    std::string operation;
    int error = 0;
    std::string path_part;
    int nth = 0;
    int calls = 0;  // that matched so far
  };
  // The errno a call of `operation` on `path` is to fail with; 0 to run it.
  int Fault(std::string_view operation, const std::string& path);
  std::string PathOf(int file);
  // The fault's errno, or what `real` returns.
  template <class Real>
  int Due(std::string_view operation, const std::string& path, Real real) {
    const int error = Fault(operation, path);
    return error != 0 ? error : real();
  }
  template <class Real>
  int Due(std::string_view operation, int file, Real real) {
    return Due(operation, PathOf(file), real);
  }
  void Opened(int file, const std::string& path);

  std::mutex mutex_;  // the writer watch calls from its own thread
  std::vector<Armed> faults_;
  std::map<int, std::string> paths_;  // of the open files, by descriptor
};

}  // namespace quillport::testing
