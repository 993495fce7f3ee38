#include "relay/folder_listing.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "common/message_name.h"
#include "common/path_join.h"

namespace quillport {
namespace fs = std::filesystem;

FolderListing::FolderListing(std::string_view folder, std::string_view pattern) : folder_(folder) {
  std::error_code ec;
  fs::directory_iterator it(folder_, ec);
  if (ec) {  // a missing or unreadable folder lists nothing
    problem_ = ec == std::errc::no_such_file_or_directory
                   ? "the folder " + folder_ + " does not exist"
                   : "the folder " + folder_ + " cannot be listed: " + ec.message();
    return;
  }
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    if (!MatchesPattern(name, pattern)) continue;
    ListedEntry entry;
    entry.name = name;
    std::error_code status_ec;
    const fs::file_status status = it->symlink_status(status_ec);
    entry.is_folder = !status_ec && fs::is_directory(status);
    if (!status_ec && fs::is_regular_file(status)) {
      const std::uintmax_t size = it->file_size(status_ec);
      entry.size = status_ec ? 0 : static_cast<std::uint64_t>(size);
    }
    entries_.push_back(std::move(entry));
  }
  std::sort(entries_.begin(), entries_.end(),
            [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
}

bool FolderListing::Next() {
  while (position_ + 1 < entries_.size()) {
    ++position_;
    // An entry removed since the snapshot is not handed out.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(JoinPath(folder_, entry().name), ec))) return true;
  }
  position_ = entries_.size() - (entries_.empty() ? 0 : 1);
  return false;
}

}  // namespace quillport
