// What an event handler does with a failure that escapes its work: show it
// on the status board's error line and on standard error, and go on.
#pragma once

#include <iostream>
#include <string>
#include <string_view>

#include "app/failure_text.h"
#include "board/board_fields.h"
#include "board/status_board.h"
#include "common/printable_text.h"

namespace quillport {

// Writes the failure `text` to standard error and to the error line, which
// is made visible.
inline void ShowFailureText(StatusBoard& board, const std::string& text) {
  std::cerr << "quillport: " << text << std::endl;
  try {
    board.SetText(field::kStatusE, text);
    board.SetVisible(field::kStatusE, true);
  } catch (...) {
    // The board itself failed; standard error already has the report.
  }
}

// Shows a failure of `handler` that came to light after it returned (from
// work it left running) as RunEventHandler shows one: "<handler> failed: <what>".
inline void ShowLateFailure(StatusBoard& board, std::string_view handler, std::string_view what) {
  ShowFailureText(board, std::string(handler) + " failed: " + Printable(what));
}

// Runs `work`. A failure that escapes it is written to the error line, which
// is made visible, and to standard error. Returns whether `work` completed.
template <class Work>
bool RunEventHandler(StatusBoard& board, std::string_view handler, Work&& work) {
  std::string text;
  try {
    work();
    return true;
  } catch (const std::exception& failure) {
    text = FailureText(handler, failure);
  } catch (...) {
    text = std::string(handler) + " failed: unknown failure";
  }
  ShowFailureText(board, text);
  return false;
}

}  // namespace quillport
