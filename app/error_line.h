// The window's error line, made from the engine's events: the last failure
// the engine reported, hidden by a step that went well; at the end of an
// Action, the failure that broke it off ("Tick failed: ..."), else the last
// failure the Action met. The window's own handlers write on the line too;
// what the engine has not changed since stays as they wrote it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "board/status_board.h"
#include "relay/engine_listener.h"

namespace quillport {

// A change to the error line: its text (none: as it stands) and whether it
// is shown.
struct ErrorLineChange {
  std::optional<std::string> text;
  bool shown = false;
};

// What the operator's request that started an Action is called in a
// failure text: "Tick" for the countdown, "Immediate Action" for the
// operator's, "Action" otherwise.
std::string_view RequestName(ActionTrigger trigger);

// The line after a failure: its text, shown.
ErrorLineChange AfterFailure(const Failure& failure);
// The line after a step that went well, given the change not yet drawn:
// hidden, its text kept.
ErrorLineChange AfterSuccess(const std::optional<ErrorLineChange>& pending);
// The line once an Action has ended; nothing when it stays as it is.
std::optional<ErrorLineChange> AfterAction(const ActionReport& report);

// Draws `change` on the board, touching only what differs.
void DrawErrorLine(StatusBoard& board, const ErrorLineChange& change);

}  // namespace quillport
