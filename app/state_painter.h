// Draws the relay engine's state on the status board. Only what changed
// since the state drawn before is drawn again, so a state published after
// every step of an Action costs the window little, and a field the
// engine's state does not hold (the timer fields) is never touched.
#pragma once

#include "board/status_board.h"
#include "relay/relay_state.h"

namespace quillport {

class StatePainter {
 public:
  // `board` must outlive the painter; it shows the window's start values,
  // which are those of a state nothing has changed yet.
  explicit StatePainter(StatusBoard& board) : board_(board) {}

  // Draws what differs between `state` and the state drawn before: the
  // count of Actions (txt_TIM_NbT, plain number), the file in progress
  // (txt_Info(3) path, txt_Info(4) size "### ### ##0", both yellow, green or
  // red), the totals (txt_Info(5) to txt_Info(12): volumes
  // "### ### ### ##0", counts "### ### ##0"), the indicators img_Goo and
  // img_Bad and the status line.
  void Draw(const RelayState& state);

 private:
  StatusBoard& board_;
  RelayState drawn_;
};

}  // namespace quillport
