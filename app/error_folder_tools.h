// The error folder's figures on the status board, and its purge.
#pragma once

#include <cstdint>
#include <string_view>

#include "board/status_board.h"

namespace quillport {

// Counts the non-empty files of `folder` whose names match `pattern`, and
// adds up their sizes. Folders and empty files are not counted. A missing
// folder, or one where nothing matches, gives 0 and 0. Both outputs are set
// to 0 first.
void CountMessageFiles(std::string_view folder, std::string_view pattern, std::int64_t& count, std::int64_t& volume);

// Shows the count of `folder`'s message files in txt_Error_Nb ("# ##0") and
// their volume in txt_Error_Vol ("# ### ##0").
void RefreshErrorFigures(StatusBoard& board, std::string_view folder, std::string_view pattern);

// Deletes every file (never a folder) in `folder` whose name matches
// `pattern`, empty or not, without asking; a file that cannot be deleted is
// skipped. Records in the system log how many files and bytes it removed.
// Then refreshes the figures; a failing refresh leaves them as they were.
// Shows nothing.
void PurgeErrorFolder(StatusBoard& board, std::string_view folder, std::string_view pattern);

}  // namespace quillport
