// An engine listener that keeps the states, failures and record lines it hears, for tests to read once the
// Action has ended.
#pragma once

#include <syslog.h>

#include <string>
#include <vector>

#include "relay/engine_listener.h"

namespace quillport::testing {

struct RecordingListener : EngineListener {
  std::vector<RelayState> states;
  std::vector<Failure> failures;
  std::vector<std::string> records;  // as the system log would get them: "<priority>text", facility news

  void StateChanged(const RelayState& state) override { states.push_back(state); }
  void FailureMet(const Failure& failure) override { failures.push_back(failure); }
  void Recorded(const RecordLine& line) override {
    records.push_back("<" + std::to_string(LOG_NEWS | line.severity) + ">" + line.text);
  }

  // The last failure's text; empty when there was none.
  std::string LastFailure() const { return failures.empty() ? std::string() : failures.back().text; }
};

}  // namespace quillport::testing
