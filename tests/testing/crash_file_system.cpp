#include "tests/testing/crash_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <fstream>

namespace quillport::testing {
namespace fs = std::filesystem;
namespace {

// The regular files of `folder` by name, with their inodes.
std::map<std::string, ino_t> Files(const std::string& folder) {
  std::map<std::string, ino_t> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    struct stat status {};
    if (entry.is_regular_file() && ::lstat(entry.path().c_str(), &status) == 0) {
      files[entry.path().filename()] = status.st_ino;
    }
  }
  return files;
}

std::string Key(const std::string& folder) { return fs::weakly_canonical(folder); }

}  // namespace

void CrashFileSystem::KeepContent(int file, ino_t inode) {
  std::string content;
  std::array<char, 65536> buffer;
  for (std::size_t count = 0; PosixFileSystem::ReadAt(file, buffer, content.size(), count) == 0 && count > 0;) {
    content.append(buffer.data(), count);
  }
  contents_[inode] = std::move(content);
}

void CrashFileSystem::Watch(const std::string& folder) {
  std::map<std::string, ino_t>& names = names_[Key(folder)] = Files(folder);
  for (const auto& [name, inode] : names) {
    const FileDescriptor file(::open((folder + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    KeepContent(file.get(), inode);
  }
}

int CrashFileSystem::Sync(int file) {
  const int error = FailingFileSystem::Sync(file);
  struct stat status {};
  if (error == 0 && ::fstat(file, &status) == 0) KeepContent(file, status.st_ino);
  return error;
}

int CrashFileSystem::SyncFolder(const std::string& folder) {
  const int error = FailingFileSystem::SyncFolder(folder);
  if (error == 0 && names_.contains(Key(folder))) names_[Key(folder)] = Files(folder);
  return error;
}

void CrashFileSystem::Crash() {
  for (const auto& [folder, names] : names_) {
    for (const auto& [name, inode] : Files(folder)) fs::remove(folder + "/" + name);
    for (const auto& [name, inode] : names) {
      const auto content = contents_.find(inode);
      std::ofstream(folder + "/" + name, std::ios::binary) << (content == contents_.end() ? "" : content->second);
    }
  }
  const auto watched = names_;
  names_.clear();
  contents_.clear();
  for (const auto& [folder, names] : watched) Watch(folder);
}

}  // namespace quillport::testing
