// What the engine tells those who show or steer it (the window, the
// service, tests): copies of its state, and typed events, one per message
// outcome and one per failure. Nothing here refers into the engine's state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "relay/failure.h"
#include "relay/message_outcome.h"
#include "relay/queued_message.h"
#include "relay/relay_state.h"

namespace quillport {

// What asked for an Action.
enum class ActionTrigger {
  kTimer,     // the countdown ran out
  kOperator,  // the operator asked for one at once
  kArrival,   // new message files arrived and settled
  kSignal,    // a signal asked for one at once
  kStart,     // the service started: the files already waiting
  kRetry,     // the last Action was cut short by a failure: tried again
};

// A line for the news administrator's record (the system log), with the
// severity it goes out at (syslog.h: LOG_ERR, LOG_WARNING, LOG_NOTICE,
// LOG_INFO). The engine makes each line once; a front-end writes it.
struct RecordLine {
  int severity = 0;
  std::string text;
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
  // A failure of the connection, the server, the session or the log file
  // ended it before it had handled every file: they wait for a later one.
  bool interrupted = false;
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
  // A line for the record, once per outcome and failure, with repeats of
  // a lasting problem held back (see OutcomeRecord). The listener decides
  // where it goes (the service and the window: the system log).
  virtual void Recorded(const RecordLine& /*line*/) {}
  // The Action has ended, its connection closed.
  virtual void ActionEnded(const ActionReport& /*report*/) {}
};

}  // namespace quillport
