#include "relay/error_filing.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/durable_write.h"
#include "common/file_descriptor.h"
#include "common/path_join.h"
#include "common/unnamed_file.h"

namespace quillport {
namespace fs = std::filesystem;

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string Reason() { return std::strerror(errno); }

// A folder test passes when an entry of that name exists, folder or file.
bool EntryExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::status(path, ec));
}

// A target name is taken when any entry bears it: a file, a folder, a
// FIFO, a symbolic link (even one that leads nowhere) ...
bool Taken(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

// How a move ended: done (no problem), the target name taken meanwhile, or
// another failure, which leaves the file where it was.
struct MoveResult {
  std::string problem;
  bool name_taken = false;
};

// Copies the open `source` into the new file `copy`; empty, or the problem.
std::string CopyContent(int source, const std::string& from, int copy, const std::string& folder) {
  std::array<char, 65536> buffer;
  for (;;) {
    const ssize_t count = ::read(source, buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return "cannot read " + from + ": " + Reason();
    if (count == 0) return {};
    if (!WriteAll(copy, std::string_view(buffer.data(), static_cast<std::size_t>(count)))) {
      return "cannot write into " + folder + ": " + Reason();
    }
  }
}

// Across file systems: the copy is made without a name, flushed to disk and
// only then named `to`, so a failed copy leaves nothing behind. Once it is
// named the message counts as filed there: a later failure never removes it
// (a removal that failed would leave a second copy), and the source is
// deleted; when that fails, the message is in both folders, and the next
// filing of it finds its copy (see FindFiledCopy).
MoveResult CopyWithoutReplacing(const std::string& from, const std::string& to) {
  const std::string folder = FolderOf(to);
  FileDescriptor source(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (source.get() < 0 || ::fstat(source.get(), &status) != 0) return {"cannot read " + from + ": " + Reason()};
  UnnamedFile copy(folder, "quillport");
  if (!copy.valid()) return {"cannot create a file in " + folder + ": " + std::strerror(copy.error())};
  if (std::string problem = CopyContent(source.get(), from, copy.descriptor(), folder); !problem.empty()) {
    return {std::move(problem)};
  }
  ::fchmod(copy.descriptor(), status.st_mode & 0777);
  if (::fsync(copy.descriptor()) != 0) return {"cannot write into " + folder + ": " + Reason()};
  if (const int error = copy.Name(to); error != 0) {
    return {"cannot file it as " + to + ": " + std::strerror(error), error == EEXIST};
  }
  SyncFolder(folder);
  if (::unlink(from.c_str()) != 0) {
    return {"it was filed as " + to + ", but " + from + " could not be deleted: " + Reason()};
  }
  SyncFolder(FolderOf(from));
  return {};
}

MoveResult Move(const std::string& from, const std::string& to) {
  const int error = RenameNoReplace(from, to);
  if (error == EXDEV) return CopyWithoutReplacing(from, to);
  if (error != 0) return {"cannot move " + from + " to " + to + ": " + std::strerror(error), error == EEXIST};
  SyncFolder(FolderOf(to));
  SyncFolder(FolderOf(from));
  return {};
}

// True when the two open files hold the same bytes.
bool SameContent(int first, int second) {
  std::array<char, 65536> one, other;
  for (off_t at = 0;;) {
    const ssize_t count = ::pread(first, one.data(), one.size(), at);
    if (count < 0) return false;
    if (count == 0) return true;
    const auto wanted = static_cast<std::size_t>(count);
    std::size_t got = 0;
    while (got < wanted) {
      const ssize_t more = ::pread(second, other.data() + got, wanted - got, at + static_cast<off_t>(got));
      if (more <= 0) return false;
      got += static_cast<std::size_t>(more);
    }
    if (std::memcmp(one.data(), other.data(), wanted) != 0) return false;
    at += count;
  }
}

// The path of a regular file in `folder` that holds exactly the bytes of
// `source`, if there is one: the same message filed before, by a filing
// whose deletion of its source failed. Empty when there is none.
std::string FindFiledCopy(const std::string& source, const std::string& folder) {
  FileDescriptor message(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (message.get() < 0 || ::fstat(message.get(), &status) != 0) return {};
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    struct stat filed {};
    std::string path = entry.path().string();
    if (::lstat(path.c_str(), &filed) != 0 || !S_ISREG(filed.st_mode) || filed.st_size != status.st_size) continue;
    FileDescriptor copy(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (copy.get() >= 0 && SameContent(message.get(), copy.get())) return path;
  }
  return {};
}

}  // namespace

std::string FileBaseName(std::string_view file_name) { return Lower(file_name.substr(0, file_name.find('.'))); }

std::string FileExtension(std::string_view file_name) {
  const std::size_t dot = file_name.find('.');
  return dot == std::string_view::npos ? std::string() : Lower(file_name.substr(dot));
}

std::string MoveWithoutReplacing(const std::string& from, const std::string& to) { return Move(from, to).problem; }

Filing MoveUnderFreeName(std::string_view source_folder, std::string_view target_folder, std::string_view file_name,
                         QueueNameGenerator& names, const FileIdentity* expected) {
  if (!EntryExists(std::string(source_folder))) {
    return {{}, "the folder " + std::string(source_folder) + " does not exist"};
  }
  if (!EntryExists(std::string(target_folder))) {
    return {{}, "the error folder " + std::string(target_folder) + " does not exist"};
  }

  const std::string base = FileBaseName(file_name);
  const std::string extension = FileExtension(file_name);
  // This file system tells case apart: the file is found by its name as
  // listed, and filed under the lower-cased name.
  const std::string source = JoinPath(source_folder, file_name);
  std::string target = JoinPath(target_folder, base + extension);

  if (expected != nullptr) {
    struct stat named {};
    if (::lstat(source.c_str(), &named) != 0 || !(FileIdentity{named.st_dev, named.st_ino} == *expected)) {
      return {{}, source + " is no longer the message that was read"};
    }
  }

  // Filed before, by a filing that could not delete its source: one copy
  // in the error folder is enough.
  if (std::string filed = FindFiledCopy(source, std::string(target_folder)); !filed.empty()) {
    if (::unlink(source.c_str()) != 0) {
      return {{}, "it was filed before as " + filed + ", but " + source + " could not be deleted: " + Reason()};
    }
    SyncFolder(std::string(source_folder));
    return {std::move(filed), {}};
  }

  // Bounded: after as many draws as there are random names, give up.
  for (std::int64_t draws = 0;; ++draws) {
    if (!Taken(target)) {
      MoveResult moved = Move(source, target);
      if (moved.problem.empty()) return {std::move(target), {}};
      // Only a name taken meanwhile is worth another name: after any other
      // failure the message stays, at most one copy of it filed.
      if (!moved.name_taken) return {{}, std::move(moved.problem)};
    }
    if (draws >= QueueNameGenerator::kNameCount) {
      return {{}, "every free name in " + std::string(target_folder) + " is taken"};
    }
    target = JoinPath(target_folder, Lower(names.RandomQueueName()) + extension);
  }
}

}  // namespace quillport
