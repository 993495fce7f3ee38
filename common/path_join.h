// Joins a folder and a name with the platform's separator.
#pragma once

#include <string>
#include <string_view>

#include "common/settings.h"

namespace quillport {

// folder, one separator, name: used exactly as given, with no check of what
// the folder text ends with.
inline std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += settings::kPathSeparator;
  path += name;
  return path;
}

}  // namespace quillport
