// quillport-deliver: hands one mail message to Quillport. A mail system
// pipes the message in; the exit status tells it whether the message is
// safe in the drop folder (see quillport-deliver(1)).
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "common/settings.h"
#include "deliver/delivery.h"

int main(int argc, char** argv) {
  quillport::SetUpDeliverySignals();
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return quillport::RunDelivery(arguments, STDIN_FILENO, std::string(quillport::settings::kDropFolder), std::cout,
                                std::cerr);
}
