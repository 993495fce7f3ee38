// A scripted news server on 127.0.0.1: one connection, its script played on its own thread, each step bounded.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillport::testing {

struct FakeStep {
  enum class Kind { kSend, kExpect, kReadThrough, kAwaitClose };
  Kind kind;
  std::vector<std::string> texts;    // kSend: one write per text, 50 ms apart; else the line, marker or text
  std::chrono::milliseconds gap{0};  // kAwaitClose with a text: it is sent every gap
};

namespace fake {
inline FakeStep Send(std::string text) { return {FakeStep::Kind::kSend, {std::move(text)}}; }
inline FakeStep SendPieces(std::vector<std::string> pieces) { return {FakeStep::Kind::kSend, std::move(pieces)}; }
inline FakeStep Expect(std::string line) { return {FakeStep::Kind::kExpect, {std::move(line)}}; }  // CR LF included
inline FakeStep ReadThrough(std::string marker) { return {FakeStep::Kind::kReadThrough, {std::move(marker)}}; }
inline FakeStep AwaitClose() { return {FakeStep::Kind::kAwaitClose, {}}; }  // reads until the client closes
}  // namespace fake

class FakeNntpServer {
 public:
  explicit FakeNntpServer(std::vector<FakeStep> script,
                          std::chrono::milliseconds step_limit = std::chrono::seconds(30));
  ~FakeNntpServer();

  std::string port_text() const { return std::to_string(port_); }
  // Waits for the script to end; empty when every step went as scripted, else what went wrong.
  std::string Finish();
  std::string Received() const;  // every byte received so far

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
