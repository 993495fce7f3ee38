// Which names in the drop folder are messages. The relay takes every file
// whose name matches the message pattern; whoever writes a message there
// writes it first under a temporary name that never matches, so the relay
// never sees a partial message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillport {

// True when `name` matches `pattern` without regard to case; "*" stands for
// any run of characters, "?" for any one character.
bool MatchesPattern(std::string_view name, std::string_view pattern);

// True when the relay takes a file of this name for a message (*.cnm,
// whatever the case).
bool IsMessageName(std::string_view name);

// The programs that write under temporary names: the relay when it files a
// message, quillport-deliver when it delivers one.
inline constexpr std::string_view kFilingOwner = "quillport";
inline constexpr std::string_view kDeliveryOwner = "quillport-deliver";

// A new, random temporary name of `owner` (a word such as kFilingOwner): a
// leading dot, the owner, "-", kTemporaryRandomLength random lower-case hex
// digits and ".part" at the end, so it is never a message name.
std::string TemporaryName(std::string_view owner);
inline constexpr std::size_t kTemporaryRandomLength = 16;

// True when `name` has exactly the form TemporaryName(owner) gives, in the
// same case: a name a user gave a file of their own is never taken for one.
bool IsTemporaryName(std::string_view name, std::string_view owner);

// The inode number in the name a folder watch (inotify) gives a file written
// in the folder before it had a name of its own (O_TMPFILE): "#" and the
// number. 0 for any other name.
std::uint64_t UnnamedFileInode(std::string_view name);

}  // namespace quillport
