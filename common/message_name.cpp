#include "common/message_name.h"

#include <random>

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

namespace {
constexpr std::string_view kTemporarySuffix = ".part";
constexpr std::string_view kHexDigits = "0123456789abcdef";
}  // namespace

std::string TemporaryName(std::string_view owner) {
  std::random_device source;
  std::string name = std::string(".").append(owner).append("-");
  for (std::size_t i = 0; i < kTemporaryRandomLength; ++i) name += kHexDigits[source() % kHexDigits.size()];
  return name.append(kTemporarySuffix);
}

bool IsTemporaryName(std::string_view name, std::string_view owner) {
  const std::string prefix = std::string(".").append(owner).append("-");
  if (name.size() != prefix.size() + kTemporaryRandomLength + kTemporarySuffix.size()) return false;
  if (!name.starts_with(prefix) || !name.ends_with(kTemporarySuffix)) return false;
  const std::string_view random = name.substr(prefix.size(), kTemporaryRandomLength);
  return random.find_first_not_of(kHexDigits) == std::string_view::npos;
}

std::uint64_t UnnamedFileInode(std::string_view name) {
  if (name.size() < 2 || name[0] != '#') return 0;
  std::uint64_t inode = 0;
  for (const char digit : name.substr(1)) {
    if (digit < '0' || digit > '9') return 0;
    inode = inode * 10 + static_cast<std::uint64_t>(digit - '0');
  }
  return inode;
}

}  // namespace quillport
