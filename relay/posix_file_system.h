// The file system of the operating system (see FileSystem): the only part
// of the relay that calls it.
#pragma once

#include "relay/file_system.h"

namespace quillport {

class PosixFileSystem : public FileSystem {
 public:
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
  int AppendWhole(int file, std::string_view bytes) override;
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
  void RemoveWatch(int watcher, int watch) override;
};

}  // namespace quillport
