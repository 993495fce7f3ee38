// The window's busy state for the length of a scope: hourglass pointer and
// no operator input. Leaving the scope, by return or by exception, restores
// the default pointer and enables the window again.
#pragma once

#include "board/status_board.h"

namespace quillport {

class BusyState {
 public:
  // Sets the hourglass pointer, then disables the window.
  explicit BusyState(StatusBoard& board) : board_(board) {
    board_.SetMousePointer(kPointerHourglass);
    board_.SetEnabled(false);
  }
  // Sets the default pointer, then enables the window.
  ~BusyState() {
    board_.SetMousePointer(kPointerDefault);
    board_.SetEnabled(true);
  }
  BusyState(const BusyState&) = delete;
  BusyState& operator=(const BusyState&) = delete;

 private:
  StatusBoard& board_;
};

}  // namespace quillport
