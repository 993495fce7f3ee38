// The system log's record of what became of each message.
#pragma once

#include <string_view>

namespace quillport {

// Writes one line to the system log, news facility, identifier "quillport".
// Never fails: without a system log the line is simply lost.
void RecordOutcome(std::string_view text);

}  // namespace quillport
