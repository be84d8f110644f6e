// TAP files: the pulse arithmetic both ways as one table, and the real tapes' round trip.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "cli/recording_input.hpp"
#include "common/real_tapes.hpp"
#include "recording/recording.hpp"

namespace tapewren::recording {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Words = std::vector<std::uint32_t>;

Bytes tap_with(const Bytes& body, std::uint8_t version) {
  TapHeader h;
  h.version = version;
  h.length = static_cast<std::uint32_t>(body.size());
  Bytes out = make_tap_header(h);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Words repeat(std::uint32_t word, std::size_t n, std::uint32_t last) {
  Words w(n, word);
  w.push_back(last);
  return w;
}

enum Ways { kToDump = 1, kToTap = 2, kBoth = 3 };

TEST(TapConversion, PulseArithmetic) {
  struct Case {
    const char* what;
    Bytes tap;   // the TAP body
    Words dump;  // the same pulses as dump words
    int ways = kBoth;
    ReadSettings unit = {};  // what a dump word counts
    std::uint8_t version = 1;
  };
  const ReadSettings word_a_cycle{1, 1, {}},
      c64_at_1mhz{1000000, 985248, {}};  // 384 cycles: 389.75 us
                                         // clang-format off
  for (const Case& c : std::vector<Case>{
           {"bytes 1 and 255", {1, 255}, {16, 4080}},
           {"long entries of 2048, 32767 and 32768 cycles", {0, 0, 8, 0, 0, 0xFF, 0x7F, 0, 0, 0, 0x80, 0}, {4096, 65534, 0xFFFF, 1}},
           {"a pause of 655508 words", {0, 0x4A, 0x00, 0x05}, repeat(0xFFFF, 10, 158)},
           {"a long entry of zero cycles", {0, 0, 0, 0}, {0}},
           {"a long entry of 2041 cycles", {0, 0xF9, 0x07, 0}, {4082}, kToDump},
           {"4082 words round to the byte 255", {255}, {4082}, kToTap},
           {"words round to the nearest unit; a zero keeps its length", {1, 3, 0, 4, 0, 0}, {16 + 7, 48 - 8, 7}, kToTap},
           {"65536 cycles", {0, 0, 0, 1}, {0xFFFF, 0xFFFF, 2}},
           {"a pulse of exactly 65535 words", {0, 0xFF, 0xFF, 0, 10}, {0xFFFF, 0, 80}, kBoth, word_a_cycle},
           // 600 * 65535 + 100 words = 19660550 cycles: more than one long entry holds.
           {"a pause beyond 0xFFFFFF cycles", {0, 0xFF, 0xFF, 0xFF, 0, 0x07, 0xFF, 0x2B}, repeat(0xFFFF, 600, 100), kToTap},
           {"a pulse going on at the end of the dump", {0, 0, 0x80, 0}, {0xFFFF}, kToTap},
           {"a fixed tick rate and the machine's clock", {48}, {390}, kBoth, c64_at_1mhz},
           {"version 0: a zero is an overlong pulse", {10, 0, 10}, {160, 4096, 160}, kToDump, {}, 0}}) {
    // clang-format on
    SCOPED_TRACE(c.what);
    Bytes dump;
    for (auto w : c.dump)
      dump.insert(dump.end(), {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)});
    if (c.ways & kToDump) {
      EXPECT_EQ(dump_of(tap_with(c.tap, c.version), {}, c.unit.tick_hz, c.unit.clock_hz), dump);
    }
    if (c.ways & kToTap) {
      EXPECT_EQ(tap_of(dump, TapHeader{}, c.unit), tap_with(c.tap, 1));
    }
  }
  EXPECT_NEAR(machine_clock_hz(1, 0), 1108405, 0.5);
  EXPECT_NEAR(machine_clock_hz(2, 1), 894886, 0.5);
}

TEST(TapConversion, EveryRealTapeComesBackByteForByte) {
  TAPEWREN_NEEDS_REAL_TAPES();
  for (const char* name : {"c64-pal-normal", "c64-ntsc-normal", "c64-pal-normal-errors",
                           "c64-pal-turbo", "vic20-pal", "vic20-ntsc", "plus4-pal"}) {
    SCOPED_TRACE(name);
    const Bytes tap = testing::read_real_tape(name);
    io::MemorySource source(tap);
    Reader reader(source);
    ASSERT_TRUE(reader.open());
    EXPECT_EQ(tap_of(dump_of(tap), reader.tap_header()), tap);
  }
}

// A disk or a device that fails after the recording's start: what was read is handed on, and
// the reading ends as a failure with the source's reason, never as the recording's end.
class FailsPartway : public io::ByteSource {
 public:
  long long read(std::uint8_t* into, std::size_t max) override {
    if (given_) return -1;
    given_ = true;
    const std::size_t n = std::min<std::size_t>(max, 8192);
    for (std::size_t i = 0; i < n; i += 2) {
      into[i] = 0x00;
      into[i + 1] = 0x01;  // 256 half cycles a pulse
    }
    return static_cast<long long>(n);
  }
  std::string error() const override { return "Input/output error"; }

 private:
  bool given_ = false;
};

TEST(Reading, AFailureAfterTheStartIsNoEnd) {
  FailsPartway source;
  Reader reader(source);
  ASSERT_TRUE(reader.open());
  std::uint64_t pulses = 0;
  const cli::Exit read = cli::read_blocks(reader, [&](const Pulses& p) {
    for (std::size_t i = 0; i < p.count; ++i) pulses += p.length[i] == 256;
    return true;
  });
  EXPECT_EQ(read, cli::Exit::kFailed);
  EXPECT_EQ(reader.error(), "Input/output error");
  EXPECT_EQ(pulses, 4096u);
}

}  // namespace
}  // namespace tapewren::recording
