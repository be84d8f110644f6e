// A WAV reader of a few lines for the tests: the samples as levels, and where the waves begin.
#pragma once

#include <cstdint>
#include <vector>

namespace tapewren::testing {

inline std::uint32_t le(const std::vector<std::uint8_t>& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
  return v;
}

// The samples as levels: +1 above the middle, -1 below, 0 at it.
inline std::vector<int> levels(const std::vector<std::uint8_t>& wav) {
  const int bits = static_cast<int>(le(wav, 34, 2));
  std::vector<int> out;
  for (std::size_t at = 44; at + bits / 8 <= wav.size(); at += static_cast<std::size_t>(bits / 8)) {
    const int v = bits == 16 ? static_cast<std::int16_t>(le(wav, at, 2)) : wav[at] - 128;
    out.push_back((v > 0) - (v < 0));
  }
  return out;
}

// Where each pulse starts: a rise to the high level (full waves), or any change between high
// and low (half waves).
inline std::vector<std::size_t> edges(const std::vector<int>& l, bool half_waves) {
  std::vector<std::size_t> at;
  for (std::size_t i = 1; i < l.size(); ++i)
    if (l[i] != 0 && l[i] != l[i - 1] && (half_waves || l[i] > 0)) at.push_back(i);
  return at;
}

}  // namespace tapewren::testing
