// quillportd with folders and a news server of the test's own, its system log records written to standard
// output when it ends:
//   quillportd_into DROP_FOLDER ERROR_FOLDER LOG_FILE HOST PORT
#include <signal.h>

#include <iostream>
#include <string>

#include "daemon/relay_service.h"
#include "tests/testing/system_log_capture.h"

int main(int argc, char** argv) {
  if (argc != 6) return 64;  // EX_USAGE
  // The capture's thread starts before the service's signals are blocked: it must not take them either.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int number : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&signals, number);
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  quillport::testing::SystemLogCapture records;
  quillport::ServiceSettings settings;  // a failure to start ends it with the exception's text, as a crash
  settings.relay.drop_folder = argv[1];
  settings.relay.error_folder = argv[2];
  settings.relay.log_file = argv[3];
  settings.news.host = argv[4];
  settings.news.port = argv[5];
  const int status = quillport::RelayService(std::move(settings)).Run();
  if (!records.unavailable().empty()) std::cout << "system log unavailable: " << records.unavailable() << '\n';
  for (const std::string& record : records.Stop()) std::cout << "system log: " << record << '\n';
  return status;
}
