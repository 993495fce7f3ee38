#include "app/relay_runner.h"

#include <QCoreApplication>
#include <QTimer>
#include <string>

#include "app/event_handler.h"
#include "board/board_fields.h"

namespace quillport {
namespace {

// The engine's states are drawn at most five times a second: often enough
// to follow an Action, seldom enough that drawing costs the program little
// (a frame costs far more than a file's work in the engine).
constexpr std::chrono::milliseconds kFrame{200};

}  // namespace

RelayRunner::RelayRunner(StatusBoard& board, NewsClient& client, RelaySettings settings, Clock clock,
                         std::function<void()> refresh, QObject* parent)
    : QObject(parent),
      board_(board),
      painter_(board),
      refresh_(std::move(refresh)),
      pace_(new QTimer(this)),
      relay_(client, std::move(settings), std::move(clock), [this](const RelayState& state) { Publish(state); }),
      thread_(relay_) {
  pace_->setSingleShot(true);
  connect(pace_, &QTimer::timeout, this, [this] { DrawLatest(); });
}

RelayRunner::~RelayRunner() = default;

void RelayRunner::StartAction(std::string_view handler, bool refresh_after) {
  if (Running()) return;
  board_.SetText(field::kTimRem, board_.Text(field::kTimPer));
  busy_.emplace(board_);
  const std::string name(handler);
  const bool started = thread_.Start(name, [this, name, refresh_after](bool) {
    QMetaObject::invokeMethod(
        this, [this, name, refresh_after] { Finished(name, refresh_after); }, Qt::QueuedConnection);
  });
  if (!started) busy_.reset();  // only while the program ends
}

bool RelayRunner::MayClose() {
  if (!Running()) return true;
  quit_when_done_ = true;
  return false;
}

void RelayRunner::Publish(const RelayState& state) {
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    latest_ = state;
    post = !posted_;
    posted_ = true;
  }
  if (post)
    QMetaObject::invokeMethod(
        this, [this] { StateArrived(); }, Qt::QueuedConnection);
}

void RelayRunner::StateArrived() {
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
  {
    std::lock_guard lock(mutex_);
    state.swap(latest_);
    posted_ = false;
  }
  if (!state) return;
  RunEventHandler(board_, "Drawing", [&] { painter_.Draw(*state); });
  last_drawn_ = std::chrono::steady_clock::now();
}

void RelayRunner::Finished(const std::string& handler, bool refresh_after) {
  pace_->stop();
  DrawLatest();
  busy_.reset();
  if (refresh_after && refresh_) RunEventHandler(board_, handler, refresh_);
  if (quit_when_done_) QCoreApplication::quit();
}

}  // namespace quillport
