// What the engine tells those who show or steer it (the window, the
// service, tests): copies of its state, and typed events, one per message
// outcome and one per failure. Nothing here refers into the engine's state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "relay/failure.h"
#include "relay/message_poster.h"
#include "relay/queued_message.h"
#include "relay/relay_state.h"

namespace quillport {

// What asked for an Action.
enum class ActionTrigger {
  kTimer,     // the countdown ran out
  kOperator,  // the operator asked for one at once
  kArrival,   // new message files arrived and settled
  kSignal,    // a signal asked for one at once
};

// What became of one message the Action posted, deleted or filed.
struct MessageReport {
  QueuedMessage message;
  MessageOutcome outcome;
};

// How an Action ended.
struct ActionReport {
  ActionTrigger trigger = ActionTrigger::kTimer;
  RelayState state;                     // as the Action left it, disconnected
  std::optional<Failure> last_failure;  // the last failure it met, if any
  std::optional<Failure> broken_off;    // a failure that broke the Action off in the middle of its work
  bool stopped = false;                 // a stop request ended it before its last file
};

// Every call comes from the thread that runs the Action, one at a time, in
// the order things happened; a listener must not call back into the engine
// from them, nor block long.
class EngineListener {
 public:
  virtual ~EngineListener() = default;

  // The state after a change.
  virtual void StateChanged(const RelayState& /*state*/) {}
  // A message was posted, found on the server, filed or deleted unposted.
  virtual void MessageHandled(const MessageReport& /*report*/) {}
  // A failure: a file that could not be handled, a refusal, the server,
  // the folders; also the one that breaks an Action off.
  virtual void FailureMet(const Failure& /*failure*/) {}
  // A step went well (connected, an article accepted, disconnected
  // normally): whatever failed before is over.
  virtual void StepSucceeded() {}
  // The Action has ended, its connection closed.
  virtual void ActionEnded(const ActionReport& /*report*/) {}
};

}  // namespace quillport
