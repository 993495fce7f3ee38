// The steps of a delivery that decide whether a message lasts on disk:
// flushing the file, flushing the drop folder, taking a message back. They
// go through this interface so that a test can make one fail, or see what
// was flushed and what a crash would then keep.
#pragma once

#include <string>

namespace quillport {

class DeliveryDisk {
 public:
  DeliveryDisk() = default;
  DeliveryDisk(const DeliveryDisk&) = delete;
  DeliveryDisk& operator=(const DeliveryDisk&) = delete;
  virtual ~DeliveryDisk() = default;

  // Each returns 0, or the errno value of its failure.
  // Flushes the open file's content to disk (fsync).
  virtual int Sync(int file) = 0;
  // Flushes the entries of `folder` to disk, so a name made in it lasts.
  virtual int SyncFolder(const std::string& folder) = 0;
  // Deletes the entry `path`.
  virtual int Delete(const std::string& path) = 0;
};

// The operating system's disk. It holds no state.
DeliveryDisk& SystemDeliveryDisk();

}  // namespace quillport
