#include "relay/writer_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace quillport {
namespace {

constexpr std::uint32_t kWatched =
    IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

WriterWatch::WriterWatch(std::string folder)
    : folder_(std::move(folder)), inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  Start();
}

void WriterWatch::Start() {
  if (!inotify_.valid() || watch_ >= 0) return;
  watch_ = ::inotify_add_watch(inotify_.get(), folder_.c_str(), kWatched);
}

void WriterWatch::Stop() {
  if (watch_ >= 0) ::inotify_rm_watch(inotify_.get(), watch_);
  watch_ = -1;
  written_.clear();
  moving_.clear();
}

void WriterWatch::Update() {
  if (!inotify_.valid()) return;
  alignas(inotify_event) std::array<char, 64 * 1024> buffer;
  for (;;) {
    const ssize_t length = ::read(inotify_.get(), buffer.data(), buffer.size());
    if (length <= 0) break;  // nothing more for now (EAGAIN), or nothing readable
    for (ssize_t at = 0; at < length;) {
      inotify_event event;
      std::memcpy(&event, buffer.data() + at, sizeof event);
      const char* name = buffer.data() + at + sizeof event;
      Take(event.mask, event.cookie, event.len > 0 ? std::string(name) : std::string());
      at += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
  // A file renamed out of the folder leaves its first half behind.
  if (moving_.size() > 256) moving_.clear();
  Start();  // again, when the folder was missing or replaced
}

void WriterWatch::Take(std::uint32_t mask, std::uint32_t cookie, const std::string& name) {
  if ((mask & IN_Q_OVERFLOW) != 0) {
    written_.clear();
    return;
  }
  if ((mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
    Stop();
    return;
  }
  if ((mask & IN_MODIFY) != 0) written_.insert(name);
  if ((mask & (IN_CLOSE_WRITE | IN_DELETE)) != 0) written_.erase(name);
  if ((mask & IN_MOVED_FROM) != 0 && written_.erase(name) > 0) moving_[cookie] = name;
  if ((mask & IN_MOVED_TO) != 0) {
    written_.erase(name);
    if (moving_.erase(cookie) > 0) written_.insert(name);
  }
}

}  // namespace quillport
