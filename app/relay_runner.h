// The relay engine as the window sees it: Actions asked for on the window's
// thread run on the engine's own thread (Engine), and what the engine
// reports is drawn on the window at most five times a second. The window is
// busy (hourglass, no input) from the start of an Action to the end of its
// disconnect; nothing here ever waits on the engine.
// The error line is the window's (see error_line.h). The engine's failures
// also go to standard error, and its record lines to the system log.
#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/error_line.h"
#include "app/state_painter.h"
#include "board/busy_state.h"
#include "relay/engine.h"

class QTimer;

namespace quillport {

class RelayRunner : public QObject, private EngineListener {
 public:
  // `board` (the window) and `client` must outlive the runner. `refresh`
  // refreshes the error-folder figures; it runs on the window's thread.
  RelayRunner(StatusBoard& board, NewsClient& client, RelaySettings settings, StampClock clock,
              std::function<void()> refresh, QObject* parent = nullptr);
  // Stops an Action under way after its file in progress.
  ~RelayRunner() override;
  RelayRunner(const RelayRunner&) = delete;
  RelayRunner& operator=(const RelayRunner&) = delete;

  // Starts an Action for `trigger`, unless one is under way: makes the
  // window busy and hands the Action to the engine's thread. Once it has
  // ended the last state is drawn, the window is free again and, when
  // `refresh_after`, the error-folder figures are refreshed (a failure of
  // that is shown as one of the request, see RequestName).
  void StartAction(ActionTrigger trigger, bool refresh_after);

  // Whether an Action is under way.
  bool Running() const { return busy_.has_value(); }

  // The window is asked to close. True: it may close now. False: an Action
  // is under way; it stops after the file in progress, and the program
  // ends once it has.
  bool MayClose();

  // The program was started again: a quit asked for by MayClose is off, and
  // the Action under way goes on to its end.
  void CancelQuit();

 private:
  // EngineListener: on the engine's thread.
  void StateChanged(const RelayState& state) override;
  void MessageHandled(const MessageReport& report) override;
  void FailureMet(const Failure& failure) override;
  void StepSucceeded() override;
  void Recorded(const RecordLine& line) override;
  void ActionEnded(const ActionReport& report) override;

  // Takes what the engine reported in, under the lock, and makes sure the
  // window draws it.
  template <class Change>
  void Take(Change change);
  void Arrived();  // something to draw: now, or when the frame is over
  void DrawLatest();
  void Finished(const ActionReport& report);

  StatusBoard& board_;
  StatePainter painter_;
  std::function<void()> refresh_;
  QTimer* pace_ = nullptr;  // runs while something waits for the next frame
  std::chrono::steady_clock::time_point last_drawn_;
  std::optional<BusyState> busy_;
  bool refresh_after_ = false;
  bool quit_when_done_ = false;

  std::mutex mutex_;                      // guards the three below
  std::optional<RelayState> latest_;      // published and not yet drawn
  std::optional<ErrorLineChange> error_;  // made by the engine and not yet drawn
  bool posted_ = false;                   // an Arrived is on its way

  Engine engine_;  // last: it ends first, before anything it reports to
};

}  // namespace quillport
