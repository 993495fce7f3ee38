// The random names refused messages are filed under after a name collision.
#pragma once

#include <cstdint>
#include <string>

namespace quillport {

// A pseudo-random generator that always starts from the same state, so the
// n-th name drawn after a start is the same in every run. It is never
// seeded from the clock or anything else.
class QueueNameGenerator {
 public:
  // Number of distinct names RandomQueueName can return: 36 to the 4th.
  static constexpr std::int64_t kNameCount = 36LL * 36 * 36 * 36;

  // The next single-precision value r, 0 <= r < 1.
  float NextRandom();

  // "~COL" followed by four characters drawn from
  // "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890", upper case; four draws a name.
  std::string RandomQueueName();

 private:
  // A 24-bit linear congruential generator, the classic one of desktop BASIC
  // dialects, from its classic start state.
  std::uint32_t state_ = 0x50000;
};

}  // namespace quillport
