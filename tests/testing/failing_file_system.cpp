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

int FailingFileSystem::Fault(std::string_view operation, const std::string& path) {
  const std::scoped_lock lock(mutex_);
  for (Armed& fault : faults_) {
    if (fault.operation != operation || path.find(fault.path_part) == std::string::npos) continue;
    if (fault.nth == 0 || ++fault.calls == fault.nth) return fault.error;
  }
  return 0;
}

std::string FailingFileSystem::PathOf(int file) {
  const std::scoped_lock lock(mutex_);
  const auto found = paths_.find(file);
  return found == paths_.end() ? std::string() : found->second;
}

void FailingFileSystem::Opened(int file, const std::string& path) {
  const std::scoped_lock lock(mutex_);
  paths_[file] = path;
}

int FailingFileSystem::Open(const std::string& path, OpenMode mode, FileDescriptor& file, mode_t permissions) {
  const int error = Due(OpenName(mode), path, [&] { return PosixFileSystem::Open(path, mode, file, permissions); });
  if (error == 0) Opened(file.get(), path);
  return error;
}

int FailingFileSystem::Close(FileDescriptor& file) {
  const int error = Fault("close", PathOf(file.get()));
  const int closed = PosixFileSystem::Close(file);  // closed whatever the fault: a close never leaves it open
  return error != 0 ? error : closed;
}

int FailingFileSystem::CreateUnnamedFile(const std::string& folder, const std::string& owner,
                                         std::unique_ptr<UnnamedFile>& file) {
  const int error =
      Due("create-unnamed", folder, [&] { return PosixFileSystem::CreateUnnamedFile(folder, owner, file); });
  if (error == 0) Opened(file->descriptor(), folder + "/");
  return error;
}

}  // namespace quillport::testing
