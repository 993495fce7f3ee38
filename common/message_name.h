// Which names in the drop folder are messages. The relay takes every file
// whose name matches the message pattern; whoever writes a message there
// writes it first under a temporary name that never matches, so the relay
// never sees a partial message.
#pragma once

#include <string>
#include <string_view>

namespace quillport {

// True when `name` matches `pattern` without regard to case; "*" stands for
// any run of characters, "?" for any one character.
bool MatchesPattern(std::string_view name, std::string_view pattern);

// True when the relay takes a file of this name for a message (*.cnm,
// whatever the case).
bool IsMessageName(std::string_view name);

// A template for mkstemps(3) naming a temporary file of `owner` (a word such
// as "quillport"): a leading dot and ".part" at the end, so it is never a
// message name. Its last kTemporarySuffixLength characters follow the
// "XXXXXX" that mkstemps replaces.
std::string TemporaryNameTemplate(std::string_view owner);
inline constexpr int kTemporarySuffixLength = 5;

}  // namespace quillport
