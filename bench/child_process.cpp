#include "bench/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quillport::bench {
namespace {

namespace fs = std::filesystem;

// The program file for `name`, searched in PATH as a shell would.
std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  throw std::runtime_error(name + ": no such program in PATH");
}

// This process's environment with `changes` (NAME=value) put in.
std::vector<std::string> Environment(const std::vector<std::string>& changes) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) result.emplace_back(*entry);
  for (const std::string& change : changes) {
    const std::string name = change.substr(0, change.find('=') + 1);
    std::erase_if(result, [&](const std::string& entry) { return entry.starts_with(name); });
    result.push_back(change);
  }
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void Exec(const char* program, char* const* argv, char* const* envp, int output, int pass_fd,
                       pid_t parent) {
  sigset_t none;  // the benchmark blocks the ending signals; its children take them
  sigemptyset(&none);
  pthread_sigmask(SIG_SETMASK, &none, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(127);  // the benchmark died before the line above
  const int nothing = open("/dev/null", O_RDONLY);
  dup2(nothing, 0);
  dup2(output >= 0 ? output : nothing, 1);
  dup2(output >= 0 ? output : nothing, 2);
  if (pass_fd == 3) fcntl(3, F_SETFD, 0);  // dup2 onto itself would keep close-on-exec
  if (pass_fd >= 0 && pass_fd != 3) dup2(pass_fd, 3);
  for (int fd = 4; fd < 1024; ++fd) close(fd);  // fds 3+ hold nothing the child should keep
  if (pass_fd < 0) close(3);
  execve(program, argv, envp);
  _exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const Launch& launch) {
  if (launch.argv.empty()) throw std::invalid_argument("ChildProcess: no program");
  const std::string program = FindProgram(launch.argv.front());
  std::vector<std::string> arguments = launch.argv;
  std::vector<std::string> environment = Environment(launch.environment);
  const std::vector<char*> argv = Pointers(arguments);
  const std::vector<char*> envp = Pointers(environment);
  int output = -1;
  if (!launch.output.empty()) {
    output = open(launch.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (output < 0) throw std::runtime_error("cannot write " + launch.output.string() + ": " + std::strerror(errno));
  }
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) Exec(program.c_str(), argv.data(), envp.data(), output, launch.pass_fd, parent);
  const int fork_error = errno;
  if (output >= 0) close(output);
  if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(fork_error));
}

bool ChildProcess::Reap(int options) {
  if (exit_code_) return true;
  int status = 0;
  pid_t got;
  while ((got = waitpid(pid_, &status, options)) < 0 && errno == EINTR) {
  }
  if (got == 0) return false;
  if (got < 0) {  // not our child any more: nothing left to wait for
    exit_code_ = -1;
    return true;
  }
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

bool ChildProcess::Running() { return pid_ > 0 && !Reap(WNOHANG); }

std::optional<int> ChildProcess::WaitFor(std::chrono::milliseconds limit) {
  using Steady = std::chrono::steady_clock;
  const auto end = Steady::now() + limit;
  // A process descriptor wakes the wait the moment the process ends, so the
  // end of a short step (a click) is known to the millisecond.
  const int descriptor = Running() ? static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)) : -1;
  while (Running()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Steady::now());
    if (left.count() <= 0) break;
    if (descriptor >= 0) {
      pollfd ended{descriptor, POLLIN, 0};
      poll(&ended, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
    }
  }
  if (descriptor >= 0) close(descriptor);
  return exit_code_;
}

void ChildProcess::Stop() {
  if (!Running()) return;
  kill(pid_, SIGTERM);
  if (WaitFor(std::chrono::seconds(5))) return;
  kill(pid_, SIGKILL);
  Reap(0);
}

std::optional<int> RunToEnd(const Launch& launch, std::chrono::seconds limit) {
  ChildProcess process(launch);
  return process.WaitFor(limit);  // on time-out the destructor stops it
}

std::string Tail(const fs::path& file, int lines) {
  std::ifstream in(file);
  std::deque<std::string> last;
  for (std::string line; std::getline(in, line);) {
    last.push_back(line);
    if (static_cast<int>(last.size()) > lines) last.pop_front();
  }
  std::string text;
  for (const std::string& line : last) text += line + "\n";
  return text;
}

}  // namespace quillport::bench
