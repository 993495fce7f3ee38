// quillportd's main loop: the window's relay without the window. One thread
// waits (poll) on the signals, the drop folder's arrivals and the end of
// the Action under way, with a timeout up to the next thing due: a timed
// Action, a settled arrival, the watchdog. The Actions run on the engine's
// own thread (ActionThread), so the service manager hears from the loop
// even while a long Action runs.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "common/file_descriptor.h"
#include "daemon/arrival_watch.h"
#include "daemon/service_notifier.h"
#include "daemon/service_settings.h"
#include "daemon/service_signals.h"
#include "news/nntp_client.h"
#include "relay/action_thread.h"
#include "relay/relay_cycle.h"

namespace quillport {

// What starts an Action of the service: its timer, files that arrived and
// settled, or SIGUSR1.
enum class ActionTrigger { kTimer, kArrival, kSignal };

class RelayService {
 public:
  // Blocks the stop signals and SIGUSR1 (make it before any other thread)
  // and configures the news client. Throws std::runtime_error when the
  // service cannot be set up.
  explicit RelayService(ServiceSettings settings);
  RelayService(const RelayService&) = delete;
  RelayService& operator=(const RelayService&) = delete;

  // Runs until SIGTERM, SIGINT or SIGHUP: the file in progress is finished,
  // the connection closed normally and the stop recorded. Returns the exit
  // status, 0.
  int Run();

 private:
  using Clock = std::chrono::steady_clock;

  std::optional<ActionTrigger> Due(Clock::time_point now) const;
  void Start(ActionTrigger trigger, Clock::time_point now);
  void Wait(Clock::time_point now);
  void TakeSignals();
  void TakeEnd();

  ServiceSettings settings_;
  ServiceSignals signals_;  // first: blocked before the engine's thread starts
  ServiceNotifier notifier_;
  ArrivalWatch arrivals_;
  FileDescriptor action_ended_;  // an eventfd the engine's thread writes to when an Action has ended
  NntpClient client_;

  Clock::time_point next_timed_;
  bool running_ = false;
  ActionTrigger running_trigger_ = ActionTrigger::kTimer;
  std::chrono::system_clock::time_point running_since_;
  bool action_asked_ = false;  // SIGUSR1 arrived since the last Action started
  std::optional<std::string> stopped_by_;

  std::mutex mutex_;   // guards the state below, written on the engine's thread
  RelayState latest_;  // as the engine last published it

  RelayCycle relay_;
  ActionThread thread_;  // last: it ends (its Action done) before anything above goes
};

// quillportd's status line for `systemctl status` after an Action, such as
// "Action 3 (for new files) at 14:05:07: 1 message (512 bytes), 0 empty
// files; Normally Disconnected From: 127.0.0.1"; the last failure follows
// when the Action left one on the error line.
std::string ActionSummary(const RelayState& state, std::string_view reason,
                          std::chrono::system_clock::time_point started);

}  // namespace quillport
