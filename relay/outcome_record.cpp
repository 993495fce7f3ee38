#include "relay/outcome_record.h"

#include <syslog.h>

#include <string>

namespace quillport {

void RecordOutcome(std::string_view text) {
  const std::string line(text);
  ::openlog("quillport", LOG_PID, LOG_NEWS);
  ::syslog(LOG_NEWS | LOG_NOTICE, "%s", line.c_str());
}

}  // namespace quillport
