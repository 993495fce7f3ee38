#include "relay/leftover_sweep.h"

#include "common/message_name.h"
#include "common/path_join.h"

namespace quillport {

bool IsLeftoverName(const std::string& name) {
  return IsTemporaryName(name, kFilingOwner) || IsTemporaryName(name, kDeliveryOwner);
}

std::vector<std::string> SweepLeftovers(FileSystem& files, const std::string& folder, std::chrono::milliseconds age,
                                        std::chrono::system_clock::time_point now) {
  std::vector<std::string> removed;
  std::vector<FolderEntry> entries;
  if (files.ListFolder(folder, entries) != 0) return removed;
  for (const FolderEntry& entry : entries) {
    if (!entry.examined || !entry.status.regular() || !IsLeftoverName(entry.name)) continue;
    if (now - entry.status.modified < age) continue;
    std::string path = JoinPath(folder, entry.name);
    if (files.Delete(path) == 0) removed.push_back(std::move(path));
  }
  if (!removed.empty()) files.SyncFolder(folder);
  return removed;
}

}  // namespace quillport
