// The connection each Action opens to the news server, reported step by
// step: the status line in the engine's state, and a failure or a success
// event at each step's end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "news/news_client.h"
#include "relay/engine_reporter.h"
#include "relay/failure.h"

namespace quillport {

class ServerConnection {
 public:
  // `client` and `reporter` must outlive the connection.
  ServerConnection(NewsClient& client, EngineReporter& reporter) : client_(client), reporter_(reporter) {}

  // Opens the connection. Status line "Connecting To: <host>" (published
  // before the wait), then "Connected To <host>" and a success, or "Unable
  // To Connect To: <host> Error: <number>" and the failure (its text as
  // FailureLine puts it, reaching the whole Action). Never throws for a
  // refused or failed connection: returns the failure.
  Status Connect();

  // Closes it. Status line "Disconnecting From: <host>", then
  // "Normally Disconnected From: <host>" and a success, or "Abnormally
  // Disconnected From: <host> Error: <number>" and the failure. Connected()
  // is false afterwards in every case. Returns the failure.
  Status Disconnect();

  // Takes note that the relay closed the connection itself (an article it
  // abandoned, see NewsClient::AbandonArticle): nothing is said to the client
  // or the server. Status line "Normally Disconnected From: <host>", and no
  // event: the failure that made the relay drop it tells why. Connected() is
  // false afterwards.
  void Dropped();

  // Whether a connection is open.
  bool Connected() const { return connected_; }

 private:
  std::string Host() const;
  // Runs a step of the client; a refusal (numbered by its reply code) or a
  // failure is returned alike.
  Status Attempt(std::optional<Refusal> (NewsClient::*step)());
  // Sets the status line and publishes the state; then reports the step's
  // failure or, when `ended`, its success.
  void Report(std::string status_line, const Status& failure = Status::Ok(), bool ended = false);

  NewsClient& client_;
  EngineReporter& reporter_;
  bool connected_ = false;
};

}  // namespace quillport
