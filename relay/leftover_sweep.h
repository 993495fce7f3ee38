// Removing the temporary copies that an interrupted filing or delivery can
// leave in the drop and error folders.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "relay/file_system.h"

namespace quillport {

// A file of a quillport program that has no name yet but had to be made
// under a temporary one: exactly as TemporaryName makes them for the relay's
// filing and for quillport-deliver, in their case and with their random part
// (a user's ".quillport-backup.part" is none). Never a message name.
bool IsLeftoverName(const std::string& name);

// Deletes from `folder` every regular file with a leftover's name that has
// not changed for at least `age` before `now` (a writer may be making one
// right now), and returns the paths it deleted. A folder that cannot be
// listed, and a file that cannot be deleted, are left as they are.
std::vector<std::string> SweepLeftovers(FileSystem& files, const std::string& folder, std::chrono::milliseconds age,
                                        std::chrono::system_clock::time_point now);

}  // namespace quillport
