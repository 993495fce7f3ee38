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

  int ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) override;
  int Examine(const std::string& path, FileStatus& status, Follow follow) override;
  int CheckFolderWritable(const std::string& folder) override;
  int Delete(const std::string& path) override;
  int RenameWithoutReplacing(const std::string& from, const std::string& to) override;
  int SyncFolder(const std::string& folder) override;
  int Open(const std::string& path, OpenMode mode, FileDescriptor& file, mode_t permissions = 0) override;
  int ExamineOpen(int file, FileStatus& status) override;
  int Read(int file, std::span<char> buffer, std::size_t& count) override;
  int ReadAt(int file, std::span<char> buffer, std::uint64_t offset, std::size_t& count) override;
  int Write(int file, std::string_view bytes) override;
  int Overwrite(int file, std::string_view bytes) override;
  int ChangeMode(int file, mode_t permissions) override;
  int Sync(int file) override;
  int Close(FileDescriptor& file) override;
  int TakeReadLease(int file) override;
  bool Undeletable(int file) override;
  int Lock(int file) override;
  int CreateUnnamedFile(const std::string& folder, const std::string& owner,
                        std::unique_ptr<UnnamedFile>& file) override;
  int NameUnnamedFile(UnnamedFile& file, const std::string& path) override;
  int StartWatcher(FileDescriptor& watcher) override;
  int AddWatch(int watcher, const std::string& folder, std::uint32_t events, int& watch) override;

 private:
  struct Fault {
    std::string operation;
    int error = 0;
    std::string path_part;
    int nth = 0;
    int calls = 0;  // that matched so far
  };
  // The errno a call of `operation` on `path` is to fail with; 0 to run it.
  int Due(std::string_view operation, const std::string& path);
  int DueOnFile(std::string_view operation, int file);
  void Opened(int file, const std::string& path);

  std::mutex mutex_;  // the writer watch calls from its own thread
  std::vector<Fault> faults_;
  std::map<int, std::string> paths_;  // of the open files, by descriptor
};

}  // namespace quillport::testing
