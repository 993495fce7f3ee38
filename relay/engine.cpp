#include "relay/engine.h"

#include <sys/prctl.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "relay/relay_cycle.h"

namespace quillport {

// The engine's parts: the Action and the thread that runs it.
class Engine::Core {
 public:
  Core(NewsClient& client, EngineListener& listener, RelaySettings settings, StampClock stamp)
      : cycle_(client, listener, std::move(settings), std::move(stamp)),
        listener_(listener),
        thread_([this] { Serve(); }) {}

  ~Core() {
    {
      std::lock_guard lock(mutex_);
      ending_ = true;
    }
    cycle_.RequestStop();
    wake_.notify_one();
    thread_.join();
  }
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  bool RunAction(ActionTrigger trigger) {
    {
      std::lock_guard lock(mutex_);
      if (asked_ || ending_) return false;
      asked_ = trigger;
      cycle_.ClearStopRequest();
    }
    wake_.notify_one();
    return true;
  }

  void StopAfterFile() { cycle_.RequestStop(); }

  void CancelStop() {
    std::lock_guard lock(mutex_);
    if (!ending_) cycle_.ClearStopRequest();
  }

  bool Busy() const {
    std::lock_guard lock(mutex_);
    return asked_.has_value();
  }

 private:
  void Serve() {
    // The pauses of an Action last what they say: the kernel may otherwise
    // let each sleep run on by its default slack (50 us), hundreds of times.
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

  RelayCycle cycle_;
  mutable std::mutex mutex_;  // guards the three below
  std::condition_variable wake_;
  std::optional<ActionTrigger> asked_;  // the Action started and not yet ended
  bool ending_ = false;
  EngineListener& listener_;
  std::thread thread_;  // last: it starts once everything above is ready
};

Engine::Engine(NewsClient& client, EngineListener& listener, RelaySettings settings, StampClock stamp)
    : core_(std::make_unique<Core>(client, listener, std::move(settings), std::move(stamp))) {}

Engine::~Engine() = default;

bool Engine::RunAction(ActionTrigger trigger) { return core_->RunAction(trigger); }

void Engine::StopAfterFile() { core_->StopAfterFile(); }

void Engine::CancelStop() { core_->CancelStop(); }

bool Engine::Busy() const { return core_->Busy(); }

}  // namespace quillport
