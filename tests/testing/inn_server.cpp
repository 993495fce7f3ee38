#include "tests/testing/inn_server.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>

#include "news/nntp_client.h"
#include "tests/testing/temp_folder.h"

namespace quillport::testing {
namespace {

constexpr int kPortTaken = 3;  // the script's exit code when the port is in use

// Runs inn-instance.sh (killed after 90 s at most) without the test's open files, its output to `log`; returns
// its exit code, or -1.
int RunScript(std::vector<std::string> args, const std::filesystem::path& log) {
  args.insert(args.begin(), {"timeout", "-k", "5", "90", "/bin/bash", QUILLPORT_INN_INSTANCE_SCRIPT});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid = 0;
  int status = 0;
  const bool ran = posix_spawnp(&pid, "timeout", &actions, nullptr, argv.data(), environ) == 0 &&
                   waitpid(pid, &status, 0) == pid && WIFEXITED(status);
  posix_spawn_file_actions_destroy(&actions);
  return ran ? WEXITSTATUS(status) : -1;
}

// A reader connection through the relay's own client (its reading is news_test's part), every wait 20 s at most.
struct Reader {
  explicit Reader(int port) {
    NewsOptions options;
    options.host = "127.0.0.1", options.port = std::to_string(port), options.read_lines = true;
    options.timeout = std::chrono::seconds(20);
    client.Configure(options);
    if (client.Connect()) Fail("no reader connection");
  }
  // The reply's code; a refusal is no failure.
  int Command(const std::string& line) {
    client.Command(line);
    return std::atoi(client.LastReply().c_str());
  }
  std::string Block() {  // up to its "." line, unstuffed
    std::string text;
    for (std::string line; client.Readable() && (line = client.ReceivedText()) != ".\r\n";) {
      text += line.starts_with(".") ? line.substr(1) : line;
    }
    return text;
  }
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("INN on port " + client.options().port + ": " + what + "; last reply \"" +
                             client.LastReply() + "\"");
  }
  NntpClient client;
};

}  // namespace

InnServer::InnServer(std::vector<std::string> groups) {
  char folder[] = "/tmp/quillport-inn-XXXXXX";  // user news must be able to enter it
  if (mkdtemp(folder) == nullptr) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  dir_ = folder;
  int started = kPortTaken;
  std::random_device random;
  for (int attempt = 0; attempt < 20 && started == kPortTaken; ++attempt) {  // until a port is free
    port_ = 20000 + static_cast<int>(random() % 30000);
    std::vector<std::string> args = {"start", "--watch", std::to_string(getpid()), "--temporary", dir_, port_text()};
    args.insert(args.end(), groups.begin(), groups.end());
    started = RunScript(args, dir_ / "script.log");
  }
  if (started != 0) {
    const std::string output = ReadFile(dir_ / "script.log");
    RunScript({"stop", dir_}, "/dev/null");
    std::filesystem::remove_all(dir_);
    throw std::runtime_error("private INN did not start (exit code " + std::to_string(started) + "):\n" + output);
  }
}

InnServer::~InnServer() {
  RunScript({"stop", dir_}, "/dev/null");
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::optional<std::string> InnServer::Fetch(const std::string& command, int expected) {
  Reader server(port_);
  const int code = server.Command(command);
  if (code == 430) return std::nullopt;
  if (code != expected) server.Fail(command + " answered unexpectedly");
  return server.Block();
}

std::optional<std::string> InnServer::Head(const std::string& message_id) { return Fetch("HEAD " + message_id, 221); }
std::optional<std::string> InnServer::Body(const std::string& message_id) { return Fetch("BODY " + message_id, 222); }

std::int64_t InnServer::ArticleCount(const std::string& group) {
  Reader server(port_);
  if (server.Command("GROUP " + group) != 211) server.Fail("GROUP " + group + " refused");
  return std::stoll(server.client.LastReply().substr(4));  // "211 count low high group"
}

}  // namespace quillport::testing
