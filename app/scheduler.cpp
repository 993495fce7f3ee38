#include "app/scheduler.h"

#include <stdexcept>

#include "board/board_fields.h"
#include "common/number_format.h"

namespace quillport {
namespace {

bool ReadsAsNumber(const std::string& text) {
  try {
    ReadNumber(text);
    return true;
  } catch (const NotANumber&) {
    return false;
  }
}

}  // namespace

Scheduler::Scheduler(StatusBoard& board, Hooks hooks, Clock clock, std::chrono::system_clock::time_point start_time)
    : board_(board), hooks_(std::move(hooks)), clock_(std::move(clock)), start_time_(start_time) {}

void Scheduler::Tick() {
  const std::chrono::duration<double, std::ratio<60>> elapsed = clock_() - start_time_;
  board_.SetText(field::kTimEla, FormatNumber(elapsed.count(), kPattern4));

  const std::string remaining_text = board_.Text(field::kTimRem);
  if (!ReadsAsNumber(remaining_text)) {
    const std::string period_text = board_.Text(field::kTimPer);
    if (!ReadsAsNumber(period_text)) {
      throw std::runtime_error("the remaining time \"" + remaining_text + "\" and the period \"" + period_text +
                               "\" are not numbers; no Action runs until the "
                               "period is corrected");
    }
    // The Action restarts the countdown from the period.
    if (!hooks_.action_running()) hooks_.start_action("Tick", true);
    throw std::runtime_error("the remaining time \"" + remaining_text +
                             "\" was not a number; the countdown restarts from the period");
  }

  board_.SetText(field::kTimRem, PlainNumber(ReadNumber(remaining_text) - 1));
  if (ReadNumber(board_.Text(field::kTimRem)) <= 0 && !hooks_.action_running()) {
    hooks_.start_action("Tick", true);
  }
}

void Scheduler::RunNow() {
  if (!hooks_.action_running()) hooks_.start_action("Immediate Action", false);
}

}  // namespace quillport
