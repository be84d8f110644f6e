// Decoding recordings into files: the real tapes, a table of synthetic tapes with the damage
// and the deck trouble a user meets, and the file names a user gets.
#include "tape/tape.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "common/real_tapes.hpp"
#include "recording/recording.hpp"
#include "tape_synth.hpp"

namespace tapewren::tape {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Files : FileListener, std::vector<TapeFile> {
  void on_file(const TapeFile& file) override { push_back(file); }
};

// Any recording, read as the tools read it.
std::vector<TapeFile> decode(const Bytes& recording, bool half_waves = false) {
  Files files;
  io::MemorySource source(recording);
  recording::Reader reader(source);
  EXPECT_TRUE(reader.open());
  Decoder decoder(985248, files, half_waves || reader.half_waves());
  auto pulses = std::make_unique<recording::Pulses>();
  while (reader.next(*pulses)) decoder.feed(*pulses);
  decoder.finish();
  return files;
}

std::uint32_t fingerprint(const std::vector<TapeFile>& files) {
  Fingerprint f;
  for (const TapeFile& file : files) f.add(file);
  return f.value();
}

std::vector<TapeFile> decode_tap(const std::string& name) {
  return decode(testing::read_real_tape(name));
}

std::string text(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// Every C64 recording of the tape gives the same program, whatever the loader, the video
// standard or the damage; the VIC20's keep the addresses their headers give.
TEST(Decoder, RealTapes) {
  TAPEWREN_NEEDS_REAL_TAPES();
  const auto reference = decode_tap("c64-pal-normal");
  ASSERT_EQ(reference.size(), 1u);
  const TapeFile& romeo = reference[0];
  EXPECT_EQ(readable_name(romeo.name), "ROMEO & JULIET");
  EXPECT_EQ(romeo.start, 0x0801);
  EXPECT_EQ(romeo.data.size(), 702u);
  EXPECT_NE(text(romeo.data).find("BOTH ALIKE IN DIGNITY"), std::string::npos);
  for (const char* tape : {"c64-ntsc-normal", "c64-pal-normal-errors", "c64-pal-turbo"}) {
    SCOPED_TRACE(tape);
    const auto files = decode_tap(tape);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].data, romeo.data);
    EXPECT_EQ(files[0].name, romeo.name);
    EXPECT_EQ(files[0].verdict,
              std::string(tape) == "c64-pal-normal-errors" ? Verdict::kRepaired : Verdict::kOk);
    EXPECT_EQ(fingerprint(files), fingerprint(reference));
  }
  EXPECT_GT(decode_tap("c64-pal-normal-errors")[0].body.taken_from_repeat, 0);
  // Recorded with both edges: every pulse as two half waves, a little uneven, the first one
  // alone (as when the recording starts in the middle of a pulse).
  const Bytes whole = recording::dump_of(testing::read_real_tape("c64-pal-normal-errors"));
  Bytes halves = {0x40, 0x01};
  for (std::size_t i = 0; i + 1 < whole.size(); i += 2) {
    const int w = whole[i] | whole[i + 1] << 8;
    for (const int h : {w == 0xFFFF ? w : w / 2 + w / 20, w == 0xFFFF ? 0 : w - w / 2 - w / 20})
      if (h > 0)
        halves.insert(halves.end(),
                      {static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8)});
  }
  EXPECT_EQ(decode(halves, true).at(0).data, romeo.data);
  for (const auto& [tape, start] :
       {std::pair{"vic20-pal", 0x1001}, std::pair{"vic20-ntsc", 0x1201}}) {
    const auto files = decode_tap(tape);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].start, start);
    EXPECT_EQ(files[0].verdict, Verdict::kOk);
    EXPECT_NE(text(files[0].data).find("TWO HOUSEHOLDS"), std::string::npos);
  }
}

struct Expected {
  Kind kind;
  Verdict verdict;
  int from_repeat = 0;
};

