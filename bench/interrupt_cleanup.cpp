#include "bench/interrupt_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>

namespace quillport::bench {
namespace {

sigset_t EndingSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  return signals;
}

}  // namespace

InterruptCleanup::InterruptCleanup(std::filesystem::path scratch) : scratch_(std::move(scratch)) {
  const sigset_t signals = EndingSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  waiter_ = std::jthread([this, signals](const std::stop_token& stop) {
    const timespec step{0, 200'000'000};  // looks at `stop` five times a second
    while (!stop.stop_requested()) {
      const int signal = sigtimedwait(&signals, nullptr, &step);
      if (signal <= 0) continue;
      std::fflush(stdout);
      std::fprintf(stderr, "quillport_bench: ended by signal %d\n", signal);
      std::error_code ignored;
      std::filesystem::remove_all(scratch_, ignored);
      _exit(128 + signal);
    }
  });
}

InterruptCleanup::~InterruptCleanup() {
  waiter_.request_stop();
  waiter_.join();
  const sigset_t signals = EndingSignals();
  pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

}  // namespace quillport::bench
