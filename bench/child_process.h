// The processes the benchmark starts besides its phases: an X server, the
// program, xdotool, the program's build. None may outlive the benchmark.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillport::bench {

struct Launch {
  std::vector<std::string> argv;         // argv[0] is looked up in PATH when it has no slash
  std::vector<std::string> environment;  // NAME=value, added to this process's own or replacing it
  std::filesystem::path output;          // standard output and error go here; empty: /dev/null
  int pass_fd = -1;                      // handed to the child as its fd 3, or -1
};

// A started process. It gets SIGTERM should the benchmark die first (the
// kernel's parent-death signal), and it stays in the benchmark's process
// group, so an interrupt from the terminal reaches it too.
class ChildProcess {
 public:
  explicit ChildProcess(const Launch& launch);  // throws std::runtime_error when it cannot start
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  // Waits at most `limit` for the process to end; its exit code (128 + the
  // signal when a signal ended it), or nullopt while it runs on.
  std::optional<int> WaitFor(std::chrono::milliseconds limit);
  // SIGTERM, then SIGKILL when it still runs 5 s later; reaps it.
  void Stop();

 private:
  bool Reap(int options);

  pid_t pid_ = -1;
  std::optional<int> exit_code_;
};

// Runs `launch` to its end, stopping it after `limit`. Its exit code, or
// nullopt when it had to be stopped.
std::optional<int> RunToEnd(const Launch& launch, std::chrono::seconds limit);

// The last `lines` lines of a text file (for failure reports).
std::string Tail(const std::filesystem::path& file, int lines);

}  // namespace quillport::bench
