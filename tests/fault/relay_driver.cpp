// relay_driver DROP_FOLDER ERROR_FOLDER LOG_FILE PORT ACTIONS TIMEOUT_SECONDS: the relay engine as a program for
// libfiu, ACTIONS Actions in a row against the news server on 127.0.0.1:PORT; exits 0 once they ran.
#include <chrono>
#include <string>

#include "news/nntp_client.h"
#include "relay/relay_cycle.h"

int main(int argc, char** argv) {
  if (argc != 7) return 64;                                                             // EX_USAGE
  const quillport::RelaySettings settings{argv[1], "*.cnm", argv[2], argv[3], {}, {}};  // no waits
  quillport::NewsOptions options;
  options.host = "127.0.0.1", options.port = argv[4];
  options.timeout = std::chrono::seconds(std::stoi(argv[6]));
  quillport::NntpClient client;
  client.Configure(options);
  quillport::EngineListener nobody;
  quillport::RelayCycle relay(client, nobody, settings);
  for (int action = std::stoi(argv[5]); action > 0; --action) relay.DoAction(quillport::ActionTrigger::kTimer);
}
