#include "tests/testing/system_log_capture.h"

#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace quillport::testing {
namespace {

std::string Failed(const char* step) { return std::string(step) + ": " + std::strerror(errno); }

// A mount namespace of this process's own (without root, inside a user namespace that maps us to ourselves),
// with a scratch /dev; empty when done, else why not.
std::string EnterPrivateMounts() {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (::unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) return Failed("unshare");
  if (uid != 0) {
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << uid << ' ' << uid << " 1";
    std::ofstream("/proc/self/gid_map") << gid << ' ' << gid << " 1";
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return Failed("private mounts");
  if (::mount("quillport-dev", "/dev", "tmpfs", 0, "mode=0755") != 0) return Failed("scratch /dev");
  return "";
}

}  // namespace

SystemLogCapture::SystemLogCapture() {
  unavailable_ = EnterPrivateMounts();
  if (!unavailable_.empty()) return;
  dev_mounted_ = true;
  socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, "/dev/log");
  if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    unavailable_ = Failed("socket at /dev/log");
    return;
  }
  ::chmod("/dev/log", 0666);
  // The kernel queues only a few datagrams; a sender would block on a full queue, so read as they come.
  reader_ = std::thread([this] { Collect(); });
}

SystemLogCapture::~SystemLogCapture() { Stop(); }

void SystemLogCapture::Collect() {
  char buffer[8192];
  // Until stopped with nothing more waiting.
  for (pollfd ready{socket_, POLLIN, 0}; ::poll(&ready, 1, 20) > 0 || !stopping_;) {
    const ssize_t size = ::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (size > 0) messages_.emplace_back(buffer, static_cast<std::size_t>(size));
  }
}

std::vector<std::string> SystemLogCapture::Stop() {
  stopping_ = true;
  if (reader_.joinable()) reader_.join();
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  if (dev_mounted_) ::umount2("/dev", MNT_DETACH);
  dev_mounted_ = false;
  return messages_;
}

}  // namespace quillport::testing
