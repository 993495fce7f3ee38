#include "common/number_format.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

namespace quillport {

NotANumber::NotANumber(std::string_view text)
    : std::runtime_error(std::string("\"").append(text) + "\" is not a number") {}

namespace {

// Digit-group widths of a pattern, from left to right: "# ##0" -> {1, 3}.
std::vector<std::size_t> GroupWidths(std::string_view pattern) {
  std::vector<std::size_t> widths;
  std::size_t current = 0;
  for (char c : pattern) {
    if (c == '#' || c == '0') {
      ++current;
    } else if (c == ' ') {
      if (current > 0) widths.push_back(current);
      current = 0;
    } else {
      throw std::invalid_argument("bad number pattern: " + std::string(pattern));
    }
  }
  if (current > 0) widths.push_back(current);
  if (widths.empty()) throw std::invalid_argument("bad number pattern: empty");
  return widths;
}

// Count of "0" digits in a pattern: the least number of digits printed.
std::size_t MinimumDigits(std::string_view pattern) {
  std::size_t zeros = 0;
  for (char c : pattern) zeros += (c == '0');
  return zeros;
}

std::string StripBlanks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

}  // namespace

std::string FormatNumber(std::int64_t value, std::string_view pattern) {
  const std::vector<std::size_t> widths = GroupWidths(pattern);
  // Work on the magnitude as unsigned so the most negative value prints too.
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  const std::size_t minimum = MinimumDigits(pattern);
  if (digits.size() < minimum) digits.insert(0, minimum - digits.size(), '0');

  // Cut groups from the right, as the pattern marks them; whatever is left
  // stays in front of the first group.
  std::vector<std::string> groups;
  std::size_t end = digits.size();
  for (std::size_t g = widths.size(); g-- > 0 && end > 0;) {
    const std::size_t width = (g == 0) ? end : std::min(widths[g], end);
    groups.insert(groups.begin(), digits.substr(end - width, width));
    end -= width;
  }
  if (end > 0) groups.front().insert(0, digits.substr(0, end));

  std::string out = value < 0 ? "-" : "";
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (i > 0) out.push_back(' ');
    out += groups[i];
  }
  return out;
}

std::string FormatNumber(double value, std::string_view pattern) {
  const double rounded = std::round(value);
  if (!std::isfinite(rounded) || rounded >= 9.2233720368547758e18 || rounded < -9.2233720368547758e18) {
    throw std::overflow_error("number too large to print: " + PlainNumber(value));
  }
  return FormatNumber(static_cast<std::int64_t>(rounded), pattern);
}

std::string PlainNumber(double value) {
  if (value == 0) return "0";  // never "-0"
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string PlainNumber(std::int64_t value) { return std::to_string(value); }

double ReadNumber(std::string_view text) {
  const std::string compact = StripBlanks(text);
  std::string_view digits = compact;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  // from_chars would also take "inf" and "nan"; a number starts with a digit,
  // a sign or a point.
  const std::string_view unsigned_part = (!digits.empty() && digits.front() == '-') ? digits.substr(1) : digits;
  if (unsigned_part.empty() ||
      !(std::isdigit(static_cast<unsigned char>(unsigned_part.front())) || unsigned_part.front() == '.')) {
    throw NotANumber(text);
  }

  double value = 0;
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (result.ec != std::errc() || result.ptr != digits.data() + digits.size() || !std::isfinite(value)) {
    throw NotANumber(text);
  }
  return value;
}

}  // namespace quillport
