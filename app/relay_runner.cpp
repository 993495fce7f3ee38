#include "app/relay_runner.h"

#include <QCoreApplication>
#include <QTimer>
#include <iostream>
#include <string>
#include <utility>

#include "app/event_handler.h"
#include "board/board_fields.h"
#include "common/printable_text.h"
#include "relay/system_log.h"

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
  connect(pace_, &QTimer::timeout, this, [this] { DrawLatest(); });
}

RelayRunner::~RelayRunner() = default;

void RelayRunner::StartAction(ActionTrigger trigger, bool refresh_after) {
  if (Running()) return;
  busy_.emplace(board_);
  refresh_after_ = refresh_after;
  if (!engine_.RunAction(trigger)) busy_.reset();  // only while the program ends
}

bool RelayRunner::MayClose() {
  if (!Running()) return true;
  quit_when_done_ = true;
  engine_.StopAfterFile();
  return false;
}

void RelayRunner::CancelQuit() {
  if (!quit_when_done_) return;
  quit_when_done_ = false;
  engine_.CancelStop();
}

template <class Change>
void RelayRunner::Take(Change change) {
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    change();
    post = !std::exchange(posted_, true);
  }
  if (post)
    QMetaObject::invokeMethod(
        this, [this] { Arrived(); }, Qt::QueuedConnection);
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
  QMetaObject::invokeMethod(
      this, [this, report] { Finished(report); }, Qt::QueuedConnection);
}

void RelayRunner::Arrived() {
  if (pace_->isActive()) return;  // drawn when the frame is over
  const auto next_frame = last_drawn_ + kFrame;
  const auto now = std::chrono::steady_clock::now();
  if (now >= next_frame) {
    DrawLatest();
  } else {
    pace_->start(std::chrono::ceil<std::chrono::milliseconds>(next_frame - now));
  }
}

void RelayRunner::DrawLatest() {
  std::optional<RelayState> state;
  std::optional<ErrorLineChange> error;
  {
    std::lock_guard lock(mutex_);
    state.swap(latest_);
    error.swap(error_);
    posted_ = false;
  }
  RunEventHandler(board_, "Drawing", [&] {
    if (state) painter_.Draw(*state);
    if (error) DrawErrorLine(board_, *error);
  });
  last_drawn_ = std::chrono::steady_clock::now();
}

void RelayRunner::Finished(const ActionReport& report) {
  pace_->stop();
  DrawLatest();
  RunEventHandler(board_, "Drawing", [&] {
    if (const auto change = AfterAction(report)) DrawErrorLine(board_, *change);
  });
  busy_.reset();
  if (refresh_after_ && refresh_) RunEventHandler(board_, RequestName(report.trigger), refresh_);
  if (quit_when_done_) QCoreApplication::quit();
}

}  // namespace quillport
