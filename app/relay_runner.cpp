#include "app/relay_runner.h"

#include <QCoreApplication>
#include <QTimer>
#include <iostream>
#include <string>
#include <utility>

#include "app/event_handler.h"
#include "board/board_fields.h"
#include "common/printable_text.h"
#include "common/system_log.h"

namespace quillport {
namespace {

// The engine's states are drawn at most five times a second: often enough
// to follow an Action, seldom enough that drawing costs the program little
// (a frame costs far more than a file's work in the engine).
constexpr std::chrono::milliseconds kFrame{200};

}  // namespace

RelayRunner::RelayRunner(StatusBoard& board, NewsClient& client, RelaySettings settings, StampClock clock,
                         std::function<void()> refresh, QObject* parent)
    : QObject(parent),
      board_(board),
      painter_(board),
      refresh_(std::move(refresh)),
      pace_(new QTimer(this)),
      engine_(client, *this, std::move(settings), std::move(clock)) {
  pace_->setSingleShot(true);
  connect(pace_, &QTimer::timeout, this, [this] {
    if (const auto report = DrawLatest()) Finished(*report);
  });
  connect(this, &RelayRunner::Posted, this, &RelayRunner::Arrived, Qt::QueuedConnection);
}

RelayRunner::~RelayRunner() = default;

void RelayRunner::StartAction(ActionTrigger trigger, bool refresh_after) {
  if (Running()) return;
  busy_.emplace(board_);
  refresh_after_ = refresh_after;
  if (!engine_.RunAction(trigger)) busy_.reset();  // only while the program ends
}

bool RelayRunner::MayClose() {
  if (!Running()) {
    ending_ = true;
    return true;
  }
  quit_when_done_ = true;
  engine_.StopAfterFile();
  return false;
}

bool RelayRunner::StopOnSignal() {
  ending_ = true;
  return MayClose();
}

bool RelayRunner::TakeBackClose() {
  if (ending_) return false;
  if (quit_when_done_) {
    quit_when_done_ = false;
    engine_.CancelStop();
  }
  return true;
}

template <class Change>
void RelayRunner::Take(Change change) {
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    change();
    post = !std::exchange(posted_, true) || ended_;  // the Action's end is taken at once
  }
  if (post) emit Posted(QPrivateSignal());
}

void RelayRunner::StateChanged(const RelayState& state) {
  Take([&] { latest_ = state; });
}

void RelayRunner::MessageHandled(const MessageReport& report) {
  // Not a failure of the relay, but a message that reaches no one.
  if (report.outcome.disposal != MessageOutcome::Disposal::kDeletedUnposted) return;
  std::cerr << "quillport: " << Printable(report.message.Path() + " was deleted unposted: " + report.outcome.detail)
            << std::endl;
}

void RelayRunner::FailureMet(const Failure& failure) {
  std::cerr << "quillport: " << Printable(failure.text) << std::endl;
  Take([&] { error_ = AfterFailure(failure); });
}

void RelayRunner::Recorded(const RecordLine& line) { WriteSystemLog(line.severity, line.text); }

void RelayRunner::StepSucceeded() {
  Take([&] { error_ = AfterSuccess(error_); });
}

void RelayRunner::ActionEnded(const ActionReport& report) {
  Take([&] { ended_ = report; });
}

void RelayRunner::Arrived() {
  bool ended = false;
  {
    std::lock_guard lock(mutex_);
    ended = ended_.has_value();
  }
  const auto next_frame = last_drawn_ + kFrame;
  const auto now = std::chrono::steady_clock::now();
  if (!ended && pace_->isActive()) return;  // drawn when the frame is over
  if (!ended && now < next_frame) {
    pace_->start(std::chrono::ceil<std::chrono::milliseconds>(next_frame - now));
    return;
  }
  pace_->stop();
  if (const auto report = DrawLatest()) Finished(*report);
}

std::optional<ActionReport> RelayRunner::DrawLatest() {
  std::optional<RelayState> state;
  std::optional<ErrorLineChange> error;
  std::optional<ActionReport> ended;
  {
    std::lock_guard lock(mutex_);
    state.swap(latest_);
    error.swap(error_);
    ended.swap(ended_);
    posted_ = false;
  }
  RunEventHandler(board_, "Drawing", [&] {
    if (state) painter_.Draw(*state);
    if (error) DrawErrorLine(board_, *error);
  });
  last_drawn_ = std::chrono::steady_clock::now();
  return ended;
}

void RelayRunner::Finished(const ActionReport& report) {
  RunEventHandler(board_, "Drawing", [&] {
    if (const auto change = AfterAction(report)) DrawErrorLine(board_, *change);
  });
  busy_.reset();
  if (refresh_after_ && refresh_) RunEventHandler(board_, RequestName(report.trigger), refresh_);
  if (quit_when_done_) {
    ending_ = true;
    QCoreApplication::quit();
  }
}

}  // namespace quillport
