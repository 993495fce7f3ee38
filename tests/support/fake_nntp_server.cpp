#include "tests/support/fake_nntp_server.h"

#include <array>
#include <asio.hpp>
#include <stdexcept>
#include <utility>

namespace quillport::testing {

namespace fake {

FakeStep Send(std::string text) { return SendPieces({std::move(text)}, std::chrono::milliseconds(0)); }

FakeStep SendPieces(std::vector<std::string> pieces, std::chrono::milliseconds pause) {
  FakeStep step;
  step.kind = FakeStep::Kind::kSend;
  step.pieces = std::move(pieces);
  step.pause = pause;
  return step;
}

FakeStep Expect(std::string line) {
  FakeStep step;
  step.kind = FakeStep::Kind::kExpect;
  step.text = std::move(line);
  return step;
}

FakeStep ExpectQuiet(std::chrono::milliseconds quiet) {
  FakeStep step;
  step.kind = FakeStep::Kind::kExpectQuiet;
  step.pause = quiet;
  return step;
}

FakeStep ReadThrough(std::string marker) {
  FakeStep step;
  step.kind = FakeStep::Kind::kReadThrough;
  step.text = std::move(marker);
  return step;
}

FakeStep Idle(std::chrono::milliseconds idle) {
  FakeStep step;
  step.kind = FakeStep::Kind::kIdle;
  step.pause = idle;
  return step;
}

FakeStep HangUp() {
  FakeStep step;
  step.kind = FakeStep::Kind::kHangUp;
  return step;
}

FakeStep AwaitClose() {
  FakeStep step;
  step.kind = FakeStep::Kind::kAwaitClose;
  return step;
}

FakeStep Accept() {
  FakeStep step;
  step.kind = FakeStep::Kind::kAccept;
  return step;
}

}  // namespace fake

namespace {

using Clock = std::chrono::steady_clock;

struct StepFailed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Shows line ends and other control bytes, for failure messages.
std::string Visible(std::string_view bytes) {
  std::string shown;
  for (char c : bytes) {
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      shown += "\\x" + std::to_string(static_cast<unsigned char>(c));
    } else {
      shown += c;
    }
  }
  return shown.size() > 300 ? shown.substr(0, 300) + "..." : shown;
}

}  // namespace

struct FakeNntpServer::Io {
  asio::io_context context;
  asio::ip::tcp::acceptor acceptor{context};
  asio::ip::tcp::socket socket{context};
  asio::steady_timer timer{context};
  std::array<char, 4096> chunk{};
  std::string inbox;  // received, not yet consumed by a step
  bool stopped = false;

  // Runs the context until `done` is set; at the deadline cancels what is
  // pending and still runs until its handler has been called, so no handler
  // outlives the step that started it. Returns false at the deadline.
  bool Wait(const bool& done, Clock::time_point deadline) {
    context.restart();
    while (!done && context.run_one_until(deadline) > 0) {
    }
    if (done) return true;
    std::error_code ignored;
    socket.cancel(ignored);
    acceptor.cancel(ignored);
    timer.cancel();
    context.restart();
    while (!done && context.run_one() > 0) {
    }
    return false;
  }

  void Close() {
    std::error_code ignored;
    socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
    inbox.clear();
  }
};

FakeNntpServer::FakeNntpServer(std::vector<FakeStep> script, std::chrono::milliseconds step_limit)
    : io_(std::make_unique<Io>()), step_limit_(step_limit) {
  const asio::ip::tcp::endpoint loopback(asio::ip::make_address("127.0.0.1"), 0);
  io_->acceptor.open(loopback.protocol());
  io_->acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
  io_->acceptor.bind(loopback);
  io_->acceptor.listen();
  port_ = io_->acceptor.local_endpoint().port();
  std::promise<void> done;
  done_ = done.get_future();
  thread_ = std::thread([this, script = std::move(script), done = std::move(done)]() mutable {
    Play(std::move(script));
    done.set_value();
  });
}

FakeNntpServer::~FakeNntpServer() { Stop(); }

void FakeNntpServer::Stop() {
  if (!thread_.joinable()) return;
  Io* io = io_.get();
  asio::post(io->context, [io] {
    io->stopped = true;
    std::error_code ignored;
    io->acceptor.close(ignored);
    io->socket.close(ignored);
    io->timer.cancel();
  });
  thread_.join();
}

std::string FakeNntpServer::Finish(std::chrono::milliseconds limit) {
  const bool ended = done_.valid() && done_.wait_for(limit) == std::future_status::ready;
  Stop();
  std::lock_guard lock(mutex_);
  if (!ended && problem_.empty()) return "the script did not end in time";
  return problem_;
}

std::string FakeNntpServer::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

