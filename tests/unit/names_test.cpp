// The name interception: each scanner's windows and counts as a table of hand-built pulse
// sequences, the feed's word pairing and reset flag, the printed name, and the real tapes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/real_tapes.hpp"
#include "names/pulse_feed.hpp"
#include "recording/recording.hpp"
#include "synth/tape_synth.hpp"

namespace tapewren::names {
namespace {

using Values = std::vector<std::uint8_t>;
template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Standard loader pulses, exact to the pulse: short 94, medium 132, long 172.
struct StdTape {
  Values v;
  std::uint8_t parity = 94;  // never looked at
  StdTape& lead_in(int n, std::uint8_t value = 94) {
    v.insert(v.end(), n, value);
    return *this;
  }
  StdTape& byte(std::uint8_t b) {
    v.insert(v.end(), {172, 132});
    for (int i = 0; i < 8; ++i) {
      const bool one = (b >> i) & 1;
      v.push_back(one ? 132 : 94);
      v.push_back(one ? 94 : 132);
    }
    v.insert(v.end(), {parity, parity});
    return *this;
  }
  // Countdown (byte `bad` replaced by 0), type, four bytes, the name, the long pulse that reports.
  StdTape& header(std::uint8_t type, const std::string& name, int bad = 0) {
    for (int n = 1; n <= 9; ++n) byte(static_cast<std::uint8_t>(n == bad ? 0 : 0x8A - n));
    byte(type);
    for (int n = 0; n < 4; ++n) byte(0x08);
    for (auto c : synth::padded_name(name)) byte(c);
    v.push_back(172);
    return *this;
  }
  StdTape& set(std::size_t at, std::uint8_t value) {
    v[at] = value;
    return *this;
  }
};

// Countdown encodings: a pilot, the countdown (byte `bad` replaced by K + 1), the type, five
// bytes, the name, one more pulse; one bit per pulse.
Values turbo(int pilot, int k, std::uint8_t type, const std::string& name, std::uint8_t one = 81,
             std::uint8_t zero = 54, std::uint8_t last = 54, int bad = 0) {
  Values v;
  auto byte = [&](int b) {
    for (int bit = 7; bit >= 0; --bit) v.push_back(((b >> bit) & 1) ? one : zero);
  };
  for (int i = 0; i < pilot; ++i) byte(0x02);
  for (int n = k; n >= 1; --n) byte(k + 1 - n == bad ? k + 1 : n);
  byte(type);
  for (int i = 0; i < 5; ++i) byte(0x00);
  for (auto c : synth::padded_name(name)) byte(c);
  v.push_back(last);
  return v;
}
Values with(Values v, std::size_t at, std::uint8_t value) {
  v.at(at) = value;
  return v;
}

using Positions = std::vector<std::size_t>;

// Runs one scanner over the values: where it reported (1-based), and the name buffer.
template <typename State, typename Scan>
std::vector<std::size_t> reports(const Values& values, Scan scan, std::string& name) {
  State s;
  std::uint8_t buffer[17] = {};
  std::fill_n(buffer, 16, '#');
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < values.size(); ++i)
    if (scan(s, values[i], buffer, 0)) at.push_back(i + 1);
  name.assign(buffer, buffer + 16);
  return at;
}

TEST(StdHeader, WindowsAndCounts) {
  struct Case {
    std::string what;
    Values tape;
    Positions at;
    std::string name = "";  // the name buffer afterwards, when given
  };
  const auto hdr = [](int type = 1, int bad = 0) {
    return StdTape().lead_in(5001).header(type, "A", bad);
  };
  const std::size_t m = 5001, b2 = m + 15 * 20;  // the first marker; the bits of name byte 2
  const Positions at = {5602}, none = {};
  // clang-format off
  std::vector<Case> cases = {
      {"report on the long pulse after byte 30", StdTape().lead_in(5001).header(1, "HELLO").v, at, "HELLO           "},
      {"lead-in of 5000 is too short", StdTape().lead_in(5000).header(1, "A").v, none},
      {"75 is short", StdTape().lead_in(5001, 75).header(3, "A").v, at},
      {"113 is short", StdTape().lead_in(5001, 113).header(3, "A").v, at},
      {"151 is medium", hdr().set(m + 1, 151).v, at},
      {"152 is not medium", hdr().set(m + 1, 152).v, none},
      {"a pair of two 113s is a 1", hdr().set(b2 + 2, 113).set(b2 + 3, 113).v, at, "A!              "},
      {"short, short is no bit", hdr().set(b2 + 2, 90).set(b2 + 3, 90).v, none},
      {"medium, medium is no bit", hdr().set(b2 + 2, 130).set(b2 + 3, 130).v, none},
      {"parity pulses are not looked at", hdr().set(m + 18, 0).v, at},
      {"countdown byte 1 must be 0x89", hdr(1, 1).v, none},
      {"countdown byte 9 must be 0x81", hdr(1, 9).v, none},
      {"a medium pulse after the lead-in searches again", StdTape().lead_in(6000).lead_in(1, 130).header(1, "A").v, none},
      {"152 after the lead-in searches again", StdTape().lead_in(6000).lead_in(1, 152).header(1, "A").v, none},
      {"no report without the last long pulse", StdTape().lead_in(5001).header(1, "ABCDEFGHIJKLMNOP").set(5601, 132).v, none, "ABCDEFGHIJKLMNO#"},
  };
  // clang-format on
  for (std::uint8_t breaker : {74, 114, 151, 152, 192})
    cases.push_back({"lead-in broken by " + std::to_string(breaker),
                     StdTape().lead_in(3000).lead_in(1, breaker).lead_in(2001).header(1, "A").v,
                     none});
  for (int type = 0; type < 6; ++type)
    cases.push_back(
        {"type " + std::to_string(type), hdr(type).v, type == 1 || type == 3 ? at : none});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string name;
    EXPECT_EQ((reports<StdHeaderState>(c.tape, scan_std_header, name)), c.at);
    if (!c.name.empty()) {
      EXPECT_EQ(name, c.name);
    }
  }
}

