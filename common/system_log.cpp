#include "common/system_log.h"

#include <syslog.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "common/printable_text.h"

namespace quillport {

bool WriteSystemLog(int severity, std::string_view line) {
  if (::access(_PATH_LOG, W_OK) != 0) return false;
  const std::string text = Printable(std::string(line));
  // The identifier is the C library's one per process: set, used and given
  // back in one step, so the engine's thread and the window's never mix
  // theirs. The log is opened anew each time, so a log daemon restarted
  // meanwhile is found again.
  static std::mutex one_at_a_time;
  const std::scoped_lock lock(one_at_a_time);
  ::openlog("quillport", LOG_PID | LOG_NDELAY, LOG_NEWS);
  ::syslog(LOG_NEWS | severity, "%s", text.c_str());
  ::closelog();
  return true;
}

}  // namespace quillport
