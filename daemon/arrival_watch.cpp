#include "daemon/arrival_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

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

// Stands for the files whose changes the kernel dropped (its queue overflowed).
const std::string kUnknownFiles;

}  // namespace

ArrivalWatch::ArrivalWatch(std::string folder, std::string pattern, Clock::duration quiet)
    : folder_(std::move(folder)),
      pattern_(std::move(pattern)),
      quiet_(quiet + kMargin),
      inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (!inotify_.valid()) problem_ = std::string("inotify is unavailable: ") + std::strerror(errno);
  Start();
}

void ArrivalWatch::Start() {
  if (!inotify_.valid() || watch_ >= 0) return;
  watch_ = ::inotify_add_watch(inotify_.get(), folder_.c_str(), kWatched);
  problem_ = watch_ >= 0 ? std::string() : "the folder " + folder_ + " cannot be watched: " + std::strerror(errno);
}

void ArrivalWatch::Update(Clock::time_point now) {
  if (!inotify_.valid()) return;
  alignas(inotify_event) std::array<char, 64 * 1024> buffer;
  for (;;) {
    const ssize_t length = ::read(inotify_.get(), buffer.data(), buffer.size());
    if (length <= 0) break;  // nothing more for now (EAGAIN)
    for (ssize_t at = 0; at < length;) {
      inotify_event event;
      std::memcpy(&event, buffer.data() + at, sizeof event);
      const char* name = buffer.data() + at + sizeof event;
      Take(event.mask, event.len > 0 ? std::string(name) : std::string(), now);
      at += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
  Start();  // again, when the folder was missing or replaced
}

void ArrivalWatch::Take(std::uint32_t mask, const std::string& name, Clock::time_point now) {
  if ((mask & IN_Q_OVERFLOW) != 0) {
    pending_[kUnknownFiles] = now + quiet_;
  } else if ((mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
    if (watch_ >= 0) ::inotify_rm_watch(inotify_.get(), watch_);
    watch_ = -1;
  } else if ((mask & IN_ISDIR) == 0 && MatchesPattern(name, pattern_)) {
    pending_[name] = now + quiet_;
  }
}

std::optional<ArrivalWatch::Clock::time_point> ArrivalWatch::SettledAt() const {
  if (pending_.empty()) return std::nullopt;
  return std::ranges::min_element(pending_, {}, [](const auto& entry) { return entry.second; })->second;
}

void ArrivalWatch::ActionStarted(Clock::time_point now) {
  std::erase_if(pending_, [now](const auto& entry) { return entry.second <= now; });
}

void ArrivalWatch::ActionEnded() {
  // (The stand-in for unknown files names the folder itself, so it stays.)
  std::erase_if(pending_, [this](const auto& entry) {
    struct stat status {};
    return ::lstat(JoinPath(folder_, entry.first).c_str(), &status) != 0;
  });
}

}  // namespace quillport
