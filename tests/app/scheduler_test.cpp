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
  // Ticks `count` times a minute apart; returns the ticks that ran an Action.
  std::vector<int> Ticks(int count) {
    std::vector<int> with_action;
    for (int i = 1; i <= count; ++i) {
      now_ += 1min;
      log_.clear();
      scheduler_.Tick();
      if (!log_.empty() && log_.front() == "action") with_action.push_back(i);
    }
    return with_action;
  }
  void Set(const char* period, const char* remaining) {
    board_.SetText(field::kTimPer, period);
    board_.SetText(field::kTimRem, remaining);
  }
  std::string Text(const std::string& control) const { return board_.Text(control); }

  MemoryStatusBoard board_;
  const std::chrono::system_clock::time_point start_ = std::chrono::system_clock::now();
  std::chrono::system_clock::time_point now_ = start_;
  bool running_ = false;
  std::vector<std::string> log_;
  Scheduler scheduler_{board_,
                       {[this](ActionTrigger trigger, bool refresh_after) {
                          log_.push_back("action");
                          log_.push_back(std::string(trigger == ActionTrigger::kTimer ? "timer" : "operator") +
                                         (refresh_after ? " then refresh" : ""));
                        },
                        [this] { return running_; }},
                       [this] { return now_; },
                       start_};
};

TEST_F(SchedulerTest, StartValuesRunAnActionAtTheFirstTickThenEveryPeriodAndElapsedFollowsTheClock) {
  EXPECT_THAT(Ticks(1), ElementsAre(1));
  EXPECT_THAT(log_, ElementsAre("action", "timer then refresh"));
  EXPECT_EQ(Text(field::kTimRem) + "|" + Text(field::kTimEla), "2|1");
  EXPECT_THAT(Ticks(6), ElementsAre(2, 4, 6));

  // Elapsed follows the clock, to the nearest minute, not the count of ticks.
  now_ = start_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(1439.6min) - 1min;
  Ticks(1);
  EXPECT_EQ(Text(field::kTimEla), "1 440");
}

TEST_F(SchedulerTest, PeriodsDecideWhichTicksRunTheAction) {
  struct Case {
    const char* period;
    std::vector<int> ticks_with_action;  // of six ticks, remaining starting at the period
    std::string remaining;               // after each of the first three ticks
  };
  for (const Case& c : {Case{"3", {3, 6}, "2 1 3 "}, Case{"0", {1, 2, 3, 4, 5, 6}, "0 0 0 "},
                        Case{"-2", {1, 2, 3, 4, 5, 6}, "-2 -2 -2 "}, Case{"1.5", {2, 4, 6}, "0.5 1.5 0.5 "}}) {
    Set(c.period, c.period);
    std::vector<int> with_action;
    std::string remaining;
    for (int i = 1; i <= 6; ++i) {
      if (!Ticks(1).empty()) with_action.push_back(i);
      if (i <= 3) remaining += Text(field::kTimRem) + " ";
    }
    EXPECT_EQ(with_action, c.ticks_with_action) << "period " << c.period;
    EXPECT_EQ(remaining, c.remaining) << "period " << c.period;
  }
}

TEST_F(SchedulerTest, DoubleClickRunsTheActionAloneAndTicksDuringARunningActionOnlyCountDown) {
  board_.SetText(field::kTimPer, "3");
  scheduler_.RunNow();
  EXPECT_THAT(log_, ElementsAre("action", "operator"));
  EXPECT_EQ(Text(field::kTimRem) + "|" + Text(field::kTimEla), "3|0");
  EXPECT_THAT(Ticks(3), ElementsAre(3));  // a full period of ticks later

  running_ = true;
  EXPECT_TRUE(Ticks(4).empty());
  EXPECT_EQ(Text(field::kTimRem), "-1");
  scheduler_.RunNow();
  EXPECT_TRUE(log_.empty());
  running_ = false;
  EXPECT_THAT(Ticks(1), ElementsAre(1));
}

TEST_F(SchedulerTest, TextsThatAreNotNumbersAreReportedUntilCorrected) {
  Set("x", "soon");
  for (int i = 0; i < 3; ++i) {
    if (i == 2) board_.SetText(field::kTimPer, "2");  // the operator corrects the period
    now_ += 1min;
    log_.clear();
    EXPECT_THROW(scheduler_.Tick(), std::runtime_error);
    EXPECT_EQ(log_.size(), i == 2 ? 2u : 0u);  // no Action while the period is wrong
  }
  // The Action restarts the countdown from the corrected period; the tick still reports what it met.
  EXPECT_THAT(log_, ElementsAre("action", "timer then refresh"));
  EXPECT_EQ(Text(field::kTimRem), "2");
  EXPECT_THAT(Ticks(2), ElementsAre(2));
}

}  // namespace
}  // namespace quillport
