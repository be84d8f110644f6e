// Cyberload's pulse sets: the nominal lengths that go with the threshold its loaders set.
#pragma once

#include <array>
#include <cstdint>

namespace tapewren::tape {

// The short and long pulse (TAP units) of the set whose threshold (timer cycles) a stage of
// Cyberload sets, as the publisher's tapes have them; none where the threshold is of no known
// set (cleaning then learns the lengths from the pulses).
constexpr std::array<std::uint8_t, 4> cyberload_pulses(std::uint32_t threshold_cycles) {
  const std::uint32_t tap = threshold_cycles * 123156 / 1000000;  // at the loader's own rate
  if (tap >= 0x3A && tap <= 0x44) return {0x30, 0x5A, 0, 0};
  if (tap >= 0x45 && tap <= 0x51) return {0x3B, 0x72, 0, 0};
  if (tap == 0x2B || tap == 0x33) return {0x24, 0x40, 0, 0};  // Sanxion: F1's and F3's timers
  if (tap == 0x79) return {0x55, 0xA5, 0, 0};
  return {};
}

}  // namespace tapewren::tape
