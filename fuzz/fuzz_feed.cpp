// Fuzzes the pulse word feed: arbitrary bytes cut into arbitrary chunks. The feed must report
// exactly what the plain chain of the three scanners reports, and never touch memory it
// does not own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "names/pulse_feed.hpp"

namespace {

using namespace tapewren::names;
using Reports = std::vector<std::pair<std::string, std::uint32_t>>;

struct Collect : NameListener {
  void on_name(const char* name, std::uint32_t word) override { got.emplace_back(name, word); }
  Reports got;
};

struct PlainChain {
  StdHeaderState a;
  CountdownState b, c;
  std::uint8_t name[17] = {};
  int reset = 0;
  Reports got;
  void feed(const std::uint8_t* p, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n / 2; ++i) {
      const std::uint8_t v = pulse_value(static_cast<std::uint16_t>(p[2 * i] | p[2 * i + 1] << 8));
      if (scan_std_header(a, v, name, reset) || scan_countdown9_header(b, v, name, reset) ||
          scan_countdown12_header(c, v, name, reset)) {
        name[16] = 0;
        char text[17];
        clean_intercepted_name(name, text);
        got.emplace_back(text, i);
        reset = 1;
      } else {
        reset = 0;
      }
    }
  }
};

}  // namespace

// The first byte seeds the chunk sizes; the rest is the stream.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::uint32_t cut = data[0] * 2654435761u + 1;
  ++data;
  --size;
  Collect fast;
  PulseFeed feed(fast);
  PlainChain plain;
  for (std::size_t at = 0; at < size;) {
    cut = cut * 1664525u + 1013904223u;
    const std::size_t n = std::min<std::size_t>((cut >> 24) % 65, size - at);
    // Each chunk in a buffer of its own size, so that any overrun is caught.
    const std::vector<std::uint8_t> chunk(data + at, data + at + n);
    feed.feed_pulse_words(chunk.data(), static_cast<std::uint32_t>(n));
    plain.feed(chunk.data(), static_cast<std::uint32_t>(n));
    at += n ? n : 1;
  }
  if (fast.got != plain.got) __builtin_trap();
  for (const auto& report : fast.got)
    for (char c : report.first)
      if (c < 0x20 || c > 0x5D || report.first.size() > 16) __builtin_trap();
  return 0;
}
