// Lines for the news administrator in the system log: facility news,
// identifier "quillport", with the process id, at a severity by meaning
// (syslog.h: LOG_ERR what stops relaying or needs a person, LOG_WARNING a
// message not posted, LOG_NOTICE what was posted and what changes the relay,
// LOG_INFO summaries).
#pragma once

#include <string_view>

namespace quillport {

// Writes `line` at `severity`, with its control characters escaped, so a
// record stays one line and cannot forge another. Where no system log
// listens (no /dev/log) nothing is written, and false returned. Safe from
// any thread.
bool WriteSystemLog(int severity, std::string_view line);

}  // namespace quillport
