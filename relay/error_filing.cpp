#include "relay/error_filing.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "common/message_name.h"
#include "common/path_join.h"
#include "relay/queued_file.h"

namespace quillport {
namespace {

using OpenMode = FileSystem::OpenMode;
using Follow = FileSystem::Follow;

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// A folder test passes when an entry of that name exists, folder or file.
bool EntryExists(FileSystem& files, const std::string& path) {
  FileStatus status;
  return files.Examine(path, status, Follow::kYes) == 0;
}

// A target name is taken when any entry bears it: a file, a folder, a
// FIFO, a symbolic link (even one that leads nowhere) ...
bool Taken(FileSystem& files, const std::string& path) {
  FileStatus status;
  return files.Examine(path, status, Follow::kNo) == 0;
}

// How a move ended: done (no problem), the target name taken meanwhile, or
// another failure, which leaves the file where it was.
struct MoveResult {
  std::string problem;
  bool name_taken = false;
};

// Copies the open `source` into the new file `copy`; empty, or the problem.
std::string CopyContent(FileSystem& files, int source, const std::string& from, int copy, const std::string& folder) {
  std::array<char, 65536> buffer;
  for (;;) {
    std::size_t count = 0;
    if (const int error = files.Read(source, buffer, count); error != 0) {
      return "cannot read " + from + ": " + ErrorText(error);
    }
    if (count == 0) return {};
    if (const int error = files.Write(copy, std::string_view(buffer.data(), count)); error != 0) {
      return "cannot write into " + folder + ": " + ErrorText(error);
    }
  }
}

// Across file systems: the copy is made without a name, flushed to disk and
// only then named `to`, so a failed copy leaves nothing behind. Once it is
// named the message counts as filed there: a later failure never removes it
// (a removal that failed would leave a second copy), and the source is
// deleted; when that fails, the message is in both folders, and the next
// filing of it finds its copy (see FindFiledCopy).
MoveResult CopyWithoutReplacing(FileSystem& files, const std::string& from, const std::string& to) {
  const std::string folder = FolderOf(to);
  FileDescriptor source(-1);
  FileStatus status;
  int error = files.Open(from, OpenMode::kRead, source);
  if (error == 0) error = files.ExamineOpen(source.get(), status);
  if (error != 0) return {"cannot read " + from + ": " + ErrorText(error)};
  std::unique_ptr<UnnamedFile> copy;
  if (error = files.CreateUnnamedFile(folder, std::string(kFilingOwner), copy); error != 0) {
    return {"cannot create a file in " + folder + ": " + ErrorText(error)};
  }
  if (std::string problem = CopyContent(files, source.get(), from, copy->descriptor(), folder); !problem.empty()) {
    return {std::move(problem)};
  }
  files.ChangeMode(copy->descriptor(), status.mode & 0777);
  if (error = files.Sync(copy->descriptor()); error != 0) {
    return {"cannot write into " + folder + ": " + ErrorText(error)};
  }
  if (error = files.NameUnnamedFile(*copy, to); error != 0) {
    return {"cannot file it as " + to + ": " + ErrorText(error), error == EEXIST};
  }
  // Until the copy's name is on disk, a crash could lose it: the source
  // stays then, and the next filing finds the copy.
  if (error = files.SyncFolder(folder); error != 0) {
    return {"it was filed as " + to + ", but " + folder + " could not be flushed to disk (" + ErrorText(error) +
            "), so " + from + " stays"};
  }
  if (error = files.Delete(from); error != 0) {
    return {"it was filed as " + to + ", but " + from + " could not be deleted: " + ErrorText(error)};
  }
  files.SyncFolder(FolderOf(from));
  return {};
}

MoveResult Move(FileSystem& files, const std::string& from, const std::string& to) {
  const int error = files.RenameWithoutReplacing(from, to);
  if (error == EXDEV) return CopyWithoutReplacing(files, from, to);
  if (error != 0) return {"cannot move " + from + " to " + to + ": " + ErrorText(error), error == EEXIST};
  files.SyncFolder(FolderOf(to));
  files.SyncFolder(FolderOf(from));
  return {};
}

// True when the two open files hold the same bytes.
bool SameContent(FileSystem& files, int first, int second) {
  std::array<char, 65536> one, other;
  for (std::uint64_t at = 0;;) {
    std::size_t count = 0;
    if (files.ReadAt(first, one, at, count) != 0) return false;
    if (count == 0) return true;
    std::size_t got = 0;
    while (got < count) {
      std::size_t more = 0;
      if (files.ReadAt(second, std::span(other).subspan(got, count - got), at + got, more) != 0 || more == 0) {
        return false;
      }
      got += more;
    }
    if (std::memcmp(one.data(), other.data(), count) != 0) return false;
    at += count;
  }
}

// The path of a regular file in `folder` that holds exactly the bytes of
// `source`, if there is one: the same message filed before, by a filing
// whose deletion of its source failed. Empty when there is none.
std::string FindFiledCopy(FileSystem& files, const std::string& source, const std::string& folder) {
  FileDescriptor message(-1);
  FileStatus status;
  if (files.Open(source, OpenMode::kRead, message) != 0 || files.ExamineOpen(message.get(), status) != 0) return {};
  std::vector<FolderEntry> entries;
  files.ListFolder(folder, entries);
  for (const FolderEntry& entry : entries) {
    if (!entry.examined || !entry.status.regular() || entry.status.size != status.size) continue;
    std::string path = JoinPath(folder, entry.name);
    FileDescriptor copy(-1);
    if (files.Open(path, OpenMode::kRead, copy) == 0 && SameContent(files, message.get(), copy.get())) return path;
  }
  return {};
}

}  // namespace

std::string FileBaseName(std::string_view file_name) { return Lower(file_name.substr(0, file_name.find('.'))); }

std::string FileExtension(std::string_view file_name) {
  const std::size_t dot = file_name.find('.');
  return dot == std::string_view::npos ? std::string() : Lower(file_name.substr(dot));
}

Filing MoveUnderFreeName(FileSystem& files, const QueuedMessage& message, std::string_view target_folder,
                         QueueNameGenerator& names) {
  const std::string errors(target_folder);
  if (!EntryExists(files, message.folder)) return {{}, "the folder " + message.folder + " does not exist"};
  if (!EntryExists(files, errors)) return {{}, "the error folder " + errors + " does not exist"};

  const std::string extension = FileExtension(message.name);
  // This file system tells case apart: the file is found by its name as
  // listed, and filed under the lower-cased name.
  const std::string source = message.Path();
  std::string target = JoinPath(errors, FileBaseName(message.name) + extension);

  if (message.identity != FileIdentity{}) {
    FileStatus named;
    if (files.Examine(source, named, Follow::kNo) != 0 || named.identity != message.identity) {
      return {{}, source + " is no longer the message that was read"};
    }
  }

  // Filed before, by a filing that could not delete its source: one copy
  // in the error folder is enough.
  if (std::string filed = FindFiledCopy(files, source, errors); !filed.empty()) {
    if (const int error = files.Delete(source); error != 0) {
      return {{}, "it was filed before as " + filed + ", but " + source + " could not be deleted: " + ErrorText(error)};
    }
    files.SyncFolder(message.folder);
    return {std::move(filed), {}};
  }

  // Bounded: after as many draws as there are random names, give up.
  for (std::int64_t draws = 0;; ++draws) {
    if (!Taken(files, target)) {
      MoveResult moved = Move(files, source, target);
      if (moved.problem.empty()) return {std::move(target), {}};
      // Only a name taken meanwhile is worth another name: after any other
      // failure the message stays, at most one copy of it filed.
      if (!moved.name_taken) return {{}, std::move(moved.problem)};
    }
    if (draws >= QueueNameGenerator::kNameCount) return {{}, "every free name in " + errors + " is taken"};
    target = JoinPath(errors, Lower(names.RandomQueueName()) + extension);
  }
}

}  // namespace quillport
