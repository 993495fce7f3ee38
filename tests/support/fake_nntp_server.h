// A scripted stand-in for a news server, for tests of the news client.
//
// It listens on 127.0.0.1 at a free port and plays its script on its own
// thread against the connections it accepts: say something (at once or in
// pieces with pauses between them, so one reply arrives as several TCP
// segments), expect a line, expect quiet, read through a marker, sit idle,
// hang up,
// wait for the client to hang up, take the next connection. Every wait has
// a time limit, and Stop ends a script wherever it is, so a test can never
// hang on it. Everything received is recorded, for byte-exact comparison.
#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillport::testing {

struct FakeStep {
  enum class Kind { kSend, kExpect, kExpectQuiet, kReadThrough, kIdle, kHangUp, kAwaitClose, kAccept };
  Kind kind = Kind::kSend;
  std::vector<std::string> pieces;  // kSend: what to send, one write per piece
  std::string text;                 // kExpect: the whole line, CR LF included; kReadThrough: the marker
  std::chrono::milliseconds pause{0};  // kSend: between pieces; kExpectQuiet, kIdle: how long
};

namespace fake {
using namespace std::chrono_literals;

// Sends `text` in one write.
FakeStep Send(std::string text);
// Sends the pieces in separate writes, `pause` apart.
FakeStep SendPieces(std::vector<std::string> pieces, std::chrono::milliseconds pause = 30ms);
// Reads the next line and checks that it is `line` (with its CR LF).
FakeStep Expect(std::string line);
// Checks that nothing arrives for `quiet`.
FakeStep ExpectQuiet(std::chrono::milliseconds quiet);
// Reads up to and including the first `marker`.
FakeStep ReadThrough(std::string marker);
// Neither reads nor says anything for `idle`, as a stuck server would.
FakeStep Idle(std::chrono::milliseconds idle);
// Closes the connection.
FakeStep HangUp();
// Reads until the client closes the connection; says nothing meanwhile.
FakeStep AwaitClose();
// Closes the connection and accepts the next one.
FakeStep Accept();
}  // namespace fake

class FakeNntpServer {
 public:
  // Starts listening and playing `script` against the first connection.
  // `step_limit` bounds every step that waits for the client.
  explicit FakeNntpServer(std::vector<FakeStep> script,
                          std::chrono::milliseconds step_limit = std::chrono::seconds(5));
  ~FakeNntpServer();
  FakeNntpServer(const FakeNntpServer&) = delete;
  FakeNntpServer& operator=(const FakeNntpServer&) = delete;

  std::uint16_t port() const { return port_; }
  std::string port_text() const { return std::to_string(port_); }

  // Waits at most `limit` for the script to end, then stops the server.
  // Empty when every step went as scripted, otherwise what went wrong.
  std::string Finish(std::chrono::milliseconds limit = std::chrono::seconds(5));

  // Ends the script wherever it is and closes everything. Idempotent.
  void Stop();

  // Every byte received so far, over all connections, in order.
  std::string Received() const;

 private:
  struct Io;
  void Play(std::vector<FakeStep> script);

  std::unique_ptr<Io> io_;
  std::uint16_t port_ = 0;
  std::chrono::milliseconds step_limit_;
  mutable std::mutex mutex_;
  std::string received_;
  std::string problem_;
  std::future<void> done_;
  std::thread thread_;
};

}  // namespace quillport::testing
