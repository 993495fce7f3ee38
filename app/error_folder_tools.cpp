#include "app/error_folder_tools.h"

#include <syslog.h>

#include <filesystem>
#include <string>

#include "board/board_fields.h"
#include "common/number_format.h"
#include "common/path_join.h"
#include "common/system_log.h"
#include "relay/folder_listing.h"

namespace quillport {

void CountMessageFiles(std::string_view folder, std::string_view pattern, std::int64_t& count, std::int64_t& volume) {
  count = 0;
  volume = 0;
  FolderListing listing(folder, pattern);
  if (!listing.valid()) return;
  do {
    const ListedEntry& entry = listing.entry();
    if (entry.is_folder || entry.size == 0) continue;
    count += 1;
    volume += static_cast<std::int64_t>(entry.size);
  } while (listing.Next());
}

void RefreshErrorFigures(StatusBoard& board, std::string_view folder, std::string_view pattern) {
  std::int64_t count = 0;
  std::int64_t volume = 0;
  CountMessageFiles(folder, pattern, count, volume);
  board.SetText(field::kErrorNb, FormatNumber(count, kPattern4));
  board.SetText(field::kErrorVol, FormatNumber(volume, kPattern7));
}

void PurgeErrorFolder(StatusBoard& board, std::string_view folder, std::string_view pattern) {
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  {
    FolderListing listing(folder, pattern);
    if (listing.valid()) {
      do {
        if (listing.entry().is_folder) continue;
        std::error_code failed;
        if (std::filesystem::remove(JoinPath(folder, listing.entry().name), failed)) {
          files += 1;
          bytes += static_cast<std::int64_t>(listing.entry().size);
        }
      } while (listing.Next());
    }
  }
  // What changes the relay's folders is the administrator's to know.
  WriteSystemLog(LOG_NOTICE, "PURGE removed " + std::to_string(files) + " files (" + std::to_string(bytes) +
                                 " bytes) from the error folder " + std::string(folder));
  try {
    RefreshErrorFigures(board, folder, pattern);
  } catch (...) {
    // The purge reports nothing; the figures stay as they were.
  }
}

}  // namespace quillport
