#include "tests/support/inn_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#ifndef QUILLPORT_INN_INSTANCE_SCRIPT
#error "QUILLPORT_INN_INSTANCE_SCRIPT must name scripts/inn-instance.sh"
#endif

namespace quillport::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kStartLimit = 60s;   // the script gives up after 30 s itself
constexpr auto kStopLimit = 30s;
constexpr auto kConnectLimit = 5s;
constexpr auto kReplyLimit = 20s;   // per reply line; INN can be slow on a busy machine
constexpr int kPortTaken = 3;       // exit code of the script: the port is in use
constexpr std::size_t kMaxLine = 1 << 20;

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

struct ScriptResult {
  int exit_code = -1;
  std::string output;
};

// Runs inn-instance.sh with `args`, collecting its standard output and error.
// The script is killed when it outlives `limit`.
ScriptResult RunScript(const std::vector<std::string>& args, Clock::duration limit) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw SystemError("pipe");
  std::vector<std::string> argv_text{"/bin/bash", QUILLPORT_INN_INSTANCE_SCRIPT};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    throw SystemError("fork");
  }
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(pipe_fds[1], 1) < 0 || dup2(pipe_fds[1], 2) < 0) _exit(127);
    // The server must not inherit the test's sockets and files.
    close_range(3, ~0U, 0);
    execv("/bin/bash", argv.data());
    _exit(127);
  }
  close(pipe_fds[1]);

  ScriptResult result;
  auto deadline = Clock::now() + limit;
  bool timed_out = false;
  for (;;) {
    pollfd pfd{pipe_fds[0], POLLIN, 0};
    int ready = poll(&pfd, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      timed_out = true;
      break;
    }
    char buffer[4096];
    ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.output.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipe_fds[0]);
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out) {
    result.output += "\n(inn-instance.sh killed after its time limit)";
  } else if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  }
  return result;
}

// A free port of 127.0.0.1: bound to port 0, read back, released.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw SystemError("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    auto error = SystemError("bind 127.0.0.1:0");
    close(fd);
    throw error;
  }
  close(fd);
  return ntohs(address.sin_port);
}

// True when user news (or anyone else) can walk down to `folder`: a root
// test may have TMPDIR in a private home folder the server cannot enter.
bool OpenToOthers(const std::filesystem::path& folder) {
  for (auto p = folder; ; p = p.parent_path()) {
    struct stat st{};
    if (stat(p.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) return false;
    if (p == p.root_path() || p.parent_path() == p) return true;
  }
}

std::filesystem::path MakeInstanceFolder() {
  std::filesystem::path base;
  std::error_code ec;
  base = std::filesystem::temp_directory_path(ec);
  if (ec || (geteuid() == 0 && !OpenToOthers(base))) base = "/tmp";
  std::string pattern = (base / "quillport-inn-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw SystemError("mkdtemp " + pattern);
  return pattern;
}

std::string AngleBracketed(std::string_view message_id) {
  if (message_id.find_first_of("\r\n \t") != std::string_view::npos) {
    throw std::invalid_argument("bad message-id: " + std::string(message_id));
  }
  if (!message_id.empty() && message_id.front() == '<') return std::string(message_id);
  return "<" + std::string(message_id) + ">";
}

int ReplyCode(const std::string& line) {
  if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
      !std::isdigit(static_cast<unsigned char>(line[1])) || !std::isdigit(static_cast<unsigned char>(line[2]))) {
    throw std::runtime_error("not an NNTP reply: \"" + line + "\"");
  }
  return std::stoi(line.substr(0, 3));
}

// One reader connection: greeting, MODE READER (its reply awaited before
// anything else is sent, since INN drops what follows it in the same
// write), then the caller's commands. Every read is bounded.
class ReaderSession {
 public:
  ReaderSession(const std::string& host, int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) throw SystemError("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
      close(fd_);
      throw std::runtime_error("bad host " + host);
    }
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      if (errno != EINPROGRESS) {
        auto error = SystemError("connect " + host + ":" + std::to_string(port));
        close(fd_);
        throw error;
      }
      pollfd pfd{fd_, POLLOUT, 0};
      int soerror = 0;
      socklen_t length = sizeof soerror;
      if (poll(&pfd, 1, static_cast<int>(std::chrono::milliseconds(kConnectLimit).count())) != 1 ||
          getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soerror, &length) != 0 || soerror != 0) {
        errno = soerror != 0 ? soerror : ETIMEDOUT;
        auto error = SystemError("connect " + host + ":" + std::to_string(port));
        close(fd_);
        throw error;
      }
    }
    try {
      Expect(ReadLine(), 200, 201, "greeting");
      Expect(Command("MODE READER"), 200, 201, "MODE READER");
    } catch (...) {
      close(fd_);
      throw;
    }
  }

  ~ReaderSession() {
    // QUIT is a courtesy; nnrpd ends on the closed connection anyway.
    static constexpr char kQuit[] = "QUIT\r\n";
    (void)send(fd_, kQuit, sizeof kQuit - 1, MSG_NOSIGNAL);
    close(fd_);
  }

  ReaderSession(const ReaderSession&) = delete;
  ReaderSession& operator=(const ReaderSession&) = delete;

  std::string Command(std::string_view line, Clock::duration limit = kReplyLimit) {
    Send(std::string(line) + "\r\n");
    return ReadLine(limit);
  }

  void Send(std::string_view data) {
    auto deadline = Clock::now() + kReplyLimit;
    while (!data.empty()) {
      ssize_t n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (n > 0) {
        data.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd pfd{fd_, POLLOUT, 0};
        if (poll(&pfd, 1, RemainingMs(deadline)) <= 0) throw std::runtime_error("send: timed out");
        continue;
      }
      throw SystemError("send");
    }
  }

  // The next line, without its CR LF.
  std::string ReadLine(Clock::duration limit = kReplyLimit) {
    auto deadline = Clock::now() + limit;
    for (;;) {
      auto end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return line;
      }
      if (buffer_.size() > kMaxLine) throw std::runtime_error("reply line too long");
      pollfd pfd{fd_, POLLIN, 0};
      int ready = poll(&pfd, 1, RemainingMs(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) throw SystemError("poll");
      if (ready == 0) throw std::runtime_error("no reply from the news server in time");
      char chunk[8192];
      ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n < 0) throw SystemError("recv");
      if (n == 0) throw std::runtime_error("the news server closed the connection");
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // A multi-line block up to its lone dot, with dot-stuffing undone and
  // every line ended by CR LF.
  std::string ReadBlock() {
    std::string text;
    for (;;) {
      std::string line = ReadLine();
      if (line == ".") return text;
      if (!line.empty() && line.front() == '.') line.erase(0, 1);
      text += line;
      text += "\r\n";
    }
  }

  static void Expect(const std::string& reply, int low, int high, std::string_view what) {
    int code = ReplyCode(reply);
    if (code < low || code > high) {
      throw std::runtime_error(std::string(what) + ": unexpected reply \"" + reply + "\"");
    }
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};

// `article` in NNTP wire form: dot-stuffed, CR LF at the end, terminating dot.
std::string WireForm(std::string_view article) {
  std::string wire;
  wire.reserve(article.size() + article.size() / 32 + 8);
  while (!article.empty()) {
    auto end = article.find("\r\n");
    std::string_view line = article.substr(0, end);
    if (!line.empty() && line.front() == '.') wire += '.';
    wire += line;
    wire += "\r\n";
    article.remove_prefix(end == std::string_view::npos ? article.size() : end + 2);
  }
  wire += ".\r\n";
  return wire;
}

}  // namespace

