// The benchmark ended by TERM, INT or HUP: its scratch folder goes as on a
// normal end. The X server and the program follow it (their parent-death
// signal), and so does the private INN (its watcher).
#pragma once

#include <atomic>
#include <filesystem>
#include <thread>

namespace quillport::bench {

class InterruptCleanup {
 public:
  // Blocks the three signals in the calling thread, and so in every thread
  // it starts later, and waits for them on a thread of its own, which
  // removes `scratch` and ends the process with 128 + the signal. Make it
  // before any other thread.
  explicit InterruptCleanup(std::filesystem::path scratch);
  ~InterruptCleanup();
  InterruptCleanup(const InterruptCleanup&) = delete;
  InterruptCleanup& operator=(const InterruptCleanup&) = delete;

 private:
  std::filesystem::path scratch_;
  std::jthread waiter_;
};

}  // namespace quillport::bench
