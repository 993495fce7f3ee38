#include "tests/testing/failing_file_system.h"

namespace quillport::testing {
namespace {

const char* OpenName(FileSystem::OpenMode mode) {
  switch (mode) {
    case FileSystem::OpenMode::kRead: return "open-read";
    case FileSystem::OpenMode::kReadWrite: return "open-read-write";
    case FileSystem::OpenMode::kCreateNew: return "open-create";
    case FileSystem::OpenMode::kAppend: return "open-append";
    case FileSystem::OpenMode::kFolder: return "open-folder";
  }
  return "open";
}

}  // namespace

void FailingFileSystem::Add(std::string operation, int error, std::string path_part, int nth) {
  const std::scoped_lock lock(mutex_);
  faults_.push_back({std::move(operation), error, std::move(path_part), nth, 0});
}

void FailingFileSystem::Clear() {
  const std::scoped_lock lock(mutex_);
  faults_.clear();
}

int FailingFileSystem::Due(std::string_view operation, const std::string& path) {
  const std::scoped_lock lock(mutex_);
  for (Fault& fault : faults_) {
    if (fault.operation != operation || path.find(fault.path_part) == std::string::npos) continue;
    if (fault.nth == 0 || ++fault.calls == fault.nth) return fault.error;
  }
  return 0;
}

int FailingFileSystem::DueOnFile(std::string_view operation, int file) {
  std::string path;
  {
    const std::scoped_lock lock(mutex_);
    if (const auto found = paths_.find(file); found != paths_.end()) path = found->second;
  }
  return Due(operation, path);
}

void FailingFileSystem::Opened(int file, const std::string& path) {
  const std::scoped_lock lock(mutex_);
  paths_[file] = path;
}

int FailingFileSystem::ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  if (const int error = Due("list", folder)) return error;
  return PosixFileSystem::ListFolder(folder, entries);
}

int FailingFileSystem::Examine(const std::string& path, FileStatus& status, Follow follow) {
  if (const int error = Due("examine", path)) return error;
  return PosixFileSystem::Examine(path, status, follow);
}

int FailingFileSystem::CheckFolderWritable(const std::string& folder) {
  if (const int error = Due("check-writable", folder)) return error;
  return PosixFileSystem::CheckFolderWritable(folder);
}

int FailingFileSystem::Delete(const std::string& path) {
  if (const int error = Due("delete", path)) return error;
  return PosixFileSystem::Delete(path);
}

int FailingFileSystem::RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (const int error = Due("rename", from + " " + to)) return error;
  return PosixFileSystem::RenameWithoutReplacing(from, to);
}

int FailingFileSystem::SyncFolder(const std::string& folder) {
  if (const int error = Due("sync-folder", folder)) return error;
  return PosixFileSystem::SyncFolder(folder);
}

int FailingFileSystem::Open(const std::string& path, OpenMode mode, FileDescriptor& file, mode_t permissions) {
  if (const int error = Due(OpenName(mode), path)) return error;
  const int error = PosixFileSystem::Open(path, mode, file, permissions);
  if (error == 0) Opened(file.get(), path);
  return error;
}

int FailingFileSystem::ExamineOpen(int file, FileStatus& status) {
  if (const int error = DueOnFile("examine-open", file)) return error;
  return PosixFileSystem::ExamineOpen(file, status);
}

int FailingFileSystem::Read(int file, std::span<char> buffer, std::size_t& count) {
  if (const int error = DueOnFile("read", file)) return error;
  return PosixFileSystem::Read(file, buffer, count);
}

int FailingFileSystem::ReadAt(int file, std::span<char> buffer, std::uint64_t offset, std::size_t& count) {
  if (const int error = DueOnFile("read-at", file)) return error;
  return PosixFileSystem::ReadAt(file, buffer, offset, count);
}

int FailingFileSystem::Write(int file, std::string_view bytes) {
  if (const int error = DueOnFile("write", file)) return error;
  return PosixFileSystem::Write(file, bytes);
}

int FailingFileSystem::Overwrite(int file, std::string_view bytes) {
  if (const int error = DueOnFile("overwrite", file)) return error;
  return PosixFileSystem::Overwrite(file, bytes);
}

int FailingFileSystem::ChangeMode(int file, mode_t permissions) {
  if (const int error = DueOnFile("change-mode", file)) return error;
  return PosixFileSystem::ChangeMode(file, permissions);
}

int FailingFileSystem::Sync(int file) {
  if (const int error = DueOnFile("sync", file)) return error;
  return PosixFileSystem::Sync(file);
}

int FailingFileSystem::Close(FileDescriptor& file) {
  const int error = DueOnFile("close", file.get());
  const int closed = PosixFileSystem::Close(file);  // closed whatever the fault: a close never leaves it open
  return error != 0 ? error : closed;
}

int FailingFileSystem::TakeReadLease(int file) {
  if (const int error = DueOnFile("lease", file)) return error;
  return PosixFileSystem::TakeReadLease(file);
}

bool FailingFileSystem::Undeletable(int file) {
  return DueOnFile("undeletable", file) != 0 || PosixFileSystem::Undeletable(file);
}

int FailingFileSystem::Lock(int file) {
  if (const int error = DueOnFile("lock", file)) return error;
  return PosixFileSystem::Lock(file);
}

int FailingFileSystem::CreateUnnamedFile(const std::string& folder, const std::string& owner,
                                         std::unique_ptr<UnnamedFile>& file) {
  if (const int error = Due("create-unnamed", folder)) return error;
  const int error = PosixFileSystem::CreateUnnamedFile(folder, owner, file);
  if (error == 0) Opened(file->descriptor(), folder + "/");
  return error;
}

int FailingFileSystem::NameUnnamedFile(UnnamedFile& file, const std::string& path) {
  if (const int error = Due("name-unnamed", path)) return error;
  return PosixFileSystem::NameUnnamedFile(file, path);
}

int FailingFileSystem::StartWatcher(FileDescriptor& watcher) {
  if (const int error = Due("start-watcher", {})) return error;
  return PosixFileSystem::StartWatcher(watcher);
}

int FailingFileSystem::AddWatch(int watcher, const std::string& folder, std::uint32_t events, int& watch) {
  if (const int error = Due("add-watch", folder)) {
    watch = -1;
    return error;
  }
  return PosixFileSystem::AddWatch(watcher, folder, events, watch);
}

}  // namespace quillport::testing
