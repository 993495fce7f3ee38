// One Action: every queued message file of the drop folder taken to the news
// server, with the status board showing the file in progress and the totals.
#pragma once

#include <chrono>
#include <functional>

#include "board/status_board.h"
#include "news/news_client.h"
#include "relay/server_connection.h"
#include "relay/presence_check.h"
#include "relay/queue_name_generator.h"
#include "relay/relay_settings.h"

namespace quillport {

using Clock = std::function<std::chrono::system_clock::time_point()>;

class RelayCycle {
 public:
  // The relay lives as long as the window: `board`, `client` and `yield`
  // must outlive it. `yield` lets the window process its pending events.
  RelayCycle(StatusBoard& board, NewsClient& client, Yield yield,
             RelaySettings settings = RelaySettings::Compiled(),
             Clock clock = std::chrono::system_clock::now);

  // Runs one Action: restarts the countdown from the period, counts the
  // Action, clears the per-Action figures, lists the drop folder and, when
  // it found anything, connects and handles every entry in name order:
  // a non-empty file is counted, logged and posted; an empty one is counted
  // and left in place; a folder is skipped. After each file it pauses
  // 100 ms. At the end the file-in-progress fields are cleared, the window
  // is enabled again and the connection closed, also when a failure ends
  // the Action early; the failure is then passed on. Called while an Action
  // is running (from one of its yields), it does nothing.
  void DoAction();

  // Whether an Action is under way.
  bool Running() const { return running_; }

  // Called again and again during the pause after each file, so the window
  // can repaint and answer the window manager; it must not start any work.
  // The window passes one that processes its pending events.
  void SetKeepAlive(std::function<void()> keep_alive) { keep_alive_ = std::move(keep_alive); }

  ServerConnection& connection() { return connection_; }
  const RelaySettings& settings() const { return settings_; }

 private:
  void HandleNonEmptyFile(const std::string& path, std::int64_t size);
  void HandleEmptyFile();
  void AppendLogRecord(std::int64_t size) const;
  void ClearFileInProgress();
  void PauseAfterFile() const;

  StatusBoard& board_;
  NewsClient& client_;
  Yield yield_;
  RelaySettings settings_;
  Clock clock_;
  std::function<void()> keep_alive_;
  ServerConnection connection_;
  QueueNameGenerator names_;
  bool running_ = false;
};

// The log record of one non-empty file: "#YYYY-MM-DD HH:MM:SS#," and the
// size with at least seven digits between double quotes, then CR LF.
std::string LogRecord(std::chrono::system_clock::time_point when, std::int64_t size);

}  // namespace quillport
