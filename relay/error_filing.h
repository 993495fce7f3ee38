// Filing a refused message in the error folder under a name no file there
// bears yet.
#pragma once

#include <string>
#include <string_view>

#include "relay/queue_name_generator.h"

namespace quillport {

// The file name before its first ".", in lower case; the whole name in
// lower case when it has no ".".
std::string FileBaseName(std::string_view file_name);

// The file name from its first "." (included) to its end, in lower case;
// empty when it has no ".".
std::string FileExtension(std::string_view file_name);

// Moves `file_name` from `source_folder` into `target_folder`, under its
// lower-cased name or, when a file there bears that name, under a lower-cased
// random name from `names` with the same extension. Never overwrites: the
// move fails when the target exists. Reports nothing and throws nothing:
// when either folder is missing, the move fails, or every random name is
// taken, the file simply stays where it was. Returns the path the file was
// filed under, or an empty text when it was not moved (for tests and logs).
std::string MySafeRename(std::string_view source_folder, std::string_view target_folder,
                         std::string_view file_name, QueueNameGenerator& names);

// Moves `from` to `to` unless `to` exists. Returns false when it did not.
bool MoveWithoutReplacing(const std::string& from, const std::string& to);

}  // namespace quillport
