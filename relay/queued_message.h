// One message of the drop folder as a value: where it is and which file it
// is, whatever name it bears later.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "common/path_join.h"

namespace quillport {

// Identifies one file, whatever name it bears now.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

struct QueuedMessage {
  std::string folder;             // the drop folder it was listed in
  std::string name;               // its name there, as listed
  std::uint64_t listed_size = 0;  // its size when listed, in bytes
  FileIdentity identity{};        // the file, once opened; zero before

  std::string Path() const { return JoinPath(folder, name); }
  friend bool operator==(const QueuedMessage&, const QueuedMessage&) = default;
};

}  // namespace quillport
