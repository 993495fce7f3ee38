#include "relay/server_connection.h"

namespace quillport {

std::string ServerConnection::Host() const { return client_.options().host; }

Status ServerConnection::Attempt(std::optional<Refusal> (NewsClient::*step)()) {
  try {
    if (const std::optional<Refusal> refusal = (client_.*step)()) {
      return Failure::OfAction(FailureLine(*refusal), refusal->code);
    }
    return std::nullopt;
  } catch (const NewsError& error) {
    return Failure::OfAction(FailureLine(error), error.number());
  }
}

void ServerConnection::Report(std::string status_line, const Status& failure, bool ended) {
  reporter_.state().status_line = std::move(status_line);
  reporter_.Publish();
  if (failure) {
    reporter_.Failed(*failure);
  } else if (ended) {
    reporter_.Succeeded();
  }
}

Status ServerConnection::Connect() {
  Report("Connecting To: " + Host());
  Status failure = Attempt(&NewsClient::Connect);
  connected_ = !failure;
  if (connected_) {
    Report("Connected To " + Host(), std::nullopt, true);
  } else {
    Report("Unable To Connect To: " + Host() + " Error: " + std::to_string(failure->number), failure);
  }
  return failure;
}

Status ServerConnection::Disconnect() {
  Report("Disconnecting From: " + Host());
  Status failure = Attempt(&NewsClient::Disconnect);
  connected_ = false;
  if (!failure) {
    Report("Normally Disconnected From: " + Host(), std::nullopt, true);
  } else {
    Report("Abnormally Disconnected From: " + Host() + " Error: " + std::to_string(failure->number), failure);
  }
  return failure;
}

void ServerConnection::Dropped() {
  connected_ = false;
  Report("Normally Disconnected From: " + Host());
}

}  // namespace quillport
