#include "daemon/service_notifier.h"

#include <systemd/sd-daemon.h>

#include <string>

#include "common/printable_text.h"

namespace quillport {

ServiceNotifier::ServiceNotifier() {
  std::uint64_t microseconds = 0;
  if (::sd_watchdog_enabled(0, &microseconds) > 0 && microseconds > 0) {
    keep_alive_every_ =
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::microseconds(microseconds / 2));
  }
}

void ServiceNotifier::Ready() const { Send("READY=1"); }

void ServiceNotifier::Stopping() const { Send("STOPPING=1"); }

void ServiceNotifier::Status(std::string_view text) const { Send("STATUS=" + Printable(text)); }

void ServiceNotifier::KeepAlive(std::chrono::steady_clock::time_point now) {
  if (!keep_alive_every_) return;
  if (last_keep_alive_ && now < *last_keep_alive_ + *keep_alive_every_) return;
  Send("WATCHDOG=1");
  last_keep_alive_ = now;
}

std::optional<std::chrono::steady_clock::time_point> ServiceNotifier::NextKeepAlive() const {
  if (!keep_alive_every_) return std::nullopt;
  if (!last_keep_alive_) return std::chrono::steady_clock::time_point::min();
  return *last_keep_alive_ + *keep_alive_every_;
}

void ServiceNotifier::Send(std::string_view state) const {
  // A manager that does not listen costs the relay nothing: the result is
  // only whether the message went out.
  [[maybe_unused]] const int sent = ::sd_notify(0, std::string(state).c_str());
}

}  // namespace quillport
