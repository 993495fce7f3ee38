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

  int ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) override {
    return Due("list", folder, [&] { return PosixFileSystem::ListFolder(folder, entries); });
  }
  int Examine(const std::string& path, FileStatus& status, Follow follow) override {
    return Due("examine", path, [&] { return PosixFileSystem::Examine(path, status, follow); });
  }
  int CheckFolderWritable(const std::string& folder) override {
    return Due("check-writable", folder, [&] { return PosixFileSystem::CheckFolderWritable(folder); });
  }
  int Delete(const std::string& path) override {
    return Due("delete", path, [&] { return PosixFileSystem::Delete(path); });
  }
  int RenameWithoutReplacing(const std::string& from, const std::string& to) override {
    return Due("rename", from + " " + to, [&] { return PosixFileSystem::RenameWithoutReplacing(from, to); });
  }
  int SyncFolder(const std::string& folder) override {
    return Due("sync-folder", folder, [&] { return PosixFileSystem::SyncFolder(folder); });
  }
  int Open(const std::string& path, OpenMode mode, FileDescriptor& file, mode_t permissions = 0) override;
  int ExamineOpen(int file, FileStatus& status) override {
    return Due("examine-open", file, [&] { return PosixFileSystem::ExamineOpen(file, status); });
  }
  int Read(int file, std::span<char> buffer, std::size_t& count) override {
    return Due("read", file, [&] { return PosixFileSystem::Read(file, buffer, count); });
  }
  int ReadAt(int file, std::span<char> buffer, std::uint64_t offset, std::size_t& count) override {
    return Due("read-at", file, [&] { return PosixFileSystem::ReadAt(file, buffer, offset, count); });
  }
  int Write(int file, std::string_view bytes) override {
    return Due("write", file, [&] { return PosixFileSystem::Write(file, bytes); });
  }
  int Overwrite(int file, std::string_view bytes) override {
    return Due("overwrite", file, [&] { return PosixFileSystem::Overwrite(file, bytes); });
  }
  int ChangeMode(int file, mode_t permissions) override {
    return Due("change-mode", file, [&] { return PosixFileSystem::ChangeMode(file, permissions); });
  }
  int Sync(int file) override {
    return Due("sync", file, [&] { return PosixFileSystem::Sync(file); });
  }
  int Close(FileDescriptor& file) override;
  int TakeReadLease(int file) override {
    return Due("lease", file, [&] { return PosixFileSystem::TakeReadLease(file); });
  }
  bool Undeletable(int file) override {
    return Due("undeletable", file, [] { return 0; }) != 0 || PosixFileSystem::Undeletable(file);
  }
  int Lock(int file) override {
    return Due("lock", file, [&] { return PosixFileSystem::Lock(file); });
  }
  int CreateUnnamedFile(const std::string& folder, const std::string& owner,
                        std::unique_ptr<UnnamedFile>& file) override;
  int NameUnnamedFile(UnnamedFile& file, const std::string& path) override {
    return Due("name-unnamed", path, [&] { return PosixFileSystem::NameUnnamedFile(file, path); });
  }
  int StartWatcher(FileDescriptor& watcher) override {
    return Due("start-watcher", std::string(), [&] { return PosixFileSystem::StartWatcher(watcher); });
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
