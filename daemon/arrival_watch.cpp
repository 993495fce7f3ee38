#include "daemon/arrival_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/message_name.h"
#include "common/path_join.h"

namespace quillport {
namespace {

// A new name (created, linked, renamed in) or the end of a write; the
// folder itself removed or moved ends the watch.
constexpr std::uint32_t kWatched =
    IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Time stamps of the file system run a little behind the clock the events
// are read by; this margin keeps the engine from finding a file a hair
// short of settled.
constexpr std::chrono::milliseconds kMargin{100};

// Stands for files nobody named: those whose changes the kernel dropped
// (its queue overflowed), those that came while the folder was not
// watched, and a file written without a name that was closed (it may have
// been named already). Such an entry names the folder itself, so it stays
// until an Action has started after it settled.
const std::string kUnknownFiles;

}  // namespace

ArrivalWatch::ArrivalWatch(std::string folder, std::string pattern, std::chrono::steady_clock::duration quiet)
    : folder_(std::move(folder)), pattern_(std::move(pattern)), quiet_(quiet + kMargin), inotify_(-1) {
  Arm(std::chrono::steady_clock::now());
}

void ArrivalWatch::Arm(Time now) {
  if (!inotify_.valid()) {
    inotify_ = FileDescriptor(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!inotify_.valid()) {
      problem_ = std::string("inotify is unavailable: ") + std::strerror(errno);
      return;
    }
  }
  struct stat status {};
  watch_ = ::inotify_add_watch(inotify_.get(), folder_.c_str(), kWatched);
  if (watch_ < 0 || ::stat(folder_.c_str(), &status) != 0) {
    problem_ = "the folder " + folder_ + " cannot be watched: " + std::strerror(errno);
    Disarm(now);
    return;
  }
  device_ = status.st_dev;
  inode_ = status.st_ino;
  problem_.clear();
  if (lost_at_) restored_ = now - *lost_at_;
  lost_at_.reset();
  // Whatever came while nothing watched is looked at at once, and again
  // once it will have settled.
  pending_[kUnknownFiles] = {now, now + quiet_, true};
}

void ArrivalWatch::Disarm(Time now) {
  if (watch_ >= 0) {
    ::inotify_rm_watch(inotify_.get(), watch_);
    if (!lost_at_) lost_at_ = now;
  }
  watch_ = -1;
}

std::optional<std::chrono::steady_clock::duration> ArrivalWatch::TakeRestored() {
  return std::exchange(restored_, std::nullopt);
}

void ArrivalWatch::Update(Time now) {
  if (inotify_.valid()) {
    alignas(inotify_event) std::array<char, 64 * 1024> buffer;
    for (;;) {
      const ssize_t length = ::read(inotify_.get(), buffer.data(), buffer.size());
      if (length <= 0) break;  // nothing more for now (EAGAIN)
      for (ssize_t at = 0; at < length;) {
        inotify_event event;
        std::memcpy(&event, buffer.data() + at, sizeof event);
        const char* name = buffer.data() + at + sizeof event;
        if (event.wd == watch_ || (event.mask & IN_Q_OVERFLOW) != 0) {  // not of a watch given up
          Take(event.mask, event.len > 0 ? std::string(name) : std::string(), now);
        }
        at += static_cast<ssize_t>(sizeof event + event.len);
      }
    }
  }
  // A folder put in the watched one's place (renamed onto its path, or a
  // link to another) sends the watched one no event: compare.
  struct stat status {};
  if (watch_ >= 0 && (::stat(folder_.c_str(), &status) != 0 || status.st_dev != device_ || status.st_ino != inode_)) {
    Disarm(now);
  }
  if (watch_ < 0) Arm(now);
}

void ArrivalWatch::Take(std::uint32_t mask, const std::string& name, Time now) {
  if ((mask & IN_Q_OVERFLOW) != 0) {
    pending_[kUnknownFiles] = {now, now + quiet_, true};
  } else if ((mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
    Disarm(now);
  } else if ((mask & IN_ISDIR) != 0) {
    return;
  } else if (UnnamedFileInode(name) != 0 && (mask & IN_CLOSE_WRITE) != 0) {
    pending_[kUnknownFiles] = {now, now, true};
  } else if (MatchesPattern(name, pattern_)) {
    pending_[name] = {now, now + quiet_, true};
  }
}

std::optional<ArrivalWatch::Time> ArrivalWatch::DueAt() const {
  std::optional<Time> due;
  for (const auto& [name, pending] : pending_) {
    const Time at = pending.fresh ? pending.arrived : pending.settled;
    if (!due || at < *due) due = at;
  }
  return due;
}

void ArrivalWatch::ActionStarted(Time now) {
  std::erase_if(pending_, [now](const auto& entry) { return entry.second.settled <= now; });
  for (auto& [name, pending] : pending_) pending.fresh = false;
}

void ArrivalWatch::ActionEnded() {
  std::erase_if(pending_, [this](const auto& entry) {
    struct stat status {};
    return !entry.first.empty() && ::lstat(JoinPath(folder_, entry.first).c_str(), &status) != 0;
  });
}

}  // namespace quillport
