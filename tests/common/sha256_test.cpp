#include "common/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace quillport {
namespace {

// The standard's test vectors, fed whole and in uneven pieces (the padding crosses a block at 56 bytes).
TEST(Sha256, MatchesTheStandardVectorsHoweverTheInputIsCut) {
  const std::string million_a(1000000, 'a');
  struct Case {
    std::string input;
    const char* digest;
  };
  for (const Case& c : {Case{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                        Case{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                        Case{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                             "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
                        Case{million_a, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}}) {
    Sha256 whole;
    whole.Add(c.input);
    EXPECT_EQ(whole.FinishHex(), c.digest);
    Sha256 pieces;
    for (std::size_t at = 0, step = 1; at < c.input.size(); at += step, step = step * 3 % 97 + 1) {
      pieces.Add(std::string_view(c.input).substr(at, step));
    }
    EXPECT_EQ(pieces.FinishHex(32), std::string(c.digest, 32));
  }
}

}  // namespace
}  // namespace quillport
