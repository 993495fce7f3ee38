// The question start-up asks before it touches anything: is this program
// already running on this desktop? If so, the running instance is asked to
// bring its window forward, and this one ends.
#pragma once

namespace quillport {

class InstanceGuard {
 public:
  virtual ~InstanceGuard() = default;

  // Whether an earlier instance runs. When none does, this instance becomes
  // the one that later starts find.
  virtual bool AnotherInstanceRuns() = 0;

  // Asks the earlier instance to restore its window and bring it to the
  // foreground. Reports nothing: if it cannot be reached, nothing happens.
  virtual void ActivatePreviousInstance() = 0;
};

}  // namespace quillport
