// Writing into the drop and error folders so that what is there lasts and
// nothing is ever replaced: renames that refuse an existing target, folders
// flushed to disk, temporary files removed unless kept. (Whole writes:
// WriteAll in common/file_descriptor.h.)
#pragma once

#include <string>
#include <utility>

namespace quillport {

// Renames `from` to `to` unless `to` exists. Where the file system cannot
// rename that way, a hard link does the same (it fails when the target
// exists) and `from` is then unlinked. Returns 0, or the errno value of the
// failure (EEXIST when `to` exists).
int RenameNoReplace(const std::string& from, const std::string& to);

// Flushes a folder's entries to disk, so a rename or deletion in it lasts.
// Returns false when it could not.
bool SyncFolder(const std::string& folder);

// Deletes a path when the scope ends, unless kept.
class RemoveUnlessKept {
 public:
  explicit RemoveUnlessKept(std::string path) : path_(std::move(path)) {}
  ~RemoveUnlessKept();
  RemoveUnlessKept(const RemoveUnlessKept&) = delete;
  RemoveUnlessKept& operator=(const RemoveUnlessKept&) = delete;
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

}  // namespace quillport
