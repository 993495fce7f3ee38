// The running relay's window-level state, for the whole run: the status
// window, the news client, the single-instance guard and StartTime. The
// scheduler and the relay engine are wired to the window's hooks with what
// this object hands out.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "app/instance_guard.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "news/news_client.h"

namespace quillport {

class Application {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // `window` and `guard` must outlive the application; it owns `news`.
  Application(MainWindow& window, InstanceGuard& guard, std::unique_ptr<NewsClient> news,
              Clock clock = std::chrono::system_clock::now);

  // Runs start-up (startup.h) as the window's load event: a failure is shown
  // on the error line and the program goes on. Unless it returns kGoesOn,
  // this program must end without showing its window.
  StartupOutcome Start();

  MainWindow& window() { return window_; }
  StatusBoard& board() { return window_; }
  NewsClient& news() { return *news_; }
  const Clock& clock() const { return clock_; }
  // When start-up ended: the origin of the elapsed minutes.
  std::chrono::system_clock::time_point start_time() const { return start_time_; }

 private:
  MainWindow& window_;
  InstanceGuard& guard_;
  std::unique_ptr<NewsClient> news_;
  Clock clock_;
  std::chrono::system_clock::time_point start_time_;
};

}  // namespace quillport
