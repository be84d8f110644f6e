// The name interception: scanner windows and report positions, the feed's word pairing and
// reset flag, the printed name's clean-up, and names from synthetic and real tapes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "names/pulse_feed.hpp"
#include "plain_chain.hpp"
#include "tap_format.hpp"
#include "tape_synth.hpp"

namespace tapewren::names {
namespace {

using Values = std::vector<std::uint8_t>;

// --- Pulse value sequences built by hand, exact to the pulse ---------------------------

// Standard loader bytes 1..30 after a lead-in; `pair` gives the pulses of one bit.
struct StdTape {
  Values v;
  void lead_in(int n, std::uint8_t value = 94) { v.insert(v.end(), n, value); }
  void bit(bool one) {
    v.push_back(one ? 132 : 94);
    v.push_back(one ? 94 : 132);
  }
  void byte(std::uint8_t b, std::uint8_t parity1 = 94, std::uint8_t parity2 = 132) {
    v.push_back(172);
    v.push_back(132);
    for (int i = 0; i < 8; ++i) bit((b >> i) & 1);
    v.push_back(parity1);
    v.push_back(parity2);
  }
  // Countdown, type, four bytes, the name; then the long pulse that reports.
  void header(std::uint8_t type, const std::string& name, std::uint8_t first_countdown = 0x89) {
    for (int n = 0; n < 9; ++n) byte(static_cast<std::uint8_t>(first_countdown - n));
    byte(type);
    for (int n = 0; n < 4; ++n) byte(0x08);
    for (auto c : synth::padded_name(name)) byte(c);
    v.push_back(172);
  }
};

// Countdown encodings: a pilot, the countdown, the type, five bytes, the name, one more pulse.
Values turbo(int pilot, int k, std::uint8_t type, const std::string& name, std::uint8_t one = 81,
             std::uint8_t zero = 54, std::uint8_t last = 54) {
  Values v;
  auto byte = [&](std::uint8_t b) {
    for (int bit = 7; bit >= 0; --bit) v.push_back(((b >> bit) & 1) ? one : zero);
  };
  for (int i = 0; i < pilot; ++i) byte(0x02);
  for (int n = k; n >= 1; --n) byte(static_cast<std::uint8_t>(n));
  byte(type);
  for (int i = 0; i < 5; ++i) byte(0x00);
  for (auto c : synth::padded_name(name)) byte(c);
  v.push_back(last);
  return v;
}

// Runs one scanner over values; returns the 1-based positions of its reports.
template <typename State, typename Scan>
std::vector<std::size_t> reports(const Values& values, Scan scan, std::uint8_t* name) {
  State s;
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < values.size(); ++i)
    if (scan(s, values[i], name, 0)) at.push_back(i + 1);
  return at;
}

std::vector<std::size_t> std_reports(const Values& v, std::uint8_t* name = nullptr) {
  std::uint8_t scratch[17] = {};
  return reports<StdHeaderState>(v, scan_std_header, name ? name : scratch);
}
std::vector<std::size_t> cd9_reports(const Values& v, std::uint8_t* name = nullptr) {
  std::uint8_t scratch[17] = {};
  return reports<CountdownState>(v, scan_countdown9_header, name ? name : scratch);
}
std::vector<std::size_t> cd12_reports(const Values& v, std::uint8_t* name = nullptr) {
  std::uint8_t scratch[17] = {};
  return reports<CountdownState>(v, scan_countdown12_header, name ? name : scratch);
}
using Positions = std::vector<std::size_t>;

std::string name_of(const std::uint8_t* name) {
  return std::string(name, name + 16);
}

TEST(StdHeader, ReportsOnTheLongPulseAfterByteThirty) {
  StdTape t;
  t.lead_in(5001);
  t.header(1, "HELLO");
  std::uint8_t name[17] = {};
  EXPECT_EQ(std_reports(t.v, name), Positions{5602});
  EXPECT_EQ(name_of(name), "HELLO           ");
}

TEST(StdHeader, NeedsMoreThanFiveThousandShortPulses) {
  StdTape t;
  t.lead_in(5000);
  t.header(1, "HELLO");
  EXPECT_TRUE(std_reports(t.v).empty());
}

TEST(StdHeader, ShortWindowEdgesInTheLeadIn) {
  for (std::uint8_t edge : {75, 113}) {
    StdTape t;
    t.lead_in(5001, edge);
    t.header(3, "EDGE");
    EXPECT_EQ(std_reports(t.v).size(), 1u) << int(edge);
  }
  for (std::uint8_t breaker : {74, 114, 151, 152, 192}) {
    StdTape t;
    t.lead_in(3000);
    t.lead_in(1, breaker);  // sets the count back to zero
    t.lead_in(2001);
    t.header(1, "BROKEN");
    EXPECT_TRUE(std_reports(t.v).empty()) << int(breaker);
  }
}

TEST(StdHeader, LeadInEndsBackAtTheSearchOnAMediumOrOddPulse) {
  for (std::uint8_t breaker : {130, 152}) {
    StdTape t;
    t.lead_in(6000);
    t.lead_in(1, breaker);
    t.header(1, "X");
    EXPECT_TRUE(std_reports(t.v).empty()) << int(breaker);
  }
}

TEST(StdHeader, BitPairsDecodeWithOneFirst) {
  // Name byte 1 built from chosen pairs: bits 0..7 = 1,1,0,0,1,0,0,0 -> 0x13.
  const std::pair<std::uint8_t, std::uint8_t> pairs[] = {
      {113, 113}, {130, 113}, {113, 130}, {90, 113}, {132, 94}, {94, 132}, {94, 132}, {94, 132}};
  StdTape t;
  t.lead_in(5001);
  for (int n = 0; n < 9; ++n) t.byte(static_cast<std::uint8_t>(0x89 - n));
  t.byte(1);
  for (int n = 0; n < 4; ++n) t.byte(0);
  t.v.push_back(172);
  t.v.push_back(132);
  for (auto [a, b] : pairs) {
    t.v.push_back(a);
    t.v.push_back(b);
  }
  t.v.push_back(0);  // parity pulses are never examined
  t.v.push_back(255);
  for (int n = 0; n < 15; ++n) t.byte('A', 0, 255);
  t.v.push_back(172);
  std::uint8_t name[17] = {};
  ASSERT_EQ(std_reports(t.v, name).size(), 1u);
  EXPECT_EQ(name[0], 0x13);
  EXPECT_EQ(name[1], 'A');
}

TEST(StdHeader, InvalidPairsAbandonTheHeader) {
  for (auto [a, b] : std::vector<std::pair<std::uint8_t, std::uint8_t>>{{90, 90}, {130, 130}}) {
    StdTape t;
    t.lead_in(5001);
    t.header(1, "GOOD");
    const std::size_t name_pair = 5001 + 1 + 14 * 20 + 2;  // first bit pair of byte 15
    t.v[name_pair] = a;
    t.v[name_pair + 1] = b;
    EXPECT_TRUE(std_reports(t.v).empty());
  }
}

TEST(StdHeader, OnlyHeaderTypesOneAndThree) {
  for (int type = 0; type < 6; ++type) {
    StdTape t;
    t.lead_in(5001);
    t.header(static_cast<std::uint8_t>(type), "TYPE");
    EXPECT_EQ(std_reports(t.v).size(), (type == 1 || type == 3) ? 1u : 0u) << type;
  }
}

TEST(StdHeader, CountdownMustStartAtEightyNine) {
  StdTape t;
  t.lead_in(5001);
  t.header(1, "LATE", 0x88);
  EXPECT_TRUE(std_reports(t.v).empty());
}

TEST(StdHeader, NoReportWithoutTheFinalLongPulse) {
  for (std::uint8_t last : {132, 94}) {
    StdTape t;
    t.lead_in(5001);
    t.header(1, "ABCDEFGHIJKLMNOP");
    t.v.back() = last;
    std::uint8_t name[17] = {};
    name[15] = '#';
    EXPECT_TRUE(std_reports(t.v, name).empty());
    EXPECT_EQ(name_of(name), "ABCDEFGHIJKLMNO#");  // byte 30 is stored only on the long pulse
  }
}

TEST(Countdown, ReportPositionsFromProgramStart) {
  std::uint8_t name[17] = {};
  EXPECT_EQ(cd9_reports(turbo(959, 9, 1, "NINE"), name), Positions{7921});
  EXPECT_EQ(name_of(name), "NINE            ");
  EXPECT_EQ(cd12_reports(turbo(959, 12, 2, "TWELVE"), name), Positions{7945});
  EXPECT_EQ(name_of(name), "TWELVE          ");
}

TEST(Countdown, PilotOfNineHundredFiftyEightIsTooShort) {
  EXPECT_TRUE(cd9_reports(turbo(958, 9, 1, "X")).empty());
  EXPECT_TRUE(cd12_reports(turbo(958, 12, 1, "X")).empty());
}

TEST(Countdown, EachScannerWantsItsOwnCountdown) {
  EXPECT_TRUE(cd9_reports(turbo(1000, 12, 1, "X")).empty());
  EXPECT_TRUE(cd12_reports(turbo(1000, 9, 1, "X")).empty());
}

TEST(Countdown, TypeOneOrTwo) {
  for (int type = 0; type < 5; ++type) {
    const std::size_t expected = (type == 1 || type == 2) ? 1 : 0;
    EXPECT_EQ(cd9_reports(turbo(1000, 9, static_cast<std::uint8_t>(type), "T")).size(), expected);
    EXPECT_EQ(cd12_reports(turbo(1000, 12, static_cast<std::uint8_t>(type), "T")).size(), expected);
  }
}

TEST(Countdown, WindowEdges) {
  // 67 is a 1 for the first scanner and a 0 for the second.
  EXPECT_EQ(cd9_reports(turbo(1000, 9, 1, "A", 67, 54)).size(), 1u);
  EXPECT_TRUE(cd12_reports(turbo(1000, 12, 1, "A", 67, 54)).empty());
  EXPECT_EQ(cd12_reports(turbo(1000, 12, 1, "A", 81, 67)).size(), 1u);
  // 95 is a 1 for the first and an error for the second; 96 is an error for both.
  EXPECT_EQ(cd9_reports(turbo(1000, 9, 1, "A", 95, 54)).size(), 1u);
  EXPECT_TRUE(cd12_reports(turbo(1000, 12, 1, "A", 95, 54)).empty());
  EXPECT_TRUE(cd9_reports(turbo(1000, 9, 1, "A", 96, 54)).empty());
  // 68 and 94 are 1 bits for both.
  for (std::uint8_t one : {68, 94}) {
    EXPECT_EQ(cd9_reports(turbo(1000, 9, 1, "A", one, 54)).size(), 1u);
    EXPECT_EQ(cd12_reports(turbo(1000, 12, 1, "A", one, 54)).size(), 1u);
  }
  // 39 to 41 are 0 bits for the first and errors for the second; 38 for neither.
  for (std::uint8_t zero : {39, 41}) {
    EXPECT_EQ(cd9_reports(turbo(1000, 9, 1, "A", 81, zero)).size(), 1u);
    EXPECT_TRUE(cd12_reports(turbo(1000, 12, 1, "A", 81, zero)).empty());
  }
  EXPECT_TRUE(cd9_reports(turbo(1000, 9, 1, "A", 81, 38)).empty());
  EXPECT_EQ(cd12_reports(turbo(1000, 12, 1, "A", 81, 42)).size(), 1u);
}

TEST(Countdown, PulseAfterTheLastNameByteMayBeAnything) {
  for (std::uint8_t last : {0, 255}) {
    EXPECT_EQ(cd9_reports(turbo(1000, 9, 1, "A", 81, 54, last)).size(), 1u);
    EXPECT_EQ(cd12_reports(turbo(1000, 12, 1, "A", 81, 54, last)).size(), 1u);
  }
}

TEST(Countdown, PilotSearchTakesAnyValueAsAZero) {
  // Noise of 0, 20 and 200 before the pilot: zeros, no error, the pilot is still found.
  Values v = {0, 20, 200, 0, 20, 200, 0, 20, 200};
  const Values t = turbo(959, 9, 1, "NOISE");
  v.insert(v.end(), t.begin(), t.end());
  EXPECT_EQ(cd9_reports(v), Positions{9 + 7921});
}

// --- The feed ---------------------------------------------------------------------------

struct Collected : NameListener {
  void on_name(const char* name, std::uint32_t word_index) override {
    names.emplace_back(name);
    words.push_back(word_index);
  }
  std::vector<std::string> names;
  std::vector<std::uint32_t> words;
};

std::vector<std::uint8_t> as_words(const Values& values) {
  std::vector<std::uint8_t> out;
  for (auto v : values) {
    const std::uint16_t w = static_cast<std::uint16_t>(v * 8 + 5);
    out.push_back(static_cast<std::uint8_t>(w));
    out.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  return out;
}

TEST(PulseFeed, PulseValueIsBitsThreeToTen) {
  EXPECT_EQ(pulse_value(0x0960), 44);
  EXPECT_EQ(pulse_value(0xFFFF), 255);
  for (std::uint16_t w = 0; w < 8; ++w) EXPECT_EQ(pulse_value(w), 0);
  EXPECT_EQ(pulse_value(0x0800), 0);
}

TEST(PulseFeed, WordsPairFromEachChunkStartAndOddBytesAreDropped) {
  StdTape t;
  t.lead_in(5001);
  t.header(1, "CHUNKS");
  const auto stream = as_words(t.v);
  Collected got;
  PulseFeed feed(got);
  // 62 bytes of words plus one stray byte per chunk: the stray byte must never pair up.
  for (std::size_t at = 0; at < stream.size(); at += 62) {
    std::vector<std::uint8_t> chunk(stream.begin() + at,
                                    stream.begin() + std::min(stream.size(), at + 62));
    chunk.push_back(0xAB);
    feed.feed_pulse_words(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
  }
  const std::uint8_t one = 0x42;
  feed.feed_pulse_words(&one, 1);  // a 1-byte chunk feeds nothing
  EXPECT_EQ(got.names, std::vector<std::string>{"CHUNKS"});
  EXPECT_EQ(got.words, std::vector<std::uint32_t>{(5602 - 1) % 31});
}

TEST(PulseFeed, ResetFlagCrossesChunksAndClearsTheOtherScanners) {
  // A standard header reports on the last word of a chunk. Its parity pulses leave ones in
  // the countdown scanners' registers; only the reset flag on the next word clears them, and
  // only then do the bits 1, 0 and 958 more pilot bytes make a pilot long enough.
  StdTape t;
  t.lead_in(5001);
  for (int n = 0; n < 9; ++n) t.byte(static_cast<std::uint8_t>(0x89 - n));
  t.byte(1);
  for (int n = 0; n < 4; ++n) t.byte(0);
  for (auto c : synth::padded_name("FIRST")) t.byte(c, 81, 81);
  t.v.push_back(172);
  Values after = {81, 54};
  const Values rest = turbo(958, 9, 1, "SECOND");
  after.insert(after.end(), rest.begin(), rest.end());

  Collected got;
  PulseFeed feed(got);
  const auto first = as_words(t.v), second = as_words(after);
  feed.feed_pulse_words(first.data(), static_cast<std::uint32_t>(first.size()));
  feed.feed_pulse_words(second.data(), static_cast<std::uint32_t>(second.size()));
  EXPECT_EQ(got.names, (std::vector<std::string>{"FIRST", "SECOND"}));
}

TEST(PulseFeed, SeveralFilesOnOneTapeInOrder) {
  using synth::Encoding;
  const std::vector<synth::TapeFile> files = {{Encoding::kStandard, 1, "ONE", {1, 2, 3}, 0x0801},
                                              {Encoding::kCountdown12, 2, "TWO", {4, 5}, 0x1001},
                                              {Encoding::kCountdown9, 1, "THREE", {6}, 0x0801},
                                              {Encoding::kStandard, 3, "FOUR", {7, 8}, 0xC000},
                                              {Encoding::kCountdown9, 1, "FIVE", {9}, 0x0801}};
  synth::TapeLayout layout;
  layout.jitter = 15;
  const auto tape = synth::synthesize(files, layout);
  Collected got;
  PulseFeed feed(got);
  for (std::size_t at = 0; at < tape.size(); at += 64)
    feed.feed_pulse_words(tape.data() + at,
                          static_cast<std::uint32_t>(std::min<std::size_t>(64, tape.size() - at)));
  EXPECT_EQ(got.names, (std::vector<std::string>{"ONE", "TWO", "THREE", "FOUR", "FIVE"}));
}

// The feed takes shortcuts while every scanner is searching; whatever the stream and however
// it is cut into chunks, it must report exactly what the plain scanner chain reports.
TEST(PulseFeed, SameReportsAsThePlainScannerChain) {
  std::uint32_t seed = 12345;
  auto rnd = [&](std::uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  std::size_t reports = 0;
  for (int round = 0; round < 20; ++round) {
    Values values;
    for (int segment = 0; segment < 30; ++segment) {
      switch (rnd(6)) {
        case 0:  // noise
          for (std::uint32_t k = rnd(3000); k > 0; --k) values.push_back(rnd(256));
          break;
        case 1: {  // a standard header behind a lead-in near the limit, possibly broken
          StdTape t;
          t.lead_in(4995 + static_cast<int>(rnd(10)));
          t.header(static_cast<std::uint8_t>(1 + rnd(3)), "STD" + std::to_string(segment));
          if (rnd(3) == 0) t.v[t.v.size() - 1 - rnd(600)] = rnd(256);
          values.insert(values.end(), t.v.begin(), t.v.end());
          break;
        }
        case 2: {  // a turbo header behind a pilot near the limit
          const int k = rnd(2) ? 9 : 12;
          Values t = turbo(955 + static_cast<int>(rnd(8)), k, static_cast<std::uint8_t>(1 + rnd(3)),
                           "CD" + std::to_string(segment), static_cast<std::uint8_t>(66 + rnd(31)),
                           static_cast<std::uint8_t>(38 + rnd(30)), rnd(256));
          if (rnd(3) == 0) t[t.size() - 1 - rnd(300)] = rnd(256);
          values.insert(values.end(), t.begin(), t.end());
          break;
        }
        case 3:  // pilot-like bits
          for (std::uint32_t k = rnd(200); k > 0; --k)
            for (std::uint8_t bit : {0, 0, 0, 0, 0, 0, 1, 0}) values.push_back(bit ? 81 : 54);
          break;
        case 4: {  // zeros of 67: ones to the first countdown scanner, zeros to the second
          const Values t =
              turbo(959 + static_cast<int>(rnd(3)), 12, 1, "Z" + std::to_string(segment), 81, 67);
          values.insert(values.end(), t.begin(), t.end());
          break;
        }
        default:  // short pulses
          values.insert(values.end(), rnd(6000), static_cast<std::uint8_t>(75 + rnd(39)));
      }
    }
    const auto stream = as_words(values);
    PlainChain plain;
    CollectedReports fast;
    PulseFeed feed(fast);
    for (std::size_t at = 0; at < stream.size();) {
      // Even chunks; in some rounds odd ones too, which shift the pairing for good.
      const std::size_t want = (round % 4 == 3 && rnd(40) == 0) ? 1 + 2 * rnd(32) : 2 + 2 * rnd(32);
      const auto n = static_cast<std::uint32_t>(std::min(want, stream.size() - at));
      plain.feed(stream.data() + at, n);
      feed.feed_pulse_words(stream.data() + at, n);
      at += n;
    }
    ASSERT_EQ(fast.out, plain.out) << "round " << round;
    reports += plain.out.size();
  }
  EXPECT_GT(reports, 20u);  // the streams did exercise the reports
}

// --- The printed name ---------------------------------------------------------------------

std::string cleaned(const std::vector<std::uint8_t>& bytes, std::uint8_t* buffer = nullptr) {
  std::uint8_t local[17] = {};
  std::uint8_t* name = buffer ? buffer : local;
  std::copy(bytes.begin(), bytes.end(), name);
  name[16] = 0;
  char out[17];
  clean_intercepted_name(name, out);
  return out;
}

TEST(InterceptedName, TrailingSpacesAreTrimmedInPlace) {
  std::uint8_t buffer[17];
  EXPECT_EQ(cleaned(synth::padded_name("HELLO"), buffer), "HELLO");
  for (int i = 5; i <= 16; ++i) EXPECT_EQ(buffer[i], 0) << i;
  EXPECT_EQ(cleaned(std::vector<std::uint8_t>(16, ' ')), "");
}

TEST(InterceptedName, FilterKeepsSpaceToRightBracket) {
  EXPECT_EQ(cleaned(synth::padded_name("[A\\B]^_`abc~")), "[A\\B]");
  std::vector<std::uint8_t> high = synth::padded_name("X");
  high[1] = 0x80;
  high[2] = 0xC1;
  high[3] = 0x7F;
  high[4] = 0x01;
  high[5] = 'Y';
  EXPECT_EQ(cleaned(high), "XY");
}

TEST(InterceptedName, ShiftedSpacePaddingIsDroppedButNotTrimmed) {
  std::vector<std::uint8_t> name = {'A', 'B', ' '};
  name.resize(16, 0xA0);
  EXPECT_EQ(cleaned(name), "AB ");
}

TEST(InterceptedName, ANulEndsTheName) {
  std::vector<std::uint8_t> name = synth::padded_name("ABCDEFG");
  name[3] = 0;
  EXPECT_EQ(cleaned(name), "ABC");
}

// --- Real tapes -------------------------------------------------------------------------

// The TAP images as the device would have streamed them (a pulse word counts half cycles).
TEST(RealTapes, NamesOfTheStandardAndTurboSaves) {
  for (const char* tape : {"c64-pal-normal", "c64-ntsc-normal", "c64-pal-normal-errors",
                           "c64-pal-turbo", "vic20-pal", "vic20-ntsc"}) {
    SCOPED_TRACE(tape);
    std::ifstream in(std::string(TAPEWREN_TAPES_DIR) + "/testtape-" + tape + ".tap",
                     std::ios::binary);
    std::string error;
    const auto dump =
        tap::tap_to_dump(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}),
                         tap::Unit::half_cycles(), error);
    ASSERT_GT(dump.size(), 10000u);
    Collected got;
    PulseFeed feed(got);
    for (std::size_t at = 0; at < dump.size(); at += 64)
      feed.feed_pulse_words(dump.data() + at, static_cast<std::uint32_t>(
                                                  std::min<std::size_t>(64, dump.size() - at)));
    EXPECT_EQ(got.names, std::vector<std::string>{"ROMEO & JULIET"});
  }
}

}  // namespace
}  // namespace tapewren::names
