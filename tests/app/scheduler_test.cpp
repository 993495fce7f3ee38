#include "app/scheduler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "board/board_fields.h"
#include "board/memory_status_board.h"
#include "common/number_format.h"

namespace quillport {
namespace {

using namespace std::chrono_literals;

// Drives the scheduler with a clock and ticks under the test's control; the
// Action only does what the relay's first step does: restart the countdown.
class SchedulerTest : public ::testing::Test {
 protected:
  SchedulerTest()
      : scheduler_(board_,
                   {[this] {
                      log_.push_back("action");
                      board_.SetText(field::kTimRem, board_.Text(field::kTimPer));
                    },
                    [this] { return running_; }, [this] { log_.push_back("refresh"); },
                    [this] { log_.push_back("yield"); }},
                   [this] { return now_; }, start_) {}

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

  MemoryStatusBoard board_;
  std::chrono::system_clock::time_point start_ = std::chrono::system_clock::now();
  std::chrono::system_clock::time_point now_ = start_;
  bool running_ = false;
  std::vector<std::string> log_;
  Scheduler scheduler_;
};

TEST_F(SchedulerTest, StartValuesRunAnActionAtTheFirstTickThenEveryPeriod) {
  EXPECT_THAT(Ticks(1), ::testing::ElementsAre(1));
  EXPECT_THAT(log_, ::testing::ElementsAre("action", "refresh", "yield"));
  EXPECT_EQ(board_.Text(field::kTimRem), "2");
  EXPECT_EQ(board_.Text(field::kTimEla), "1");
  EXPECT_THAT(Ticks(6), ::testing::ElementsAre(2, 4, 6));

  // A tick that does not reach zero changes only the elapsed and remaining fields.
  board_.SetText(field::kTimPer, "3");
  board_.SetText(field::kTimRem, "3");
  Ticks(1);
  EXPECT_THAT(log_, ::testing::ElementsAre("yield"));
  EXPECT_EQ(board_.Text(field::kTimRem), "2");
}

TEST_F(SchedulerTest, PeriodsDecideWhichTicksRunTheAction) {
  struct Case {
    const char* period;
    std::vector<int> ticks_with_action;  // of six ticks, remaining starting at the period
    std::vector<std::string> remaining;  // after each of the first three ticks
  };
  const Case cases[] = {
      {"3", {3, 6}, {"2", "1", "3"}},
      {"0", {1, 2, 3, 4, 5, 6}, {"0", "0", "0"}},
      {"-2", {1, 2, 3, 4, 5, 6}, {"-2", "-2", "-2"}},
      {"1.5", {2, 4, 6}, {"0.5", "1.5", "0.5"}},
  };
  for (const Case& c : cases) {
    board_.SetText(field::kTimPer, c.period);
    board_.SetText(field::kTimRem, c.period);
    std::vector<std::string> remaining;
    std::vector<int> with_action;
    for (int i = 1; i <= 6; ++i) {
      if (!Ticks(1).empty()) with_action.push_back(i);
      if (i <= 3) remaining.push_back(board_.Text(field::kTimRem));
    }
    EXPECT_EQ(with_action, c.ticks_with_action) << "period " << c.period;
    EXPECT_EQ(remaining, c.remaining) << "period " << c.period;
  }
}

TEST_F(SchedulerTest, DoubleClickRunsTheActionAlone) {
  board_.SetText(field::kTimPer, "3");
  scheduler_.RunNow();
  EXPECT_THAT(log_, ::testing::ElementsAre("action"));
  EXPECT_EQ(board_.Text(field::kTimRem), "3");
  EXPECT_EQ(board_.Text(field::kTimEla), "0");
  EXPECT_THAT(Ticks(3), ::testing::ElementsAre(3));  // a full period of ticks later
}

TEST_F(SchedulerTest, ElapsedFollowsTheClockToTheNearestMinute) {
  now_ = start_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                      std::chrono::duration<double>(1439.6 * 60)) - 1min;
  Ticks(1);
  EXPECT_EQ(board_.Text(field::kTimEla), "1 440");
  now_ = start_ + 1440min - 1min;
  Ticks(1);
  EXPECT_EQ(board_.Text(field::kTimEla), "1 440");
  now_ = start_ + 1439min + 20s - 1min;
  Ticks(1);
  EXPECT_EQ(board_.Text(field::kTimEla), "1 439");
}

TEST_F(SchedulerTest, TickDuringARunningActionOnlyCountsDown) {
  running_ = true;
  EXPECT_TRUE(Ticks(3).empty());
  EXPECT_EQ(board_.Text(field::kTimRem), "-2");
  running_ = false;
  EXPECT_THAT(Ticks(1), ::testing::ElementsAre(1));
}

TEST_F(SchedulerTest, TextsThatAreNotNumbersAreReportedUntilCorrected) {
  board_.SetText(field::kTimRem, "soon");
  board_.SetText(field::kTimPer, "x");
  for (int i = 0; i < 2; ++i) {
    now_ += 1min;
    log_.clear();
    EXPECT_THROW(scheduler_.Tick(), std::runtime_error);
    EXPECT_TRUE(log_.empty());  // no Action while the period is wrong
  }
  // The operator corrects the period: the next tick runs the Action, which
  // restarts the countdown from it, and still reports what it met.
  board_.SetText(field::kTimPer, "2");
  now_ += 1min;
  log_.clear();
  EXPECT_THROW(scheduler_.Tick(), std::runtime_error);
  EXPECT_THAT(log_, ::testing::ElementsAre("action", "refresh"));
  EXPECT_EQ(board_.Text(field::kTimRem), "2");
  EXPECT_THAT(Ticks(2), ::testing::ElementsAre(2));
}

}  // namespace
}  // namespace quillport
