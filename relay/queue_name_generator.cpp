#include "relay/queue_name_generator.h"

#include <string_view>

namespace quillport {

float QueueNameGenerator::NextRandom() {
  state_ = (state_ * 1140671485u + 12820163u) & 0xFFFFFFu;
  return static_cast<float>(state_) / 16777216.0f;
}

std::string QueueNameGenerator::RandomQueueName() {
  static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
  std::string name = "~COL";
  for (int position = 5; position <= 8; ++position) {
    const auto index = static_cast<std::size_t>(NextRandom() * 36.0f);  // 0 to 35
    name += kAlphabet[index < kAlphabet.size() ? index : kAlphabet.size() - 1];
  }
  return name;
}

}  // namespace quillport
