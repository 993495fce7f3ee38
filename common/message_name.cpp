#include "common/message_name.h"

#include "common/ignoring_case.h"
#include "common/settings.h"

namespace quillport {

bool MatchesPattern(std::string_view name, std::string_view pattern) {
  // Iterative wildcard match with backtracking to the last "*".
  std::size_t n = 0, p = 0;
  std::size_t star = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && SameIgnoringCase(pattern[p], name[n])))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_n = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsMessageName(std::string_view name) { return MatchesPattern(name, settings::kMessagePattern); }

std::string TemporaryNameTemplate(std::string_view owner) { return std::string(".").append(owner) + "-XXXXXX.part"; }

}  // namespace quillport
