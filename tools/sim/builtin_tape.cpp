// A short built-in recording: a lead-in of short pulses followed by pulses of all three
// lengths, as a tape saved with the standard loader would give.
#include "builtin_tape.hpp"

namespace tapewren {

std::vector<std::uint8_t> builtin_tape() {
  constexpr std::uint16_t kShort = 752, kMedium = 1056, kLong = 1376;  // pulse words
  std::vector<std::uint8_t> out;
  auto put = [&out](std::uint16_t word) {
    out.push_back(static_cast<std::uint8_t>(word & 0xFF));
    out.push_back(static_cast<std::uint8_t>(word >> 8));
  };
  for (int i = 0; i < 6000; ++i) put(static_cast<std::uint16_t>(kShort + (i % 3) * 4));
  const std::uint16_t pattern[] = {kLong, kMedium, kShort, kMedium, kMedium, kShort};
  for (int i = 0; i < 9000; ++i) put(pattern[i % 6]);
  return out;
}

}  // namespace tapewren
