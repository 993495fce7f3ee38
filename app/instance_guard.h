// The question start-up asks before it touches anything: is this program
// already running on this desktop? If so, the running instance is asked to
// bring its window forward, and this one ends; if that instance is ending,
// this one waits for it to end and then starts in its place.
#pragma once

namespace quillport {

// What the earlier instance made of the request to come forward.
enum class Activation {
  kCameForward,  // it restored its window and brought it to the foreground
  kEnding,       // it is ending (stopped by a signal, or its close under way) and will not come forward
  kUnreachable,  // it did not answer
};

class InstanceGuard {
 public:
  virtual ~InstanceGuard() = default;

  // Whether an earlier instance runs. When none does, this instance becomes
  // the one that later starts find.
  virtual bool AnotherInstanceRuns() = 0;

  // The two below only after AnotherInstanceRuns() found an earlier instance.
  // Asks the earlier instance to restore its window and bring it to the
  // foreground, and says what it answered.
  virtual Activation ActivatePreviousInstance() = 0;

  // Waits, for a bounded time, for an ending earlier instance to end. True:
  // it has, and this instance is now the one later starts find. False: it
  // still runs.
  virtual bool TakeOverFromEndingInstance() = 0;
};

}  // namespace quillport
