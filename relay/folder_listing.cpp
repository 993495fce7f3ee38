#include "relay/folder_listing.h"

#include <algorithm>
#include <cerrno>

#include "common/message_name.h"
#include "common/path_join.h"

namespace quillport {

FolderListing::FolderListing(std::string_view folder, std::string_view pattern, FileSystem& files)
    : files_(files), folder_(folder) {
  std::vector<FolderEntry> found;
  if (const int error = files_.ListFolder(folder_, found); error != 0) {  // lists nothing
    problem_ = error == ENOENT ? "the folder " + folder_ + " does not exist"
                               : "the folder " + folder_ + " cannot be listed: " + ErrorText(error);
    return;
  }
  for (FolderEntry& listed : found) {
    if (!MatchesPattern(listed.name, pattern)) continue;
    ListedEntry entry;
    entry.name = std::move(listed.name);
    entry.is_folder = listed.examined && listed.status.folder();
    if (listed.examined && listed.status.regular()) entry.size = listed.status.size;
    entries_.push_back(std::move(entry));
  }
  std::sort(entries_.begin(), entries_.end(),
            [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
}

bool FolderListing::Next() {
  while (position_ + 1 < entries_.size()) {
    ++position_;
    // An entry removed since the snapshot is not handed out.
    FileStatus status;
    if (files_.Examine(JoinPath(folder_, entry().name), status, FileSystem::Follow::kNo) == 0) return true;
  }
  position_ = entries_.size() - (entries_.empty() ? 0 : 1);
  return false;
}

}  // namespace quillport
