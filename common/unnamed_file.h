// A new file written in a folder before it has a name there, so that an
// interrupted writer (killed, out of space, over its file-size limit) never
// leaves a partial file behind, and a finished one appears whole under its
// name or not at all.
#pragma once

#include <string>

#include "common/file_descriptor.h"

namespace quillport {

class UnnamedFile {
 public:
  // Creates the file in `folder`: without any name (O_TMPFILE) where the
  // file system allows it, else under a temporary name made from
  // TemporaryName(owner), which the relay never takes for a message.
  // valid() is false, with error() the errno value, when it cannot be made.
  UnnamedFile(const std::string& folder, const std::string& owner);
  UnnamedFile(const UnnamedFile&) = delete;
  UnnamedFile& operator=(const UnnamedFile&) = delete;
  // A file never named is gone with its descriptor; a temporary name left
  // is removed.
  ~UnnamedFile();

  bool valid() const { return file_.valid(); }
  int error() const { return error_; }
  int descriptor() const { return file_.get(); }

  // Gives the file the name `path` (in the same folder), unless an entry
  // bears it already: a file there is never replaced. Returns 0, or the
  // errno value (EEXIST when the name is taken). The descriptor stays open.
  int Name(const std::string& path);

  // Closes the descriptor now; false when the close reports a failure (a
  // lost write).
  bool Close() { return file_.Close(); }

 private:
  std::string temporary_;  // the fallback's temporary name; empty without one
  FileDescriptor file_;
  int error_;
};

}  // namespace quillport
