// The relay engine: the Action (RelayCycle) on a thread of its own, so that
// whoever steers it (the window, the service) never waits on the drop folder
// or the news server. Commands go in: run an Action, stop after the file in
// progress. What happens comes out through the EngineListener, as copies.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "relay/engine_listener.h"
#include "relay/relay_cycle.h"

namespace quillport {

class Engine {
 public:
  // `client` and `listener` must outlive the engine; from now on only the
  // engine's thread uses the client, and calls the listener.
  Engine(NewsClient& client, EngineListener& listener, RelaySettings settings = RelaySettings::Compiled(),
         Clock clock = std::chrono::system_clock::now);
  // Stops the Action under way after its file in progress, then ends the
  // thread.
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Starts an Action for `trigger` on the engine's thread, unless one is
  // under way or the engine is ending. Returns whether it was started. Any
  // stop asked for before is over. The listener hears ActionEnded once it
  // has ended, when Busy() is false already.
  bool RunAction(ActionTrigger trigger);

  // Asks the Action under way to stop after the file in progress and to
  // close its connection normally; a later RunAction runs in full.
  void StopAfterFile();
  // Withdraws a stop asked for: the Action under way goes on to its end.
  void CancelStop();

  // Whether an Action is under way (started and not yet ended).
  bool Busy() const;

 private:
  void Serve();

  RelayCycle cycle_;
  mutable std::mutex mutex_;  // guards the three below
  std::condition_variable wake_;
  std::optional<ActionTrigger> asked_;  // the Action started and not yet ended
  bool ending_ = false;
  EngineListener& listener_;
  std::thread thread_;  // last: it starts once everything above is ready
};

}  // namespace quillport
