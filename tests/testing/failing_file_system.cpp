#include "tests/testing/failing_file_system.h"

namespace quillport::testing {

void FailingFileSystem::Add(Operation operation, int error, std::string path_part, int nth) {
  const std::scoped_lock lock(mutex_);
  faults_.push_back({operation, error, std::move(path_part), nth, 0});
}

void FailingFileSystem::Clear() {
  const std::scoped_lock lock(mutex_);
  faults_.clear();
}

int FailingFileSystem::Fault(Operation operation, const std::string& path) {
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
  const auto open = [&] { return PosixFileSystem::Open(path, mode, file, permissions); };  // only these two fail
  const int error = mode == OpenMode::kRead        ? Due(Operation::kOpenRead, path, open)
                    : mode == OpenMode::kReadWrite ? Due(Operation::kOpenReadWrite, path, open)
                                                   : open();
  if (error == 0) Opened(file.get(), path);
  return error;
}

int FailingFileSystem::Close(FileDescriptor& file) {
  const int error = Fault(Operation::kClose, PathOf(file.get()));
  const int closed = PosixFileSystem::Close(file);  // closed whatever the fault: a close never leaves it open
  return error != 0 ? error : closed;
}

int FailingFileSystem::Write(int file, std::string_view bytes) {
  const int error = Fault(Operation::kWrite, PathOf(file));
  if (error == 0) return PosixFileSystem::Write(file, bytes);
  PosixFileSystem::Write(file, bytes.substr(0, bytes.size() / 2));
  return error;
}

int FailingFileSystem::CreateUnnamedFile(const std::string& folder, const std::string& owner,
                                         std::unique_ptr<UnnamedFile>& file) {
  const int error =
      Due(Operation::kCreateUnnamed, folder, [&] { return PosixFileSystem::CreateUnnamedFile(folder, owner, file); });
  if (error == 0) Opened(file->descriptor(), folder + "/");
  return error;
}

}  // namespace quillport::testing
