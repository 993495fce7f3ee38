// quillport-deliver with the drop folder as its first argument, for tests that need the program itself.
//   deliver_into FOLDER [ARGUMENT ...] < message
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "deliver/delivery.h"

int main(int argc, char** argv) {
  if (argc < 2) return 64;  // EX_USAGE
  quillport::SetUpDeliverySignals();
  const std::vector<std::string> arguments(argv + 2, argv + argc);
  return quillport::RunDelivery(arguments, STDIN_FILENO, argv[1], std::cout, std::cerr);
}
