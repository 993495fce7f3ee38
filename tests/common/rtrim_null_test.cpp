#include "common/rtrim_null.h"

#include <gtest/gtest.h>

#include <string>

namespace quillport {
namespace {

using namespace std::string_literals;

TEST(RTrimNull, CutsAtTheFirstNulOrTrimsTrailingSpaces) {
  for (const auto& [text, kept] : std::initializer_list<std::pair<std::string, std::string>>{
           {"\0abc"s, ""},
           {"msg.cnm\0\0\0junk"s, "msg.cnm"},
           {"name with  \0 "s, "name with  "},  // spaces before NUL
           {"padded   ", "padded"},
           {"  lead", "  lead"},
           {"    ", ""},
           {std::string(260, '\0'), ""}}) {
    EXPECT_EQ(RTrimNull(text), kept);
  }
}

}  // namespace
}  // namespace quillport
