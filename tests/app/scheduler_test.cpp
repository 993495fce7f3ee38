#include "app/scheduler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "board/board_fields.h"
#include "board/memory_status_board.h"

namespace quillport {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

// Drives the scheduler with a clock and ticks under the test's control; the Action only leaves a note.
class SchedulerTest : public ::testing::Test {
 protected:
  // Ticks `count` times a minute apart; returns the ticks (from 1) that ran an Action.
  std::vector<int> Ticks(int count) {
    std::vector<int> with_action;
    for (int i = 1; i <= count; ++i) {
      now_ += 1min;
      log_.clear();
      scheduler_.Tick();
      if (!log_.empty()) with_action.push_back(i);
    }
    return with_action;
  }

  MemoryStatusBoard board_;
  const std::chrono::system_clock::time_point start_ = std::chrono::system_clock::now();
  std::chrono::system_clock::time_point now_ = start_;
  bool running_ = false;
  std::vector<std::string> log_;
  Scheduler scheduler_{board_,
                       {[this](ActionTrigger trigger, bool refresh_after) {
                          log_.push_back(std::string(trigger == ActionTrigger::kTimer ? "timer" : "operator") +
                                         (refresh_after ? " then refresh" : ""));
                        },
                        [this] { return running_; }},
                       [this] { return now_; },
                       start_};
};

// Six ticks, a * before each that runs an Action, then the countdown: with the start values, then with periods.
TEST_F(SchedulerTest, PeriodsDecideWhichTicksRunTheActionAndElapsedFollowsTheClock) {
  for (const auto& [period, ticks] :
       std::initializer_list<std::pair<const char*, const char*>>{{nullptr, "*2 1 *2 1 *2 1 "},
                                                                  {"3", "2 1 *3 2 1 *3 "},
                                                                  {"0", "*0 *0 *0 *0 *0 *0 "},
                                                                  {"-2", "*-2 *-2 *-2 *-2 *-2 *-2 "},
                                                                  {"1.5", "0.5 *1.5 0.5 *1.5 0.5 *1.5 "}}) {
    for (const char* f : {field::kTimPer, field::kTimRem}) board_.SetText(f, period ? period : board_.Text(f));
    std::string seen;
    for (int i = 1; i <= 6; ++i) {
      seen += Ticks(1).empty() ? "" : "*";
      seen += board_.Text(field::kTimRem) + " ";
    }
    EXPECT_EQ(seen, ticks) << "period " << (period ? period : "at start");
  }
  // Elapsed follows the clock, to the nearest minute, not the count of ticks.
  now_ = start_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(1439.6min) - 1min;
  Ticks(1);
  EXPECT_EQ(board_.Text(field::kTimEla), "1 440");
}

// A double-click runs the Action alone; ticks during an Action only count down; a text not a number stops none.
TEST_F(SchedulerTest, DoubleClickRunningActionsAndTextsThatAreNotNumbers) {
  board_.SetText(field::kTimPer, "3");
  scheduler_.RunNow();
  EXPECT_THAT(log_, ElementsAre("operator"));
  EXPECT_EQ(board_.Text(field::kTimRem) + "|" + board_.Text(field::kTimEla), "3|0");
  EXPECT_THAT(Ticks(3), ElementsAre(3));  // a full period of ticks later
  EXPECT_THAT(log_, ElementsAre("timer then refresh"));
  running_ = true;
  EXPECT_TRUE(Ticks(4).empty());
  EXPECT_EQ(board_.Text(field::kTimRem), "-1");
  scheduler_.RunNow();
  EXPECT_TRUE(log_.empty());
  running_ = false;
  EXPECT_THAT(Ticks(1), ElementsAre(1));

  board_.SetText(field::kTimPer, "x");
  board_.SetText(field::kTimRem, "soon");
  for (int i = 0; i < 3; ++i) {
    if (i == 2) board_.SetText(field::kTimPer, "2");  // the operator corrects the period
    log_.clear();
    EXPECT_THROW(scheduler_.Tick(), std::runtime_error);
    EXPECT_EQ(log_.size(), i == 2 ? 1u : 0u);
  }
  EXPECT_EQ(board_.Text(field::kTimRem), "2");  // the Action restarted the countdown from the corrected period
  EXPECT_THAT(Ticks(2), ElementsAre(2));
}

}  // namespace
}  // namespace quillport
