#include "bench/phase_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace quillport::bench {
namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

rusage Usage() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage;
}

// The result on the pipe: fixed-size fields, then the note's bytes.
struct WireResult {
  bool completed;
  PhaseFigures figures;
  std::int64_t done;
  std::uint32_t note_size;
};

bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool ReadAll(int fd, void* data, std::size_t size) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = read(fd, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

[[noreturn]] void ChildMain(int fd, const std::function<PhaseResult()>& phase) {
  PhaseResult result;
  try {
    result = phase();
  } catch (const std::exception& failure) {
    result.completed = false;
    result.note = failure.what();
  } catch (...) {
    result.completed = false;
    result.note = "unknown failure";
  }
  const WireResult wire{result.completed, result.figures, result.done, static_cast<std::uint32_t>(result.note.size())};
  const bool sent = WriteAll(fd, &wire, sizeof wire) && WriteAll(fd, result.note.data(), result.note.size());
  std::cout.flush();
  std::cerr.flush();
  _exit(sent ? 0 : 1);
}

}  // namespace

long CurrentRssKib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

void PhaseMeter::Start() {
  // Writing 5 resets the peak resident size to the current one.
  std::ofstream("/proc/self/clear_refs") << "5";
  rss_start_kib_ = CurrentRssKib();
  const rusage usage = Usage();
  user_start_ = Seconds(usage.ru_utime);
  system_start_ = Seconds(usage.ru_stime);
  wall_start_ = std::chrono::steady_clock::now();
}

PhaseFigures PhaseMeter::Stop() const {
  const auto wall_end = std::chrono::steady_clock::now();
  const rusage usage = Usage();
  PhaseFigures figures;
  figures.wall_seconds = std::chrono::duration<double>(wall_end - wall_start_).count();
  figures.system_seconds = Seconds(usage.ru_stime) - system_start_;
  figures.cpu_seconds = Seconds(usage.ru_utime) - user_start_ + figures.system_seconds;
  figures.start_rss_kib = rss_start_kib_;
  figures.peak_rss_kib = usage.ru_maxrss;
  figures.rss_growth_kib = std::max(0L, usage.ru_maxrss - rss_start_kib_);
  return figures;
}

PhaseResult RunInChildProcess(const std::function<PhaseResult()>& phase) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {false, {}, 0, std::string("pipe: ") + std::strerror(errno)};
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return {false, {}, 0, std::string("fork: ") + std::strerror(errno)};
  }
  if (pid == 0) {
    close(fds[0]);
    ChildMain(fds[1], phase);
  }
  close(fds[1]);
  PhaseResult result;
  WireResult wire{};
  const bool got = ReadAll(fds[0], &wire, sizeof wire);
  if (got) {
    result.completed = wire.completed;
    result.figures = wire.figures;
    result.done = wire.done;
    result.note.resize(wire.note_size);
    if (!ReadAll(fds[0], result.note.data(), result.note.size())) result.note = "(note lost)";
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!got) {
    std::ostringstream why;
    why << "the phase's process ended ";
    if (WIFSIGNALED(status)) {
      why << "by signal " << WTERMSIG(status);
    } else {
      why << "with exit code " << WEXITSTATUS(status) << " before reporting";
    }
    result = {false, {}, 0, why.str()};
  }
  return result;
}

}  // namespace quillport::bench
