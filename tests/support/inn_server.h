// A private INN news server for tests that need a real one: a whole
// instance of its own, started by scripts/inn-instance.sh in a fresh folder
// under /tmp on a free port of 127.0.0.1, carrying the groups given. The
// destructor stops it and removes the folder; should the test program die
// first, the script's watcher does both (its header tells what INN answers).
//
// The helpers below read and post through a plain NNTP connection of their
// own (one per call, every wait bounded), not through the project's client.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillport::testing {

class InnServer {
 public:
  // Throws std::runtime_error with the start script's output on failure.
  explicit InnServer(std::vector<std::string> groups = {"local.test"});
  ~InnServer();
  InnServer(const InnServer&) = delete;
  InnServer& operator=(const InnServer&) = delete;

  const std::string& host() const { return host_; }
  std::string port_text() const { return std::to_string(port_); }

  // HEAD and BODY of "<message-id>": the text with dot-stuffing undone and
  // every line ended by CR LF, without the terminating line; nullopt on 430.
  // Any other answer throws std::runtime_error.
  std::optional<std::string> Head(const std::string& message_id);
  std::optional<std::string> Body(const std::string& message_id);
  // The article count of the GROUP reply; throws for a group not carried.
  std::int64_t ArticleCount(const std::string& group);
  // Posts `article` (CR LF lines, unstuffed) and returns the final reply
  // code: 240 when taken, else the refusal (of POST or of the article).
  int Post(const std::string& article);

  // Stops the server now, readers included, as if it had gone away.
  void Stop();

 private:
  std::optional<std::string> Fetch(const std::string& command, int expected);

  std::string host_ = "127.0.0.1";
  int port_ = 0;
  std::filesystem::path dir_;
  bool running_ = false;
};

}  // namespace quillport::testing
