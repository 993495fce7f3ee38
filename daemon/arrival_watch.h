// New message files in the drop folder, and when they will have settled:
// quillportd starts an Action as soon as a file that arrived has been
// quiet for the engine's quiet period, instead of waiting for its timer.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "common/file_descriptor.h"

namespace quillport {

// Follows, through inotify, the names of the drop folder that match the
// message pattern and were created, renamed or linked into it, or closed
// after writing. Each such name is pending until an Action has started after
// it settled, that is after `quiet` without a further change to it (the
// engine leaves a file that changed more lately for a later Action).
class ArrivalWatch {
 public:
  using Clock = std::chrono::steady_clock;

  ArrivalWatch(std::string folder, std::string pattern, Clock::duration quiet);
  ArrivalWatch(const ArrivalWatch&) = delete;
  ArrivalWatch& operator=(const ArrivalWatch&) = delete;

  // The descriptor to wait on for reading; -1 when inotify is unavailable.
  int descriptor() const { return inotify_.get(); }

  // Whether the folder is watched; when not, problem() says why. A folder
  // that cannot be watched now (missing) is tried again at every Update.
  bool watching() const { return watch_ >= 0; }
  const std::string& problem() const { return problem_; }

  // Takes in every change reported since the last call, without waiting.
  void Update(Clock::time_point now);

  // When the earliest pending file will have settled; nullopt when none is
  // pending.
  std::optional<Clock::time_point> SettledAt() const;

  // An Action starts at `now`: it will see every file settled by then, so
  // they are no longer pending. Files still settling stay pending.
  void ActionStarted(Clock::time_point now);
  // An Action has ended: a pending file that is gone (posted, filed) is
  // forgotten; one still there starts another Action once it has settled.
  void ActionEnded();

 private:
  void Start();
  void Take(std::uint32_t mask, const std::string& name, Clock::time_point now);

  std::string folder_;
  std::string pattern_;
  Clock::duration quiet_;
  FileDescriptor inotify_;
  int watch_ = -1;
  std::string problem_;
  std::map<std::string, Clock::time_point> pending_;  // by name: when it will have settled
};

}  // namespace quillport
