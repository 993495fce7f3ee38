#include "relay/server_connection.h"

#include "common/printable_text.h"

namespace quillport {

std::string ServerConnection::Host() const {
  const NewsValue host = client_.Setting(NewsSetting::kServerHost);
  const auto* text = std::get_if<std::string>(&host);
  return text ? *text : std::string();
}

void ServerConnection::Report(std::string status_line, std::optional<bool> error_shown) {
  RelayState& state = keeper_.state();
  state.status_line = std::move(status_line);
  if (error_shown) state.error_line.Show(*error_shown);
  keeper_.Publish();
}

void ServerConnection::NntpConnect() {
  Report("Connecting To: " + Host(), std::nullopt);
  const std::int16_t status = client_.Connect();
  connected_ = status == 0;
  if (connected_) {
    Report("Connected To " + Host(), false);
  } else {
    Report("Unable To Connect To: " + Host() + " Error: " + std::to_string(status), true);
  }
}

void ServerConnection::NntpDisconnect() {
  Report("Disconnecting From: " + Host(), std::nullopt);
  const std::int16_t status = client_.Disconnect();
  connected_ = false;
  if (status == 0) {
    Report("Normally Disconnected From: " + Host(), false);
  } else {
    Report("Abnormally Disconnected From: " + Host() + " Error: " + std::to_string(status), true);
  }
}

void ServerConnection::Dropped() {
  connected_ = false;
  Report("Normally Disconnected From: " + Host(), std::nullopt);
}

std::string NewsErrorText(std::int16_t number, const std::string& description) {
  return Printable(description) + " (" + std::to_string(number) + ")";
}

}  // namespace quillport
