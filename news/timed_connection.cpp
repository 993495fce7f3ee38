#include "news/timed_connection.h"

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "news/news_error.h"

namespace quillport {

namespace {

// The result of one asynchronous operation. Handlers own it jointly with
// the waiting call, so a handler that completes after its wait gave up
// (a name lookup cannot be interrupted) writes into live memory.
struct Outcome {
  bool done = false;
  std::error_code error;
  std::size_t bytes = 0;
  asio::ip::tcp::resolver::results_type endpoints;
};

// A failure of the network, under the number of its kind and in the
// system's own words ("Connection refused", "No route to host" ...): the
// words an administrator meets in the system's other tools.
NewsError NetworkFailure(const std::error_code& error, const std::string& peer, const char* doing) {
  namespace ae = asio::error;
  const std::string where = std::string(doing) + " " + peer + ": ";
  if (error == ae::eof) return NewsError(news_error::kConnectionLost, where + "the server closed the connection");
  const std::string said = where + error.message();
  if (error == ae::connection_refused) return NewsError(news_error::kRefused, said);
  if (error == ae::host_not_found || error == ae::host_not_found_try_again || error == ae::no_data) {
    return NewsError(news_error::kHostNotFound, said);
  }
  if (error == ae::connection_reset || error == ae::connection_aborted || error == ae::broken_pipe ||
      error == ae::not_connected) {
    return NewsError(news_error::kConnectionLost, said);
  }
  if (error == ae::timed_out) return NewsError(news_error::kTimedOut, said);
  return NewsError(news_error::kNetwork, said);
}

// A step of the connection, as a failure's text names it: what was under
// way when its time ran out or when it failed, and what a timeout means.
struct Step {
  const char* waiting;
  const char* failing;
  const char* too_late = "the server did not answer in time";
};
constexpr Step kLookingUp{"Looking up", "Looking up", "the name lookup did not end in time"};
constexpr Step kConnecting{"Connecting to", "Connecting to", "Connection timed out"};
constexpr Step kSending{"Sending to", "Sending to"};
constexpr Step kReading{"Waiting for", "Reading from"};

NewsError TimedOut(const std::string& peer, const Step& step) {
  return NewsError(news_error::kTimedOut, std::string(step.waiting) + " " + peer + ": " + step.too_late);
}

}  // namespace

struct TimedConnection::Io {
  asio::io_context context;
  asio::ip::tcp::socket socket{context};
  asio::ip::tcp::resolver resolver{context};
  std::array<char, 8192> chunk{};

  // Runs the context until `outcome` is done or the deadline passes. What
  // is ready by the deadline still counts, even when it had already passed
  // on entry: bytes that have arrived are never refused for being read late.
  bool RunUntil(const Outcome& outcome, Clock::time_point deadline) {
    context.restart();
    while (!outcome.done && Clock::now() < deadline) {
      if (context.run_one_until(deadline) == 0 && context.stopped()) break;  // nothing left to wait for
    }
    while (!outcome.done && context.poll_one() > 0) {
    }
    return outcome.done;
  }

  // Waits for `outcome` of `step` until the deadline. When it did not come
  // in time, or came with a failure, closes `link` and throws.
  void Await(const Outcome& outcome, Clock::time_point deadline, TimedConnection& link, const Step& step) {
    const bool done = RunUntil(outcome, deadline);
    if (done && !outcome.error) return;
    link.Close();
    if (!done) throw TimedOut(link.peer(), step);
    throw NetworkFailure(outcome.error, link.peer(), step.failing);
  }

