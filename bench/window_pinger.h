// The benchmark as the window manager of the program's window: finding the
// window on the X display and asking it _NET_WM_PING over and over, one
// question at a time, to learn how long the window keeps a desktop waiting.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

// Xlib's own type, declared here to keep Xlib out of the benchmark's other files.
using Display = struct _XDisplay;  // NOLINT(bugprone-reserved-identifier)

namespace quillport::bench {

// One connection to an X display, closed with the object. Xlib is set up for
// threads first, since the pinger talks to the display from a thread of its
// own (each thread on its own connection).
class XConnection {
 public:
  explicit XConnection(const std::string& display_name);  // throws std::runtime_error
  Display* get() const { return display_.get(); }

 private:
  std::unique_ptr<Display, int (*)(Display*)> display_;
};

// The top-level window of process `pid` whose title ends with `suffix`.
std::optional<unsigned long> FindWindow(const XConnection& x, pid_t pid, const std::string& suffix);
bool IsShown(const XConnection& x, unsigned long window);
void MapWindow(const XConnection& x, unsigned long window);

struct PingFigures {
  int sent = 0;
  int answered = 0;
  double longest_ms = 0;  // a ping never answered counts with the time waited
  int slower_than_limit = 0;
};

// Pings `window` from a thread of its own from Start to Stop: sends
// _NET_WM_PING, waits for the answer on the root window, and sends the next
// one `interval` after the last was sent (at once when the answer came
// later). A ping unanswered after `patience` counts as such and the next
// one goes out.
class WindowPinger {
 public:
  WindowPinger(std::string display_name, unsigned long window, std::chrono::milliseconds interval,
               std::chrono::milliseconds patience, std::chrono::milliseconds limit);
  ~WindowPinger() = default;  // the thread is stopped and joined, its figures dropped
  WindowPinger(const WindowPinger&) = delete;
  WindowPinger& operator=(const WindowPinger&) = delete;

  void Start();
  // Lets the ping in flight get its answer (within `patience`), then ends
  // the thread and returns what it measured.
  PingFigures Stop();

 private:
  void Run(const std::stop_token& stop);

  std::string display_name_;
  unsigned long window_;
  std::chrono::milliseconds interval_;
  std::chrono::milliseconds patience_;
  std::chrono::milliseconds limit_;
  PingFigures figures_;  // written by the thread, read after it ended
  std::string failure_;
  std::jthread thread_;
};

}  // namespace quillport::bench
