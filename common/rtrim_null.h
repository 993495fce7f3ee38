// Cuts a fixed-length name, as platform calls return them, down to its text.
#pragma once

#include <string>
#include <string_view>

namespace quillport {

// Returns the text before the first NUL character; empty when the NUL is the
// first character. Without a NUL, returns the text with its trailing spaces
// removed.
std::string RTrimNull(std::string_view text);

}  // namespace quillport
