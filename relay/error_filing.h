// Filing a refused message in the error folder under a name no file there
// bears yet.
#pragma once

#include <string>
#include <string_view>

#include "relay/file_system.h"
#include "relay/queue_name_generator.h"
#include "relay/queued_message.h"

namespace quillport {

// The file name before its first ".", in lower case; the whole name in
// lower case when it has no ".".
std::string FileBaseName(std::string_view file_name);

// The file name from its first "." (included) to its end, in lower case;
// empty when it has no ".".
std::string FileExtension(std::string_view file_name);

// What became of a filing: where the file went, or why it stayed.
struct Filing {
  std::string target;   // the path the file was filed under; empty when not moved
  std::string problem;  // why it was not moved; empty when it was
  bool filed() const { return !target.empty(); }
};

// Moves `message` from its folder into `target_folder`, under its
// lower-cased name or, when any entry there bears that name (a file, a
// folder, a FIFO, a symbolic link, even a dangling one), under a lower-cased
// random name from `names` with the same extension. Never overwrites: the
// move fails when the target exists. Within one file system the file is
// renamed. Across file systems it is copied into a file without a name (or,
// where the file system has none, under a temporary name that is no message
// name), flushed to disk, then given its name without replacing anything,
// and only then is the source deleted; a failed copy leaves nothing behind,
// and a copy once named stays. Both folders are flushed to disk. A message
// whose very bytes a file in `target_folder` holds already (a filing before
// could not delete its source) is not filed again: its source is deleted,
// and the result names that file. A refused message so ends as one file in
// the error folder, whatever fails. Throws nothing: when either folder is
// missing, the source is no longer the file `message.identity` names (when
// it is filled in), the move fails, or every random name is taken, the file
// stays where it was and the result says why.
Filing MoveUnderFreeName(FileSystem& files, const QueuedMessage& message, std::string_view target_folder,
                         QueueNameGenerator& names);

}  // namespace quillport
