// The failing file system that forgets, at a simulated crash, what was never flushed (after leveldb's fault
// injection test): Crash() puts the watched folders back to their names at their last SyncFolder, every file
// holding what it held at its last Sync (nothing, if it never had one). For the relay and quillport-deliver.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "deliver/delivery_disk.h"
#include "tests/testing/failing_file_system.h"

namespace quillport::testing {

class CrashFileSystem : public FailingFileSystem, public DeliveryDisk {
 public:
  // Watches `folder`: what it holds now counts as on disk.
  void Watch(const std::string& folder);
  // Every watched folder as a crash would leave it.
  void Crash();

  int Sync(int file) override;
  int SyncFolder(const std::string& folder) override;
  int Delete(const std::string& path) override { return FailingFileSystem::Delete(path); }

 private:
  void KeepContent(int file, ino_t inode);
  std::map<std::string, std::map<std::string, ino_t>> names_;  // durable names by watched folder
  std::map<ino_t, std::string> contents_;                      // durable content by inode
};

}  // namespace quillport::testing
