// Number texts as the status board and the log show them.
//
// The grouped patterns print a whole number with its digits in groups of
// three separated by one space: "0" marks a digit that is always printed,
// "#" one printed only when the number has a digit there. Digits beyond the
// pattern's width stay together in front of its first group, so 1234567
// with "# ##0" prints as "1234 567". Leading blanks of empty groups are not
// printed. "0000000" prints at least seven digits with leading zeros.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillport {

// The patterns in use.
inline constexpr std::string_view kPattern4 = "# ##0";
inline constexpr std::string_view kPattern7 = "# ### ##0";
inline constexpr std::string_view kPattern9 = "### ### ##0";
inline constexpr std::string_view kPattern12 = "### ### ### ##0";
inline constexpr std::string_view kPatternLogSize = "0000000";

// Raised when a text does not read as a number.
class NotANumber : public std::runtime_error {
 public:
  explicit NotANumber(std::string_view text);
};

// Prints `value` with one of the patterns above. Throws std::invalid_argument
// for a pattern made of anything but "#", "0" and blanks.
std::string FormatNumber(std::int64_t value, std::string_view pattern);

// Prints `value` rounded to the nearest whole number (halves away from zero)
// with `pattern`. Throws std::overflow_error when it does not fit 64 bits.
std::string FormatNumber(double value, std::string_view pattern);

// The shortest decimal text that reads back as `value`: 3, 0, -1, 0.5.
std::string PlainNumber(double value);
std::string PlainNumber(std::int64_t value);

// Reads the number a field shows. Blanks anywhere (group separators and
// leading or trailing blanks) are not part of the number. Accepts an
// optional sign, digits, a "." fraction and an exponent. Throws NotANumber
// for an empty text, a text that is not a number, or a non-finite value.
double ReadNumber(std::string_view text);

// True when ReadNumber takes `text`.
inline bool ReadsAsNumber(std::string_view text) {
  try {
    ReadNumber(text);
    return true;
  } catch (const NotANumber&) {
    return false;
  }
}

}  // namespace quillport