TEST(Countdown, WindowsAndCounts) {
  struct Case {
    std::string what;
    int k;  // the scanner: 9 or 12
    Values tape;
    Positions at;
  };
  // The pulse after the name: pilot, countdown, type, five bytes and the name, then one more.
  const auto end = [](std::size_t pilot, std::size_t k) {
    return Positions{(pilot + k + 22) * 8 + 1};
  };
  const Positions nine = end(1000, 9), twelve = end(1000, 12), none = {};
  const std::size_t b2 = (1000 + 9 + 6 + 1) * 8;  // name byte 2 of a 9-to-1 tape: its top bit is 0
  Values noise = {54, 54, 54, 54, 54, 54, 81, 200};  // 0000001, then noise: a 0 bit
  const Values rest = turbo(958, 9, 1, "NOISE");
  noise.insert(noise.end(), rest.begin(), rest.end());
  // clang-format off
  std::vector<Case> cases = {
      {"9: report on the pulse after the name", 9, turbo(959, 9, 1, "NINE"), end(959, 9)},
      {"12: report on the pulse after the name", 12, turbo(959, 12, 2, "TWELVE"), end(959, 12)},
      {"9: a pilot of 958 is too short", 9, turbo(958, 9, 1, "X"), none},
      {"12: a pilot of 958 is too short", 12, turbo(958, 12, 1, "X"), none},
      {"9: countdown byte 1 is checked", 9, turbo(1000, 9, 1, "X", 81, 54, 54, 1), none},
      {"12: countdown byte 1 is checked", 12, turbo(1000, 12, 1, "X", 81, 54, 54, 1), none},
      {"9: countdown byte 9 is checked", 9, turbo(1000, 9, 1, "X", 81, 54, 54, 9), none},
      {"67 is a 1 for the 9", 9, turbo(1000, 9, 1, "A", 67, 54), nine},
      {"67 is a 0 for the 12", 12, turbo(1000, 12, 1, "A", 81, 67), twelve},
      {"68 is a 1 for the 12", 12, turbo(1000, 12, 1, "A", 68, 54), twelve},
      {"94 is a 1 for the 12", 12, turbo(1000, 12, 1, "A", 94, 54), twelve},
      {"95 is a 1 for the 9", 9, turbo(1000, 9, 1, "A", 95, 54), nine},
      {"95 is no bit for the 12", 12, turbo(1000, 12, 1, "A", 95, 54), none},
      {"96 is no bit for the 9", 9, turbo(1000, 9, 1, "A", 96, 54), none},
      {"39 is a 0 for the 9", 9, turbo(1000, 9, 1, "A", 81, 39), nine},
      {"38 is no bit for the 9", 9, turbo(1000, 9, 1, "A", 81, 38), none},
      {"41 is no bit for the 12", 12, turbo(1000, 12, 1, "A", 81, 41), none},
      {"42 is a 0 for the 12", 12, turbo(1000, 12, 1, "A", 81, 42), twelve},
      {"9: the last pulse may be anything", 9, turbo(1000, 9, 1, "A", 81, 54, 255), nine},
      {"12: the last pulse may be anything", 12, turbo(1000, 12, 1, "A", 81, 54, 0), twelve},
      {"no bit in the pilot starts the search again", 9, with(turbo(1000, 9, 1, "A"), 4000, 200), none},
      {"no bit in a header byte ends the header", 9, with(turbo(1000, 9, 1, "A"), b2, 200), none},
      {"noise in the search is a 0 bit", 9, noise, {8 + end(958, 9)[0]}},
  };
  // clang-format on
  for (int type = 0; type < 5; ++type)
    for (int k : {9, 12})
      cases.push_back({std::to_string(k) + ": type " + std::to_string(type), k,
                       turbo(1000, k, static_cast<std::uint8_t>(type), "T"),
                       type == 1 || type == 2 ? (k == 9 ? nine : twelve) : none});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string name;
    EXPECT_EQ(c.k == 9 ? reports<CountdownState>(c.tape, scan_countdown9_header, name)
                       : reports<CountdownState>(c.tape, scan_countdown12_header, name),
              c.at);
  }
}

