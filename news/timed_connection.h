// A TCP connection to the news server on which every wait has a deadline.
//
// Each call blocks its caller, but underneath it starts an asynchronous
// operation on a private io_context and runs that context on the caller's
// thread only until the operation completes or the deadline passes. A wait
// that runs out closes the connection, so a silent server can never hold
// the program. Any failure closes the connection and throws NewsError under
// one of the network numbers of news_error, described as "<step> <host>:<port>:
// <reason>", the reason in the system's words ("Connection refused").
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillport {

class TimedConnection {
 public:
  using Clock = std::chrono::steady_clock;

  TimedConnection();
  ~TimedConnection();
  TimedConnection(const TimedConnection&) = delete;
  TimedConnection& operator=(const TimedConnection&) = delete;

  // Resolves the host and connects, each step bounded by `timeout`. Closes
  // a connection that is still open first.
  void Open(const std::string& host, std::uint16_t port, std::chrono::seconds timeout);

  // Closes the connection and drops what was received but not taken.
  void Close() noexcept;
  bool is_open() const;

  // Sends all of `bytes` before the deadline.
  void Write(std::string_view bytes, Clock::time_point deadline);

  // Waits until the connection brings at least one more byte, then adds
  // what arrived to the received bytes.
  void ReadMore(Clock::time_point deadline);

  // The next line, through its LF, taken from the received bytes after
  // reading as much as it needs. A line longer than `max_length` is a
  // protocol failure.
  std::string ReadLine(Clock::time_point deadline, std::size_t max_length);

  // Received bytes not yet taken, and taking the first `count` of them.
  std::string_view received() const { return received_; }
  std::string Take(std::size_t count);

  // "host:port" of the last Open, for descriptions.
  const std::string& peer() const { return peer_; }

 private:
  struct Io;
  std::unique_ptr<Io> io_;
  std::string received_;
  std::string peer_;
};

}  // namespace quillport
