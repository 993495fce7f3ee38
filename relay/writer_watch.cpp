#include "relay/writer_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "common/path_join.h"

namespace quillport {
namespace {

constexpr std::uint32_t kWatched = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// How often a folder that cannot be watched is tried again.
constexpr int kRetryMilliseconds = 1000;

// File times may be whole seconds, and lag the change a little: a file
// modified this long before a loss began counts as modified during it.
constexpr std::chrono::seconds kTimeMargin{2};

using SystemClock = std::chrono::system_clock;

std::string Failed(const char* call, int error) {
  std::string text = std::string(call) + ": " + ErrorText(error);
  if (error == EMFILE && std::strcmp(call, "inotify_init1") == 0) {
    text += " (the user's inotify instances, fs.inotify.max_user_instances, are used up)";
  } else if (error == ENOSPC) {
    text += " (the user's inotify watches, fs.inotify.max_user_watches, are used up)";
  }
  return text;
}

// The entry's status; when it cannot be examined, one modified now (as if
// just written) and of no known file.
FileStatus StatusOf(FileSystem& files, const std::string& path) {
  FileStatus status;
  if (files.Examine(path, status, FileSystem::Follow::kNo) != 0) {
    status = {};
    status.modified = SystemClock::now();
  }
  return status;
}

}  // namespace

WriterWatch::WriterWatch(std::string folder, std::chrono::milliseconds long_quiet_period, FileSystem& files)
    : files_(files),
      folder_(std::move(folder)),
      wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      drained_at_(SystemClock::now()),
      ledger_(long_quiet_period) {
  {
    std::lock_guard lock(mutex_);
    Start();
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error& failure) {
    // Changes are still taken in at every Judge, as long as the queue holds them.
    std::lock_guard lock(mutex_);
    thread_problem_ = std::string("cannot start its thread: ") + failure.what();
  }
}

WriterWatch::~WriterWatch() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ::eventfd_write(wake_.get(), 1);  // without an eventfd, the thread sees `stopping_` within a second
  thread_.join();
}

void WriterWatch::Run() {
  for (;;) {
    std::array<pollfd, 2> wanted{pollfd{wake_.get(), POLLIN, 0}, pollfd{-1, POLLIN, 0}};
    int timeout = -1;
    try {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      if (watch_ < 0) Start();
      Drain();
      if (inotify_) wanted[1].fd = inotify_->get();
      if (watch_ < 0 || !wake_.valid()) timeout = kRetryMilliseconds;
    } catch (const std::exception& failure) {  // out of memory: Judge goes on taking changes in
      std::lock_guard lock(mutex_);
      thread_problem_ = std::string("its thread stopped: ") + failure.what();
      return;
    }
    ::poll(wanted.data(), wanted.size(), timeout);
    eventfd_t ignored = 0;
    if ((wanted[0].revents & POLLIN) != 0) ::eventfd_read(wake_.get(), &ignored);
  }
}

std::string WriterWatch::Problem() {
  std::lock_guard lock(mutex_);
  if (watch_ < 0) Start();
  Drain();
  return problem_.empty() ? thread_problem_ : problem_;
}

WriterVerdict WriterWatch::Judge(const std::string& name) {
  std::lock_guard lock(mutex_);
  Drain();
  if (watch_ < 0) return WriterVerdict::kUnvouched;
  const FileStatus status = StatusOf(files_, JoinPath(folder_, name));
  return ledger_.Judge(name, status.modified, SystemClock::now(), status.identity.inode);
}

void WriterWatch::Start() {
  if (!inotify_) {
    FileDescriptor opened(-1);
    if (const int error = files_.StartWatcher(opened); error != 0) return TurnedOff(Failed("inotify_init1", error));
    inotify_.emplace(std::move(opened));
  }
  if (const int error = files_.AddWatch(inotify_->get(), folder_, kWatched, watch_); error != 0) {
    return TurnedOff(Failed("inotify_add_watch", error));
  }
  problem_.clear();
  // Whatever changed while nothing watched may have been missed.
  if (off_since_) ledger_.Lost(*off_since_ - kTimeMargin, SystemClock::now());
  off_since_.reset();
}

void WriterWatch::TurnedOff(const std::string& problem) {
  watch_ = -1;
  if (!problem.empty()) problem_ = problem;
  if (!off_since_) off_since_ = drained_at_;
}

void WriterWatch::Drain() {
  if (!inotify_) return;
  alignas(inotify_event) std::array<char, 64 * 1024> buffer;
  for (;;) {
    const auto before = SystemClock::now();
    std::size_t length = 0;
    const int error = files_.Read(inotify_->get(), buffer, length);
    if (error != 0 || length == 0) {
      if (error == EAGAIN) drained_at_ = before;  // all taken in
      return;
    }
    for (std::size_t at = 0; at < length;) {
      inotify_event event;
      std::memcpy(&event, buffer.data() + at, sizeof event);
      const char* name = buffer.data() + at + sizeof event;
      Take(event.wd, event.mask, event.cookie, event.len > 0 ? std::string(name) : std::string());
      at += sizeof event + event.len;
    }
  }
}

void WriterWatch::Take(int watch, std::uint32_t mask, std::uint32_t cookie, const std::string& name) {
  if ((mask & IN_Q_OVERFLOW) != 0) {
    // The kernel dropped the changes that came after its queue filled up,
    // which was after the last time it was found empty.
    ledger_.Lost(drained_at_ - kTimeMargin, SystemClock::now());
    return;
  }
  if (watch != watch_ || watch_ < 0) return;  // of a watch given up (the folder was replaced)
  if ((mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
    files_.RemoveWatch(inotify_->get(), watch_);
    return TurnedOff({});  // tried again at once by the thread
  }
  ledger_.Take(mask, cookie, name);
}

}  // namespace quillport
