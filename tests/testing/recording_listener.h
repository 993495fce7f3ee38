// An engine listener that keeps everything it hears, for tests to read once the Action has ended.
#pragma once

#include <string>
#include <vector>

#include "relay/engine_listener.h"

namespace quillport::testing {

struct RecordingListener : EngineListener {
  std::vector<RelayState> states;
  std::vector<MessageReport> messages;
  std::vector<Failure> failures;
  std::vector<ActionReport> actions;
  int successes = 0;

  void StateChanged(const RelayState& state) override { states.push_back(state); }
  void MessageHandled(const MessageReport& report) override { messages.push_back(report); }
  void FailureMet(const Failure& failure) override { failures.push_back(failure); }
  void StepSucceeded() override { ++successes; }
  void ActionEnded(const ActionReport& report) override { actions.push_back(report); }

  // The last failure's text; empty when there was none.
  std::string LastFailure() const { return failures.empty() ? std::string() : failures.back().text; }
};

}  // namespace quillport::testing