void FakeNntpServer::Play(std::vector<FakeStep> script) {
  Io& io = *io_;
  auto deadline = [this] { return Clock::now() + step_limit_; };

  auto accept = [&] {
    io.Close();
    bool done = false;
    std::error_code error;
    io.acceptor.async_accept(io.socket, [&](const std::error_code& e) {
      error = e;
      done = true;
    });
    if (!io.Wait(done, deadline())) throw StepFailed("no client connected in time");
    if (error) throw StepFailed("accepting failed: " + error.message());
  };

  // Reads what comes next into the inbox.
  enum class Got { kData, kClosed, kNothing };
  auto read_more = [&](Clock::time_point until, const std::string& waiting_for) {
    bool done = false;
    std::error_code error;
    std::size_t count = 0;
    io.socket.async_read_some(asio::buffer(io.chunk), [&](const std::error_code& e, std::size_t n) {
      error = e;
      count = n;
      done = true;
    });
    const bool in_time = io.Wait(done, until);
    if (io.stopped) throw StepFailed("stopped while waiting for " + waiting_for);
    if (!in_time) return Got::kNothing;
    if (error == asio::error::eof || error == asio::error::connection_reset) return Got::kClosed;
    if (error) throw StepFailed("reading failed: " + error.message());
    io.inbox.append(io.chunk.data(), count);
    std::lock_guard lock(mutex_);
    received_.append(io.chunk.data(), count);
    return Got::kData;
  };

  auto read_through = [&](const std::string& marker, const std::string& waiting_for) {
    const auto until = deadline();
    std::size_t found;
    while ((found = io.inbox.find(marker)) == std::string::npos) {
      const Got got = read_more(until, waiting_for);
      if (got == Got::kNothing) throw StepFailed("timed out waiting for " + waiting_for);
      if (got == Got::kClosed) {
        throw StepFailed("the client closed the connection while the server waited for " + waiting_for +
                         "; it had sent \"" + Visible(io.inbox) + "\"");
      }
    }
    std::string taken = io.inbox.substr(0, found + marker.size());
    io.inbox.erase(0, found + marker.size());
    return taken;
  };

  auto pause = [&](std::chrono::milliseconds length) {
    bool done = false;
    io.timer.expires_after(length);
    io.timer.async_wait([&](const std::error_code&) { done = true; });
    io.Wait(done, Clock::now() + length + step_limit_);
    if (io.stopped) throw StepFailed("stopped while pausing");
  };

  auto send = [&](const FakeStep& step) {
    for (std::size_t i = 0; i < step.pieces.size(); ++i) {
      if (i > 0 && step.pause.count() > 0) pause(step.pause);
      bool done = false;
      std::error_code error;
      asio::async_write(io.socket, asio::buffer(step.pieces[i]), [&](const std::error_code& e, std::size_t) {
        error = e;
        done = true;
      });
      if (!io.Wait(done, deadline())) throw StepFailed("timed out sending \"" + Visible(step.pieces[i]) + "\"");
      if (error) throw StepFailed("sending \"" + Visible(step.pieces[i]) + "\" failed: " + error.message());
    }
  };

  try {
    accept();
    for (const FakeStep& step : script) {
      if (io.stopped) throw StepFailed("stopped");
      switch (step.kind) {
        case FakeStep::Kind::kSend:
          send(step);
          break;
        case FakeStep::Kind::kExpect: {
          const std::string line = read_through("\n", "\"" + Visible(step.text) + "\"");
          if (line != step.text) {
            throw StepFailed("expected \"" + Visible(step.text) + "\", received \"" + Visible(line) + "\"");
          }
          break;
        }
        case FakeStep::Kind::kExpectQuiet: {
          if (!io.inbox.empty()) throw StepFailed("received \"" + Visible(io.inbox) + "\" where quiet was expected");
          const Got got = read_more(Clock::now() + step.pause, "quiet");
          if (got == Got::kData) throw StepFailed("received \"" + Visible(io.inbox) + "\" where quiet was expected");
          if (got == Got::kClosed) throw StepFailed("the client closed the connection where quiet was expected");
          break;
        }
        case FakeStep::Kind::kReadThrough:
          read_through(step.text, "\"" + Visible(step.text) + "\"");
          break;
        case FakeStep::Kind::kIdle:
          pause(step.pause);
          break;
        case FakeStep::Kind::kHangUp:
          io.Close();
          break;
        case FakeStep::Kind::kAwaitClose: {
          const auto until = deadline();
          Got got;
          while ((got = read_more(until, "the client to close the connection")) == Got::kData) {
          }
          if (got == Got::kNothing) throw StepFailed("the client did not close the connection in time");
          io.Close();
          break;
        }
        case FakeStep::Kind::kAccept:
          accept();
          break;
      }
    }
  } catch (const StepFailed& failure) {
    std::lock_guard lock(mutex_);
    problem_ = failure.what();
  } catch (const std::exception& failure) {
    std::lock_guard lock(mutex_);
    problem_ = std::string("unexpected failure: ") + failure.what();
  }
  io.Close();
  std::error_code ignored;
  io.acceptor.close(ignored);
}

}  // namespace quillport::testing
