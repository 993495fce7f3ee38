// One message file being written into the drop folder: without a name (or,
// where the file system cannot do that, under a temporary name the relay
// never takes) until it is whole and on disk, then under a message name of
// its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/unnamed_file.h"
#include "deliver/delivery_disk.h"

namespace quillport {

// A message name that sorts in the order of arrival (the relay takes files
// in name order): UTC time to the microsecond and the process id, and for
// an `attempt` after the first, its number.
std::string MessageName(int attempt);

class DropFile {
 public:
  // Creates an empty file in `folder`: an unnamed one (O_TMPFILE), which
  // nothing can leave behind, not even a SIGKILL; where the file system has
  // no unnamed files, one under a temporary name. Throws DeliveryFailure
  // (EX_TEMPFAIL) when it cannot: the folder is missing or not writable.
  // Flushes and takes back through `disk`.
  explicit DropFile(std::string folder, DeliveryDisk& disk = SystemDeliveryDisk());
  DropFile(const DropFile&) = delete;
  DropFile& operator=(const DropFile&) = delete;

  // Appends bytes. Throws DeliveryFailure (EX_TEMPFAIL) when they cannot be
  // written (a full file system, a file-size limit, an I/O error).
  void Write(std::string_view bytes);

  // Writes bytes over those written at `offset`. Throws as Write does.
  void Overwrite(std::uint64_t offset, std::string_view bytes);

  // Makes the file readable by the folder's group whatever the umask,
  // flushes it to disk, gives it a message name no file in the folder bears
  // (a file there is never replaced) and flushes the folder. Returns the
  // name. The names tried are `name_for(0)`, `name_for(1)`, ... until one
  // is free. Throws DeliveryFailure (EX_TEMPFAIL) when any step fails; the
  // file is gone then. Once named, the file is whole on disk and the relay
  // may take it at once: when the folder cannot be flushed and the name
  // cannot be taken back either, the message is there for the relay, and
  // the name is returned (a failure would have the mail system deliver it
  // again, a second copy).
  std::string Commit(const std::function<std::string(int attempt)>& name_for = MessageName);

  // Destruction without a Commit deletes the file.

 private:
  std::string folder_;
  DeliveryDisk& disk_;
  UnnamedFile file_;
};

}  // namespace quillport
