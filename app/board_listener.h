// Shows what the engine reports on a status board as it comes, on the
// engine's own thread: for a board that any thread may draw on (one in
// memory, in tests and benchmarks). The window paces its drawing instead
// (RelayRunner).
#pragma once

#include "app/error_line.h"
#include "app/state_painter.h"
#include "relay/engine_listener.h"

namespace quillport {

class BoardListener : public EngineListener {
 public:
  // `board` must outlive the listener.
  explicit BoardListener(StatusBoard& board) : board_(board), painter_(board) {}

  void StateChanged(const RelayState& state) override { painter_.Draw(state); }
  void FailureMet(const Failure& failure) override { DrawErrorLine(board_, AfterFailure(failure)); }
  void StepSucceeded() override { DrawErrorLine(board_, AfterSuccess(std::nullopt)); }
  void ActionEnded(const ActionReport& report) override {
    if (const auto change = AfterAction(report)) DrawErrorLine(board_, *change);
  }

 private:
  StatusBoard& board_;
  StatePainter painter_;
};

}  // namespace quillport
