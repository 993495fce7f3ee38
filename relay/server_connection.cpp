#include "relay/server_connection.h"

#include "board/board_fields.h"
#include "common/printable_text.h"

namespace quillport {

std::string ServerConnection::Host() const {
  const NewsValue host = client_.Setting(NewsSetting::kServerHost);
  const auto* text = std::get_if<std::string>(&host);
  return text ? *text : std::string();
}

void ServerConnection::NntpConnect() {
  board_.SetText(field::kStatusH, "Connecting To: " + Host());
  const std::int16_t status = client_.Connect();
  if (status != 0) {
    board_.SetText(field::kStatusH, "Unable To Connect To: " + Host() + " Error: " + std::to_string(status));
    connected_ = false;
    board_.SetVisible(field::kStatusE, true);
  } else {
    board_.SetText(field::kStatusH, "Connected To " + Host());
    connected_ = true;
    board_.SetVisible(field::kStatusE, false);
  }
}

void ServerConnection::NntpDisconnect() {
  board_.SetText(field::kStatusH, "Disconnecting From: " + Host());
  const std::int16_t status = client_.Disconnect();
  if (status != 0) {
    board_.SetText(field::kStatusH, "Abnormally Disconnected From: " + Host() + " Error: " + std::to_string(status));
    board_.SetVisible(field::kStatusE, true);
  } else {
    board_.SetText(field::kStatusH, "Normally Disconnected From: " + Host());
    board_.SetVisible(field::kStatusE, false);
  }
  connected_ = false;
}

void ServerConnection::Dropped() {
  board_.SetText(field::kStatusH, "Normally Disconnected From: " + Host());
  connected_ = false;
}

void ShowNewsError(StatusBoard& board, std::int16_t number, const std::string& description) {
  board.SetText(field::kStatusE, Printable(description) + " (" + std::to_string(number) + ")");
}

void ShowNewsErrors(NewsClient& client, StatusBoard& board) {
  client.SetErrorHandler(
      [&board](std::int16_t number, const std::string& description) { ShowNewsError(board, number, description); });
}

}  // namespace quillport
