// New message files in the drop folder, and when to look at them:
// quillportd starts an Action as soon as a file arrives, and once more when
// a file the Action had to leave (it changed lately) will have settled,
// instead of waiting for its timer.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "common/file_descriptor.h"

namespace quillport {

// Follows, through inotify, the names of the drop folder that match the
// message pattern and were created, renamed or linked into it, or closed
// after writing, and the closes of files written there without a name yet
// (quillport-deliver's, which are whole once named and closed).
//
// Each such name is fresh until an Action starts (it looks at once), then
// pending until an Action has started after it settled, that is after
// `quiet` without a further change to it (the engine leaves a file that
// changed more lately for a later Action).
//
// The watch comes back by itself: a folder removed, moved away or replaced
// is watched again, at its path, as soon as a folder is there (see
// Update); an inotify instance that could not be had is tried again too.
// Once watched (at the start too), what arrived while nothing watched is
// looked at at once, and again when it will have settled.
class ArrivalWatch {
 public:
  using Time = std::chrono::steady_clock::time_point;

  ArrivalWatch(std::string folder, std::string pattern, std::chrono::steady_clock::duration quiet);
  ArrivalWatch(const ArrivalWatch&) = delete;
  ArrivalWatch& operator=(const ArrivalWatch&) = delete;

  // The descriptor to wait on for reading; -1 while no inotify instance is
  // open.
  int descriptor() const { return inotify_.get(); }

  // Whether the folder is watched; when not, problem() says why.
  bool watching() const { return watch_ >= 0; }
  const std::string& problem() const { return problem_; }

  // The length of the last stretch without a watch, once the folder is
  // watched again after it (given once); nullopt otherwise.
  std::optional<std::chrono::steady_clock::duration> TakeRestored();

  // Takes in every change reported since the last call, without waiting,
  // then makes sure the folder now at the path is the one watched: a watch
  // lost, or of a folder that no longer stands at the path, is set up again.
  void Update(Time now);

  // When an Action is due for what arrived: when it arrived for a fresh
  // file, else when the earliest pending file will have settled; nullopt
  // when nothing is pending.
  std::optional<Time> DueAt() const;

  // An Action starts at `now`: it will see every fresh file and every file
  // settled by then, so they are no longer pending. Files still settling
  // stay pending.
  void ActionStarted(Time now);
  // An Action has ended: a pending file that is gone (posted, filed) is
  // forgotten; one still there starts another Action once it has settled.
  void ActionEnded();

 private:
  struct Pending {
    Time arrived;
    Time settled;
    bool fresh = true;  // no Action has started since it arrived
  };
  void Arm(Time now);
  void Disarm(Time now);
  void Take(std::uint32_t mask, const std::string& name, Time now);

  std::string folder_;
  std::string pattern_;
  std::chrono::steady_clock::duration quiet_;
  FileDescriptor inotify_;
  int watch_ = -1;
  dev_t device_ = 0;  // of the folder watched
  ino_t inode_ = 0;
  std::string problem_;
  std::optional<Time> lost_at_;  // when a watch was last lost, until it is back
  std::optional<std::chrono::steady_clock::duration> restored_;
  std::map<std::string, Pending> pending_;  // by name
};

}  // namespace quillport
