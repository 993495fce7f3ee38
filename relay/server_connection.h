// The connection each Action opens to the news server, reported step by
// step on the status board's status line, with the news client's errors on
// the error line.
#pragma once

#include <cstdint>
#include <string>

#include "board/status_board.h"
#include "news/news_client.h"

namespace quillport {

class ServerConnection {
 public:
  ServerConnection(NewsClient& client, StatusBoard& board) : client_(client), board_(board) {}

  // Opens the connection. Status line "Connecting To: <host>", then
  // "Connected To <host>" with the error line hidden, or
  // "Unable To Connect To: <host> Error: <status>" with the error line shown.
  void NntpConnect();

  // Closes it. Status line "Disconnecting From: <host>", then
  // "Normally Disconnected From: <host>" with the error line hidden, or
  // "Abnormally Disconnected From: <host> Error: <status>" with the error
  // line shown. Connected() is false afterwards in every case.
  void NntpDisconnect();

  // Takes note that the relay closed the connection itself (an article it
  // abandoned, see NewsClient::AbandonArticle): nothing is said to the client
  // or the server. Status line "Normally Disconnected From: <host>"; the
  // error line is left as it is, since it tells why. Connected() is false
  // afterwards.
  void Dropped();

  // Whether a connection is open.
  bool Connected() const { return connected_; }

 private:
  std::string Host() const;

  NewsClient& client_;
  StatusBoard& board_;
  bool connected_ = false;
};

// The news client's error event: the error line's text becomes
// "<description> (<number>)"; its visibility is left as it is.
void ShowNewsError(StatusBoard& board, std::int16_t number, const std::string& description);

// From now on every error `client` reports is shown by ShowNewsError.
void ShowNewsErrors(NewsClient& client, StatusBoard& board);

}  // namespace quillport
