// What quillportd tells the service manager (sd_notify(3)): that it is
// ready, that it still lives (the watchdog), what it last did (the status
// line `systemctl status` shows) and that it is stopping. Outside systemd
// (no NOTIFY_SOCKET) every call does nothing.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace quillport {

class ServiceNotifier {
 public:
  // Reads the watchdog's interval from the environment (WATCHDOG_USEC).
  ServiceNotifier();

  void Ready() const;
  void Stopping() const;
  // The status line; control characters are escaped, so it stays one line.
  void Status(std::string_view text) const;

  // Sends WATCHDOG=1 when half the watchdog's interval has passed since the
  // last one (or none was sent yet). Does nothing without a watchdog.
  void KeepAlive(std::chrono::steady_clock::time_point now);
  // When KeepAlive is next due; nullopt without a watchdog.
  std::optional<std::chrono::steady_clock::time_point> NextKeepAlive() const;

 private:
  void Send(std::string_view state) const;

  std::optional<std::chrono::steady_clock::duration> keep_alive_every_;  // half the watchdog's interval
  std::optional<std::chrono::steady_clock::time_point> last_keep_alive_;
};

}  // namespace quillport
