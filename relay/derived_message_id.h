// The Message-ID the relay gives a message that has none, so that the news
// server can tell when the same message is posted again (after a lost
// reply, a crash, a delete that failed, a copy or a move out of the drop
// folder and back).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "relay/failure.h"
#include "relay/file_system.h"
#include "relay/queued_file.h"

namespace quillport {

// "<qp.H@quillport.invalid>", where H is 32 hexadecimal digits of the
// SHA-256 of the file's whole content, as it stands in the file. The same
// content always yields the same id, whatever the file's name, inode or
// times; two files whose content differs in any byte never share one.
// `file` must be open; its read position is not moved.
//
// Reading stops at the first line longer than `longest_line` characters
// (lines end at CR or LF): such a message can never be posted, and the
// answer is then nothing, however large the file is. Fails (reach kFile)
// when the file cannot be read.
Result<std::optional<std::string>> DerivedMessageId(FileSystem& files, const QueuedFile& file,
                                                    std::size_t longest_line);

}  // namespace quillport