TEST(Decoder, SyntheticTapes) {
  using synth::Encoding;
  Bytes program(300), records(500);
  for (std::size_t i = 0; i < program.size(); ++i) program[i] = static_cast<std::uint8_t>(i * 7);
  for (std::size_t i = 0; i < records.size(); ++i)
    records[i] = static_cast<std::uint8_t>('A' + i % 26);
  Bytes padded = records;
  padded.resize(3 * 191, 0);  // the last record is padded
  const synth::TapeFile prg{Encoding::kStandard, 1, "PROGRAM", program, 0x0801};
  const synth::TapeFile big{Encoding::kStandard, 1, "BIG", Bytes(3000, 0x55), 0x0801};
  const auto damaged = [&](std::vector<std::pair<int, int>> errors, bool bad_sum = false) {
    synth::TapeFile f = prg;
    f.parity_errors = std::move(errors);
    f.bad_checksum = bad_sum;
    return f;
  };
  const auto part = [&](bool header, bool data, Encoding e = Encoding::kStandard) {
    synth::TapeFile f = prg;
    f.encoding = e;
    f.with_header = header;
    f.with_data = data;
    return f;
  };
  const auto layout = [](double speed, double drift = 0, int noise = 0) {
    synth::TapeLayout l;
    l.speed = speed;
    l.drift = drift;
    l.noise_spikes = noise;
    return l;
  };
  const Expected ok{Kind::kProgram, Verdict::kOk};
  struct Case {
    const char* what;
    std::vector<synth::TapeFile> files;
    std::vector<Expected> expected;
    synth::TapeLayout layout = {};
  };
  // clang-format off
  const std::vector<Case> cases = {
    {"a clean program", {prg}, {ok}},
    {"a parity error in copy 1, repaired from copy 2", {damaged({{1, 5}})}, {{Kind::kProgram, Verdict::kRepaired, 1}}},
    {"each copy damaged in another place", {damaged({{1, 5}, {1, 200}, {2, 9}})}, {{Kind::kProgram, Verdict::kRepaired, 2}}},
    {"a dropout in copy 1: the bytes after it keep their places", {[&] { auto f = prg; f.dropouts = {{1, 40}}; return f; }()}, {{Kind::kProgram, Verdict::kRepaired, 1}}},
    {"the same byte bad in both copies", {damaged({{1, 5}, {2, 5}})}, {{Kind::kProgram, Verdict::kBad}}},
    {"a checksum that does not verify", {damaged({}, true)}, {{Kind::kProgram, Verdict::kBad}}},
    {"a header without its data", {part(true, false), prg}, {{Kind::kHeaderOnly, Verdict::kIncomplete}, ok}},
    {"data without its header", {part(false, true), prg}, {{Kind::kDataWithoutHeader, Verdict::kIncomplete}, ok}},
    {"a data file of three records", {{Encoding::kStandard, 4, "RECORDS", records, 0x033C}}, {{Kind::kDataFile, Verdict::kOk}}},
    {"a turbo program", {part(true, true, Encoding::kCountdown9)}, {ok}},
    {"turbo data without its header", {part(false, true, Encoding::kCountdown9)}, {{Kind::kDataWithoutHeader, Verdict::kIncomplete}}},
    {"a turbo checksum that does not verify", {[&] { auto f = part(true, true, Encoding::kCountdown9); f.bad_checksum = true; return f; }()},
     {{Kind::kProgram, Verdict::kBad}}},
    {"the 12-to-1 loader's file is named", {part(true, true, Encoding::kCountdown12)}, {{Kind::kNamed, Verdict::kNamed}}},
    {"the whole tape 8 % slow", {prg, part(true, true, Encoding::kCountdown9)}, {ok, ok}, layout(1.08)},
    {"the whole tape 8 % fast", {prg, part(true, true, Encoding::kCountdown9)}, {ok, ok}, layout(0.92)},
    {"speed drifting along the side", {prg, prg, prg, prg}, {ok, ok, ok, ok}, layout(0.95, 0.1)},
    {"speed changing fast inside a block", {big}, {ok}, layout(0.9, 0.6)},
    {"a deck 15 % fast", {prg}, {ok}, layout(0.85)},
    {"a turbo loader with shorter pulses", {part(true, true, Encoding::kCountdown9)}, {ok}, layout(0.7)},
    {"noise spikes between blocks", {prg, part(true, true, Encoding::kCountdown9)}, {ok, ok}, layout(1, 0, 30)},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto files = decode(synth::synthesize(c.files, c.layout));
    ASSERT_EQ(files.size(), c.expected.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(files[i].kind, c.expected[i].kind) << i;
      EXPECT_EQ(files[i].verdict, c.expected[i].verdict) << i;
      EXPECT_EQ(files[i].body.taken_from_repeat, c.expected[i].from_repeat) << i;
      if (c.expected[i].verdict == Verdict::kOk || c.expected[i].verdict == Verdict::kRepaired) {
        EXPECT_EQ(files[i].data, c.files[i].header_type == 4 ? padded : c.files[i].data) << i;
      }
    }
  }
}

TEST(FileNames, SafeOnLinuxAndWindows) {
  const auto name = [](std::string s) {
    std::array<std::uint8_t, 16> n{};
    n.fill(0x20);
    std::copy(s.begin(), s.end(), n.begin());
    return safe_file_name(n);
  };
  EXPECT_EQ(name("A/B:C*?"), "A_B_C__");
  EXPECT_EQ(name("CON"), "_CON");
  EXPECT_EQ(name("\xcc\xd0\xd4"
                 "1.X"),
            "_lpt1.X");  // shifted letters: lower case
  EXPECT_EQ(name("COM10"), "COM10");
  EXPECT_EQ(name("COM0"), "_COM0");
  EXPECT_EQ(name("-RF"), "_-RF");            // never read as an option
  EXPECT_EQ(name(".PROFILE"), "_.PROFILE");  // never hidden
  EXPECT_EQ(name("\x5c\x5e\x5f\x01\xd3"), "#^__s");
  EXPECT_EQ(name("GAME.  "), "GAME");
  EXPECT_EQ(name(""), "UNNAMED");
}

}  // namespace
}  // namespace tapewren::tape
