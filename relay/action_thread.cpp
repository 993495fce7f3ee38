#include "relay/action_thread.h"

#include <sys/prctl.h>

namespace quillport {

ActionThread::ActionThread(RelayCycle& relay) : relay_(relay), thread_([this] { Serve(); }) {}

ActionThread::~ActionThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

bool ActionThread::Start(std::string handler, Done done) {
  {
    std::lock_guard lock(mutex_);
    if (request_ || stopping_) return false;
    request_ = Request{std::move(handler), std::move(done)};
  }
  wake_.notify_one();
  return true;
}

void ActionThread::Serve() {
  // The pauses of an Action last what they say: the kernel may otherwise let
  // each sleep run on by its default slack (50 us), hundreds of times.
  ::prctl(PR_SET_TIMERSLACK, 1000UL);  // nanoseconds
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return request_ || stopping_; });
    if (!request_) return;  // stopping, with nothing asked for
    const Request request = *request_;
    lock.unlock();
    const bool completed = relay_.DoActionFor(request.handler);
    lock.lock();
    request_.reset();  // so that `done` may start the next one
    lock.unlock();
    if (request.done) request.done(completed);
    lock.lock();
  }
}

}  // namespace quillport
