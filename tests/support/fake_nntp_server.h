// A scripted stand-in for a news server, for faults a real one will not
// produce on demand. It listens on 127.0.0.1 at a free port, accepts one
// connection and plays its script against it on its own thread. Every wait
// is bounded by the step limit, and the destructor ends the script wherever
// it is. Everything received is recorded for byte-exact checks; a step
// reads no further than its line or marker, so whatever the client sent
// after it is never received when the server then hangs up.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillport::testing {

struct FakeStep {
  enum class Kind { kSend, kExpect, kReadThrough, kHangUp, kAwaitClose, kPause, kDribble };
  Kind kind;
  // kSend: one write per text, 50 ms apart, so each is a TCP segment of its
  // own; kExpect: the whole line, CR LF included; kReadThrough: a marker;
  // kDribble: the one text sent again and again.
  std::vector<std::string> texts;
  // kPause: how long to say nothing; kDribble: the time between two sends.
  std::chrono::milliseconds gap{0};
};

namespace fake {
inline FakeStep Send(std::string text) { return {FakeStep::Kind::kSend, {std::move(text)}}; }
inline FakeStep SendPieces(std::vector<std::string> pieces) { return {FakeStep::Kind::kSend, std::move(pieces)}; }
inline FakeStep Expect(std::string line) { return {FakeStep::Kind::kExpect, {std::move(line)}}; }
inline FakeStep ReadThrough(std::string marker) { return {FakeStep::Kind::kReadThrough, {std::move(marker)}}; }
inline FakeStep HangUp() { return {FakeStep::Kind::kHangUp, {}}; }
// Reads, saying nothing, until the client closes the connection.
inline FakeStep AwaitClose() { return {FakeStep::Kind::kAwaitClose, {}}; }
// Says nothing for `pause` (not bounded by the step limit).
inline FakeStep Pause(std::chrono::milliseconds pause) { return {FakeStep::Kind::kPause, {}, pause}; }
// Sends `text` every `gap` until the client closes the connection, which
// must happen within the step limit. What the client sends meanwhile is
// recorded.
inline FakeStep Dribble(std::string text, std::chrono::milliseconds gap) {
  return {FakeStep::Kind::kDribble, {std::move(text)}, gap};
}
}  // namespace fake

class FakeNntpServer {
 public:
  explicit FakeNntpServer(std::vector<FakeStep> script, std::chrono::milliseconds step_limit = std::chrono::seconds(5));
  ~FakeNntpServer();  // stops the script wherever it is
  FakeNntpServer(const FakeNntpServer&) = delete;
  FakeNntpServer& operator=(const FakeNntpServer&) = delete;

  std::string port_text() const { return std::to_string(port_); }
  // Waits for the script to end (each step is bounded); empty when every
  // step went as scripted, otherwise what went wrong.
  std::string Finish();
  // Every byte received so far.
  std::string Received() const;

 private:
  void Play(const std::vector<FakeStep>& script);

  int listener_ = -1;
  int port_ = 0;
  std::chrono::milliseconds step_limit_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::string received_;
  std::string problem_;
  std::thread thread_;
};

}  // namespace quillport::testing
