// The engine's state and the listener its changes and events go to: the
// parts of an Action change the state, then publish it.
#pragma once

#include "relay/engine_listener.h"
#include "relay/relay_state.h"

namespace quillport {

class EngineReporter {
 public:
  // `listener` must outlive the reporter.
  explicit EngineReporter(EngineListener& listener) : listener_(listener) {}

  RelayState& state() { return state_; }
  const RelayState& state() const { return state_; }

  // Hands a copy of the state as it stands to the listener, never the
  // engine's own.
  void Publish() const {
    const RelayState snapshot = state_;
    listener_.StateChanged(snapshot);
  }
  void Failed(const Failure& failure) const { listener_.FailureMet(failure); }
  void Succeeded() const { listener_.StepSucceeded(); }
  void Handled(const MessageReport& report) const { listener_.MessageHandled(report); }
  void Recorded(const RecordLine& line) const { listener_.Recorded(line); }

 private:
  RelayState state_;
  EngineListener& listener_;
};

}  // namespace quillport
