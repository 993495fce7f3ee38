#include "tests/testing/inn_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>

#include "common/file_descriptor.h"
#include "tests/testing/temp_folder.h"

namespace quillport::testing {
namespace {

constexpr int kPortTaken = 3;  // the script's exit code when the port is in use

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

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

int Code(const std::string& reply) { return std::atoi(reply.c_str()); }

// One reader connection, greeted and in reader mode; every read and write gives up after 20 s.
class Connection {
 public:
  explicit Connection(int port) : port_(port) {
    const timeval limit{20, 0};
    setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(socket_.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET, address.sin_port = htons(port), address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) Fail("connect");
    if (Code(Line()) / 100 != 2 || Code(Command("MODE READER")) / 100 != 2) Fail("no reader connection");
  }

  std::string Command(std::string line) {
    line += "\r\n";
    if (send(socket_.get(), line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) Fail("send");
    return last_ = Line();
  }
  std::string Line() {  // without its CR LF
    std::string line;
    for (char c; !line.ends_with("\r\n"); line += c) {
      if (recv(socket_.get(), &c, 1, 0) != 1) Fail("no reply (or the server closed the connection)");
    }
    return line.substr(0, line.size() - 2);
  }
  std::string Block() {  // up to its "." line, unstuffed
    std::string text;
    for (std::string line; (line = Line()) != ".";) text += (line.starts_with(".") ? line.substr(1) : line) + "\r\n";
    return text;
  }

  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("INN on port " + std::to_string(port_) + ": " + SystemError(what) + "; last reply \"" +
                             last_ + "\"");
  }

 private:
  FileDescriptor socket_{socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  int port_;
  std::string last_;
};

}  // namespace

InnServer::InnServer(std::vector<std::string> groups) {
  char folder[] = "/tmp/quillport-inn-XXXXXX";  // user news must be able to enter it
  if (mkdtemp(folder) == nullptr) throw std::runtime_error(SystemError("mkdtemp"));
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
  Connection server(port_);
  const int code = Code(server.Command(command));
  if (code == 430) return std::nullopt;
  if (code != expected) server.Fail(command + " answered unexpectedly");
  return server.Block();
}

std::optional<std::string> InnServer::Head(const std::string& message_id) { return Fetch("HEAD " + message_id, 221); }
std::optional<std::string> InnServer::Body(const std::string& message_id) { return Fetch("BODY " + message_id, 222); }

std::int64_t InnServer::ArticleCount(const std::string& group) {
  Connection server(port_);
  const std::string reply = server.Command("GROUP " + group);  // "211 count low high group"
  if (Code(reply) != 211) server.Fail("GROUP " + group + " refused");
  return std::stoll(reply.substr(4));
}

}  // namespace quillport::testing
