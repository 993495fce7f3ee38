// The relay engine: the Action on a thread of its own, so that whoever
// steers it (the window, the service) never waits on the drop folder or the
// news server. Commands go in: run an Action, stop after the file in
// progress. What happens comes out through the EngineListener, as copies
// and events; the engine writes nowhere itself (no standard error, no
// system log): each front-end decides where its events go.
//
// This header is the engine's whole contract: the parts it is made of stay
// inside relay/.
#pragma once

#include <chrono>
#include <memory>

#include "relay/engine_listener.h"
#include "relay/relay_settings.h"
#include "relay/stamp_clock.h"

namespace quillport {

class NewsClient;

class Engine {
 public:
  // `client` and `listener` must outlive the engine; from now on only the
  // engine's thread uses the client, and calls the listener. `stamp`
  // stamps the log file's records.
  Engine(NewsClient& client, EngineListener& listener, RelaySettings settings = RelaySettings::Compiled(),
         StampClock stamp = std::chrono::system_clock::now);
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
  class Core;
  std::unique_ptr<Core> core_;
};

}  // namespace quillport
