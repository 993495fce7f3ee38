// The whole program under measurement: the real window on a private X
// server (Xvfb), driven as its operator drives it, watched from outside.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "bench/child_process.h"
#include "bench/window_pinger.h"

namespace quillport::bench {

// Xvfb on a free display and the program on it, its window found and shown.
// Both are stopped with the object, the program first.
class ProgramUnderX {
 public:
  // `work` is a folder for Xvfb's and the program's output and the
  // program's private runtime folder. Throws std::runtime_error when the
  // X server, the program or its window does not come up within 20 s.
  ProgramUnderX(const std::filesystem::path& program, const std::filesystem::path& work);

  pid_t pid() const { return program_->pid(); }
  bool Running() { return program_->Running(); }
  const std::string& display() const { return display_; }
  unsigned long window() const { return window_; }
  std::string ProgramOutput() const { return Tail(program_output_, 10); }

  // Replaces the text of Periodicity, so that no timed Action comes while
  // the benchmark runs its own (an Action starts the countdown from it).
  void SetPeriod(const std::string& minutes);
  // Double-clicks Remaining, as the operator does for an Action at once.
  // Returns when the second click has gone out.
  void DoubleClickRemaining();

 private:
  void StartXServer(const std::filesystem::path& work);
  void StartProgram(const std::filesystem::path& program, const std::filesystem::path& work);
  void Xdotool(std::vector<std::string> arguments);

  std::optional<ChildProcess> xvfb_;  // declared first: stopped last
  std::string display_;
  std::filesystem::path program_output_;
  std::optional<ChildProcess> program_;
  unsigned long window_ = 0;
};

// How pings are sent during a measurement: one at a time, every 50 ms (each
// costs the program CPU time, which counts in its figures); an answer
// slower than 100 ms misses the target.
inline constexpr std::chrono::milliseconds kPingInterval{50};
inline constexpr std::chrono::milliseconds kPingLimit{100};

struct ActionFigures {
  bool completed = false;
  std::string note;         // what went wrong, when something did
  double wall_seconds = 0;  // from the double-click to the program's disconnect
  double cpu_seconds = 0;   // the program's user + system time over the same span
  PingFigures pings;
};

// One Action over the message files in `drop_folder` (`files` of them,
// left unchanged long enough for the relay to take them): the program's CPU
// time is read, Remaining double-clicked, and the window pinged until the
// Action has ended, that is when the drop folder holds no .cnm file and the
// program holds no connection to the news server on `server_port`.
ActionFigures MeasureAction(ProgramUnderX& program, const std::filesystem::path& drop_folder, int files,
                            int server_port, std::chrono::seconds limit);

struct IdleFigures {
  double seconds = 0;             // the length of each half
  double quiet_cpu_seconds = 0;   // the program's CPU time, left alone
  double pinged_cpu_seconds = 0;  // the same while it was pinged
  PingFigures pings;
  // What answering one ping costs the program, in CPU seconds.
  double PingCost() const;
};

// The program left idle for `length` and then for as long again while
// pinged as during an Action: what answering the pings costs it. CPU time
// here is the kernel's exact run time of each of its threads (schedstat),
// as the pings cost too little for the 10 ms steps of /proc/PID/stat.
IdleFigures MeasureIdle(ProgramUnderX& program, std::chrono::milliseconds length);

// The .cnm files in `folder`.
int CountMessageFiles(const std::filesystem::path& folder);

}  // namespace quillport::bench
