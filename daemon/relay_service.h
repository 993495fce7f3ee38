// quillportd's main loop: the window's relay without the window. One thread
// waits (poll) on the signals, the drop folder's arrivals and the end of
// the Action under way, with a timeout up to the next thing due: a timed
// Action, an arrival, a retry after a failed Action, the watchdog. The
// Actions run on the engine's own thread (Engine), so the service manager
// hears from the loop even while a long Action runs.
//
// Its first Action runs at its start (the files already waiting, and the
// drop folder's lock taken); later ones for every arrival, at once. An
// Action that a failure of the server, the connection or the log file cut
// short is tried again after 1 s, then after twice as long each time it
// fails again, at most 30 s. The engine's records go to the system log,
// once each, and nowhere else.
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
#include "daemon/waiting_census.h"
#include "news/nntp_client.h"
#include "relay/engine.h"

namespace quillport {

class RelayService : private EngineListener {
 public:
  // Blocks the stop signals and SIGUSR1 (make it before any other thread)
  // and configures the news client. Throws std::runtime_error when the
  // service cannot be set up.
  explicit RelayService(ServiceSettings settings);
  RelayService(const RelayService&) = delete;
  RelayService& operator=(const RelayService&) = delete;

  // Runs until SIGTERM or SIGINT: the file in progress is finished,
  // the connection closed normally and the stop recorded. Returns the exit
  // status, 0.
  int Run();

 private:
  using Time = std::chrono::steady_clock::time_point;

  std::optional<ActionTrigger> Due(Time now) const;
  void Start(ActionTrigger trigger, Time now);
  void Wait(Time now);
  void FollowWatch(Time now);
  void TakeSignals();
  void TakeEnd(Time now);
  std::string Waiting() const;
  // On the engine's thread:
  void ActionEnded(const ActionReport& report) override;
  void Recorded(const RecordLine& line) override;

  ServiceSettings settings_;
  ServiceSignals signals_;  // first: blocked before the engine's thread starts
  ServiceNotifier notifier_;
  ArrivalWatch arrivals_;
  FileDescriptor action_ended_;  // an eventfd the engine's thread writes to when an Action has ended
  NntpClient client_;

  Time next_timed_;
  bool starting_ = true;  // the first Action, at the start, is due
  bool running_ = false;
  std::chrono::system_clock::time_point running_since_;
  std::optional<std::string> asked_by_;  // a signal asking for an Action arrived since the last one started
  std::optional<Time> retry_at_;         // when an Action cut short is tried again
  std::chrono::milliseconds retry_after_;
  std::optional<Time> unwatched_since_;  // while the arrival watch is off
  std::optional<std::string> stopped_by_;

  std::mutex mutex_;                   // guards the report below, written on the engine's thread
  std::optional<ActionReport> ended_;  // the last Action's, not yet taken

  Engine engine_;  // last: it ends (its Action done) before anything above goes
};

// quillportd's status line for `systemctl status` after an Action, such as
// "Action 3 (for new files) at 14:05:07: 1 message (512 bytes), 0 empty
// files; Normally Disconnected From: 127.0.0.1"; the failure that broke it
// off, else the last one it met, follows when there is one. The service
// adds what waits in the drop folder.
std::string ActionSummary(const ActionReport& report, std::chrono::system_clock::time_point started);

}  // namespace quillport
