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
  const Case cases[] = {
      {0, kPattern4, "0"},
      {7, kPattern4, "7"},
      {999, kPattern4, "999"},
      {1000, kPattern4, "1 000"},
      {1234, kPattern4, "1 234"},
      {1440, kPattern4, "1 440"},
      {1234567, kPattern4, "1234 567"},  // digits beyond the pattern stay in front
      {1234567, kPattern7, "1 234 567"},
      {123456789, kPattern7, "123 456 789"},
      {1234567890, kPattern7, "1234 567 890"},
      {1234567, kPattern9, "1 234 567"},
      {1234567890, kPattern9, "1234 567 890"},
      {5, kPattern12, "5"},
      {1234567890123, kPattern12, "1234 567 890 123"},
      {4294967296, kPattern12, "4 294 967 296"},  // 4 GiB: 64-bit sizes print whole
      {std::numeric_limits<std::int64_t>::max(), kPattern12, "9223372036 854 775 807"},
      {-1, kPattern4, "-1"},
      {-1234567, kPattern9, "-1 234 567"},
      {std::numeric_limits<std::int64_t>::min(), kPattern4, "-9223372036854775 808"},
      {5, kPatternLogSize, "0000005"},
      {0, kPatternLogSize, "0000000"},
      {12345678, kPatternLogSize, "12345678"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatNumber(c.value, c.pattern), c.expected) << c.value << " with " << c.pattern;
  }
}

TEST(NumberFormat, RoundsRealsToTheNearestWholeNumber) {
  EXPECT_EQ(FormatNumber(1439.6, kPattern4), "1 440");
  EXPECT_EQ(FormatNumber(1439.4, kPattern4), "1 439");
  EXPECT_EQ(FormatNumber(0.5, kPattern4), "1");
  EXPECT_EQ(FormatNumber(-0.4, kPattern4), "0");
  EXPECT_THROW(FormatNumber(1e30, kPattern4), std::overflow_error);
}

TEST(NumberFormat, PlainNumberIsTheShortestDecimalText) {
  EXPECT_EQ(PlainNumber(3.0), "3");
  EXPECT_EQ(PlainNumber(0.0), "0");
  EXPECT_EQ(PlainNumber(-0.0), "0");
  EXPECT_EQ(PlainNumber(-1.0), "-1");
  EXPECT_EQ(PlainNumber(0.5), "0.5");
  EXPECT_EQ(PlainNumber(1.5 - 1), "0.5");
  EXPECT_EQ(PlainNumber(0.3 - 1), "-0.7");
  EXPECT_EQ(PlainNumber(std::int64_t{9007199254740993}), "9007199254740993");
}

TEST(NumberFormat, ReadsBackWhatTheFieldsShow) {
  EXPECT_EQ(ReadCount("1 234 567"), 1234567);
  EXPECT_EQ(ReadCount("1234 567"), 1234567);
  EXPECT_EQ(ReadCount("   12"), 12);
  EXPECT_EQ(ReadCount("0"), 0);
  EXPECT_EQ(ReadCount("-1 234"), -1234);
  EXPECT_EQ(ReadCount("9223372036 854 775 807"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(ReadCount("3.0"), 3);
  EXPECT_DOUBLE_EQ(ReadNumber("1.5"), 1.5);
  EXPECT_DOUBLE_EQ(ReadNumber("-0.5"), -0.5);
  EXPECT_DOUBLE_EQ(ReadNumber(" 2 "), 2);
  EXPECT_DOUBLE_EQ(ReadNumber(".5"), 0.5);

  // Round trip through every pattern.
  for (std::string_view pattern : {kPattern4, kPattern7, kPattern9, kPattern12}) {
    for (std::int64_t value : {0LL, 1LL, 999LL, 1000LL, 987654321LL, 2147483648LL}) {
      EXPECT_EQ(ReadCount(FormatNumber(value, pattern)), value) << pattern;
    }
  }
}

TEST(NumberFormat, TextsThatAreNotNumbersFail) {
  for (const char* text : {"", "   ", "abc", "1a", "1 2x", "--1", "-", ".", "inf", "nan",
                           "1e999", "+", "0x10"}) {
    EXPECT_THROW(ReadNumber(text), NotANumber) << '"' << text << '"';
    EXPECT_THROW(ReadCount(text), NotANumber) << '"' << text << '"';
  }
  EXPECT_THROW(ReadCount("1.5"), NotANumber);
  EXPECT_THROW(ReadCount("99999999999999999999"), NotANumber);
}

}  // namespace
}  // namespace quillport
