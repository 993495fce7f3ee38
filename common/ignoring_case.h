// Text comparisons that do not regard the case of ASCII letters, as header
// names and file patterns are compared.
#pragma once

#include <cctype>
#include <string_view>

namespace quillport {

inline bool SameIgnoringCase(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// True when `text` begins with `prefix`, whatever the case of either.
inline bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (!SameIgnoringCase(text[i], prefix[i])) return false;
  }
  return true;
}

}  // namespace quillport
