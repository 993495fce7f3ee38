// The relay engine as the window sees it: Actions asked for on the window's
// thread run on the engine's own thread (Engine), and what the engine
// reports is drawn on the window at most five times a second. The window is
// busy (hourglass, no input) from the start of an Action to the end of its
// disconnect; nothing here ever waits on the engine.
// The error line is the window's (see error_line.h). The engine's failures
// also go to standard error, and its record lines to the system log.
//
// The hand-over between the two threads: everything the engine reports,
// its end included, is stored under one mutex, and a queued signal without
// arguments wakes the window's thread, which takes it out under the same
// mutex. Nothing of the engine's crosses through Qt's event queue, whose
// lock a race detector cannot see (Qt is not built for it), so a race
// detector sees every hand-over whole.
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
  Q_OBJECT

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

  // The window is asked to close. True: it may close now, and the program
  // ends. False: an Action is under way; it stops after the file in
  // progress, and the program ends once it has, unless TakeBackClose comes
  // first.
  bool MayClose();

  // A stop signal came. As MayClose (true: the program may end now), but no
  // later start takes it back.
  bool StopOnSignal();

  // The program was started again. True: it goes on (a close under way is
  // taken back, and the Action runs to its end). False: it is ending, by a
  // stop signal or a close already carried out, and stays so.
  bool TakeBackClose();

 signals:
  // Something waits in the hand-over: emitted on the engine's thread, taken
  // on the window's.
  void Posted(QPrivateSignal);

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
  void Arrived();  // something to draw: now, or when the frame is over; the Action's end at once
  // Draws what waits in the hand-over; returns the Action's report once it has ended.
  std::optional<ActionReport> DrawLatest();
  void Finished(const ActionReport& report);

  StatusBoard& board_;
  StatePainter painter_;
  std::function<void()> refresh_;
  QTimer* pace_ = nullptr;  // runs while something waits for the next frame
  std::chrono::steady_clock::time_point last_drawn_;
  std::optional<BusyState> busy_;
  bool refresh_after_ = false;
  bool quit_when_done_ = false;  // the program ends when the Action under way does
  bool ending_ = false;          // the program ends, and no later start takes that back

  std::mutex mutex_;                      // guards the four below
  std::optional<RelayState> latest_;      // published and not yet drawn
  std::optional<ErrorLineChange> error_;  // made by the engine and not yet drawn
  std::optional<ActionReport> ended_;     // the Action's end, not yet taken
  bool posted_ = false;                   // a Posted is on its way

  Engine engine_;  // last: it ends first, before anything it reports to
};

}  // namespace quillport
