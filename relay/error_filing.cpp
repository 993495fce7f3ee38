#include "relay/error_filing.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
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
#include "common/message_name.h"
#include "common/path_join.h"

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

// Copies `from` into a new temporary file in the folder of `to`; returns
// its path, or an empty text with `problem` set. The copy is on disk when
// this returns; a failed copy is removed.
std::string CopyToTemporary(const std::string& from, const std::string& to, std::string& problem) {
  FileDescriptor source(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (source.get() < 0 || ::fstat(source.get(), &status) != 0) {
    problem = "cannot read " + from + ": " + Reason();
    return {};
  }
  // A leading dot and no ".cnm" at the end: never taken for a message.
  std::string temporary = FolderOf(to) + std::string(settings::kPathSeparator) + TemporaryNameTemplate("quillport");
  FileDescriptor copy(::mkostemps(temporary.data(), kTemporarySuffixLength, O_CLOEXEC));
  if (copy.get() < 0) {
    problem = "cannot create a file in " + FolderOf(to) + ": " + Reason();
    return {};
  }
  RemoveUnlessKept partial(temporary);
  std::array<char, 65536> buffer;
  for (;;) {
    const ssize_t count = ::read(source.get(), buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      problem = "cannot read " + from + ": " + Reason();
      return {};
    }
    if (count == 0) break;
    if (!WriteAll(copy.get(), std::string_view(buffer.data(), static_cast<std::size_t>(count)))) {
      problem = "cannot write into " + FolderOf(to) + ": " + Reason();
      return {};
    }
  }
  ::fchmod(copy.get(), status.st_mode & 0777);
  if (::fsync(copy.get()) != 0 || !copy.Close()) {
    problem = "cannot write into " + FolderOf(to) + ": " + Reason();
    return {};
  }
  partial.Keep();
  return temporary;
}

std::string CopyWithoutReplacing(const std::string& from, const std::string& to) {
  std::string problem;
  const std::string temporary = CopyToTemporary(from, to, problem);
  if (temporary.empty()) return problem;
  RemoveUnlessKept partial(temporary);
  if (const int error = RenameNoReplace(temporary, to); error != 0) {
    return "cannot file it as " + to + ": " + std::strerror(error);
  }
  partial.Keep();
  if (!SyncFolder(FolderOf(to))) {
    const std::string why = Reason();
    ::unlink(to.c_str());
    return "cannot flush " + FolderOf(to) + " to disk: " + why;
  }
  if (::unlink(from.c_str()) != 0) {
    const std::string why = Reason();
    ::unlink(to.c_str());  // one copy only: the message stays where it was
    SyncFolder(FolderOf(to));
    return "cannot delete " + from + " after copying it: " + why;
  }
  SyncFolder(FolderOf(from));
  return {};
}

}  // namespace

std::string FileBaseName(std::string_view file_name) { return Lower(file_name.substr(0, file_name.find('.'))); }

std::string FileExtension(std::string_view file_name) {
  const std::size_t dot = file_name.find('.');
  return dot == std::string_view::npos ? std::string() : Lower(file_name.substr(dot));
}

std::string MoveWithoutReplacing(const std::string& from, const std::string& to) {
  const int error = RenameNoReplace(from, to);
  if (error == EXDEV) return CopyWithoutReplacing(from, to);
  if (error != 0) return "cannot move " + from + " to " + to + ": " + std::strerror(error);
  SyncFolder(FolderOf(to));
  SyncFolder(FolderOf(from));
  return {};
}

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

  // Bounded: after as many draws as there are random names, give up.
  for (std::int64_t draws = 0;; ++draws) {
    if (!Taken(target)) {
      std::string problem = MoveWithoutReplacing(source, target);
      if (problem.empty()) return {std::move(target), {}};
      // Unless something took the name meanwhile, the move itself failed.
      if (!Taken(target)) return {{}, std::move(problem)};
    }
    if (draws >= QueueNameGenerator::kNameCount) {
      return {{}, "every free name in " + std::string(target_folder) + " is taken"};
    }
    target = JoinPath(target_folder, Lower(names.RandomQueueName()) + extension);
  }
}

}  // namespace quillport
