// A listing of the entries of a folder whose names match a pattern.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "relay/file_system.h"

namespace quillport {

// One entry of a listing.
struct ListedEntry {
  std::string name;  // the name as it stands in the folder
  bool is_folder = false;
  std::uint64_t size = 0;  // bytes; 0 for folders

  std::uint32_t size_high() const { return static_cast<std::uint32_t>(size >> 32); }
  std::uint32_t size_low() const { return static_cast<std::uint32_t>(size); }
};

// Takes a snapshot of `folder` when constructed: every entry present then
// (files, folders, hidden files) whose name matches `pattern`, in name
// order. A symbolic link is listed as what it is, never as a folder, even
// when it points to one. A missing folder or no match gives an invalid listing. The snapshot
// is released when the listing goes out of scope.
class FolderListing {
 public:
  FolderListing(std::string_view folder, std::string_view pattern, FileSystem& files = DefaultFileSystem());
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  // False when the folder is missing or nothing matched.
  bool valid() const { return !entries_.empty(); }

  // Why the folder could not be listed ("... does not exist"); empty when
  // it was listed, whether or not anything matched.
  const std::string& problem() const { return problem_; }

  // The current entry; the first one right after construction. Only while
  // valid() and not done().
  const ListedEntry& entry() const { return entries_[position_]; }

  // Moves on to the next entry that is still present in the folder. Returns
  // false when none is left.
  bool Next();

 private:
  FileSystem& files_;
  std::string folder_;
  std::string problem_;
  std::vector<ListedEntry> entries_;
  std::size_t position_ = 0;
};

}  // namespace quillport
