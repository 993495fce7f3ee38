#include "relay/server_connection.h"

namespace quillport {

std::string ServerConnection::Host() const { return client_.options().host; }

Status ServerConnection::Attempt(std::optional<Refusal> (NewsClient::*step)()) {
  try {
    if (const std::optional<Refusal> refusal = (client_.*step)()) {
      return Failure::OfAction(FailureLine(*refusal), refusal->code);
    }
    return Status::Ok();
  } catch (const NewsError& error) {
    return Failure::OfAction(FailureLine(error), error.number());
  }
}

void ServerConnection::Report(std::string status_line, const Status& failure, bool ended) {
  reporter_.state().status_line = std::move(status_line);
  reporter_.Publish();
  if (!failure.ok()) {
    reporter_.Failed(failure.failure());
  } else if (ended) {
    reporter_.Succeeded();
  }
}

Status ServerConnection::Connect() {
  Report("Connecting To: " + Host());
  Status connected = Attempt(&NewsClient::Connect);
  connected_ = connected.ok();
  if (connected_) {
    Report("Connected To " + Host(), Status::Ok(), true);
  } else {
    Report("Unable To Connect To: " + Host() + " Error: " + std::to_string(connected.failure().number), connected);
  }
  return connected;
}

Status ServerConnection::Disconnect() {
  Report("Disconnecting From: " + Host());
  Status disconnected = Attempt(&NewsClient::Disconnect);
  connected_ = false;
  if (disconnected.ok()) {
    Report("Normally Disconnected From: " + Host(), Status::Ok(), true);
  } else {
    Report("Abnormally Disconnected From: " + Host() + " Error: " + std::to_string(disconnected.failure().number),
           disconnected);
  }
  return disconnected;
}

void ServerConnection::Dropped() {
  connected_ = false;
  Report("Normally Disconnected From: " + Host());
}

}  // namespace quillport
