// How many messages wait in the drop folder, and for how long the oldest
// has: the service's status line tells the administrator.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace quillport {

struct WaitingCensus {
  std::int64_t files = 0;                          // message files (not folders)
  std::chrono::system_clock::time_point oldest{};  // the earliest modification among them
};

// Counts the entries of `folder` whose names match `pattern` and that are
// not folders, without following links. A folder that cannot be listed
// counts as empty.
WaitingCensus TakeCensus(const std::string& folder, const std::string& pattern);

// "3 messages waiting, the oldest for 2 min" ("no message waiting" for none),
// ages as of `now`.
std::string DescribeWaiting(const WaitingCensus& census, std::chrono::system_clock::time_point now);

}  // namespace quillport
