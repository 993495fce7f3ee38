#include "app/scheduler.h"

#include <syslog.h>

#include <stdexcept>
#include <string>

#include "board/board_fields.h"
#include "common/number_format.h"
#include "common/system_log.h"

namespace quillport {
namespace {

// A timer field that is not a number stops relaying: the administrator
// hears of it, and the tick fails with the reason.
[[noreturn]] void Fail(const std::string& why) {
  WriteSystemLog(LOG_ERR, "Tick failed: " + why);
  throw std::runtime_error(why);
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
      Fail("the remaining time \"" + remaining_text + "\" and the period \"" + period_text +
           "\" are not numbers; no Action runs until the period is corrected");
    }
    // The Action restarts the countdown from the period.
    Start(ActionTrigger::kTimer, true);
    Fail("the remaining time \"" + remaining_text + "\" was not a number; the countdown restarts from the period");
  }

  board_.SetText(field::kTimRem, PlainNumber(ReadNumber(remaining_text) - 1));
  if (ReadNumber(board_.Text(field::kTimRem)) <= 0) Start(ActionTrigger::kTimer, true);
}

void Scheduler::RunNow() { Start(ActionTrigger::kOperator, false); }

void Scheduler::Start(ActionTrigger trigger, bool refresh_after) {
  if (hooks_.action_running()) return;
  board_.SetText(field::kTimRem, board_.Text(field::kTimPer));
  hooks_.start_action(trigger, refresh_after);
}

}  // namespace quillport
