#include "tests/testing/fake_nntp_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace quillport::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes with their line ends shown, for failure messages.
std::string Visible(const std::string& bytes) {
  std::string shown = "\"";
  for (char c : bytes.substr(0, 300)) shown += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  return shown + "\"";
}

}  // namespace

FakeNntpServer::FakeNntpServer(std::vector<FakeStep> script, std::chrono::milliseconds step_limit)
    : step_limit_(step_limit) {
  sockaddr_in address{};
  address.sin_family = AF_INET, address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener_, 4) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const std::string reason = std::strerror(errno);
    if (listener_ >= 0) close(listener_);
    throw std::runtime_error("the fake news server cannot listen on 127.0.0.1: " + reason);
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this, script = std::move(script)] { Play(script); });
}

FakeNntpServer::~FakeNntpServer() {
  stop_ = true;
  Finish();
}

std::string FakeNntpServer::Finish() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  return problem_;
}

std::string FakeNntpServer::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

void FakeNntpServer::Play(const std::vector<FakeStep>& script) {
  int connection = -1;
  Clock::time_point deadline = Clock::now() + step_limit_;  // the step's
  std::string taken;                                        // what the step has read
  // Waits until `fd` is ready for `events` or `until` has passed; ends the script once the destructor is called.
  auto ready = [&](int fd, short events, Clock::time_point until) {
    for (pollfd wanted{fd, events, 0};;) {
      if (stop_) throw std::runtime_error("stopped before the script ended");
      if (poll(&wanted, 1, 20) > 0) return true;
      if (Clock::now() >= until) return false;
    }
  };
  // Reads at most `most` bytes before the deadline; false when the client has closed the connection.
  auto read = [&](std::size_t most) {
    if (!ready(connection, POLLIN, deadline)) throw std::runtime_error("timed out; received " + Visible(taken));
    char chunk[4096];
    const ssize_t count = recv(connection, chunk, std::min(most, sizeof chunk), 0);
    if (count <= 0) return false;
    taken.append(chunk, static_cast<std::size_t>(count));
    std::lock_guard lock(mutex_);
    received_.append(chunk, static_cast<std::size_t>(count));
    return true;
  };
  auto send_all = [&](const std::string& text) {
    return send(connection, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  };

  try {
    if (!ready(listener_, POLLIN, deadline)) throw std::runtime_error("no client connected in time");
    connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) throw std::runtime_error(std::string("accept failed: ") + std::strerror(errno));
    for (const FakeStep& step : script) {
      deadline = Clock::now() + step_limit_;
      const std::string text = step.texts.empty() ? "" : step.texts[0];
      taken.clear();
      switch (step.kind) {
        case FakeStep::Kind::kSend:
          for (std::size_t i = 0; i < step.texts.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (!ready(connection, POLLOUT, deadline) || !send_all(step.texts[i])) {
              throw std::runtime_error("could not send " + Visible(step.texts[i]));
            }
          }
          break;
        case FakeStep::Kind::kExpect:
        case FakeStep::Kind::kReadThrough:
          while (!taken.ends_with(step.kind == FakeStep::Kind::kExpect ? "\n" : text)) {
            if (!read(1)) throw std::runtime_error("closed before " + Visible(text) + ", got " + Visible(taken));
          }
          if (step.kind == FakeStep::Kind::kExpect && taken != text) {
            throw std::runtime_error("expected " + Visible(text) + ", received " + Visible(taken));
          }
          break;
        case FakeStep::Kind::kAwaitClose:  // sending `text` every gap meanwhile; a reset while sending ends it too
          while (!ready(connection, POLLIN, text.empty() ? deadline : std::min(deadline, Clock::now() + step.gap)) ||
                 read(SIZE_MAX)) {
            if (Clock::now() >= deadline) throw std::runtime_error("the client did not close the connection in time");
            if (!text.empty() && !send_all(text)) break;
          }
          break;
      }
    }
  } catch (const std::exception& failure) {
    std::lock_guard lock(mutex_);
    problem_ = failure.what();
  }
  if (connection >= 0) close(connection);
  close(listener_);
}

}  // namespace quillport::testing
