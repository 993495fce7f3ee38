// The relay engine's own thread: Actions run there, one at a time, so the
// thread that asks for them (the window's) never waits on the drop folder
// or the news server.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "relay/relay_cycle.h"

namespace quillport {

class ActionThread {
 public:
  // Called on the engine's thread once an Action has ended, disconnect
  // included; `completed` tells whether it ran to its end.
  using Done = std::function<void(bool completed)>;

  // `relay` must outlive the thread; from now on only this thread uses it.
  explicit ActionThread(RelayCycle& relay);
  // Lets the Action under way run to its end, then ends the thread.
  ~ActionThread();
  ActionThread(const ActionThread&) = delete;
  ActionThread& operator=(const ActionThread&) = delete;

  // Starts an Action for the operator's request `handler` (see
  // RelayCycle::DoActionFor), unless one is under way or waiting to start.
  // Returns whether it was started.
  bool Start(std::string handler, Done done);

 private:
  struct Request {
    std::string handler;
    Done done;
  };
  void Serve();

  RelayCycle& relay_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Request> request_;  // the Action asked for and not yet ended
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once everything above is ready
};

}  // namespace quillport
