#include "relay/server_connection.h"

namespace quillport {

std::string ServerConnection::Host() const { return client_.options().host; }

std::optional<ServerConnection::Failure> ServerConnection::Attempt(std::optional<Refusal> (NewsClient::*step)()) {
  try {
    if (const std::optional<Refusal> refusal = (client_.*step)()) return Failure{refusal->code, FailureLine(*refusal)};
    return std::nullopt;
  } catch (const NewsError& error) {
    return Failure{error.number(), FailureLine(error)};
  }
}

void ServerConnection::Report(std::string status_line, std::optional<bool> error_shown) {
  RelayState& state = keeper_.state();
  state.status_line = std::move(status_line);
  if (error_shown) state.error_line.Show(*error_shown);
  keeper_.Publish();
}

void ServerConnection::Connect() {
  Report("Connecting To: " + Host(), std::nullopt);
  const std::optional<Failure> failure = Attempt(&NewsClient::Connect);
  connected_ = !failure;
  if (connected_) {
    Report("Connected To " + Host(), false);
  } else {
    keeper_.state().error_line.Set(failure->text);
    Report("Unable To Connect To: " + Host() + " Error: " + std::to_string(failure->number), true);
  }
}

void ServerConnection::Disconnect() {
  Report("Disconnecting From: " + Host(), std::nullopt);
  const std::optional<Failure> failure = Attempt(&NewsClient::Disconnect);
  connected_ = false;
  if (!failure) {
    Report("Normally Disconnected From: " + Host(), false);
  } else {
    keeper_.state().error_line.Set(failure->text);
    Report("Abnormally Disconnected From: " + Host() + " Error: " + std::to_string(failure->number), true);
  }
}

void ServerConnection::Dropped() {
  connected_ = false;
  Report("Normally Disconnected From: " + Host(), std::nullopt);
}

}  // namespace quillport
