// The connection each Action opens to the news server, reported step by
// step in the engine's state: the status line, and the error line (a
// failure's text, and its visibility).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "news/news_client.h"
#include "relay/relay_state.h"

namespace quillport {

class ServerConnection {
 public:
  // `client` and `keeper` must outlive the connection.
  ServerConnection(NewsClient& client, StateKeeper& keeper) : client_(client), keeper_(keeper) {}

  // Opens the connection. Status line "Connecting To: <host>" (published
  // before the wait), then "Connected To <host>" with the error line hidden,
  // or "Unable To Connect To: <host> Error: <number>" with the error line
  // showing the failure (see FailureLine). Never throws for a refused or
  // failed connection.
  void Connect();

  // Closes it. Status line "Disconnecting From: <host>", then
  // "Normally Disconnected From: <host>" with the error line hidden, or
  // "Abnormally Disconnected From: <host> Error: <number>" with the error
  // line showing the failure. Connected() is false afterwards in every case.
  void Disconnect();

  // Takes note that the relay closed the connection itself (an article it
  // abandoned, see NewsClient::AbandonArticle): nothing is said to the client
  // or the server. Status line "Normally Disconnected From: <host>"; the
  // error line is left as it is, since it tells why. Connected() is false
  // afterwards.
  void Dropped();

  // Whether a connection is open.
  bool Connected() const { return connected_; }

 private:
  struct Failure {
    std::int16_t number;  // the refusing reply code, or the client's error number
    std::string text;     // as the error line shows it
  };
  std::string Host() const;
  // Runs a step of the client; a refusal or a failure is returned alike.
  std::optional<Failure> Attempt(std::optional<Refusal> (NewsClient::*step)());
  // Sets the status line and, unless nullopt, the error line's visibility; then publishes.
  void Report(std::string status_line, std::optional<bool> error_shown);

  NewsClient& client_;
  StateKeeper& keeper_;
  bool connected_ = false;
};

}  // namespace quillport