// --- The feed ---------------------------------------------------------------------------

std::vector<std::uint8_t> as_words(const Values& values) {
  std::vector<std::uint8_t> out;
  for (auto v : values) {
    const std::uint16_t w = static_cast<std::uint16_t>(v * 8 + 5);
    out.insert(out.end(), {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)});
  }
  return out;
}

using Reports = std::vector<std::pair<std::string, std::uint32_t>>;
struct CollectedReports : NameListener {
  void on_name(const char* name, std::uint32_t word) override { out.emplace_back(name, word); }
  Reports out;
};

Reports feed_in_chunks(const std::vector<std::uint8_t>& stream, std::size_t size,
                       bool stray_byte = false) {
  CollectedReports got;
  PulseFeed feed(got);
  for (std::size_t at = 0; at < stream.size(); at += size) {
    std::vector<std::uint8_t> chunk(
        stream.begin() + static_cast<long>(at),
        stream.begin() + static_cast<long>(std::min(stream.size(), at + size)));
    if (stray_byte) chunk.push_back(0xAB);  // an odd byte at a chunk's end never pairs up
    feed.feed_pulse_words(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
  }
  return got.out;
}

TEST(PulseFeed, WordsPairFromEachChunkStart) {
  const auto stream = as_words(StdTape().lead_in(5001).header(1, "CHUNKS").v);
  EXPECT_EQ(feed_in_chunks(stream, 62, true), (Reports{{"CHUNKS", (5602 - 1) % 31}}));
}

TEST(PulseFeed, ResetFlagCrossesChunksAndClearsTheOtherScanners) {
  // A standard header reports on the last word of a chunk. Its parity pulses (81) leave ones
  // in the countdown scanners' registers; only the reset flag on the next word clears them,
  // and only then do the bits 1, 0 and 958 more pilot bytes make a pilot long enough.
  StdTape t;
  t.parity = 81;
  const auto first = as_words(t.lead_in(5001).header(1, "FIRST").v);
  const auto second = as_words(Values{81, 54} + turbo(958, 9, 1, "SECOND"));
  EXPECT_EQ(feed_in_chunks(first + second, first.size()),
            (Reports{{"FIRST", 5601}, {"SECOND", 2 + 7912 - 5602}}));
}

// Files of every encoding one after another, fed in chunks as the recorder stores them. (The
// feed fuzzer holds the feed to the plain scanner chain on any stream.)
TEST(PulseFeed, SeveralFilesOfEveryEncodingInOrder) {
  using synth::Encoding;
  synth::TapeLayout layout;
  layout.jitter = 15;
  const auto tape = synth::synthesize({{Encoding::kStandard, 1, "ONE", {1, 2, 3}, 0x0801},
                                       {Encoding::kCountdown12, 2, "TWO", {4, 5}, 0x1001},
                                       {Encoding::kCountdown9, 1, "THREE", {6}, 0x0801},
                                       {Encoding::kStandard, 3, "FOUR", {7, 8}, 0xC000}},
                                      layout);
  std::vector<std::string> names;
  for (const auto& r : feed_in_chunks(tape, 64)) names.push_back(r.first);
  EXPECT_EQ(names, (std::vector<std::string>{"ONE", "TWO", "THREE", "FOUR"}));
  // Zeros of 67 are ones to the 9-to-1 scanner: the 12-to-1 one must find its pilot alone.
  EXPECT_EQ(feed_in_chunks(as_words(turbo(1000, 12, 1, "ALONE", 81, 67)), 64).size(), 1u);
}

TEST(InterceptedName, TrimmedAndFiltered) {
  const auto pad = [](std::string s) { return s.append(16 - s.size(), ' '); };
  const std::pair<std::string, std::string> cases[] = {
      {pad("HELLO"), "HELLO"},
      {pad(""), ""},
      {pad("[A\\B]^_`abc~"), "[A\\B]"},
      {pad("X\x80\xC1\x7F\x01Y"), "XY"},
      {"AB " + std::string(13, '\xA0'), "AB "},  // shifted-space padding is not trimmed
      {pad(std::string("ABC\0EFG", 7)), "ABC"}};
  for (const auto& [name, shown] : cases) {
    std::uint8_t buffer[17] = {};
    std::copy(name.begin(), name.end(), buffer);
    char out[17];
    clean_intercepted_name(buffer, out);
    EXPECT_EQ(std::string(out), shown);
  }
}

// The real tapes as the device streams them: the right scanner reports the name.
TEST(RealTapes, RightScannerForEachTape) {
  TAPEWREN_NEEDS_REAL_TAPES();
  for (const std::string tape : {"c64-pal-normal", "c64-ntsc-normal", "c64-pal-normal-errors",
                                 "vic20-pal", "vic20-ntsc", "c64-pal-turbo", "plus4-pal"}) {
    SCOPED_TRACE(tape);
    std::string names[3];
    const auto dump = recording::dump_of(testing::read_real_tape(tape));
    Values values;
    for (std::size_t i = 0; i + 1 < dump.size(); i += 2)
      values.push_back(pulse_value(static_cast<std::uint16_t>(dump[i] | dump[i + 1] << 8)));
    const std::size_t found[3] = {
        reports<StdHeaderState>(values, scan_std_header, names[0]).size(),
        reports<CountdownState>(values, scan_countdown9_header, names[1]).size(),
        reports<CountdownState>(values, scan_countdown12_header, names[2]).size()};
    const int scanner = tape == "plus4-pal" ? -1 : tape == "c64-pal-turbo" ? 1 : 0;
    for (int s = 0; s < 3; ++s) EXPECT_EQ(found[s], s == scanner ? 1u : 0u) << s;
    if (scanner >= 0) {
      EXPECT_EQ(names[scanner], "ROMEO & JULIET  ");
    }
  }
}

}  // namespace
}  // namespace tapewren::names
