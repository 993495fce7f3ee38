// The Message-ID the relay gives a message that has none, so that the news
// server can tell when the same file is posted again (after a crash, a
// delete that failed, a rename out of the drop folder and back).
#pragma once

#include <string>
#include <string_view>

#include "relay/queued_file.h"

namespace quillport {

// "<qp.H.I@quillport.invalid>": I is the file's inode number and H a hash of
// the kept header block, the file's size, its modification and birth times
// and its inode, both in hexadecimal. The same file (the same inode, times
// and content, under whatever name) always yields the same id; two files
// that exist at the same time never share one (their inodes differ), and a
// later file that reuses an inode differs in its birth time or content.
// `file` must be open; `header_block` is what is kept of its header.
std::string DerivedMessageId(const QueuedFile& file, std::string_view header_block);

}  // namespace quillport
