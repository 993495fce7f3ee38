// The minute tick: elapsed minutes, the countdown to the next Action, and
// the Action itself when the count runs out.
#pragma once

#include <chrono>
#include <functional>

#include "board/status_board.h"

namespace quillport {

class Scheduler {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  struct Hooks {
    std::function<void()> do_action;       // runs one Action
    std::function<bool()> action_running;  // whether an Action is under way
    std::function<void()> refresh;         // refreshes the error-folder figures
    std::function<void()> yield;           // lets the window process its events
  };

  // `start_time` is the origin of the elapsed minutes.
  Scheduler(StatusBoard& board, Hooks hooks, Clock clock, std::chrono::system_clock::time_point start_time);

  // One tick, in this order: writes the minutes since start (nearest whole
  // minute, "# ##0"); counts the remaining minutes down by one, written back
  // as plain number text; when the count is no longer above zero, runs the
  // Action and then the refresh; yields.
  //
  // A tick met at a yield of a running Action only counts down. When the
  // remaining time does not read as a number the tick fails with
  // std::runtime_error saying so, after running the Action when the period
  // reads as a number, so the countdown restarts from the period as soon as
  // the operator has put it right.
  void Tick();

  // A double-click on the remaining time: runs the Action, nothing else.
  void RunNow();

 private:
  StatusBoard& board_;
  Hooks hooks_;
  Clock clock_;
  std::chrono::system_clock::time_point start_time_;
};

}  // namespace quillport
