// Measuring one phase of the benchmark in a process of its own.
//
// Every phase runs in a child forked for it, so the CPU time and the memory
// figures it reports are that phase's alone: getrusage(RUSAGE_SELF) of the
// child counts nothing of the other phases, and the child's peak resident
// size (ru_maxrss) starts from what it inherited, not from what an earlier
// phase once used. The servers' CPU (innd, nnrpd) is never counted.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace quillport::bench {

// What a phase measured, all of it taken inside the phase's process.
struct PhaseFigures {
  double wall_seconds = 0;
  double cpu_seconds = 0;     // user + system time between Start and Stop
  double system_seconds = 0;  // the system part of it
  long start_rss_kib = 0;     // resident size when the timed part began
  long peak_rss_kib = 0;      // ru_maxrss when it ended: the process's peak
  long rss_growth_kib = 0;    // peak_rss_kib - start_rss_kib
};

// Times the measured part of a phase. Start resets the kernel's record of
// the peak resident size to the current size (/proc/self/clear_refs, value
// 5) so the peak read at Stop belongs to the measured part alone; where
// that is not allowed the peak counts from the fork, and a child does
// nothing but light set-up before Start.
class PhaseMeter {
 public:
  void Start();
  PhaseFigures Stop() const;

 private:
  std::chrono::steady_clock::time_point wall_start_;
  double user_start_ = 0;
  double system_start_ = 0;
  long rss_start_kib_ = 0;
};

// The outcome a phase sends back from its process.
struct PhaseResult {
  bool completed = false;  // false when the phase threw or its process died
  PhaseFigures figures;
  std::int64_t done = 0;  // what the phase counted: files handled, articles taken
  std::string note;       // what happened, in a few words
};

// Runs `phase` in a forked child and returns what it returned. An exception
// escaping `phase`, or the child's death, gives a result that is not
// completed and says why. The child leaves by _exit: no destructor of
// objects the parent owns (such as its news server) runs twice.
PhaseResult RunInChildProcess(const std::function<PhaseResult()>& phase);

// The current resident size in KiB (VmRSS of /proc/self/status); 0 when it
// cannot be read.
long CurrentRssKib();

}  // namespace quillport::bench
