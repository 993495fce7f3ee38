// An engine listener that keeps the states and failures it hears, for tests to read once the Action has ended.
#pragma once

#include <string>
#include <vector>

#include "relay/engine_listener.h"

namespace quillport::testing {

struct RecordingListener : EngineListener {
  std::vector<RelayState> states;
  std::vector<Failure> failures;

  void StateChanged(const RelayState& state) override { states.push_back(state); }
  void FailureMet(const Failure& failure) override { failures.push_back(failure); }

  // The last failure's text; empty when there was none.
  std::string LastFailure() const { return failures.empty() ? std::string() : failures.back().text; }
};

}  // namespace quillport::testing
