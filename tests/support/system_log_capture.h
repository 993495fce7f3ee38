// Stands a private socket in for the system log (/dev/log) while it lives, so a test can read back what
// syslog(3) sent: a mount namespace of this process's own with a scratch /dev (root or user namespaces).
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace quillport::testing {

class SystemLogCapture {
 public:
  SystemLogCapture();
  ~SystemLogCapture();
  SystemLogCapture(const SystemLogCapture&) = delete;
  SystemLogCapture& operator=(const SystemLogCapture&) = delete;

  // Empty while capturing; otherwise why it cannot.
  const std::string& unavailable() const { return unavailable_; }

  // Stops, gives /dev back, and returns each message received, whole ("<priority>time tag[pid]: text").
  std::vector<std::string> Stop();

 private:
  void Collect();

  std::string unavailable_;
  int socket_ = -1;
  bool dev_mounted_ = false;
  std::atomic<bool> stopping_{false};
  std::vector<std::string> messages_;
  std::thread reader_;
};

}  // namespace quillport::testing
