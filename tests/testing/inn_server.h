// A private INN carrying the groups given, started by scripts/inn-instance.sh in a fresh folder under /tmp on a
// free port of 127.0.0.1; stopped and removed by the destructor, or by the script's watcher should the test
// program die first. The helpers read through an NNTP connection of their own, one per call, every wait bounded.
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

  // HEAD and BODY of "<message-id>", unstuffed, CR LF lines, without the terminating line; nullopt on 430.
  std::optional<std::string> Head(const std::string& message_id);
  std::optional<std::string> Body(const std::string& message_id);
  std::int64_t ArticleCount(const std::string& group);  // from the GROUP reply

 private:
  std::optional<std::string> Fetch(const std::string& command, int expected);

  std::string host_ = "127.0.0.1";
  int port_ = 0;
  std::filesystem::path dir_;
};

}  // namespace quillport::testing
