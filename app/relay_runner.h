// The relay engine as the window sees it: Actions started from the window's
// thread run on the engine's own thread (ActionThread), and the state the
// engine publishes is drawn on the window at most five times a second. The
// window is busy (hourglass, no input) from the start of an Action to the
// end of its disconnect; nothing here ever waits on the engine.
#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

#include "app/state_painter.h"
#include "board/busy_state.h"
#include "relay/action_thread.h"
#include "relay/relay_cycle.h"

class QTimer;

namespace quillport {

class RelayRunner : public QObject {
 public:
  // `board` (the window) and `client` must outlive the runner. `refresh`
  // refreshes the error-folder figures; it runs on the window's thread.
  RelayRunner(StatusBoard& board, NewsClient& client, RelaySettings settings, Clock clock,
              std::function<void()> refresh, QObject* parent = nullptr);
  // Lets an Action under way end first.
  ~RelayRunner() override;
  RelayRunner(const RelayRunner&) = delete;
  RelayRunner& operator=(const RelayRunner&) = delete;

  // Starts an Action for the request `handler` ("Tick", "Immediate
  // Action"), unless one is under way: copies the period into the remaining
  // time, makes the window busy and hands the Action to the engine's
  // thread. Once it has ended the last state is drawn, the window is free
  // again and, when `refresh_after`, the error-folder figures are
  // refreshed (a failure of that is shown as one of `handler`).
  void StartAction(std::string_view handler, bool refresh_after);

  // Whether an Action is under way.
  bool Running() const { return busy_.has_value(); }

  // The window is asked to close. True: it may close now. False: an Action
  // is under way; the program ends once it is done.
  bool MayClose();

 private:
  void Publish(const RelayState& state);  // on the engine's thread
  void StateArrived();
  void DrawLatest();
  void Finished(const std::string& handler, bool refresh_after);

  StatusBoard& board_;
  StatePainter painter_;
  std::function<void()> refresh_;
  QTimer* pace_ = nullptr;  // runs while a state waits for the next frame
  std::chrono::steady_clock::time_point last_drawn_;
  std::optional<BusyState> busy_;
  bool quit_when_done_ = false;

  std::mutex mutex_;                  // guards the two below
  std::optional<RelayState> latest_;  // published and not yet drawn
  bool posted_ = false;               // a StateArrived is on its way

  RelayCycle relay_;
  ActionThread thread_;  // last: ended first, before anything it uses
};

}  // namespace quillport
