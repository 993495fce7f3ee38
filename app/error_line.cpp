#include "app/error_line.h"

#include "board/board_fields.h"

namespace quillport {

std::string_view RequestName(ActionTrigger trigger) {
  switch (trigger) {
    case ActionTrigger::kTimer: return "Tick";
    case ActionTrigger::kOperator: return "Immediate Action";
    case ActionTrigger::kArrival:
    case ActionTrigger::kSignal:
    case ActionTrigger::kStart:
    case ActionTrigger::kRetry: break;
  }
  return "Action";
}

ErrorLineChange AfterFailure(const Failure& failure) { return {failure.text, true}; }

ErrorLineChange AfterSuccess(const std::optional<ErrorLineChange>& pending) {
  return {pending ? pending->text : std::nullopt, false};
}

std::optional<ErrorLineChange> AfterAction(const ActionReport& report) {
  if (report.broken_off) {
    return ErrorLineChange{std::string(RequestName(report.trigger)) + " failed: " + report.broken_off->Described(),
                           true};
  }
  if (report.last_failure) return AfterFailure(*report.last_failure);
  return std::nullopt;
}

void DrawErrorLine(StatusBoard& board, const ErrorLineChange& change) {
  if (change.text && board.Text(field::kStatusE) != *change.text) board.SetText(field::kStatusE, *change.text);
  if (board.Visible(field::kStatusE) != change.shown) board.SetVisible(field::kStatusE, change.shown);
}

}  // namespace quillport
