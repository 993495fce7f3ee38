// SHA-256 (FIPS 180-4), for identities that two different contents must
// never share: the Message-ID given to a message that has none.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillport {

class Sha256 {
 public:
  // Adds bytes to the hashed content; any number of calls, in order.
  void Add(std::string_view bytes);

  // The digest of everything added. Ends the hash: call it once.
  std::array<std::uint8_t, 32> Finish();

  // The first `hex_digits` hexadecimal digits (lower case) of Finish().
  std::string FinishHex(std::size_t hex_digits = 64);

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<std::uint8_t, 64> pending_{};
  std::size_t pending_length_ = 0;
  std::uint64_t total_length_ = 0;
};

}  // namespace quillport
