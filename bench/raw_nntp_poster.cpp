#include "bench/raw_nntp_poster.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace quillport::bench {
namespace {

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("raw client: " + what); }

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

bool Positive(int code) { return code == 200 || code == 201; }

}  // namespace

void AppendDotStuffed(std::string& wire, std::string_view text, bool& at_line_start) {
  std::size_t done = 0;
  if (!text.empty() && at_line_start && text[0] == '.') wire += '.';
  for (std::size_t lf; (lf = text.find("\n.", done)) != std::string_view::npos; done = lf + 1) {
    wire.append(text.substr(done, lf + 1 - done));
    wire += '.';
  }
  wire.append(text.substr(done));
  if (!text.empty()) at_line_start = text.back() == '\n';
}

RawNntpPoster::RawNntpPoster(const std::string& address, int port, std::chrono::seconds timeout) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) Fail(SystemError("socket"));
  // SO_SNDTIMEO bounds connect() as well as every send().
  const timeval limit{static_cast<time_t>(timeout.count()), 0};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &server.sin_addr) != 1) {
    close(fd_);
    Fail("not an IPv4 address: " + address);
  }
  try {
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
      Fail(SystemError("connect to " + address + ":" + std::to_string(port)));
    }
    if (!Positive(ReadReply())) Fail("greeting " + last_reply_);
    if (!Positive(Command("MODE READER"))) Fail("MODE READER answered " + last_reply_);
  } catch (...) {
    close(fd_);
    throw;
  }
}

RawNntpPoster::~RawNntpPoster() {
  try {
    Command("QUIT");
  } catch (...) {
    // Closing is all that is left to do.
  }
  close(fd_);
}

void RawNntpPoster::SendAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) Fail(SystemError("send"));
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

int RawNntpPoster::ReadReply() {
  std::size_t end;
  while ((end = input_.find("\r\n")) == std::string::npos) {
    char buffer[4096];
    const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) Fail("the server closed the connection");
    if (got < 0) Fail(SystemError("no reply"));
    input_.append(buffer, static_cast<std::size_t>(got));
  }
  last_reply_ = input_.substr(0, end);
  input_.erase(0, end + 2);
  return std::atoi(last_reply_.c_str());
}

int RawNntpPoster::Command(std::string_view line) {
  wire_.assign(line);
  wire_ += "\r\n";
  SendAll(wire_);
  return ReadReply();
}

int RawNntpPoster::Post(std::string_view article) {
  const int code = Command("POST");
  if (code != 340) return code;
  wire_.clear();
  bool at_line_start = true;
  AppendDotStuffed(wire_, article, at_line_start);
  if (!at_line_start) wire_ += "\r\n";
  wire_ += ".\r\n";
  SendAll(wire_);
  return ReadReply();
}

int RawNntpPoster::PostStreamed(std::string_view header, const BodySource& body) {
  const int code = Command("POST");
  if (code != 340) return code;
  bool at_line_start = true;
  wire_.clear();
  AppendDotStuffed(wire_, header, at_line_start);
  SendAll(wire_);
  body([&](std::string_view chunk) {
    wire_.clear();
    AppendDotStuffed(wire_, chunk, at_line_start);
    SendAll(wire_);
  });
  SendAll(at_line_start ? ".\r\n" : "\r\n.\r\n");
  return ReadReply();
}

}  // namespace quillport::bench
