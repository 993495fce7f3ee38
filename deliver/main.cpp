// quillport-deliver: hands one mail message to Quillport. A mail system
// pipes the message in; the exit status tells it whether the message is
// safe in the drop folder (see quillport-deliver(1)).
#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "common/settings.h"
#include "deliver/delivery.h"

namespace {

void Interrupt(int) {}

// A termination signal ends a read of the message with EINTR instead of
// the process, so the partial file is removed and the exit status says
// "try again".
void InterruptReadsOnTermination() {
  struct sigaction action {};
  action.sa_handler = Interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  InterruptReadsOnTermination();
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return quillport::RunDelivery(arguments, STDIN_FILENO, std::string(quillport::settings::kDropFolder),
                                std::cout, std::cerr);
}
