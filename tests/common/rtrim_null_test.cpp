#include "common/rtrim_null.h"

#include <gtest/gtest.h>

#include <string>

namespace quillport {
namespace {

TEST(RTrimNull, CutsAtTheFirstNulOrTrimsTrailingSpaces) {
  using namespace std::string_literals;
  EXPECT_EQ(RTrimNull("\0abc"s), "");
  EXPECT_EQ(RTrimNull("msg.cnm\0\0\0junk"s), "msg.cnm");
  EXPECT_EQ(RTrimNull("name with  \0 "s), "name with  ");  // spaces before the NUL stay
  EXPECT_EQ(RTrimNull("padded   "), "padded");
  EXPECT_EQ(RTrimNull("  lead"), "  lead");
  EXPECT_EQ(RTrimNull("    "), "");
  EXPECT_EQ(RTrimNull(""), "");
  EXPECT_EQ(RTrimNull(std::string(260, '\0')), "");
}

}  // namespace
}  // namespace quillport
