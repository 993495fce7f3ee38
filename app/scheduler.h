// The minute tick: elapsed minutes, the countdown to the next Action, and
// the Action itself when the count runs out.
#pragma once

#include <chrono>
#include <functional>

#include "board/status_board.h"
#include "relay/engine_listener.h"

namespace quillport {

class Scheduler {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  struct Hooks {
    // Starts one Action for `trigger` on the engine's thread; when
    // `refresh_after`, the error-folder figures are refreshed once it has
    // ended.
    std::function<void(ActionTrigger trigger, bool refresh_after)> start_action;
    std::function<bool()> action_running;  // whether an Action is under way
  };

  // `start_time` is the origin of the elapsed minutes.
  Scheduler(StatusBoard& board, Hooks hooks, Clock clock, std::chrono::system_clock::time_point start_time);

  // One tick, in this order: writes the minutes since start (nearest whole
  // minute, "# ##0"); counts the remaining minutes down by one, written back
  // as plain number text; when the count is no longer above zero, starts
  // the Action, to be followed by the refresh.
  //
  // A tick during a running Action only counts down. When the remaining
  // time does not read as a number the tick fails with std::runtime_error
  // saying so, after starting the Action when the period reads as a number,
  // so the countdown restarts from the period as soon as the operator has
  // put it right.
  void Tick();

  // The operator asks for an Action at once: starts it, nothing else.
  void RunNow();

 private:
  // Unless an Action is under way: the countdown restarts from the period,
  // and the Action starts.
  void Start(ActionTrigger trigger, bool refresh_after);

  StatusBoard& board_;
  Hooks hooks_;
  Clock clock_;
  std::chrono::system_clock::time_point start_time_;
};

}  // namespace quillport
