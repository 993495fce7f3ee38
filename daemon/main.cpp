// quillportd: the relay as a system service, without a window. No command
// line, no configuration: the settings are compiled in. See quillportd(8).
#include <syslog.h>

#include <exception>
#include <iostream>

#include "common/system_log.h"
#include "daemon/relay_service.h"

int main() {
  using namespace quillport;
  try {
    RelayService service{ServiceSettings{}};
    return service.Run();
  } catch (const std::exception& failure) {
    // The service manager restarts the program (Restart=on-failure). The
    // journal gets the line once: through the system log, or, where none
    // listens, through standard error.
    const std::string line = std::string("cannot run: ") + failure.what();
    if (!WriteSystemLog(LOG_ERR, line)) std::cerr << "quillportd: " << line << std::endl;
    return 1;
  }
}
