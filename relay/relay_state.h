// What the relay engine shows the operator, kept by the engine as values:
// the count of Actions, the file in progress, the totals, the connection's
// status line and the error line. The engine publishes a copy after every
// change; the window draws the copies it receives and never reads anything
// back from what it drew.
#pragma once

#include <cstdint>
#include <functional>
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

// The error line: the last failure's text and whether it is shown. Every
// change counts up `changes`, so a view can tell that the engine has set
// the line again even when the text and visibility are as before (another
// writer, the window's own handlers, may have changed the line meanwhile).
struct ErrorLine {
  std::string text;
  bool shown = true;  // as the window starts: an empty line, shown
  std::uint64_t changes = 0;

  void Set(std::string new_text) {
    text = std::move(new_text);
    ++changes;
  }
  void Show(bool show) {
    shown = show;
    ++changes;
  }
  friend bool operator==(const ErrorLine&, const ErrorLine&) = default;
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
  ErrorLine error_line;

  friend bool operator==(const RelayState&, const RelayState&) = default;
};

// Receives a copy of the state after each change, on the engine's thread.
using StatePublisher = std::function<void(const RelayState&)>;

// The engine's state and where its changes go: the parts of the engine
// change it, then publish it.
class StateKeeper {
 public:
  explicit StateKeeper(StatePublisher publisher = {}) : publisher_(std::move(publisher)) {}

  RelayState& state() { return state_; }
  const RelayState& state() const { return state_; }

  // Hands a copy of the state as it stands to the publisher, if there is one.
  void Publish() const {
    if (publisher_) publisher_(state_);
  }

 private:
  RelayState state_;
  StatePublisher publisher_;
};

}  // namespace quillport
