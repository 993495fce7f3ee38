// What the relay engine shows, kept by the engine as values: the count of
// Actions, the file in progress, the totals and the connection's status
// line. The engine hands out a copy after every change (see
// EngineListener); the window draws the copies it receives and never reads
// anything back from what it drew. The error line is not here: the window
// makes it from the engine's events.
#pragma once

#include <cstdint>
#include <string>

namespace quillport {

// Volume in bytes and number of files.
struct FileTotals {
  std::int64_t volume = 0;
  std::int64_t count = 0;
  void Add(std::int64_t size) {
    volume += size;
    count += 1;
  }
  friend bool operator==(const FileTotals&, const FileTotals&) = default;
};

struct RelayState {
  // What kind of file is in progress; it gives the fields' colour.
  enum class FileKind { kNone, kMessage, kEmpty };

  std::int64_t actions = 0;    // Actions run since start
  std::string file_path;       // file in progress; empty outside the walk
  std::int64_t file_size = 0;  // its size; 0 outside the walk
  FileKind file_kind = FileKind::kNone;
  FileTotals action_messages;  // this Action: non-empty files
  FileTotals action_empty;     // this Action: empty files
  FileTotals total_messages;   // since start: non-empty files
  FileTotals total_empty;      // since start: empty files
  bool message_seen = false;   // a non-empty file was met since start
  bool empty_seen = false;     // an empty file was met since start
  std::string status_line;     // the connection's last step; empty until the first

  friend bool operator==(const RelayState&, const RelayState&) = default;
};

}  // namespace quillport
