#include "relay/outcome_record.h"

#include <syslog.h>
#include <unistd.h>

#include <string>

namespace quillport {

OutcomeRecord::OutcomeRecord() : available_(::access(_PATH_LOG, W_OK) == 0) {
  if (available_) ::openlog("quillport", LOG_PID | LOG_NDELAY, LOG_NEWS);
}

OutcomeRecord::~OutcomeRecord() {
  if (available_) ::closelog();
}

void OutcomeRecord::Record(std::string_view line) const {
  if (!available_) return;
  const std::string text(line);
  ::syslog(LOG_NEWS | LOG_NOTICE, "%s", text.c_str());
}

}  // namespace quillport
