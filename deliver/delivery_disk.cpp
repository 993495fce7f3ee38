#include "deliver/delivery_disk.h"

#include <unistd.h>

#include <cerrno>

#include "common/durable_write.h"

namespace quillport {
namespace {

class SystemDisk : public DeliveryDisk {
 public:
  int Sync(int file) override { return ::fsync(file) == 0 ? 0 : errno; }
  int SyncFolder(const std::string& folder) override { return quillport::SyncFolder(folder) ? 0 : errno; }
  int Delete(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? 0 : errno; }
};

}  // namespace

DeliveryDisk& SystemDeliveryDisk() {
  static SystemDisk disk;  // holds no state
  return disk;
}

}  // namespace quillport
