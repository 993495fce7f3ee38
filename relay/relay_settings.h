// Where the relay takes messages from and puts them, and how it paces itself.
#pragma once

#include <chrono>
#include <string>

#include "common/settings.h"

namespace quillport {

struct RelaySettings {
  std::string drop_folder;
  std::string message_pattern;
  std::string error_folder;
  std::string log_file;
  // The pause after every file that is not a folder (none when zero).
  std::chrono::milliseconds pause_after_file{100};
  // A file whose size or times changed less than this long ago may still be
  // written: it is left for a later Action.
  std::chrono::milliseconds quiet_period{2000};
  // The quiet period of a file that neither a read lease nor the writer
  // watch can vouch for: the relay cannot lease it (another user's file)
  // and the watch is off or lost changes that may concern it.
  std::chrono::milliseconds long_quiet_period{std::chrono::minutes(10)};
  // Whether an Action waits out the quiet period of a file that changed
  // lately and tries it again at its end, or leaves it for a later Action
  // (the service, whose watch of the drop folder starts one when the file
  // has settled).
  bool settle_within_action = true;

  // The settings compiled into the program.
  static RelaySettings Compiled() {
    return {std::string(settings::kDropFolder), std::string(settings::kMessagePattern),
            std::string(settings::kErrorFolder), std::string(settings::kLogFile)};
  }
};

}  // namespace quillport
