#include "relay/engine.h"

#include <sys/prctl.h>

namespace quillport {

Engine::Engine(NewsClient& client, EngineListener& listener, RelaySettings settings, Clock clock)
    : cycle_(client, listener, std::move(settings), std::move(clock)),
      listener_(listener),
      thread_([this] { Serve(); }) {}

Engine::~Engine() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  cycle_.RequestStop();
  wake_.notify_one();
  thread_.join();
}

bool Engine::RunAction(ActionTrigger trigger) {
  {
    std::lock_guard lock(mutex_);
    if (asked_ || ending_) return false;
    asked_ = trigger;
    cycle_.ClearStopRequest();
  }
  wake_.notify_one();
  return true;
}

void Engine::StopAfterFile() { cycle_.RequestStop(); }

void Engine::CancelStop() {
  std::lock_guard lock(mutex_);
  if (!ending_) cycle_.ClearStopRequest();
}

bool Engine::Busy() const {
  std::lock_guard lock(mutex_);
  return asked_.has_value();
}

void Engine::Serve() {
  // The pauses of an Action last what they say: the kernel may otherwise let
  // each sleep run on by its default slack (50 us), hundreds of times.
  ::prctl(PR_SET_TIMERSLACK, 1000UL);  // nanoseconds
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return asked_ || ending_; });
    if (ending_) return;  // an Action asked for and not begun is not begun now
    const ActionTrigger trigger = *asked_;
    lock.unlock();
    const ActionReport report = cycle_.DoAction(trigger);
    lock.lock();
    asked_.reset();  // so that the listener may start the next one
    lock.unlock();
    listener_.ActionEnded(report);
    lock.lock();
  }
}

}  // namespace quillport