  // Lets the handlers of operations cut short by a close run now, so none
  // is left to touch the socket's buffers later.
  void Settle() noexcept {
    try {
      context.restart();
      context.poll();
    } catch (...) {
      // Only cancelled operations are left to run; none of them throws,
      // and a connection being closed has nothing left to report.
    }
  }
};

TimedConnection::TimedConnection() : io_(std::make_unique<Io>()) {}

TimedConnection::~TimedConnection() { Close(); }

bool TimedConnection::is_open() const { return io_->socket.is_open(); }

void TimedConnection::Close() noexcept {
  std::error_code ignored;
  io_->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  io_->socket.close(ignored);
  io_->resolver.cancel();
  io_->Settle();
  received_.clear();
}

void TimedConnection::Open(const std::string& host, std::uint16_t port, std::chrono::seconds timeout) {
  Close();
  peer_ = host + ":" + std::to_string(port);

  std::vector<asio::ip::tcp::endpoint> endpoints;
  std::error_code error;
  const asio::ip::address address = asio::ip::make_address(host, error);
  if (!error) {
    endpoints.emplace_back(address, port);
  } else {
    // A host name: look it up. The lookup itself cannot be interrupted;
    // when it runs out of time it is abandoned and its late result ignored.
    auto outcome = std::make_shared<Outcome>();
    io_->resolver.async_resolve(host, std::to_string(port),
                                [outcome](const std::error_code& e, asio::ip::tcp::resolver::results_type r) {
                                  outcome->done = true;
                                  outcome->error = e;
                                  outcome->endpoints = std::move(r);
                                });
    if (!io_->RunUntil(*outcome, Clock::now() + timeout)) {
      io_->resolver.cancel();
      throw TimedOut(peer_, kLookingUp);
    }
    if (outcome->error) throw NetworkFailure(outcome->error, peer_, kLookingUp.failing);
    for (const auto& entry : outcome->endpoints) endpoints.push_back(entry.endpoint());
  }

  auto outcome = std::make_shared<Outcome>();
  asio::async_connect(io_->socket, endpoints, [outcome](const std::error_code& e, const asio::ip::tcp::endpoint&) {
    outcome->done = true;
    outcome->error = e;
  });
  io_->Await(*outcome, Clock::now() + timeout, *this, kConnecting);
  // A command is a small write followed by a wait for its answer: send it
  // at once instead of letting it wait for an acknowledgement.
  io_->socket.set_option(asio::ip::tcp::no_delay(true), error);
}

void TimedConnection::Write(std::string_view bytes, Clock::time_point deadline) {
  if (!is_open()) throw NewsError(news_error::kNotConnected, "Not connected to a news server");
  auto outcome = std::make_shared<Outcome>();
  asio::async_write(io_->socket, asio::buffer(bytes.data(), bytes.size()),
                    [outcome](const std::error_code& e, std::size_t n) {
                      outcome->done = true;
                      outcome->error = e;
                      outcome->bytes = n;
                    });
  io_->Await(*outcome, deadline, *this, kSending);
}

void TimedConnection::ReadMore(Clock::time_point deadline) {
  if (!is_open()) throw NewsError(news_error::kNotConnected, "Not connected to a news server");
  auto outcome = std::make_shared<Outcome>();
  io_->socket.async_read_some(asio::buffer(io_->chunk), [outcome](const std::error_code& e, std::size_t n) {
    outcome->done = true;
    outcome->error = e;
    outcome->bytes = n;
  });
  io_->Await(*outcome, deadline, *this, kReading);
  received_.append(io_->chunk.data(), outcome->bytes);
}

std::string TimedConnection::ReadLine(Clock::time_point deadline, std::size_t max_length) {
  std::size_t searched = 0;
  for (;;) {
    const std::size_t lf = received_.find('\n', searched);
    if (lf != std::string::npos) return Take(lf + 1);
    if (received_.size() > max_length) {
      Close();
      throw NewsError(news_error::kProtocol, "Reading from " + peer_ + ": a reply line is longer than " +
                                                 std::to_string(max_length) + " bytes");
    }
    searched = received_.size();
    ReadMore(deadline);
  }
}

std::string TimedConnection::Take(std::size_t count) {
  std::string taken = received_.substr(0, count);
  received_.erase(0, count);
  return taken;
}

}  // namespace quillport
