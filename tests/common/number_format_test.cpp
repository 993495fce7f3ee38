#include "common/number_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace quillport {
namespace {

TEST(NumberFormat, PrintsEachPatternAsTheBoardShowsIt) {
  struct Case {
    std::int64_t value;
    std::string_view pattern;
    const char* expected;
  };
  for (const Case& c :
       std::initializer_list<Case>{{999, kPattern4, "999"},
                                   {1000, kPattern4, "1 000"},
                                   {1234567, kPattern4, "1234 567"},  // digits beyond the pattern stay in front
                                   {std::numeric_limits<std::int64_t>::max(), kPattern12, "9223372036 854 775 807"},
                                   {-1234567, kPattern9, "-1 234 567"},
                                   {std::numeric_limits<std::int64_t>::min(), kPattern4, "-9223372036854775 808"},
                                   {5, kPatternLogSize, "0000005"},
                                   {12345678, kPatternLogSize, "12345678"}}) {
    EXPECT_EQ(FormatNumber(c.value, c.pattern), c.expected) << c.value << " with " << c.pattern;
  }
  for (const auto& [real, rounded] : {std::pair{1439.6, "1 440"}, {1439.4, "1 439"}, {0.5, "1"}, {-0.4, "0"}}) {
    EXPECT_EQ(FormatNumber(real, kPattern4), rounded);  // to the nearest whole number
  }
  EXPECT_THROW(FormatNumber(1e30, kPattern4), std::overflow_error);
}

TEST(NumberFormat, PlainNumberIsTheShortestDecimalTextAndReadsBackAndOtherTextsFail) {
  for (const auto& [value, text] : std::initializer_list<std::pair<double, const char*>>{
           {3.0, "3"}, {-0.0, "0"}, {-1.0, "-1"}, {1.5 - 1, "0.5"}, {0.3 - 1, "-0.7"}}) {
    EXPECT_EQ(PlainNumber(value), text);
    EXPECT_DOUBLE_EQ(ReadNumber(text), value);
  }
  EXPECT_EQ(PlainNumber(std::int64_t{9007199254740993}), "9007199254740993");
  EXPECT_DOUBLE_EQ(ReadNumber(" 1 440 "), 1440);
  EXPECT_DOUBLE_EQ(ReadNumber(".5"), 0.5);
  for (const char* text : {"", "   ", "abc", "1a", "1 2x", "--1", "-", ".", "inf", "nan", "1e999", "+", "0x10"}) {
    EXPECT_THROW(ReadNumber(text), NotANumber) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace quillport
