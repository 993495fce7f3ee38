// Where the relay takes messages from and puts them.
#pragma once

#include <string>

#include "common/settings.h"

namespace quillport {

struct RelaySettings {
  std::string drop_folder;
  std::string message_pattern;
  std::string error_folder;
  std::string log_file;

  // The settings compiled into the program.
  static RelaySettings Compiled() {
    return {std::string(settings::kDropFolder), std::string(settings::kMessagePattern),
            std::string(settings::kErrorFolder), std::string(settings::kLogFile)};
  }
};

}  // namespace quillport