InnServer::InnServer(std::vector<std::string> groups) : groups_(std::move(groups)) {
  dir_ = MakeInstanceFolder();
  std::string failures;
  // A port found free can be taken by someone else before innd binds it;
  // the script says so with its own exit code, and another port is tried.
  for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
    port_ = FreePort();
    std::vector<std::string> args{"start",      "--watch",    std::to_string(getpid()),
                                  "--temporary", dir_.string(), port_text()};
    args.insert(args.end(), groups_.begin(), groups_.end());
    ScriptResult result = RunScript(args, kStartLimit);
    if (result.exit_code == 0) {
      running_ = true;
    } else {
      failures += result.output;
      if (result.exit_code != kPortTaken) break;
    }
  }
  if (!running_) {
    RunScript({"stop", dir_.string()}, kStopLimit);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    throw std::runtime_error("private INN did not start:\n" + failures);
  }
}

InnServer::~InnServer() {
  try {
    Stop();
  } catch (...) {
    // A destructor must not throw; the script's own fallbacks have run.
  }
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void InnServer::Stop() {
  if (!running_) return;
  running_ = false;
  ScriptResult result = RunScript({"stop", dir_.string()}, kStopLimit);
  if (result.exit_code != 0) throw std::runtime_error("private INN did not stop:\n" + result.output);
}

void InnServer::Restart() {
  if (running_) return;
  std::vector<std::string> args{"start", "--watch", std::to_string(getpid()), "--temporary", dir_.string(),
                                port_text()};
  args.insert(args.end(), groups_.begin(), groups_.end());
  ScriptResult result = RunScript(args, kStartLimit);
  if (result.exit_code != 0) throw std::runtime_error("private INN did not restart:\n" + result.output);
  running_ = true;
}

std::optional<std::string> InnServer::Fetch(std::string_view command, int expected_code,
                                            std::string_view message_id) {
  ReaderSession session(host_, port_);
  std::string request = std::string(command) + " " + AngleBracketed(message_id);
  std::string reply = session.Command(request);
  int code = ReplyCode(reply);
  if (code == 430) return std::nullopt;
  if (code != expected_code) throw std::runtime_error(request + ": unexpected reply \"" + reply + "\"");
  return session.ReadBlock();
}

std::optional<std::string> InnServer::Article(std::string_view message_id) {
  return Fetch("ARTICLE", 220, message_id);
}

std::optional<std::string> InnServer::Head(std::string_view message_id) {
  return Fetch("HEAD", 221, message_id);
}

std::optional<std::string> InnServer::Body(std::string_view message_id) {
  return Fetch("BODY", 222, message_id);
}

std::int64_t InnServer::ArticleCount(std::string_view group) {
  ReaderSession session(host_, port_);
  std::string reply = session.Command("GROUP " + std::string(group));
  // 211 count low high group
  if (ReplyCode(reply) != 211) throw std::runtime_error("GROUP " + std::string(group) + ": \"" + reply + "\"");
  return std::stoll(reply.substr(4));
}

int InnServer::Post(std::string_view article) {
  ReaderSession session(host_, port_);
  last_reply_ = session.Command("POST");
  int code = ReplyCode(last_reply_);
  if (code != 340) return code;
  session.Send(WireForm(article));
  last_reply_ = session.ReadLine();
  return ReplyCode(last_reply_);
}

}  // namespace quillport::testing
