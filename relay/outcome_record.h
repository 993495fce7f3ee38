// The system log's record of what became of each message and of every
// failure, one line each.
#pragma once

#include <string_view>

namespace quillport {

// Writes to the system log, news facility, identifier "quillport", for as
// long as it lives (one Action). Where no system log listens (no /dev/log
// when it is made), lines are dropped without trying to reach one for
// each line.
class OutcomeRecord {
 public:
  OutcomeRecord();
  ~OutcomeRecord();
  OutcomeRecord(const OutcomeRecord&) = delete;
  OutcomeRecord& operator=(const OutcomeRecord&) = delete;

  void Record(std::string_view line) const;

 private:
  bool available_ = false;
};

}  // namespace quillport
