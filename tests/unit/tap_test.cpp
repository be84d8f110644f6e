// TAP files: headers, the pulse conversions both ways, the long-pulse rule, and the real tapes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "names/pulse_feed.hpp"
#include "tap_format.hpp"

namespace tapewren::tap {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read(const std::string& name) {
  std::ifstream in(std::string(TAPEWREN_TAPES_DIR) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes tap_with(const Bytes& body, std::uint8_t version = 1) {
  Header h;
  h.version = version;
  h.length = static_cast<std::uint32_t>(body.size());
  Bytes out = make_header(h);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<std::uint32_t> words_of(const Bytes& dump) {
  std::vector<std::uint32_t> w;
  for (std::size_t i = 0; i + 1 < dump.size(); i += 2) w.push_back(dump[i] | dump[i + 1] << 8);
  return w;
}

const char* const kRealTapes[] = {"c64-pal-normal", "c64-ntsc-normal", "c64-pal-normal-errors",
                                  "c64-pal-turbo",  "vic20-pal",       "vic20-ntsc",
                                  "plus4-pal"};

TEST(TapConversion, EveryRealTapeComesBackByteForByte) {
  for (const char* name : kRealTapes) {
    SCOPED_TRACE(name);
    const Bytes tap = read(std::string("testtape-") + name + ".tap");
    ASSERT_GT(tap.size(), kHeaderSize);
    std::string error;
    const Bytes dump = tap_to_dump(tap, Unit::half_cycles(), error);
    ASSERT_EQ(error, "");
    Header header;
    ASSERT_TRUE(parse_header(tap.data(), tap.size(), tap.size(), header, error));
    EXPECT_EQ(dump_to_tap(dump, Unit::half_cycles(), header), tap);
  }
}

TEST(TapConversion, PulseLengthsToWords) {
  // Bytes 1 and 255; long pulses of 2048, 32767 and 32768 cycles, a pause of 327754 cycles
  // and a zero-length one.
  const Bytes body = {1,    255,  0, 0x00, 0x08, 0,    0,    0xFF, 0x7F, 0, 0,
                      0x00, 0x80, 0, 0,    0x4A, 0x00, 0x05, 0,    0,    0, 0};
  std::string error;
  const Bytes dump = tap_to_dump(tap_with(body), Unit::half_cycles(), error);
  std::vector<std::uint32_t> expected = {16, 4080, 4096, 65534, 0xFFFF, 1};
  for (int i = 0; i < 10; ++i) expected.push_back(0xFFFF);  // 655508 = 10 * 65535 + 158
  expected.push_back(158);
  expected.push_back(0);
  EXPECT_EQ(words_of(dump), expected);
  EXPECT_EQ(dump_to_tap(dump, Unit::half_cycles(), Header{}), tap_with(body));
}

TEST(TapConversion, ShortLongEntriesComeBackAsBytes) {
  // A long entry of 2041 cycles rounds to the byte 255: the one case a round trip changes.
  std::string error;
  const Bytes dump = tap_to_dump(tap_with({0, 0xF9, 0x07, 0}), Unit::half_cycles(), error);
  EXPECT_EQ(words_of(dump), std::vector<std::uint32_t>{4082});
  EXPECT_EQ(dump_to_tap(dump, Unit::half_cycles(), Header{}), tap_with({255}));
}

TEST(TapConversion, WordsRoundToTheNearestTapUnit) {
  // 16 words make one TAP unit; a pulse that rounds to 0 keeps its exact length.
  const Bytes dump = {16 + 7, 0, 48 - 8, 0, 7, 0, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0};
  const Bytes tap = dump_to_tap(dump, Unit::half_cycles(), Header{});
  EXPECT_EQ(Bytes(tap.begin() + kHeaderSize, tap.end()),
            (Bytes{1, 3, 0, 4, 0, 0, 0, 0x00, 0x00, 0x01}));  // 65536 cycles
}

TEST(TapConversion, PulseGoingOnAtTheEndOfTheDumpIsKept) {
  const Bytes tap = dump_to_tap({0xFF, 0xFF}, Unit::half_cycles(), Header{});
  EXPECT_EQ(Bytes(tap.begin() + kHeaderSize, tap.end()), (Bytes{0, 0x00, 0x80, 0x00}));
}

TEST(TapConversion, FixedTickRateUsesTheMachineClock) {
  const Unit unit = Unit::ticks(1000000, 0, 0);  // 1 MHz device, C64 PAL at 985248 Hz
  std::string error;
  const Bytes dump = tap_to_dump(tap_with({48}), unit, error);
  EXPECT_EQ(words_of(dump), std::vector<std::uint32_t>{390});  // 384 cycles = 389.75 us
  EXPECT_EQ(dump_to_tap(dump, unit, Header{}), tap_with({48}));
  EXPECT_NEAR(machine_clock_hz(1, 0), 1108405, 0.5);
  EXPECT_NEAR(machine_clock_hz(2, 1), 894886, 0.5);
}

TEST(TapConversion, VersionZeroOverlongPulsesAreCounted) {
  TapToDump convert(Unit::half_cycles(), 0);
  Bytes out;
  const Bytes body = {10, 0, 10};
  convert.add(body.data(), body.size(), out);
  EXPECT_EQ(words_of(out), (std::vector<std::uint32_t>{160, 4096, 160}));
  EXPECT_EQ(convert.unknown_lengths(), 1u);
}

TEST(TapHeader, BadHeadersAreRefusedWithAReason) {
  std::string error;
  Header h;
  Bytes tap = tap_with({1, 2, 3});
  EXPECT_TRUE(parse_header(tap.data(), tap.size(), tap.size(), h, error));
  EXPECT_FALSE(parse_header(tap.data(), tap.size(), tap.size() + 1, h, error));
  EXPECT_EQ(error, "the TAP header gives 3 bytes of data, the file has 4");
  tap[0x0C] = 3;
  EXPECT_FALSE(parse_header(tap.data(), tap.size(), tap.size(), h, error));
  EXPECT_EQ(error, "unknown TAP version 3");
  tap[0] = 'X';
  EXPECT_FALSE(parse_header(tap.data(), tap.size(), tap.size(), h, error));
  EXPECT_EQ(error, "not a TAP file");
  const Bytes cut = tap_with({5, 0, 1});
  EXPECT_TRUE(tap_to_dump(cut, Unit::half_cycles(), error).empty());
  EXPECT_EQ(error, "the TAP data ends inside a long pulse");
  Bytes c16 = tap_with({1}, 2);
  std::copy_n("C16-TAPE-RAW", 12, c16.begin());
  EXPECT_TRUE(parse_header(c16.data(), c16.size(), c16.size(), h, error));
  EXPECT_TRUE(h.c16_signature);
  EXPECT_EQ(make_header(h), Bytes(c16.begin(), c16.begin() + kHeaderSize));
}

// Which scanner finds the name of each real tape, and on which pulse.
TEST(RealTapeNames, RightScannerAtTheRightPlace) {
  struct Case {
    const char* tape;
    int scanner;  // 0 standard, 1 countdown 9-to-1
  };
  for (const Case& c :
       {Case{"c64-pal-normal", 0}, Case{"c64-ntsc-normal", 0}, Case{"c64-pal-normal-errors", 0},
        Case{"vic20-pal", 0}, Case{"vic20-ntsc", 0}, Case{"c64-pal-turbo", 1}}) {
    SCOPED_TRACE(c.tape);
    std::string error;
    const Bytes dump =
        tap_to_dump(read(std::string("testtape-") + c.tape + ".tap"), Unit::half_cycles(), error);
    std::vector<std::uint8_t> values;
    for (auto w : words_of(dump))
      values.push_back(names::pulse_value(static_cast<std::uint16_t>(w)));
    std::vector<std::size_t> reports[3];
    names::StdHeaderState std_state;
    names::CountdownState nine, twelve;
    std::uint8_t name[17] = {};
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (names::scan_std_header(std_state, values[i], name, 0)) reports[0].push_back(i);
      if (names::scan_countdown9_header(nine, values[i], name, 0)) reports[1].push_back(i);
      if (names::scan_countdown12_header(twelve, values[i], name, 0)) reports[2].push_back(i);
    }
    for (int s = 0; s < 3; ++s) EXPECT_EQ(reports[s].size(), s == c.scanner ? 1u : 0u) << s;
    if (c.scanner == 0 && reports[0].size() == 1) {
      // The header's first long pulse follows more than 5000 short ones; the name is
      // reported 30 bytes of 20 pulses after it.
      std::size_t shorts = 0, first_long = 0;
      for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] >= 153 && values[i] <= 191 && shorts > 5000) {
          first_long = i;
          break;
        }
        shorts = (values[i] >= 75 && values[i] <= 113) ? shorts + 1 : 0;
      }
      EXPECT_EQ(reports[0][0], first_long + 600);
    }
    EXPECT_EQ(std::string(name, name + 16), "ROMEO & JULIET  ");
  }
}

}  // namespace
}  // namespace tapewren::tap
