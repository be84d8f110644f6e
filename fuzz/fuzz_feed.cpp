// Fuzzes the pulse word feed: arbitrary bytes cut into arbitrary chunks. The feed must report
// exactly what the plain chain of the three scanners reports, and never touch memory it
// does not own.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "plain_chain.hpp"

using namespace tapewren::names;

// The first byte seeds the chunk sizes; the rest is the stream.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::uint32_t cut = data[0] * 2654435761u + 1;
  ++data;
  --size;
  CollectedReports fast;
  PulseFeed feed(fast);
  PlainChain plain;
  for (std::size_t at = 0; at < size;) {
    cut = cut * 1664525u + 1013904223u;
    const std::size_t n = std::min<std::size_t>((cut >> 24) % 65, size - at);
    // Each chunk in a buffer of its own size, so that any overrun is caught.
    const std::vector<std::uint8_t> chunk(data + at, data + at + n);
    feed.feed_pulse_words(chunk.data(), static_cast<std::uint32_t>(n));
    plain.feed(chunk.data(), static_cast<std::uint32_t>(n));
    at += n ? n : 1;  // an empty chunk also skips a byte (in both), so every run ends
  }
  if (fast.out != plain.out) __builtin_trap();
  for (const auto& report : fast.out)
    for (char c : report.first)
      if (c < 0x20 || c > 0x5D || report.first.size() > 16) __builtin_trap();
  return 0;
}
