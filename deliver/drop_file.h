// One message file being written into the drop folder: under a temporary
// name the relay never takes until it is whole and on disk, then under a
// message name of its own.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/durable_write.h"
#include "common/file_descriptor.h"

namespace quillport {

// A message name that sorts in the order of arrival (the relay takes files
// in name order): UTC time to the microsecond and the process id, and for
// an `attempt` after the first, its number.
std::string MessageName(int attempt);

class DropFile {
 public:
  // Creates an empty temporary file in `folder`. Throws DeliveryFailure
  // (EX_TEMPFAIL) when it cannot: the folder is missing or not writable.
  explicit DropFile(std::string folder);
  DropFile(const DropFile&) = delete;
  DropFile& operator=(const DropFile&) = delete;

  // Appends bytes. Throws DeliveryFailure (EX_TEMPFAIL) when they cannot be
  // written (a full file system, an I/O error).
  void Write(std::string_view bytes);

  // Flushes the file to disk, gives it a message name no file in the folder
  // bears (a file there is never replaced) and flushes the folder. Returns
  // the name. The names tried are `name_for(0)`, `name_for(1)`, ... until
  // one is free. Throws DeliveryFailure (EX_TEMPFAIL) when any step fails;
  // the file is gone then.
  std::string Commit(const std::function<std::string(int attempt)>& name_for = MessageName);

  // Destruction without a Commit deletes the temporary file.

 private:
  std::string folder_;
  std::string temporary_;
  FileDescriptor file_;
  RemoveUnlessKept partial_;
};

}  // namespace quillport
