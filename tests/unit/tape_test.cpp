// Decoding recordings into files: one table of synthetic tapes with the damage and the deck
// trouble a user meets, every row stating each file's whole report line; the real tapes'
// whole reports; the summary of what was and was not read; the file names a user gets.
#include "tape/tape.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "common/clean.hpp"
#include "common/decode.hpp"
#include "common/real_tapes.hpp"
#include "loaders.hpp"
#include "recording/recording.hpp"
#include "report.hpp"
#include "synth/tape_synth.hpp"
#include "tape/loaders/cyberload.hpp"
#include "tape/merge.hpp"

namespace tapewren::tape {
namespace {

using Bytes = std::vector<std::uint8_t>;
using synth::Encoding;

synth::TapeLayout speed_of(double speed, double drift = 0) {
  synth::TapeLayout l;
  l.speed = speed;
  l.drift = drift;
  return l;
}

using testing::decode;

std::string report(const std::vector<TapeFile>& files) {
  std::string out;
  for (std::size_t i = 0; i < files.size(); ++i)
    out += scan::file_row(files[i], static_cast<int>(i) + 1);
  return out;
}

// A report's columns after where and when each file begins.
std::string columns(const std::string& r) {
  std::string out;
  for (std::size_t at = 0; at < r.size(); at = r.find('\n', at) + 1)
    out += r.substr(at + 23, r.find('\n', at) - at - 22);
  return out;
}

// How many pulses of a recording begin before a byte offset.
std::size_t pulses_before(const Bytes& recording, std::uint64_t offset) {
  io::MemorySource source(recording);
  recording::Reader reader(source);
  EXPECT_TRUE(reader.open());
  auto p = std::make_unique<recording::Pulses>();
  std::size_t n = 0;
  while (reader.next(*p))
    for (std::size_t i = 0; i < p->count; ++i) n += p->offset[i] < offset;
  return n;
}

// A report line as the table lays it out: where and when the file begins, then its columns.
struct Line {
  int file, block, copy;  // the synthesizer's block where the file begins
  const char *loader, *type, *name, *start, *end, *size, *header, *data, *verdict;
};

std::string expected_report(const std::vector<Line>& lines,
                            const std::vector<synth::Placed>& placed, double clock) {
  std::string out;
  int number = 0;
  for (const Line& l : lines) {
    const auto at = std::find_if(placed.begin(), placed.end(), [&](const synth::Placed& p) {
      return p.file == l.file && p.block == l.block && p.copy == l.copy;
    });
    EXPECT_NE(at, placed.end()) << l.name;
    if (at == placed.end()) continue;
    const auto seconds = static_cast<long>(static_cast<double>(at->half_cycles) / (2 * clock));
    char time[32], line[512];
    std::snprintf(time, sizeof time, "%ld:%02ld", seconds / 60, seconds % 60);
    std::snprintf(line, sizeof line, "%3d %10llu %7s  %-10s %-9s %-16s %5s %5s %5s  %-7s %-7s %s\n",
                  ++number, static_cast<unsigned long long>(at->offset), time, l.loader, l.type,
                  l.name, l.start, l.end, l.size, l.header, l.data, l.verdict);
    out += line;
  }
  return out;
}

TEST(Decoder, SyntheticTapes) {
  Bytes program(300), records(500), early(646), seq;
  for (int i = 0; i < 256; ++i) seq.push_back(static_cast<std::uint8_t>(i));
  seq.insert(seq.end(), {0x00, 0x42});
  for (std::size_t i = 0; i < program.size(); ++i) program[i] = static_cast<std::uint8_t>(i * 7);
  for (std::size_t i = 0; i < records.size(); ++i)
    records[i] = static_cast<std::uint8_t>('A' + i % 26);
  for (std::size_t i = 0; i < early.size(); ++i) early[i] = static_cast<std::uint8_t>(i * 3 + 1);
  const synth::TapeFile prg{Encoding::kStandard, 1, "PROGRAM", program, 0x0801};
  const synth::TapeFile big{Encoding::kStandard, 1, "BIG", Bytes(3000, 0x55), 0x0801};
  const auto with = [&](synth::TapeFile f, auto change) {
    change(f);
    return f;
  };
  const auto turbo = [&](Encoding e = Encoding::kCountdown9) {
    return with(prg, [&](synth::TapeFile& f) { f.encoding = e; });
  };
  const auto part = [&](bool header, bool data, Encoding e = Encoding::kStandard) {
    return with(prg, [&](synth::TapeFile& f) {
      f.encoding = e;
      f.with_header = header;
      f.with_data = data;
    });
  };
  const auto layout = [](auto change) {
    synth::TapeLayout l;
    change(l);
    return l;
  };
  const auto speed = [&](double s, double drift = 0) {
    return layout([&](synth::TapeLayout& l) {
      l.speed = s;
      l.drift = drift;
    });
  };
  struct Case {
    const char* what;
    std::vector<synth::TapeFile> files;
    std::vector<Line> lines;
    synth::TapeLayout layout = {};
    double clock = 985248;
    bool half_waves = false;
  };
  const Line ok{0,       0,       1,     "ROM",   "program", "PROGRAM",
                "$0801", "$092D", "300", "ok ok", "ok ok",   "ok"};
  const Line turbo_ok{0,       0,       1,     "Turbo Tape", "program", "PROGRAM",
                      "$0801", "$092D", "300", "ok",         "ok",      "ok"};
  const auto nth = [](Line l, int file) {
    l.file = file;
    return l;
  };
  // clang-format off
  const std::vector<Case> cases = {
    {"a clean program", {prg}, {ok}},
    {"a parity error in copy 1, repaired from copy 2", {with(prg, [](auto& f) { f.parity_errors = {{1, 5}}; })},
     {{0, 0, 1, "ROM", "program", "PROGRAM", "$0801", "$092D", "300", "ok ok", "1e ok", "repaired (1 bytes from the repeat)"}}},
    {"each copy damaged in another place", {with(prg, [](auto& f) { f.parity_errors = {{1, 5}, {1, 200}, {2, 9}}; })},
     {{0, 0, 1, "ROM", "program", "PROGRAM", "$0801", "$092D", "300", "ok ok", "2e 1e", "repaired (2 bytes from the repeat)"}}},
    {"a dropout in copy 1: the bytes after it keep their places", {with(prg, [](auto& f) { f.dropouts = {{1, 40}}; })},
     {{0, 0, 1, "ROM", "program", "PROGRAM", "$0801", "$092D", "300", "ok ok", "1e ok", "repaired (1 bytes from the repeat)"}}},
    {"the same byte bad in both copies", {with(prg, [](auto& f) { f.parity_errors = {{1, 5}, {2, 5}}; })},
     {{0, 0, 1, "ROM", "program", "PROGRAM", "$0801", "$092D", "300", "ok ok", "1e 1e", "bad"}}},
    {"a checksum that does not verify", {with(prg, [](auto& f) { f.bad_checksum = true; })},
     {{0, 0, 1, "ROM", "program", "PROGRAM", "$0801", "$092D", "300", "ok ok", "sum sum", "bad"}}},
    {"a header without its data", {part(true, false), prg},
     {{0, 0, 1, "ROM", "header", "PROGRAM", "$0801", "$092D", "", "ok ok", "", "incomplete (no data)"}, nth(ok, 1)}},
    {"a ROM header without its data, then a turbo program: in tape order", {part(true, false), turbo()},
     {{0, 0, 1, "ROM", "header", "PROGRAM", "$0801", "$092D", "", "ok ok", "", "incomplete (no data)"}, nth(turbo_ok, 1)}},
    {"data without its header", {part(false, true), prg},
     {{0, 1, 1, "ROM", "data", "", "", "", "300", "", "ok ok", "incomplete (no header)"}, nth(ok, 1)}},
    {"the header's repeat and the data's first copy lost: each copy paired with its own",
     {with(prg, [](auto& f) { f.lost_copies = {{0, 2}, {1, 1}}; })},
     {{0, 0, 1, "ROM", "program", "PROGRAM", "$0801", "$092D", "300", "ok -", "- ok", "repaired (from the repeat)"}}},
    {"a block that ends early with a good checksum, as the machine loads it",
     {{Encoding::kStandard, 3, "BOOT", early, 0x02A7, {}, {}, false, true, true, {}, 723}},
     {{0, 0, 1, "ROM", "program", "BOOT", "$02A7", "$057A", "646", "ok ok", "ok ok", "ok (646 of 723 bytes: the block ends early)"}}},
    {"a data file of three records ends at its first 0x00", {{Encoding::kStandard, 4, "RECORDS", records, 0x033C}},
     {{0, 0, 1, "ROM", "data file", "RECORDS", "", "", "500", "ok ok", "ok ok", "ok (ends at its first 0x00, byte 500 of 573)"}}},
    {"a data file's first byte comes whatever it is: it ends at the first 0x00 after it",
     {{Encoding::kStandard, 4, "SEQ", seq, 0x033C}},
     {{0, 0, 1, "ROM", "data file", "SEQ", "", "", "256", "ok ok", "ok ok", "ok (ends at its first 0x00, byte 256 of 382)"}}},
    {"control codes left out of a name", {with(prg, [](auto& f) { f.name = "\x93\x1c" "GAME\x03\x03"; })},
     {{0, 0, 1, "ROM", "program", "GAME", "$0801", "$092D", "300", "ok ok", "ok ok", "ok"}}},
    {"a turbo program", {turbo()}, {turbo_ok}},
    {"a turbo header when the recording ends, its data never came", {part(true, false, Encoding::kCountdown9)},
     {{0, 0, 1, "Turbo Tape", "header", "PROGRAM", "$0801", "$092D", "", "ok", "", "incomplete (no data)"}}},
    {"turbo data without its header", {part(false, true, Encoding::kCountdown9)},
     {{0, 1, 1, "Turbo Tape", "data", "", "", "", "300", "", "ok", "incomplete (no header)"}}},
    {"a Super Tape header when the recording ends, its data never came", {part(true, false, Encoding::kSuperTape)},
     {{0, 10, 1, "Super Tape", "header", "PROGRAM", "$0801", "$092D", "", "ok", "", "incomplete (no data)"}}},
    {"Super Tape data without its header: its count holds, nothing tells where it loads", {part(false, true, Encoding::kSuperTape)},
     {{0, 11, 1, "Super Tape", "data", "", "", "", "300", "", "ok", "incomplete (no header)"}}},
    {"Super Tape pilots of 63 bytes: the half-wave reading's state from the pilot's long pulses",
     {with(prg, [](auto& f) { f.encoding = Encoding::kSuperTape; f.pilot_bytes = 63; })},
     {{0, 10, 1, "Super Tape", "program", "PROGRAM", "$0801", "$092D", "300", "ok", "ok", "ok"}}},
    {"a Super Tape header whose count fails tells nothing: its data without it", {with(prg, [](auto& f) { f.encoding = Encoding::kSuperTape; f.variant = 1; })},
     {{0, 11, 1, "Super Tape", "data", "", "", "", "300", "", "ok", "incomplete (no header)"}}},
    {"a turbo checksum that does not verify", {with(turbo(), [](auto& f) { f.bad_checksum = true; })},
     {{0, 0, 1, "Turbo Tape", "program", "PROGRAM", "$0801", "$092D", "300", "ok", "sum", "bad"}}},
    {"the 12-to-1 loader's file is named, all 16 characters", {with(turbo(Encoding::kCountdown12), [](auto& f) { f.name = "TWELVE TO ONE 16"; })},
     {{0, 0, 1, "12-to-1", "named", "TWELVE TO ONE 16", "", "", "", "", "", "named only"}}},
    {"the whole tape 8 % slow", {prg, turbo()}, {ok, nth(turbo_ok, 1)}, speed(1.08)},
    {"the whole tape 8 % fast", {prg, turbo()}, {ok, nth(turbo_ok, 1)}, speed(0.92)},
    {"speed drifting along the side", {prg, prg, prg, prg}, {ok, nth(ok, 1), nth(ok, 2), nth(ok, 3)}, speed(0.95, 0.1)},
    {"speed changing fast inside a block", {big},
     {{0, 0, 1, "ROM", "program", "BIG", "$0801", "$13B9", "3000", "ok ok", "ok ok", "ok"}}, speed(0.9, 0.6)},
    {"a deck 15 % fast", {prg}, {ok}, speed(0.85)},
    {"a turbo loader with shorter pulses", {turbo()}, {turbo_ok}, speed(0.7)},
    {"a long turbo file on a deck slowing down by a fifth along it",
     {with(turbo(), [](auto& f) { f.data.assign(16000, 0x0F); })},
     {{0, 0, 1, "Turbo Tape", "program", "PROGRAM", "$0801", "$4681", "16000", "ok", "ok", "ok"}},
     speed(0.9, 0.17)},
    {"noise spikes between blocks", {prg, turbo()}, {ok, nth(turbo_ok, 1)}, layout([](auto& l) { l.noise_spikes = 30; })},
    {"two pauses of 68 s, as between the sides", {prg, turbo()}, {ok, nth(turbo_ok, 1)}, layout([](auto& l) { l.gap_words = 2045; })},
    {"turbo data after a 10 s pause, with the real tape's 172-byte data pilot", {turbo(), turbo(), turbo(), turbo()},
     {turbo_ok, nth(turbo_ok, 1), nth(turbo_ok, 2), nth(turbo_ok, 3)},
     layout([](auto& l) { l.header_data_gap_words = 300; l.data_pilot = 172; })},
    {"turbo data after a 2 s pause, with a 128-byte pilot", {turbo(), turbo()}, {turbo_ok, nth(turbo_ok, 1)},
     layout([](auto& l) { l.header_data_gap_words = 60; l.data_pilot = 128; })},
    {"a C16 program and a data file", {with(prg, [](auto& f) { f.encoding = Encoding::kC16; f.start_address = 0x1001; }),
                                       {Encoding::kC16, 4, "RECORDS", records, 0x0333}},
     {{0, 0, 1, "C16 ROM", "program", "PROGRAM", "$1001", "$112D", "300", "ok ok", "ok ok", "ok"},
      {1, 0, 1, "C16 ROM", "data file", "RECORDS", "", "", "500", "ok ok", "ok ok", "ok (ends at its first 0x00, byte 500 of 573)"}},
     layout([](auto& l) { l.header_lead_in = 2000; l.data_lead_in = 800; }), 886724},
    {"a C16 recording 1.2 x slower, a parity error repaired",
     {with(prg, [](auto& f) { f.encoding = Encoding::kC16; f.start_address = 0x1001; f.parity_errors = {{1, 7}}; })},
     {{0, 0, 1, "C16 ROM", "program", "PROGRAM", "$1001", "$112D", "300", "ok ok", "1e ok", "repaired (1 bytes from the repeat)"}},
     layout([](auto& l) { l.speed = 1.2; l.header_lead_in = 2000; }), 886724},
    {"both edges recorded: half waves paired up", {prg, turbo()}, {ok, nth(turbo_ok, 1)},
     layout([](auto& l) { l.both_edges = true; }), 985248, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    synth::TapeWriter writer(c.layout);
    for (const auto& f : c.files) {
      writer.gap();
      writer.add(f);
    }
    writer.gap();
    DecoderSettings settings;
    settings.half_waves = c.half_waves;
    const auto decoded = decode(writer.words(), settings);
    EXPECT_EQ(report(decoded.files), expected_report(c.lines, writer.placed(), c.clock));
    // The bytes of every good file, as the synthesizer wrote them (a data file's up to its
    // end, as the size column says).
    for (std::size_t i = 0; i < decoded.files.size() && i < c.files.size(); ++i) {
      const TapeFile& f = decoded.files[i];
      if (f.verdict != Verdict::kOk && f.verdict != Verdict::kRepaired) continue;
      EXPECT_EQ(f.data,
                Bytes(c.files[i].data.begin(),
                      c.files[i].data.begin() +
                          static_cast<long>(std::min(f.data.size(), c.files[i].data.size()))))
          << i;
    }
  }
}

// The real tapes' whole reports: offsets in the TAP file's own bytes, the machine each one
// turns out to be, what share of it was read.
TEST(Decoder, RealTapes) {
  TAPEWREN_NEEDS_REAL_TAPES();
  const auto whole_report = [](const std::string& name, DecoderSettings settings = {}) {
    const Bytes tap = testing::read_real_tape(name);
    io::MemorySource source(tap);
    recording::Reader reader(source);
    EXPECT_TRUE(reader.open());
    settings.default_machine = reader.tap_header().platform;
    const auto decoded = decode(tap, settings);
    Fingerprint print;
    for (const auto& f : decoded.files) print.add(f);
    char line[64];
    std::snprintf(line, sizeof line, "fingerprint %08x\n", print.value());
    // Where each block begins (as TAPClean puts the turbo data block, at its pilot's first
    // pulse after the header's filler).
    std::string blocks = "blocks:";
    for (const auto& f : decoded.files)
      for (const BlockRead& b : f.blocks)
        blocks += std::string(" ") + b.role + " " + std::to_string(b.copy) + " at " +
                  std::to_string(b.offset);
    return report(decoded.files) + blocks + "\n" + line +
           scan::summary_text(decoded.summary,
                              {"from the TAP header", false, "from the TAP version"});
  };
  const std::string head =
      "machine C64 PAL (from the TAP header), whole pulses (one edge) (from the TAP version)\n";
  // clang-format off
  const std::vector<std::pair<std::string, std::string>> tapes = {
    {"c64-pal-normal",
     "  1         20    0:00  ROM        program   ROMEO & JULIET   $0801 $0ABF   702  ok ok   ok ok   ok\n"
     "blocks: header 1 at 20 header 2 at 31197 data 1 at 35401 data 2 at 55018\n"
     "fingerprint 79a3b980\n" + head +
     "0:30 of tape: 98.7 % in blocks, 1.1 % pauses, 0.2 % not recognised; 69395 pulses: 99.8 % in blocks\n"},
    {"c64-ntsc-normal",
     "  1         20    0:00  ROM        program   ROMEO & JULIET   $0801 $0ABF   702  ok ok   ok ok   ok\n"
     "blocks: header 1 at 20 header 2 at 31197 data 1 at 35401 data 2 at 55018\n"
     "fingerprint 79a3b980\n" + head +
     "0:30 of tape: 98.7 % in blocks, 1.1 % pauses, 0.2 % not recognised; 69395 pulses: 99.8 % in blocks\n"},
    {"c64-pal-normal-errors",
     "  1         20    0:00  ROM        program   ROMEO & JULIET   $0801 $0ABF   702  ok ok   3e ok   repaired (3 bytes from the repeat)\n"
     "blocks: header 1 at 20 header 2 at 31197 data 1 at 35401 data 2 at 55018\n"
     "fingerprint 79a3b980\n" + head +
     "0:30 of tape: 98.7 % in blocks, 1.1 % pauses, 0.2 % not recognised; 69395 pulses: 99.8 % in blocks\n"},
    {"c64-pal-turbo",
     "  1         20    0:00  Turbo Tape program   ROMEO & JULIET   $0801 $0ABF   702  ok      ok      ok\n"
     "blocks: header 1 at 20 data 1 at 11803\n"
     "fingerprint 79a3b980\n" + head +
     "0:05 of tape: 100.0 % in blocks, 0.0 % pauses, 0.0 % not recognised; 23551 pulses: 100.0 % in blocks\n"},
    {"vic20-pal",
     "  1         28    0:00  ROM        program   ROMEO & JULIET   $1001 $12BF   702  ok ok   ok ok   ok\n"
     "blocks: header 1 at 28 header 2 at 31205 data 1 at 35409 data 2 at 55026\n"
     "fingerprint 4c8d7d14\n" + head +
     "0:28 of tape: 96.9 % in blocks, 2.9 % pauses, 0.2 % not recognised; 69397 pulses: 99.8 % in blocks\n"},
    {"vic20-ntsc",
     "  1         28    0:00  ROM        program   ROMEO & JULIET   $1201 $14BF   702  ok ok   ok ok   ok\n"
     "blocks: header 1 at 28 header 2 at 31205 data 1 at 35409 data 2 at 55026\n"
     "fingerprint cf3150b1\n" + head +
     "0:28 of tape: 96.9 % in blocks, 2.9 % pauses, 0.2 % not recognised; 69397 pulses: 99.8 % in blocks\n"},
    {"c128-pal",
     "  1         20    0:00  ROM        program   ROMEO & JULIET   $1C01 $1EBF   702  ok ok   ok ok   ok\n"
     "blocks: header 1 at 20 header 2 at 31197 data 1 at 35318 data 2 at 55012\n"
     "fingerprint 561a1f5e\n" + head +
     "0:31 of tape: 99.9 % in blocks, 0.0 % pauses, 0.1 % not recognised; 69390 pulses: 99.9 % in blocks\n"},
    {"plus4-pal",
     "  1         20    0:00  C16 ROM    program   ROMEO & JULIET   $1001 $12BF   702  ok ok   ok ok   ok\n"
     "blocks: header 1 at 20 header 2 at 20637 data 1 at 25118 data 2 at 55935\n"
     "fingerprint 4c8d7d14\n"
     "machine C16 PAL (guessed from the loaders found), whole pulses (one edge) (from the TAP version)\n"
     "0:46 of tape: 98.8 % in blocks, 1.2 % pauses, 0.0 % not recognised; 70588 pulses: 100.0 % in blocks\n"},
    {"plus4-ntsc",
     "  1         20    0:00  C16 ROM    program   ROMEO & JULIET   $1001 $12BF   702  ok ok   ok ok   ok\n"
     "blocks: header 1 at 20 header 2 at 20637 data 1 at 25118 data 2 at 55935\n"
     "fingerprint 4c8d7d14\n"
     "machine C16 PAL (guessed from the loaders found), whole pulses (one edge) (from the TAP version)\n"
     "0:46 of tape: 98.8 % in blocks, 1.2 % pauses, 0.0 % not recognised; 70588 pulses: 100.0 % in blocks\n"},
  };
  // clang-format on
  for (const auto& [name, expected] : tapes) {
    SCOPED_TRACE(name);
    EXPECT_EQ(whole_report(name), expected);
  }
  // The ROM tape and the Turbo Tape one joined with no pause between, three times: their
  // files and nothing else (another loader's reading of the turbo data block, which runs on
  // into the next lead-in, is no file).
  {
    const Bytes rom = recording::dump_of(testing::read_real_tape("c64-pal-normal")),
                turbo = recording::dump_of(testing::read_real_tape("c64-pal-turbo"));
    Bytes joined;
    for (int i = 0; i < 3; ++i) {
      joined.insert(joined.end(), rom.begin(), rom.end());
      joined.insert(joined.end(), turbo.begin(), turbo.end());
    }
    const std::string
        rom_line = "ROM        program   ROMEO & JULIET   $0801 $0ABF   702  ok ok   ok ok   ok\n",
        turbo_line =
            "Turbo Tape program   ROMEO & JULIET   $0801 $0ABF   702  ok      ok      ok\n";
    EXPECT_EQ(report(decode(joined).files),
              "  1          0    0:00  " + rom_line + "  2     138810    0:30  " + turbo_line +
                  "  3     185912    0:35  " + rom_line + "  4     324722    1:05  " + turbo_line +
                  "  5     371824    1:11  " + rom_line + "  6     510634    1:41  " + turbo_line);
  }
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
  DecoderSettings both;
  both.half_waves = true;
  const auto decoded = decode(halves, both);
  ASSERT_EQ(decoded.files.size(), 1u);
  EXPECT_EQ(decoded.files[0].data, decode(whole).files.at(0).data);
}

// Files come out while the recording goes on, as soon as nothing before them can still be
// read: a chain whose next block never comes holds nothing back for the rest of the side.
TEST(Decoder, FilesComeOutWhileTheRecordingGoesOn) {
  synth::TapeWriter writer(synth::TapeLayout{});
  synth::TapeFile chain{Encoding::kCyberload, 1, "", Bytes(300, 0x5A), 0x4000};
  chain.variant = 3;
  chain.pilot_byte = 0xC3;
  chain.sync_byte = 0xA5;
  const synth::TapeFile rom{Encoding::kStandard, 1, "LATER", Bytes(100, 0x11), 0x0801};
  writer.gap();
  writer.add(chain);
  writer.silence(2ull * 985248 * 20);
  writer.add(rom);
  writer.silence(2ull * 985248 * 20);
  writer.add(rom);
  writer.gap();
  struct Names : FileListener, std::vector<std::string> {
    void on_file(const TapeFile& f) override {
      push_back(readable_name(f.name) + " " + f.loader->name);
    }
  } out;
  io::MemorySource source(writer.words());
  recording::Reader reader(source);
  ASSERT_TRUE(reader.open());
  Decoder decoder({}, out);
  auto pulses = std::make_unique<recording::Pulses>();
  while (reader.next(*pulses)) decoder.feed(*pulses);
  EXPECT_EQ(out, (std::vector<std::string>{"CYBER ROM", " Cyber F3", "LATER ROM", "LATER ROM"}));
}

// What was read and what was not: the machine told by the loader that was found, every
// stretch of noise longer than a second, the shares; and what a forgotten -b looks like.
// The pictures draw the pulses the decoder reads: half waves paired where they match, a stray
// half wave a pulse of its own, the pairs after it paired as before it.
TEST(Decoder, ObserverSeesThePulsesAsRead) {
  struct Seen : PulseObserver, FileListener {
    std::vector<std::uint64_t> time, length;
    std::uint64_t end = 0;
    void pulses(const std::uint64_t* t, const std::uint32_t* l, std::size_t n,
                std::uint64_t end_time) override {
      time.insert(time.end(), t, t + n);
      length.insert(length.end(), l, l + n);
      end = end_time;
    }
    void on_file(const TapeFile&) override {}
  } seen;
  DecoderSettings settings;
  settings.half_waves = true;
  settings.observer = &seen;
  Decoder decoder(settings, seen);
  auto in = std::make_unique<recording::Pulses>();
  const std::uint64_t halves[] = {400, 400, 150, 800, 820, 400, 410, 0x30000, 600};
  for (std::uint64_t h : halves) {
    in->offset[in->count] = 2 * in->count;
    in->length[in->count++] = h;
  }
  in->end = 2 * in->count;
  decoder.feed(*in);
  decoder.finish();
  // The last half wave alone is the whole pulse it would be half of.
  EXPECT_EQ(seen.length, (std::vector<std::uint64_t>{800, 300, 1620, 810, 0xFFFF, 1200}));
  EXPECT_EQ(seen.time, (std::vector<std::uint64_t>{0, 800, 950, 2570, 3380, 3380 + 0x30000}));
  EXPECT_EQ(seen.end, 3380 + 0x30000 + 600);
}

// Cleaning the machines' own tapes from decks far off speed, or drifting: a copy that failed
// parity, its file repaired from the repeat, written again as it should be, so that the clean
// tape reads whole; a byte lost in both copies keeps its file bad and as recorded. Every
// rewritten pulse nominal.
// A block's own pulses (half cycles) as a dump, for learning its lengths.
std::vector<std::uint8_t> dump_of(const std::vector<std::uint64_t>& pulses) {
  io::MemorySink sink;
  recording::DumpWriter dump(sink, 0, 1);
  for (const std::uint64_t p : pulses) dump.pulse(p);
  dump.finish();
  return sink.bytes;
}

// `n` pulses around `units` TAP units (of `unit` half cycles), spread evenly over +-`spread`
// half units.
void add(std::vector<std::uint64_t>& pulses, int n, int units, std::uint64_t unit = 16,
         int spread = 3) {
  for (int i = 0; i < n; ++i) {
    const int off = (i % (2 * spread + 1) - spread) * 8;
    pulses.push_back(static_cast<std::uint64_t>(units * 16 + off) * unit / 16);
  }
}

// A loader that names no lengths has each block cleaned at the peaks its own pulses show.
TEST(Cleaning, LengthsLearnedFromABlocksOwnPulses) {
  struct Row {
    const char* what;
    std::vector<std::uint64_t> pulses;
    bool half_waves;
    std::vector<double> lengths;  // empty: none to learn, kept as recorded
  };
  std::vector<Row> rows(5);
  rows[0] = {"two lengths, with a sync and a short tone of lengths of their own",
             {},
             false,
             {0x30 * 16, 0x5A * 16}};
  add(rows[0].pulses, 600, 0x30);
  add(rows[0].pulses, 400, 0x5A);
  add(rows[0].pulses, 10, 0x40);
  add(rows[0].pulses, 15, 0x90);
  rows[1] = {"one length in two sharp peaks 11 % apart (a deck's uneven halves)",
             {},
             false,
             {0x33 * 16, 0x5A * 16}};
  add(rows[1].pulses, 250, 0x2E, 16, 0);
  add(rows[1].pulses, 350, 0x33, 16, 0);
  add(rows[1].pulses, 400, 0x5A);
  rows[4] = {"one length in two wide peaks 18 % apart, no valley between them",
             {},
             false,
             {0x32 * 16, 0x5A * 16}};
  add(rows[4].pulses, 250, 0x2C, 16, 6);
  add(rows[4].pulses, 350, 0x34, 16, 6);
  add(rows[4].pulses, 400, 0x5A);
  rows[2] = {"half waves: lengths in units of 8 half cycles", {}, true, {0x31 * 8, 0x5B * 8}};
  add(rows[2].pulses, 600, 0x31, 8);
  add(rows[2].pulses, 400, 0x5B, 8);
  rows[3] = {"a tone of one length: nothing to tell lengths by", {}, false, {}};
  add(rows[3].pulses, 1000, 0x30);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::vector<std::uint8_t> words = dump_of(row.pulses);
    clean::Stretch s;
    s.end = words.size();
    s.learned = true;
    std::vector<clean::Stretch> plan = {s};
    ASSERT_TRUE(clean::learn(plan, testing::replay_of(words), row.half_waves));
    std::vector<double> got;
    for (const clean::Stretch& p : plan) got.assign(p.ideal.begin(), p.ideal.begin() + p.classes);
    EXPECT_EQ(got, row.lengths);
  }
  // Learned lengths hold the block's own speed: a tone of the longer of two lengths 21 % apart
  // stays the longer, where a speed sought from 0.7 to 1.4 would take it for the shorter.
  clean::Stretch s;
  s.end = std::numeric_limits<std::uint64_t>::max();
  s.learned = true;
  s.classes = 2;
  s.ideal = {0x30 * 16, 0x3A * 16};
  clean::Cleaner cleaner({s});
  std::vector<std::uint64_t> out;
  const auto put = [&](std::uint64_t p) { out.push_back(p); };
  for (std::uint64_t i = 0; i < 400; ++i)
    cleaner.pulse(i < 300 ? 0x3B * 16 : (i % 2 ? 0x31 : 0x39) * 16, i, put);
  cleaner.finish(put);
  ASSERT_EQ(out.size(), 400u);
  EXPECT_EQ(std::count(out.begin(), out.begin() + 300, 0x3A * 16), 300);
  EXPECT_EQ(out[301], 0x30 * 16u);
  EXPECT_EQ(out[302], 0x3A * 16u);
}

TEST(Cleaning, RomCopiesRepairedFromTheirRepeats) {
  Bytes program(300);
  for (std::size_t i = 0; i < program.size(); ++i) program[i] = static_cast<std::uint8_t>(i * 7);
  const auto damaged = [&](Encoding e, std::uint16_t start, std::vector<std::pair<int, int>> bad) {
    synth::TapeFile f{e, 1, "PROGRAM", program, start};
    f.parity_errors = std::move(bad);
    return f;
  };
  struct Row {
    const char* what;
    synth::TapeFile file;
    int machine;
    std::string before, after;  // the report's columns
    std::size_t replaced, stretches;
    synth::TapeLayout layout;  // the deck's speed, and its drift
  };
  // clang-format off
  const std::vector<Row> rows = {
    {"C64", damaged(Encoding::kStandard, 0x0801, {{1, 7}, {1, 200}}), 0,
     " ROM        program   PROGRAM          $0801 $092D   300  ok ok   2e ok   repaired (2 bytes from the repeat)\n",
     " ROM        program   PROGRAM          $0801 $092D   300  ok ok   ok ok   ok\n", 1, 4,
     speed_of(0.9, 0.6)},
    {"VIC20", damaged(Encoding::kStandard, 0x1001, {{1, 0}}), 1,
     " ROM        program   PROGRAM          $1001 $112D   300  ok ok   1e ok   repaired (1 bytes from the repeat)\n",
     " ROM        program   PROGRAM          $1001 $112D   300  ok ok   ok ok   ok\n", 1, 4,
     speed_of(1.25)},
    {"C16", damaged(Encoding::kC16, 0x1001, {{1, 299}}), 2,
     " C16 ROM    program   PROGRAM          $1001 $112D   300  ok ok   1e ok   repaired (1 bytes from the repeat)\n",
     " C16 ROM    program   PROGRAM          $1001 $112D   300  ok ok   ok ok   ok\n", 1, 4,
     speed_of(0.86)},
    {"Turbo Tape, its filler and trailer too", damaged(Encoding::kCountdown9, 0x0801, {}), 0,
     " Turbo Tape program   PROGRAM          $0801 $092D   300  ok      ok      ok\n",
     " Turbo Tape program   PROGRAM          $0801 $092D   300  ok      ok      ok\n", 0, 2,
     speed_of(1.1)},
    {"Turbo Tape, a long file on a deck slowing down by a third along it",
     [&] { synth::TapeFile f = damaged(Encoding::kCountdown9, 0x0801, {}); f.data.assign(16000, 0x0F); return f; }(), 0,
     " Turbo Tape program   PROGRAM          $0801 $4681 16000  ok      ok      ok\n",
     " Turbo Tape program   PROGRAM          $0801 $4681 16000  ok      ok      ok\n", 0, 2,
     speed_of(0.9, 0.25)},
    {"C64, both edges recorded", damaged(Encoding::kStandard, 0x0801, {{1, 50}}), 0,
     " ROM        program   PROGRAM          $0801 $092D   300  ok ok   1e ok   repaired (1 bytes from the repeat)\n",
     " ROM        program   PROGRAM          $0801 $092D   300  ok ok   ok ok   ok\n", 1, 4,
     [] { synth::TapeLayout l = speed_of(0.95); l.both_edges = true; return l; }()},
    {"a data file, a byte bad in each record's first copy: the records written again",
     [] { synth::TapeFile f{Encoding::kStandard, 4, "DATA", {}, 0x033C};
          for (int i = 0; i < 300; ++i) f.data.push_back(static_cast<std::uint8_t>(i % 255 + 1));
          f.parity_errors = {{1, 100}};  // byte 100 of each record's first copy
          return f; }(), 0,
     " ROM        data file DATA                           300  ok ok   2e ok   repaired (2 bytes from the repeat) (ends at its first 0x00, byte 300 of 382)\n",
     " ROM        data file DATA                           300  ok ok   ok ok   ok (ends at its first 0x00, byte 300 of 382)\n", 2, 6,
     speed_of(0.95)},
    {"a byte bad in both copies", damaged(Encoding::kStandard, 0x0801, {{1, 9}, {2, 9}}), 0,
     " ROM        program   PROGRAM          $0801 $092D   300  ok ok   1e 1e   bad\n",
     " ROM        program   PROGRAM          $0801 $092D   300  ok ok   1e 1e   bad\n", 0, 0,
     speed_of(0.86)},
  };
  // clang-format on
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    synth::TapeWriter writer(r.layout);
    writer.gap();
    writer.add(r.file);
    writer.gap();
    DecoderSettings settings;
    settings.machine = r.machine;
    settings.half_waves = r.layout.both_edges;
    const testing::CleanedTape t = testing::clean_tape(writer.words(), settings);
    // Every pulse rewritten is one its encoder writes exactly (half waves: each half of one).
    const std::set<std::uint64_t> written =
        testing::exact_lengths(r.file, r.machine == 1, r.layout.both_edges);
    for (const std::uint64_t v : t.values) EXPECT_EQ(written.count(v), 1u) << v / 16.0;
    // And so is every pulse of the clean tape but its pauses (a header's filler, a trailer
    // too), where the file was cleaned.
    std::size_t off = 0;
    testing::replay_of(t.cleaned.words)([&](const recording::Pulses& p) {
      for (std::size_t i = 0; i < p.count; ++i)
        off += p.length[i] < 2 * *written.rbegin() && written.count(p.length[i]) == 0;
    });
    EXPECT_EQ(off == 0, r.stretches > 0) << off;
    EXPECT_EQ(columns(report(t.before.files)), r.before);
    EXPECT_EQ(columns(report(t.after.files)), r.after);
    ASSERT_EQ(t.after.files.size(), 1u);
    EXPECT_TRUE(t.after.files[0].data == t.before.files[0].data);
    EXPECT_EQ(std::count_if(t.cleaned.plan.begin(), t.cleaned.plan.end(),
                            [](const clean::Stretch& s) { return !s.replacement.empty(); }),
              static_cast<long>(r.replaced));
    EXPECT_EQ(t.cleaned.plan.size(), r.stretches);
    EXPECT_EQ(t.rewritten > 10000u, r.stretches > 0) << t.rewritten;
    EXPECT_EQ(t.off_nominal, 0u);
  }
}

// Cyberload's pulse sets, by the threshold its stage sets (timer cycles; 0.123156 TAP units a
// cycle): each set's bounds, and a threshold of no set, whose lengths are then learned.
TEST(Cleaning, CyberloadPulseSetsByThreshold) {
  using Set = std::array<std::uint8_t, 4>;
  const std::vector<std::pair<std::uint32_t, Set>> rows = {
      {471, {0x30, 0x5A, 0, 0}},  // 0x3A
      {552, {0x30, 0x5A, 0, 0}},  // 0x43, as 3D Pool's
      {561, {0x3B, 0x72, 0, 0}},  // 0x45
      {658, {0x3B, 0x72, 0, 0}},  // 0x51
      {350, {0x24, 0x40, 0, 0}},  // 0x2B, Sanxion's first stages
      {415, {0x24, 0x40, 0, 0}},  // 0x33, its third
      {983, {0x55, 0xA5, 0, 0}},  // 0x79
      {463, {}},                  // 0x39
      {666, {}},                  // 0x52
  };
  for (const auto& [cycles, set] : rows) EXPECT_EQ(tape::cyberload_pulses(cycles), set) << cycles;
  // Each stage's files carry the set its timer names (this encoder's: the first), F3's without
  // the stage before none.
  const auto told = [](int variant, bool pilot) {
    synth::TapeFile f{Encoding::kCyberload, 1, "GAME", Bytes(300, 0x42), 0x4000};
    f.variant = variant;
    if (pilot) {
      f.pilot_byte = 0xC3;
      f.sync_byte = 0xA5;
    }
    std::string out;
    for (const TapeFile& file : testing::decode(synth::synthesize({f})).files)
      if (std::string(file.loader->name).rfind("Cyber", 0) == 0)
        out += std::string(file.loader->name) + ":" + std::to_string(file.pulses[0]) + "," +
               std::to_string(file.pulses[1]) + " ";
    return out;
  };
  EXPECT_EQ(told(2, true), "Cyber F1:48,90 Cyber F1:48,90 Cyber F2:48,90 ");
  EXPECT_EQ(told(3, true), "Cyber F3:48,90 ");
  EXPECT_EQ(told(3, false), "Cyber F3:0,0 ");
}

// Two recordings' reads of one block, before they are pieced together: lined up where their
// bytes agree, the ends together where many places would do, not at all where too many differ.
TEST(Cleaning, ReadsOfABlockLinedUp) {
  Bytes data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
  const auto lined = [](const Bytes& a, const Bytes& b) {
    long shift = -1000;
    return clean::line_up(a, b, shift) ? shift : -1000;
  };
  Bytes later(data.begin() + 20, data.end());  // its pilot found 20 bytes later, three damaged
  for (const std::size_t at : {100, 150, 200}) later[at] ^= 0x10;
  EXPECT_EQ(lined(data, later), 20);
  Bytes damaged = data;  // one byte in eight differs
  for (std::size_t i = 0; i < damaged.size(); i += 8) damaged[i] ^= 0x01;
  EXPECT_EQ(lined(data, damaged), -1000);
  Bytes other = data;  // another block's bytes
  for (std::uint8_t& b : other) b = static_cast<std::uint8_t>(b * 3 + 1);
  EXPECT_EQ(lined(data, other), -1000);
  EXPECT_EQ(lined(Bytes(100, 0x02), Bytes(60, 0x02)), 40);  // a pilot: alike at every shift
}

// A file the clean tape does not give back is kept as recorded, and the tape is cleaned again
// without it: here its loader's lengths are wrong (a Turbo Tape 0 as long as its 1), so that its
// rewritten bits would all read as 1s.
TEST(Cleaning, AFileTheCleanTapeLosesIsKeptAsRecorded) {
  const synth::TapeFile rom{Encoding::kStandard, 1, "FIRST", Bytes(200, 0x11), 0x0801};
  const synth::TapeFile turbo{Encoding::kCountdown9, 1, "SECOND", Bytes(300, 0x5A), 0x0801};
  const Bytes words = synth::synthesize({rom, turbo});
  const auto before = decode(words);
  ASSERT_EQ(before.files.size(), 2u);
  LoaderInfo wrong = *before.files[1].loader;
  wrong.pulses = {0x28, 0x30};
  std::vector<TapeFile> files = before.files;
  files[1].loader = &wrong;
  clean::Cleaned cleaned;
  ASSERT_TRUE(clean::clean(files, {}, 0, testing::replay_of(words), cleaned));
  EXPECT_EQ(cleaned.raw, (std::set<std::size_t>{1}));
  EXPECT_TRUE(std::all_of(cleaned.plan.begin(), cleaned.plan.end(),
                          [](const clean::Stretch& s) { return s.file == 0; }));
  EXPECT_EQ(cleaned.plan.size(), 4u);
  EXPECT_EQ(columns(report(decode(cleaned.words).files)), columns(report(before.files)));
}

// A merged file that no recording can give the clean tape (here the only good copy was
// recorded with both edges, the first recording with one) is named as missing from it.
TEST(Cleaning, AMergedFileTheCleanTapeCannotHoldIsNamed) {
  synth::TapeFile file{Encoding::kFreeload, 1, "", Bytes(500, 0x3C), 0x2000};
  std::vector<Bytes> takes;
  for (int r = 0; r < 2; ++r) {
    synth::TapeFile f = file;
    if (r == 0) f.dropout_at = 50;
    synth::TapeLayout layout;
    layout.both_edges = r == 1;
    takes.push_back(synth::synthesize({f}, layout));
  }
  const testing::MergedTape t = testing::merge_and_clean(takes, {false, true});
  const auto& merged = t.merged;
  const auto& out = t.out;
  std::vector<std::size_t> good;
  for (std::size_t i = 0; i < merged.size(); ++i)
    if (is_good(merged[i].file)) good.push_back(i);
  ASSERT_EQ(good.size(), 1u);
  EXPECT_EQ(out.missing, good);
  EXPECT_EQ(out.taken, 0u);
}

TEST(Decoder, SummaryAccountsForTheRecording) {
  synth::TapeLayout noisy;
  noisy.noise_seconds = 3;
  synth::TapeWriter writer(noisy);
  writer.gap();
  writer.add({Encoding::kC16, 1, "ONE", Bytes(100, 1), 0x1001});
  writer.gap();
  const auto decoded = decode(writer.words());
  ASSERT_EQ(decoded.files.size(), 1u);
  const Summary& s = decoded.summary;
  EXPECT_EQ(s.machine, 2);
  EXPECT_TRUE(s.machine_guessed);
  // Each gap: 3 s of noise on the C64's clock, read with the C16's, then the pause.
  const double noise = 3 * 985248.0 / 886724;
  ASSERT_EQ(s.unrecognised.size(), 2u);
  EXPECT_NEAR(s.unrecognised[0].start, 0, 0.01);
  EXPECT_NEAR(s.unrecognised[0].length, noise, 0.01);
  const double second_gap = static_cast<double>(writer.placed().back().half_cycles) / (2 * 886724);
  EXPECT_GT(s.unrecognised[1].start, second_gap);
  EXPECT_NEAR(s.unrecognised[1].length, noise, 0.01);
  EXPECT_NEAR(s.seconds - s.block_seconds - s.pause_seconds, 2 * noise, 0.05);
  std::uint64_t pulses = 0;  // words, with each run of 0xFFFF words and its rest one pulse
  for (std::size_t i = 0; i + 1 < writer.words().size(); i += 2)
    pulses += (writer.words()[i] & writer.words()[i + 1]) != 0xFF;
  EXPECT_EQ(s.pulses, pulses);
  EXPECT_GT(s.block_pulses, 2u * (2000 + 192 * 20));

  synth::TapeLayout both;
  both.both_edges = true;
  const Bytes halves = synth::synthesize({{Encoding::kStandard, 1, "TWO", Bytes(50, 2)}}, both),
              whole = synth::synthesize({{Encoding::kStandard, 1, "TWO", Bytes(50, 2)}});
  EXPECT_TRUE(decode(halves).files.empty());  // read as whole pulses, half waves give nothing
  const auto guess = [](const Bytes& dump) {
    io::MemorySource source(dump);
    recording::Reader reader(source);
    reader.open();
    EdgeGuess g;
    auto p = std::make_unique<recording::Pulses>();
    while (!g.enough() && reader.next(*p)) g.add(*p);
    return g.half_waves();
  };
  EXPECT_TRUE(guess(halves));
  EXPECT_FALSE(guess(whole));
  // Three half waves: a pair is a pulse, and the one left over at the end a pulse of its own.
  DecoderSettings halved;
  halved.half_waves = true;
  EXPECT_EQ(decode({0x00, 0x01, 0x00, 0x01, 0x00, 0x01}, halved).summary.pulses, 2u);
}

// What the tools take for a tape (judged on a recording's first MiB): every synthetic tape,
// also after seconds of noise, by its pilot tones, and recorded with both edges but read as
// whole pulses (as from a pipe, where a turbo pilot's half waves are no pilot), by the
// clustering of its pulses; every real tape by both; a stretch of tape without a pilot; and
// never random bytes, as dump words or as a TAP file's data.
TEST(Decoder, TapesLookLikeTapesRandomBytesDoNot) {
  Bytes data(600);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13 + 5);
  const auto likeness = [](const Bytes& recording, bool half_waves = false) {
    DecoderSettings settings;
    settings.half_waves = half_waves;
    return tape_likeness(decode(recording, settings).summary);
  };
  for (int e = static_cast<int>(Encoding::kStandard); e <= static_cast<int>(synth::kLastEncoding);
       ++e) {
    synth::TapeFile f{static_cast<Encoding>(e), 1, "GAME", data, 0x4000};
    if (f.encoding == Encoding::kOcean) f.variant = 1;
    if (f.encoding == Encoding::kCyberload) f.variant = 3;
    if (f.encoding == Encoding::kBurner) {
      f.pilot_byte = 0x2B;
      f.sync_byte = 0xD4;
    }
    for (const bool both : {false, true}) {
      SCOPED_TRACE(std::to_string(e) + (both ? " both edges" : ""));
      synth::TapeLayout layout;
      layout.noise_seconds = 3;
      layout.both_edges = both;
      synth::TapeWriter writer(layout);
      writer.gap();
      writer.add(f);
      writer.gap();
      EXPECT_GT(likeness(writer.words(), both).pilots, 0u);
      const TapeLikeness l = likeness(writer.words());
      EXPECT_TRUE(l.tape);
      if (both) {
        EXPECT_GE(2 * l.clustered, l.pulses);
      }
    }
  }
  // Two minutes of noise before it (within the first MiB): its pulses no longer cluster, its
  // pilots tell.
  synth::TapeLayout noisy;
  noisy.noise_seconds = 120;
  synth::TapeWriter noisy_writer(noisy);
  noisy_writer.gap();
  noisy_writer.add({Encoding::kStandard, 1, "GAME", data, 0x0801});
  const TapeLikeness after_noise = likeness(noisy_writer.words());
  ASSERT_LT(noisy_writer.words().size(), 1u << 20);
  EXPECT_LT(2 * after_noise.clustered, after_noise.pulses);
  EXPECT_TRUE(after_noise.tape);
  // Cut from the middle of a data block: no pilot, bits of two lengths.
  synth::TapeWriter writer;
  writer.add({Encoding::kStandard, 1, "GAME", data, 0x0801});
  const auto block = std::find_if(writer.placed().begin(), writer.placed().end(),
                                  [](const synth::Placed& p) { return p.block == 1; });
  ASSERT_NE(block, writer.placed().end());
  const auto from = writer.words().begin() + static_cast<long>(block->offset) + 4000;
  const TapeLikeness stretch = likeness(Bytes(from, from + 4000));
  EXPECT_EQ(stretch.pilots, 0u);
  EXPECT_TRUE(stretch.tape);
  EXPECT_EQ(stretch.pulses, 2000u);
  EXPECT_EQ(stretch.clustered, 2000u);
  // Random bytes.
  std::uint32_t x = 2463534242u;
  Bytes noise(1 << 20);
  for (auto& b : noise) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  const TapeLikeness words = likeness(noise);
  EXPECT_FALSE(words.tape);
  EXPECT_EQ(words.pilots, 0u);
  EXPECT_LT(words.clustered * 10, words.pulses);
  recording::TapHeader h;
  h.length = static_cast<std::uint32_t>(noise.size());
  Bytes tap = recording::make_tap_header(h);
  tap.insert(tap.end(), noise.begin(), noise.end());
  const TapeLikeness tap_data = likeness(tap);
  EXPECT_FALSE(tap_data.tape);
  EXPECT_EQ(tap_data.pilots, 0u);
  EXPECT_LT(tap_data.clustered * 4, tap_data.pulses);
  if (!testing::have_real_tapes())
    GTEST_SKIP() << TAPEWREN_TAPES_DIR " is absent: real tapes skipped";
  for (const char* name :
       {"c64-pal-normal", "c64-ntsc-normal", "c64-pal-normal-errors", "c64-pal-turbo", "vic20-pal",
        "vic20-ntsc", "c128-pal", "plus4-pal", "plus4-ntsc"}) {
    SCOPED_TRACE(name);
    const TapeLikeness l = likeness(testing::read_real_tape(name));
    EXPECT_TRUE(l.tape);
    EXPECT_GT(l.pilots, 0u);
    EXPECT_GE(2 * l.clustered, l.pulses);
  }
}

// Every registered turbo loader over its own synthetic tapes: the whole report of a clean
// file; the same at 8 % fast and slow and slowing down; loaded twice in a row; a flipped bit and a
// dropout with their verdicts; and no other loader reporting anything.
TEST(Loaders, EachReadsItsOwnTapesAndNoOneElses) {
  Bytes data(600);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13 + 5);
  const auto turbo = [&](Encoding e, std::uint16_t start, auto change) {
    synth::TapeFile f{e, 1, "GAME", data, start};
    change(f);
    return f;
  };
  const auto same = [](synth::TapeFile&) {};
  const Line kBurnerBoot = {0,       0,       1,     "ROM",   "program", "BURNER",
                            "$02A7", "$030C", "101", "ok ok", "ok ok",   "ok"};
  const Line kCyberBoot = {0,       0,       1,    "ROM",   "program", "CYBER",
                           "$0801", "$0829", "40", "ok ok", "ok ok",   "ok"};
  const Line kOceanBoot = {0,       0,       1,     "ROM",   "program", "OCEAN",
                           "$0316", "$04A6", "400", "ok ok", "ok ok",   "ok"};
  const Line kVisiBoot = {0,       0,       1,     "ROM",   "program", "VISILOAD",
                          "$029F", "$03C0", "289", "ok ok", "ok ok",   "ok"};
  const Line kCyberF1Boot = {0,       0,       1,     "ROM",   "program", "CYBERLOAD",
                             "$029F", "$033B", "156", "ok ok", "ok ok",   "ok"};
  const Line kAnirogBoot = {0,       0,       1,    "ROM",   "program", "ANIROG",
                            "$0334", "$0374", "64", "ok ok", "ok ok",   "ok"};
  const Line kSparksBoot = {0,       0,       1,    "ROM",   "program", "CREATIVE",
                            "$0801", "$0841", "64", "ok ok", "ok ok",   "ok"};
  const Line kRackItBoot = {0,       0,       1,     "ROM",   "program", "RACK-IT",
                            "$0316", "$0540", "554", "ok ok", "ok ok",   "ok"};
  const Line kOdeBoot = {0,       0,       1,    "ROM",   "program", "ODELOAD",
                         "$02AB", "$0304", "89", "ok ok", "ok ok",   "ok"};
  const Line kFlashBoot = {0,       0,       1,     "ROM",   "program", "FLASHLOAD",
                           "$CE00", "$CFFF", "511", "ok ok", "ok ok",   "ok"};
  const Line kEmpireBoot = {0,       0,       1,     "ROM",   "program", "EMPIRE",
                            "$0801", "$08E8", "231", "ok ok", "ok ok",   "ok"};
  const Line kFirebirdBoot = {0,       0,       1,    "ROM",   "program", "FIREBIRD",
                              "$02A7", "$02E7", "64", "ok ok", "ok ok",   "ok"};
  const Line kThunderBoot = {0,       0,       1,     "ROM",   "program", "THUNDER",
                             "$02A7", "$0316", "111", "ok ok", "ok ok",   "ok"};
  const Line kThunderIntro = {0,       10,   1,  "Thunderload", "program", "", "$C000",
                              "$C040", "64", "", "ok",          "ok"};
  const Line kAgentBoot = {0,       0,       1,     "ROM",   "program", "SPECIAL",
                           "$02A7", "$0314", "109", "ok ok", "ok ok",   "ok"};
  const Line kMikroBoot = {0,       0,       1,     "ROM",   "program", "MIKRO-GEN",
                           "$0801", "$08A1", "160", "ok ok", "ok ok",   "ok"};
  const Line kCrlBoot = {0,       0,       1,    "ROM",   "program", "CRL",
                         "$02A7", "$02B7", "16", "ok ok", "ok ok",   "ok"};
  const Line kCrlFirst = {0,       10,      1,     "CRL", "program", "",
                          "$CE00", "$CF00", "256", "",    "ok",      "ok (no checksum)"};
  struct Damage {
    const char* size;
    const char* copy;
    const char* verdict;
    const char* start = nullptr;  // when the damage moves the addresses shown
    const char* end = nullptr;
  };
  // What the merge of three recordings, each with a bit flipped near the others', gives.
  enum class Merge {
    kPieced,    // the damaged block pieced together from the three: every file good
    kUnpieced,  // merged good, its bits straddling bytes: not pieced, named missing
    kBad,       // not merged good (read as another loader, or bad bytes unknown): the first kept
  };
  struct Case {
    const char* what;
    synth::TapeFile file;
    std::vector<Line> lines;  // the clean tape's report
    std::size_t damaged;      // the line the damage shows on
    Damage flipped, dropout;
    // Where the damage splits a chain: the whole reports instead.
    std::vector<Line> flipped_lines = {}, dropout_lines = {};
    Merge merge = Merge::kPieced;
  };
  // clang-format off
  const std::vector<Case> cases = {
    {"Freeload", turbo(Encoding::kFreeload, 0x4000, same),
     {{0, 10, 1, "Freeload", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Freeload Slowload T1", turbo(Encoding::kFreeloadSlow, 0x4000, [](auto& f) { f.variant = 1; }),
     {{0, 10, 1, "FreeSlow T1", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Freeload Slowload T2: its 0s near T1's, its 1s far longer", turbo(Encoding::kFreeloadSlow, 0x4000, [](auto& f) { f.variant = 2; }),
     {{0, 10, 1, "FreeSlow T2", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"U.S. Gold", turbo(Encoding::kUsGold, 0x0400, same),
     {{0, 10, 1, "U.S. Gold", "program", "GAME", "$0400", "$0658", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad (U.S. Gold put wrong check bytes on some tapes on purpose)"}, {"100", "cut", "incomplete"}},
    {"Microload", turbo(Encoding::kMicroload, 0xC000, same),
     {{0, 10, 1, "Microload", "program", "", "$C000", "$C258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Wildload", turbo(Encoding::kWildload, 0x2000, same),
     {{0, 10, 1, "Wildload", "program", "", "$2000", "$2258", "600", "", "ok", "ok"}}, 0,
     {"256", "sum", "bad", nullptr, "$2100"}, {"155", "cut", "incomplete", "$2065", "$2100"}},
    {"Novaload", turbo(Encoding::kNovaload, 0x3000, same),
     {{0, 10, 1, "Novaload", "program", "GAME", "$3000", "$3258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Novaload Special", turbo(Encoding::kNovaloadSpecial, 0x3000, same),
     {{0, 10, 1, "Novaload S", "program", "", "$3000", "$3300", "768", "", "ok", "ok"}}, 0,
     {"256", "sum", "bad", nullptr, "$3100"}, {"100", "cut", "incomplete", nullptr, "$3064"}},
    {"Ocean F1", turbo(Encoding::kOcean, 0x3000, [](auto& f) { f.variant = 1; }),
     {kOceanBoot, {0, 10, 1, "Ocean", "program", "", "$3000", "$3300", "768", "", "ok", "ok (no checksum)"}}, 1,
     {"768", "ok", "ok (no checksum)"}, {"100", "cut", "incomplete", nullptr, "$3064"}},
    {"Ocean F2, under the ROMs", turbo(Encoding::kOcean, 0x9F00, [](auto& f) { f.variant = 2; }),
     {kOceanBoot, {0, 10, 1, "Ocean", "program", "", "$9F00", "$A200", "768", "", "ok", "ok (no checksum)"}}, 1,
     {"768", "ok", "ok (no checksum)"}, {"100", "cut", "incomplete", nullptr, "$9F64"}},
    {"Ocean F3", turbo(Encoding::kOcean, 0x3000, [](auto& f) { f.variant = 3; }),
     {kOceanBoot, {0, 10, 1, "Ocean", "program", "", "$3000", "$3300", "768", "", "ok", "ok (no checksum)"}}, 1,
     {"768", "ok", "ok (no checksum)"}, {"100", "cut", "incomplete", nullptr, "$3064"}},
    {"Ocean F1 without its boot file: the chain whole to its trailer, unverified",
     turbo(Encoding::kOcean, 0x3000, [](auto& f) { f.variant = 1; f.with_boot = false; }),
     {{0, 10, 1, "Ocean", "program", "", "$3000", "$3300", "768", "", "ok", "unverified"}}, 0,
     {"768", "ok", "unverified"}, {}},
    {"Bleepload", turbo(Encoding::kBleepload, 0x0800, same),
     {{0, 10, 1, "Bleepload", "program", "", "$0800", "$0B40", "832", "", "ok", "ok"}}, 0, {}, {},
     {{0, 10, 1, "Bleepload", "program", "", "$0800", "$0840", "64", "", "ok", "ok"},
      {0, 11, 1, "Bleepload", "program", "", "$0840", "$0940", "256", "", "sum", "bad"},
      {0, 12, 1, "Bleepload", "program", "", "$0940", "$0B40", "512", "", "ok", "ok"}},
     {{0, 10, 1, "Bleepload", "program", "", "$0800", "$0840", "64", "", "ok", "ok"},
      {0, 11, 1, "Bleepload", "program", "", "$0840", "$0864", "36", "", "cut", "incomplete"}}},
    {"Bleepload Special", turbo(Encoding::kBleeploadSpecial, 0x0800, same),
     {{0, 10, 1, "Bleepload S", "program", "", "$0800", "$0B00", "768", "", "ok", "ok"}}, 0,
     {"256", "sum", "bad", nullptr, "$0900"}, {"100", "cut", "incomplete", nullptr, "$0864"}},
    {"Burner, most significant bit first", turbo(Encoding::kBurner, 0x1000, [](auto& f) { f.pilot_byte = 0x2B; f.sync_byte = 0xD4; }),
     {kBurnerBoot, {0, 10, 1, "Burner", "program", "", "$1000", "$1258", "600", "", "ok", "ok (no checksum)"}}, 1,
     {"600", "ok", "ok (no checksum)"}, {"100", "cut", "incomplete"}},
    {"Burner, least significant bit first", turbo(Encoding::kBurner, 0x1000, [](auto& f) { f.pilot_byte = 0x5C; f.sync_byte = 0x17; f.lsb_first = true; }),
     {kBurnerBoot, {0, 10, 1, "Burner", "program", "", "$1000", "$1258", "600", "", "ok", "ok (no checksum)"}}, 1,
     {"600", "ok", "ok (no checksum)"}, {"100", "cut", "incomplete"}},
    {"Burner variant", turbo(Encoding::kBurner, 0x1000, [](auto& f) { f.pilot_byte = 0x3A; f.sync_byte = 0x65; f.variant = 1; }),
     {kBurnerBoot, {0, 10, 1, "Burner", "program", "", "$1000", "$1258", "600", "", "ok", "ok (no checksum)"}}, 1,
     {"600", "ok", "ok (no checksum)"}, {"100", "cut", "incomplete"}},
    {"Anirog", turbo(Encoding::kAnirog, 0x0801, same),
     {kAnirogBoot, {0, 10, 1, "Anirog", "program", "", "$0801", "$0A59", "600", "", "ok", "ok (no checksum)"}}, 1,
     {"600", "ok", "ok (no checksum)"}, {"100", "cut", "incomplete"}},
    {"Anirog without its boot file: the block ends where it says, unverified",
     turbo(Encoding::kAnirog, 0x0801, [](auto& f) { f.with_boot = false; }),
     {{0, 10, 1, "Anirog", "program", "", "$0801", "$0A59", "600", "", "ok", "unverified"}}, 0,
     {"600", "ok", "unverified"}, {}},
    {"Turbo 220 (no boot file known): unverified", turbo(Encoding::kTurbo220, 0x0801, same),
     {{0, 10, 1, "Turbo 220", "program", "", "$0801", "$0A59", "600", "", "ok", "unverified"}}, 0,
     {"600", "ok", "unverified"}, {}},
    {"Tequila Sunrise (no boot file known): unverified", turbo(Encoding::kTequila, 0x0801, same),
     {{0, 10, 1, "Tequila", "program", "", "$0801", "$0A59", "600", "", "ok", "unverified"}}, 0,
     {"600", "ok", "unverified"}, {}},
    {"LK Avalon", turbo(Encoding::kLkAvalon, 0x0801, same),
     {{0, 10, 1, "LK Avalon", "program", "", "$0801", "$0A59", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Turbotape 526", turbo(Encoding::kTurbotape526, 0x0801, same),
     {{0, 10, 1, "Turbo 526", "program", "GAME", "$0801", "$0A59", "600", "ok", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"American Action (no boot file known): unverified", turbo(Encoding::kAmericanAction, 0x0801, same),
     {{0, 10, 1, "Am. Action", "program", "GAME", "$0801", "$0A59", "600", "", "ok", "unverified"}}, 0,
     {"600", "ok", "unverified"}, {}},
    {"Power Load", turbo(Encoding::kPowerLoad, 0x4000, same),
     {{0, 0, 1, "ROM", "program", "POWER", "$0801", "$08C3", "194", "ok ok", "ok ok", "ok"},
      {0, 10, 1, "Power Load", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Lexpeed", turbo(Encoding::kLexpeed, 0x4000, same),
     {{0, 10, 1, "Lexpeed", "program", "", "$C000", "$C100", "256", "", "ok", "ok"},
      {0, 11, 1, "Lexpeed", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Virgin", turbo(Encoding::kVirgin, 0x0801, same),
     {{0, 10, 1, "Virgin", "program", "", "$0801", "$0A59", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Rack-It, most significant bit first, its check from 0", turbo(Encoding::kRackIt, 0x0801, [](auto& f) { f.variant = synth::kRackItCheckFrom0; }),
     {kRackItBoot, {0, 10, 1, "Rack-It", "program", "", "$0801", "$0A59", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Rack-It, least significant bit first, its check from 0x80, the boot's cipher from $7C", turbo(Encoding::kRackIt, 0x4000, [](auto& f) { f.pilot_byte = 0x5A; f.sync_byte = 0xE7; f.lsb_first = true; f.variant = synth::kRackItCipherZp; }),
     {kRackItBoot, {0, 10, 1, "Rack-It", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Rack-It with a header of 7 bytes, no key", turbo(Encoding::kRackIt, 0x2000, [](auto& f) { f.pilot_byte = 0x96; f.sync_byte = 0x3C; f.variant = synth::kRackItShortHeader; }),
     {kRackItBoot, {0, 10, 1, "Rack-It", "program", "", "$2000", "$2258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Snakeload 5.0 T1", turbo(Encoding::kSnakeload50, 0x0801, same),
     {{0, 10, 1, "Snake50 T1", "program", "", "$0801", "$0A59", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Snakeload 5.0 T2", turbo(Encoding::kSnakeload50, 0x4000, [](auto& f) { f.variant = 1; }),
     {{0, 10, 1, "Snake50 T2", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Snakeload 5.1 (Eldritch's sync), across three pages' ends", turbo(Encoding::kSnakeload51, 0x20F0, same),
     {{0, 10, 1, "Snake51", "program", "", "$20F0", "$2348", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Snakeload 5.1 (SWIV's sync)", turbo(Encoding::kSnakeload51, 0x3000, [](auto& f) { f.sync_byte = 1; }),
     {{0, 10, 1, "Snake51", "program", "", "$3000", "$3258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Visiload", turbo(Encoding::kVisiload, 0x4000, same),
     {kVisiBoot, {0, 10, 1, "Visiload", "program", "", "$0347", "$0348", "1", "", "ok", "ok (no checksum)"},
      {0, 11, 1, "Visiload", "program", "", "$4000", "$4258", "600", "", "ok", "ok (no checksum)"}}, 2,
     {}, {"100", "cut", "incomplete", nullptr, "$4064"},
     {kVisiBoot, {0, 10, 1, "Visiload", "program", "", "$0347", "$0348", "1", "", "ok", "ok (no checksum)"},
      {0, 11, 1, "Visiload", "program", "", "$4000", "$4100", "256", "", "sum", "bad"},
      {0, 12, 1, "Visiload", "program", "", "$4100", "$4258", "344", "", "ok", "ok (no checksum)"}}, {}, Merge::kBad},
    {"Cyberload F3", turbo(Encoding::kCyberload, 0x4000, [](auto& f) { f.variant = 3; }),
     {{0, 10, 1, "Cyber F3", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0, {}, {},
     {{0, 10, 1, "Cyber F3", "program", "", "$4000", "$4100", "256", "", "sum", "bad"},
      {0, 11, 1, "Cyber F3", "program", "", "$4100", "$4258", "344", "", "ok", "ok"}},
     {{0, 10, 1, "Cyber F3", "program", "", "$4000", "$4064", "100", "", "cut", "incomplete"},
      {0, 11, 1, "Cyber F3", "program", "", "$4100", "$4258", "344", "", "ok", "ok"}}},
    {"Cyberload F3, its loader's timer, pilot and sync", turbo(Encoding::kCyberload, 0x4000, [](auto& f) { f.variant = 3; f.pilot_byte = 0xC3; f.sync_byte = 0xA5; }),
     {kCyberBoot, {0, 10, 1, "Cyber F3", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1, {}, {},
     {kCyberBoot, {0, 10, 1, "Cyber F3", "program", "", "$4000", "$4100", "256", "", "sum", "bad"},
      {0, 11, 1, "Cyber F3", "program", "", "$4100", "$4258", "344", "", "ok", "ok"}},
     {kCyberBoot, {0, 10, 1, "Cyber F3", "program", "", "$4000", "$4064", "100", "", "cut", "incomplete"},
      {0, 11, 1, "Cyber F3", "program", "", "$4100", "$4258", "344", "", "ok", "ok"}}},
    {"Cyberload F1, its parameters enciphered in the boot's header", turbo(Encoding::kCyberload, 0x0002, [](auto& f) { f.variant = 1; }),
     {kCyberF1Boot, {0, 10, 1, "Cyber F1", "program", "", "$0002", "$025A", "600", "", "ok", "ok (no checksum)"}}, 1,
     {"600", "ok", "ok (no checksum)"}, {"100", "cut", "incomplete", nullptr, "$0066"}},
    {"Cyberload F2, its parameters enciphered in F1's first file; the tape's own pilot and sync", turbo(Encoding::kCyberload, 0x4000, [](auto& f) { f.variant = 2; f.pilot_byte = 0x2B; f.sync_byte = 0xD4; }),
     {kCyberF1Boot, {0, 10, 1, "Cyber F1", "program", "", "$0002", "$0092", "144", "", "ok", "ok (no checksum)"},
      {0, 11, 1, "Cyber F1", "program", "", "$0100", "$0108", "8", "", "ok", "ok (no checksum)"},
      {0, 12, 1, "Cyber F2", "program", "", "$4000", "$4258", "600", "", "ok", "ok (no checksum)"}}, 3,
     {"600", "ok", "ok (no checksum)"}, {"100", "cut", "incomplete"}},
    {"Cyberload F4", turbo(Encoding::kCyberload, 0x4000, [](auto& f) { f.variant = 4; }),
     {{0, 10, 1, "Cyber F4", "program", "GAME", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Jiffy Load (no boot file known): unverified", turbo(Encoding::kJiffyLoad, 0x0801, same),
     {{0, 10, 1, "Jiffy Load", "program", "", "$0801", "$0A59", "600", "", "ok", "unverified"}}, 0,
     {"600", "ok", "unverified"}, {}},
    {"Ash & Dave (no boot file known): unverified", turbo(Encoding::kAshDave, 0x0801, same),
     {{0, 10, 1, "Ash & Dave", "program", "", "$0801", "$0A59", "600", "", "ok", "unverified"}}, 0,
     {"600", "ok", "unverified"}, {}},
    {"Creative Sparks, its address and size in the boot's header", turbo(Encoding::kCreativeSparks, 0x0801, same),
     {kSparksBoot, {0, 10, 1, "Cr. Sparks", "program", "", "$0801", "$0B01", "768", "", "ok", "ok"}}, 1,
     {"768", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"ODEload", turbo(Encoding::kOdeload, 0x4000, same),
     {kOdeBoot, {0, 10, 1, "ODEload", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Jetload (no boot file known): unverified", turbo(Encoding::kJetload, 0x4000, same),
     {{0, 10, 1, "Jetload", "program", "", "$4000", "$4258", "600", "", "ok", "unverified"}}, 0,
     {"600", "ok", "unverified"}, {}},
    {"Flashload", turbo(Encoding::kFlashload, 0x4000, same),
     {kFlashBoot, {0, 10, 1, "Flashload", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Flashload, the tape's own sync told by its boot", turbo(Encoding::kFlashload, 0x4000, [](auto& f) { f.sync_byte = 0x6C; }),
     {kFlashBoot, {0, 10, 1, "Flashload", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Atlantis", turbo(Encoding::kAtlantis, 0x4000, same),
     {{0, 10, 1, "Atlantis", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Palace F1: no load address on tape, its pages from $0000", turbo(Encoding::kPalace, 0x0000, [](auto& f) { f.variant = 1; }),
     {{0, 10, 1, "Palace", "program", "", "$0000", "$0300", "768", "", "ok", "ok"}}, 0, {}, {},
     {{0, 10, 1, "Palace", "program", "", "$0000", "$0100", "256", "", "sum", "bad"},
      {0, 11, 1, "Palace", "program", "", "$0100", "$0300", "512", "", "ok", "ok"}},
     {{0, 10, 1, "Palace", "program", "", "$0000", "$0064", "100", "", "cut", "incomplete"}}},
    {"Palace F2", turbo(Encoding::kPalace, 0x0000, [](auto& f) { f.variant = 2; }),
     {{0, 10, 1, "Palace", "program", "", "$0000", "$0300", "768", "", "ok", "ok"}}, 0, {}, {},
     {{0, 10, 1, "Palace", "program", "", "$0000", "$0100", "256", "", "sum", "bad"},
      {0, 11, 1, "Palace", "program", "", "$0100", "$0300", "512", "", "ok", "ok"}},
     {{0, 10, 1, "Palace", "program", "", "$0000", "$0064", "100", "", "cut", "incomplete"}}},
    {"TDI F1: no load address on tape", turbo(Encoding::kTdi, 0x0000, [](auto& f) { f.variant = 1; }),
     {{0, 10, 1, "TDI F1", "program", "", "$0000", "$0258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"TDI F2, a name of 4 bytes", turbo(Encoding::kTdi, 0x4000, [](auto& f) { f.variant = 2; }),
     {{0, 10, 1, "TDI F2", "program", "GAME", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Firebird T1", turbo(Encoding::kFirebird, 0x4000, same),
     {kFirebirdBoot, {0, 10, 1, "Firebird", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Firebird T2: its longs nearer its shorts, the speed its boot sets", turbo(Encoding::kFirebird, 0x4000, [](auto& f) { f.variant = 1; }),
     {kFirebirdBoot, {0, 10, 1, "Firebird", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Ocean New 1 T1", turbo(Encoding::kOceanNew1, 0x4000, same),
     {{0, 10, 1, "Ocean N1 T1", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Ocean New 1 T2: longer pulses", turbo(Encoding::kOceanNew1, 0x4000, [](auto& f) { f.variant = 1; }),
     {{0, 10, 1, "Ocean N1 T2", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Ocean New 2 (no boot file known): damaged, Freeload's reading of it shows", turbo(Encoding::kOceanNew2, 0x4000, same),
     {{0, 10, 1, "Ocean N2", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0, {}, {},
     {{0, 10, 1, "Freeload", "program", "", "$4000", "$4258", "600", "", "sum", "bad"}},
     {{0, 10, 1, "Freeload", "program", "", "$4000", "$4258", "101", "", "cut", "incomplete"}}, Merge::kBad},
    {"Ocean New 4, filler up to the page's end (no boot file known): damaged, Ocean New 1's reading of its head shows, cut short",
     turbo(Encoding::kOceanNew4, 0x4000, same),
     {{0, 10, 1, "Ocean N4", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0, {}, {},
     {{0, 10, 1, "Ocean N1 T1", "program", "", "$00F8", "$5840", "769", "", "cut", "incomplete"}},
     {{0, 10, 1, "Ocean N1 T1", "program", "", "$00F8", "$5840", "101", "", "cut", "incomplete"}}, Merge::kBad},
    {"Ocean New 4 without filler", turbo(Encoding::kOceanNew4, 0x4000, [](auto& f) { f.variant = 1; }),
     {{0, 10, 1, "Ocean N4", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0, {}, {},
     {{0, 10, 1, "Ocean N1 T1", "program", "", "$00F8", "$5840", "601", "", "cut", "incomplete"}},
     {{0, 10, 1, "Ocean N1 T1", "program", "", "$00F8", "$5840", "101", "", "cut", "incomplete"}}, Merge::kBad},
    {"Ocean New 3: pages after pilots of Gremlin GBH's pulses", turbo(Encoding::kOceanNew3, 0x4000, same),
     {{0, 10, 1, "Ocean N3", "program", "", "$4000", "$4300", "768", "", "ok", "ok"}}, 0,
     {"256", "sum", "bad", nullptr, "$4100"}, {"100", "cut", "incomplete", nullptr, "$4064"}},
    {"Ocean New 3, pilots as long as Gremlin GBH's: its reading of a page as a head is none", turbo(Encoding::kOceanNew3, 0x0D00, [](auto& f) { f.pilot_bytes = 1000; }),
     {{0, 10, 1, "Ocean N3", "program", "", "$0D00", "$1000", "768", "", "ok", "ok"}}, 0,
     {"256", "sum", "bad", nullptr, "$0E00"}, {"100", "cut", "incomplete", nullptr, "$0D64"}},
    {"Rasterload", turbo(Encoding::kRasterload, 0x4000, same),
     {{0, 10, 1, "Rasterload", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"ODEload, the tape's own pilot and sync told by its boot header", turbo(Encoding::kOdeload, 0x4000, [](auto& f) { f.pilot_byte = 0x4E; f.sync_byte = 0x9A; }),
     {kOdeBoot, {0, 10, 1, "ODEload", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Ace of Aces", turbo(Encoding::kAceOfAces, 0x4000, same),
     {{0, 10, 1, "Ace of Aces", "program", "GAME", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Cauldron, Hewson and Rainbird", turbo(Encoding::kCauldron, 0x4000, same),
     {{0, 10, 1, "Cauldron", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Accolade", turbo(Encoding::kAccolade, 0x4000, same),
     {{0, 10, 1, "Accolade", "program", "GAME", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Alien Syndrome", turbo(Encoding::kAlienSyndrome, 0x4000, same),
     {{0, 10, 1, "Alien Syn.", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Biturbo, its addresses in its boot file", turbo(Encoding::kBiturbo, 0x4000, same),
     {{0, 0, 1, "ROM", "program", "BITURBO", "$0801", "$0881", "128", "ok ok", "ok ok", "ok"},
      {0, 10, 1, "Biturbo", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Easy-Tape", turbo(Encoding::kEasyTape, 0x4000, same),
     {{0, 10, 1, "Easy-Tape", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Gremlin GBH: its pilots' pulses longer than its bits", turbo(Encoding::kGremlinGbh, 0x4000, same),
     {{0, 10, 1, "Gremlin GBH", "program", "", "$4000", "$4258", "600", "", "ok", "unverified"}}, 0,
     {"600", "ok", "unverified"}, {}},
    {"Audiogenic: its pages after pilots of four bytes", turbo(Encoding::kAudiogenic, 0x4000, same),
     {{0, 10, 1, "Audiogenic", "program", "", "$4000", "$4300", "768", "", "ok", "ok"}}, 0,
     {"256", "sum", "bad", nullptr, "$4100"}, {"100", "cut", "incomplete", nullptr, "$4064"}},
    {"Pavloda: a 1 two short pulses, a 0 one long", turbo(Encoding::kPavloda, 0x4000, same),
     {{0, 10, 1, "Pavloda", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Thunderload: its boot, the intro, the file", turbo(Encoding::kThunderload, 0x4000, same),
     {kThunderBoot, kThunderIntro, {0, 11, 1, "Thunderload", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 2,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Thunderload, the faster timer its boot and intro set", turbo(Encoding::kThunderload, 0x4000, [](auto& f) { f.variant = 0x0120; }),
     {kThunderBoot, kThunderIntro, {0, 11, 1, "Thunderload", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 2,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Thunderload without its boot: the file's head and data checked",
     turbo(Encoding::kThunderload, 0x4000, [](auto& f) { f.with_boot = false; }),
     {{0, 10, 1, "Thunderload", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Empire", turbo(Encoding::kEmpire, 0x0801, same),
     {kEmpireBoot, {0, 10, 1, "Empire", "program", "", "$0801", "$0A59", "600", "", "ok", "ok (no checksum)"}}, 1,
     {"600", "ok", "ok (no checksum)"}, {"100", "cut", "incomplete"}},
    {"Empire without its boot file: the block ends where it says, unverified",
     turbo(Encoding::kEmpire, 0x0801, [](auto& f) { f.with_boot = false; }),
     {{0, 10, 1, "Empire", "program", "", "$0801", "$0A59", "600", "", "ok", "unverified"}}, 0,
     {"600", "ok", "unverified"}, {}},
    {"The Edge (no boot file known): unverified", turbo(Encoding::kTheEdge, 0x4000, same),
     {{0, 10, 1, "The Edge", "program", "", "$4000", "$4258", "600", "", "ok", "unverified"}}, 0,
     {"600", "ok", "unverified"}, {}},
    {"TES Tape", turbo(Encoding::kTesTape, 0x4000, same),
     {{0, 10, 1, "TES Tape", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"MMS, its addresses in its boot file's header", turbo(Encoding::kMms, 0x4000, same),
     {{0, 0, 1, "ROM", "program", "MMS", "$02A7", "$02C7", "32", "ok ok", "ok ok", "ok"},
      {0, 10, 1, "MMS", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 1,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Strike Force Cobra: its pilots of pulses longer than a 1, its speed its boot's timers", turbo(Encoding::kSpecialAgent, 0x4000, [](auto& f) { f.variant = 1; }),
     {kAgentBoot, {0, 10, 1, "Sp. Agent", "program", "", "$4000", "$4300", "768", "", "ok", "ok"}}, 1,
     {"256", "sum", "bad", nullptr, "$4100"}, {"100", "cut", "incomplete", nullptr, "$4064"}},
    {"CRL: its boot's read loop and pages, its first block's code setting up the file's", turbo(Encoding::kCrl, 0x4000, same),
     {kCrlBoot, kCrlFirst, {0, 11, 1, "CRL", "program", "", "$4000", "$4300", "768", "", "ok", "ok (no checksum)"}}, 2,
     {"768", "ok", "ok (no checksum)"}, {"100", "cut", "incomplete"}},
    {"Super Pavloda T1: three pulse lengths in two states, 88 bytes and two sub-blocks of 256", turbo(Encoding::kSuperPavloda, 0x4000, same),
     {{0, 10, 1, "Super Pav", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0, {}, {},
     {{0, 10, 1, "Super Pav", "program", "", "$4000", "$4058", "88", "", "ok", "ok"},
      {0, 11, 1, "Super Pav", "program", "", "$4058", "$4158", "256", "", "sum", "bad"},
      {0, 12, 1, "Super Pav", "program", "", "$4158", "$4258", "256", "", "ok", "ok"}},
     {{0, 10, 1, "Super Pav", "program", "", "$4000", "$4058", "88", "", "ok", "ok"},
      {0, 11, 1, "Super Pav", "program", "", "$4058", "$4064", "12", "", "cut", "incomplete"},
      {0, 12, 1, "Super Pav", "program", "", "$4158", "$4258", "256", "", "ok", "ok"}}},
    {"Super Pavloda T2: longer pulses", turbo(Encoding::kSuperPavloda, 0x4000, [](auto& f) { f.variant = 1; }),
     {{0, 10, 1, "Super Pav", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0, {}, {},
     {{0, 10, 1, "Super Pav", "program", "", "$4000", "$4058", "88", "", "ok", "ok"},
      {0, 11, 1, "Super Pav", "program", "", "$4058", "$4158", "256", "", "sum", "bad"},
      {0, 12, 1, "Super Pav", "program", "", "$4158", "$4258", "256", "", "ok", "ok"}},
     {{0, 10, 1, "Super Pav", "program", "", "$4000", "$4058", "88", "", "ok", "ok"},
      {0, 11, 1, "Super Pav", "program", "", "$4058", "$4064", "12", "", "cut", "incomplete"},
      {0, 12, 1, "Super Pav", "program", "", "$4158", "$4258", "256", "", "ok", "ok"}}},
    {"Pavloda Penetrator: Super Pavloda's pulses and states, a lead-in of seven pulses a byte", turbo(Encoding::kPavlodaPenetrator, 0x4000, same),
     {{0, 10, 1, "Pav. Penet.", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Hitload: Freeload's block at pulses between Freeload's and its Slowload's", turbo(Encoding::kHitload, 0x4000, same),
     {{0, 10, 1, "Hitload", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Rainbow Arts F1: Microload's block with a number, a longer pilot", turbo(Encoding::kRainbowArts, 0x4000, same),
     {{0, 10, 1, "Rainbow F1", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Rainbow Arts F2, a name of 3 bytes", turbo(Encoding::kRainbowArts, 0x4000, [](auto& f) { f.variant = 2; }),
     {{0, 10, 1, "Rainbow F2", "program", "GAM", "$4000", "$4258", "600", "", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Mikro-Gen old: a pilot of pulses longer than a 1, the addresses in its boot's code, up to a page's last byte",
     turbo(Encoding::kMikroGen, 0x4000, same),
     {kMikroBoot, {0, 10, 1, "Mikro-Gen 1", "program", "", "$4000", "$42FF", "767", "", "ok", "ok"}}, 1,
     {"767", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Mikro-Gen new: a pilot of 1s, its boot's code telling a loading screen and the file",
     turbo(Encoding::kMikroGen, 0x4000, [](auto& f) { f.variant = 1; }),
     {kMikroBoot, {0, 10, 1, "Mikro-Gen 2", "program", "", "$0400", "$0440", "64", "", "ok", "ok"},
      {0, 11, 1, "Mikro-Gen 2", "program", "", "$4000", "$4258", "600", "", "ok", "ok"}}, 2,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}},
    {"Super Tape: half waves, a header and its data, each with its count of 1 bits", turbo(Encoding::kSuperTape, 0x4000, same),
     {{0, 10, 1, "Super Tape", "program", "GAME", "$4000", "$4258", "600", "ok", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}, {}, {}, Merge::kUnpieced},
    {"Super Tape, its header's sync 0x3A: the loader ANDs it with 0xEF", turbo(Encoding::kSuperTape, 0x4000, [](auto& f) { f.sync_byte = 0x3A; }),
     {{0, 10, 1, "Super Tape", "program", "GAME", "$4000", "$4258", "600", "ok", "ok", "ok"}}, 0,
     {"600", "sum", "bad"}, {"100", "cut", "incomplete"}, {}, {}, Merge::kUnpieced},
  };
  // clang-format on
  // The file between two pauses, as a deck at `layout` recorded it.
  const auto tape_of = [](const synth::TapeFile& file, const synth::TapeLayout& layout) {
    synth::TapeWriter writer(layout);
    writer.gap();
    writer.add(file);
    writer.gap();
    return writer.words();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto run = [&](const synth::TapeFile& file, const synth::TapeLayout& layout) {
      synth::TapeWriter writer(layout);
      writer.gap();
      writer.add(file);
      writer.gap();
      const auto decoded = decode(writer.words());
      // Pilots, blocks, trailers and pauses: all of a clean tape is accounted for.
      const Summary& sum = decoded.summary;
      if (layout.speed == 1.0 && file.flip_bit < 0 && file.dropout_at < 0) {
        EXPECT_LT(sum.seconds - sum.block_seconds - sum.pause_seconds, 0.05) << "not recognised";
      }
      return std::pair{decoded.files, writer.placed()};
    };
    for (const auto& [how, layout] : std::vector<std::pair<const char*, synth::TapeLayout>>{
             {"as it is", {}},
             {"8 % fast", speed_of(0.92)},
             {"8 % slow", speed_of(1.08)},
             {"slowing down", speed_of(0.92, 1.0)}}) {
      SCOPED_TRACE(how);
      const auto [files, placed] = run(c.file, layout);
      EXPECT_EQ(report(files), expected_report(c.lines, placed, 985248));
      for (const TapeFile& f : files) {
        EXPECT_TRUE(std::any_of(c.lines.begin(), c.lines.end(), [&](const Line& l) {
          return f.loader->name == std::string(l.loader);
        })) << f.loader->name;
      }
      ASSERT_LE(c.damaged + 1, files.size());
      // The bytes as written (a chain of whole pages: padded after them, as its line says).
      const Bytes& got = files[c.damaged].data;
      EXPECT_TRUE(got.size() >= c.file.data.size() &&
                  std::equal(c.file.data.begin(), c.file.data.end(), got.begin()));
    }
    // Cleaned, from a deck 6 % slow: the same files, each rewritten whole (a named one has no
    // blocks),
    // every pulse of its blocks at one of its loader's lengths; none kept as recorded.
    {
      SCOPED_TRACE("cleaned");
      synth::TapeWriter writer(speed_of(1.06));
      writer.gap();
      writer.add(c.file);
      writer.gap();
      const testing::CleanedTape t = testing::clean_tape(writer.words());
      EXPECT_EQ(columns(report(t.after.files)), columns(report(t.before.files)));
      EXPECT_TRUE(t.cleaned.raw.empty()) << report(t.after.files);
      EXPECT_EQ(t.off_nominal, 0u);
      // The lengths its descriptor (or its boot) names are those its encoder writes, exactly.
      // Lengths learned where neither names any, two of them at least.
      for (const clean::Stretch& s : t.cleaned.plan) {
        const TapeFile& f = t.before.files[s.file];
        EXPECT_EQ(s.learned, f.loader->pulses[0] == 0 && f.pulses[0] == 0);
        EXPECT_GE(s.classes, 2);
      }
      const std::set<std::uint64_t> written = testing::exact_lengths(c.file);
      for (const std::uint64_t v : t.values) EXPECT_EQ(written.count(v), 1u) << v / 16.0;
      // Those learned from the tape (its loader names none) are its lengths at the deck's
      // speed, within two TAP units (the median of a short block's jittered pulses, rounded).
      for (const std::uint64_t v : t.learned)
        EXPECT_TRUE(std::any_of(written.begin(), written.end(), [&](std::uint64_t w) {
          return std::fabs(static_cast<double>(v) - 1.06 * static_cast<double>(w)) <= 32;
        })) << v / 16.0;
      for (std::size_t i = 0; i < t.before.files.size(); ++i) {
        const TapeFile& f = t.before.files[i];
        const auto blocks = std::count_if(t.cleaned.plan.begin(), t.cleaned.plan.end(),
                                          [&](const clean::Stretch& s) { return s.file == i; });
        EXPECT_EQ(static_cast<std::size_t>(blocks), f.blocks.size())
            << scan::file_row(f, static_cast<int>(i) + 1);
      }
    }
    // Three recordings of it, the first with a dropout in its data, the last with a flipped
    // bit where its loader's check shows it (else two copies read well would disagree, and
    // nothing tells which is right): one clean tape of their merge holds every file good, with
    // the bytes written.
    {
      SCOPED_TRACE("a clean tape of three recordings");
      const bool shows = !c.flipped.copy || std::string(c.flipped.copy) != "ok";
      std::vector<Bytes> takes;
      for (int r = 0; r < 3; ++r) {
        synth::TapeFile file = c.file;
        if (r == 0) file.dropout_at = 100;
        if (r == 2 && shows) file.flip_bit = 300;
        synth::TapeLayout layout = speed_of(0.97 + 0.03 * r);
        layout.seed = static_cast<std::uint32_t>(r + 7);
        takes.push_back(tape_of(file, layout));
      }
      const testing::MergedTape t = testing::merge_and_clean(takes, {false, false, false});
      const auto& out = t.out;
      const auto& files = t.files;
      EXPECT_TRUE(out.missing.empty()) << out.missing.size();
      EXPECT_GE(out.good, c.lines.size());
      const auto back = decode(out.words);
      EXPECT_EQ(columns(report(back.files)), columns(report(files[1])));  // the undamaged one's
      // Nothing of the damaged block left on it: all of it is blocks and pauses. (A file the
      // first recording did not find at all, with no check to prove it, leaves its pulses
      // there as recorded: nothing tells where they end.)
      const Summary& sum = back.summary;
      if (std::string(c.lines[c.damaged].verdict).rfind("unverified", 0) != 0) {
        EXPECT_LT(sum.seconds - sum.block_seconds - sum.pause_seconds, 0.05) << "not recognised";
      }
    }
    // Three recordings, each with a bit flipped in another of three bytes close together: none
    // holds the file good, the merge does, and one clean tape of it holds every file good with
    // the bytes written, the damaged block pieced together from the three (a ROM file's copies
    // are repaired in each recording, and one of them is taken).
    {
      SCOPED_TRACE("pieced together from three recordings");
      std::vector<Bytes> takes;
      for (int r = 0; r < 3; ++r) {
        synth::TapeFile file = c.file;
        file.flip_bit = 300 + 3 * r;
        synth::TapeLayout layout = speed_of(0.97 + 0.03 * r);
        layout.seed = static_cast<std::uint32_t>(r + 11);
        takes.push_back(tape_of(file, layout));
      }
      const Bytes whole = tape_of(c.file, speed_of(1));
      const testing::MergedTape t = testing::merge_and_clean(takes, {false, false, false});
      const auto back = decode(t.out.words);
      if (c.merge != Merge::kPieced) {
        EXPECT_EQ(t.out.pieced, 0u);
        // The merged files line up with the report's lines here.
        EXPECT_EQ(t.out.missing, c.merge == Merge::kUnpieced ? std::vector<std::size_t>{c.damaged}
                                                             : std::vector<std::size_t>{});
        EXPECT_EQ(columns(report(back.files)), columns(report(decode(takes[0]).files)));
      } else {
        EXPECT_TRUE(t.out.missing.empty()) << t.out.missing.size();
        EXPECT_EQ(t.out.pieced, 1u);
        EXPECT_EQ(columns(report(back.files)), columns(report(decode(whole).files)));
        ASSERT_LT(c.damaged, back.files.size());
        const Bytes& got = back.files[c.damaged].data;
        EXPECT_TRUE(got.size() >= c.file.data.size() &&
                    std::equal(c.file.data.begin(), c.file.data.end(), got.begin()));
        const Summary& sum = back.summary;
        EXPECT_LT(sum.seconds - sum.block_seconds - sum.pause_seconds, 0.05) << "not recognised";
        // As many pulses as the undamaged tape has, none lost or doubled where pieces join;
        // and clean already: cleaned again, it stays as it is (no block kept as recorded).
        // Not where lengths are learned: each piece has those of its recording's speed.
        std::size_t pulses = 0, undamaged = 0;
        testing::replay_of(t.out.words)([&](const recording::Pulses& p) { pulses += p.count; });
        testing::replay_of(whole)([&](const recording::Pulses& p) { undamaged += p.count; });
        EXPECT_EQ(pulses, undamaged);
        const bool named = std::all_of(back.files.begin(), back.files.end(), [](const TapeFile& f) {
          return f.loader->pulses[0] != 0 || f.pulses[0] != 0;
        });
        if (named) {
          EXPECT_TRUE(testing::clean_tape(t.out.words).cleaned.words == t.out.words);
        }
      }
    }
    // Loaded twice to one address, a tenth of a second apart and with no pause: two files
    // (with no pause, where the second begins is a matter of taste: its columns only); a ROM
    // file a tenth of a second after it, which must not be taken for more of its own; and
    // right after a ROM file, with no pause.
    const synth::TapeFile rom{Encoding::kStandard, 1, "AFTER", Bytes(100, 0x77), 0x0801};
    const Line rom_line = {1,       0,       1,     "ROM",   "program", "AFTER",
                           "$0801", "$0865", "100", "ok ok", "ok ok",   "ok"};
    for (const int how : {0, 1, 2, 3}) {
      const bool pause = how != 1 && how != 3;
      SCOPED_TRACE(how == 0   ? "twice, a pause between"
                   : how == 1 ? "twice, no pause between"
                   : how == 2 ? "a ROM file after it"
                              : "right after a ROM file, no pause between");
      synth::TapeWriter writer(synth::TapeLayout{});
      writer.gap();
      writer.add(how == 3 ? rom : c.file);
      if (pause) writer.silence(2 * 985248 / 10);
      writer.add(how == 2 ? rom : c.file);
      writer.gap();
      std::vector<Line> lines = how == 3 ? std::vector<Line>{rom_line} : c.lines;
      if (how == 3) lines[0].file = 0;
      if (how == 2) {
        lines.push_back(rom_line);
      } else {
        for (Line l : c.lines) lines.push_back((l.file = 1, l));
      }
      const auto shown = [&](const std::string& r) { return pause ? r : columns(r); };
      EXPECT_EQ(shown(report(decode(writer.words()).files)),
                shown(expected_report(lines, writer.placed(), 985248)));
    }
    // Its first pilot ending at every pulse around the start of a block of pulses (the
    // decoder's blocks are 4,096 pulses): the same files.
    {
      synth::TapeWriter writer(synth::TapeLayout{});
      writer.gap();
      writer.add(c.file);
      writer.gap();
      const Bytes& words = writer.words();
      ASSERT_FALSE(writer.syncs().empty());
      const std::size_t synced = pulses_before(words, writer.syncs().front());
      const std::string want = columns(expected_report(c.lines, writer.placed(), 985248));
      for (std::size_t at = 0; at <= 130; ++at) {  // where the sync ends: the pilot 0 to 40
        Bytes moved;
        for (std::size_t k = (4096 + at - synced % 4096) % 4096; k > 0; --k)
          moved.insert(moved.end(), {20, 0});  // spikes no loader reads
        moved.insert(moved.end(), words.begin(), words.end());
        EXPECT_EQ(columns(report(decode(moved).files)), want) << "sync ends at pulse " << at;
      }
    }
    // Noise shaped like it: its pilot and sync, then random bits where its head, data and
    // trailer were, 150 times over; with no boot file, as if its boot were lost. No good file,
    // and none at all of a loader that needs its boot but one unverified at most (a random
    // head announces the very length its block has once in some 22,000 blocks).
    {
      SCOPED_TRACE("noise shaped like it");
      synth::TapeFile noise = c.file;
      noise.scrambled = true;
      noise.with_boot = false;
      synth::TapeWriter writer(synth::TapeLayout{});
      for (int i = 0; i < 150; ++i) {
        writer.gap();
        writer.add(noise);
      }
      writer.gap();
      int unverified = 0;
      const auto decoded = decode(writer.words());
      for (const TapeFile& f : decoded.files) {
        unverified += f.verdict == Verdict::kUnverified;
        EXPECT_FALSE(is_good(f) || (f.loader->needs_boot && f.verdict != Verdict::kUnverified))
            << scan::file_row(f, 1);
      }
      EXPECT_LE(unverified, 1) << report(decoded.files);
      // What no file came of is not recognised: all of it, when no loader found a file.
      const auto registered = registered_loaders();
      const auto ours = std::find_if(
          registered.begin(), registered.end(),
          [&](const LoaderInfo* i) { return i->name == std::string(c.lines[c.damaged].loader); });
      ASSERT_NE(ours, registered.end());
      if ((*ours)->needs_boot && decoded.files.empty()) {
        EXPECT_LT(decoded.summary.block_pulses * 100, decoded.summary.pulses);
      }
    }
    // On a VIC20's or a C16's tape: nothing of a loader that does not exist there.
    for (const int machine : {1, 2}) {
      synth::TapeWriter writer(synth::TapeLayout{});
      writer.gap();
      writer.add(c.file);
      writer.gap();
      DecoderSettings settings;
      settings.machine = machine;
      for (const TapeFile& f : decode(writer.words(), settings).files)
        EXPECT_TRUE(runs_on(f.loader->machines, machine)) << machine << scan::file_row(f, 1);
    }
    for (const auto& [flip, damage] : {std::pair{true, c.flipped}, std::pair{false, c.dropout}}) {
      SCOPED_TRACE(flip ? "a flipped bit" : "a dropout");
      synth::TapeFile file = c.file;
      (flip ? file.flip_bit : file.dropout_at) = 100;
      const auto [files, placed] = run(file, {});
      std::vector<Line> lines = c.lines;
      const auto& whole = flip ? c.flipped_lines : c.dropout_lines;
      if (!whole.empty()) {
        lines = whole;
      } else if (!damage.size) {  // a damaged file no evidence supports is none
        lines.resize(c.damaged);
      } else {
        lines[c.damaged].size = damage.size;
        lines[c.damaged].data = damage.copy;
        lines[c.damaged].verdict = damage.verdict;
        if (damage.start) lines[c.damaged].start = damage.start;
        if (damage.end) lines[c.damaged].end = damage.end;
        lines.resize(std::min(lines.size(), c.damaged + 1));
      }
      // What follows the damage is the rest of the file's blocks, not stated; a damaged file
      // that is no file leaves nothing at all.
      const std::string want = expected_report(lines, placed, 985248);
      EXPECT_EQ(
          whole.empty() && !damage.size ? report(files) : report(files).substr(0, want.size()),
          want);
    }
    // Recorded three times, a bit flipped elsewhere each time: merged, the file is whole
    // again, a chain one file again. Not where damage leaves the block to another loader
    // (no boot file tells the two apart): no damaged copy of it is its own.
    const bool left_to_another =
        !c.flipped_lines.empty() &&
        std::string(c.flipped_lines[c.damaged].loader) != c.lines[c.damaged].loader;
    if (!left_to_another) {
      SCOPED_TRACE("three recordings, each damaged elsewhere");
      std::vector<std::vector<TapeFile>> takes;
      for (const int at : {20, 250, 480}) {
        synth::TapeFile file = c.file;
        file.flip_bit = at;
        takes.push_back(split_chains(run(file, {}).first));
      }
      std::vector<MergedFile> merged;
      for (const auto& row : match_files(takes)) merged.push_back(merge_copies(row));
      merged = join_chains(std::move(merged));
      const auto ours = [&](const MergedFile& m) {
        return m.file.loader->name == std::string(c.lines[c.damaged].loader) &&
               m.file.start == c.file.start_address;
      };
      ASSERT_EQ(std::count_if(merged.begin(), merged.end(), ours), 1);
      const MergedFile& m = *std::find_if(merged.begin(), merged.end(), ours);
      const Bytes& got = m.file.data;
      EXPECT_TRUE(got.size() >= c.file.data.size() &&
                  std::equal(c.file.data.begin(), c.file.data.end(), got.begin()));
      if (std::string(c.lines[c.damaged].verdict) == "unverified") {
        EXPECT_EQ(m.file.verdict, Verdict::kUnverified);  // nothing proves it, however many
      } else {
        EXPECT_TRUE(is_good(m.file)) << verdict_text(m.file.verdict);
      }
      // Damage that a recording tells (a checksum, a lead bit) needs the merge; damage it
      // cannot tell shows as copies that differ.
      const bool told = std::any_of(takes[0].begin(), takes[0].end(), [](const TapeFile& f) {
        return f.verdict == Verdict::kBad || f.verdict == Verdict::kIncomplete;
      });
      EXPECT_EQ(m.only_by_merging, told);
      EXPECT_EQ(m.conflict_at, told ? -1 : 20);
    }
  }
  // A numbered block lost: the chain stops before it, and the block after it, whose number
  // says one is missing, is not taken as whole.
  {
    synth::TapeFile f = turbo(Encoding::kBleeploadSpecial, 0x0800, same);
    f.lost_copies = {{1, 1}};
    synth::TapeWriter writer(synth::TapeLayout{});
    writer.gap();
    writer.add(f);
    writer.gap();
    EXPECT_EQ(
        report(decode(writer.words()).files),
        expected_report(
            {{0, 10, 1, "Bleepload S", "program", "", "$0800", "$0900", "256", "", "ok", "ok"},
             {0, 11, 1, "Bleepload S", "program", "", "$0A00", "$0B00", "256", "", "sum", "bad"}},
            writer.placed(), 985248));
  }
  // A TDI F2 block cut within its name (the recording stops there): no file, and nothing read
  // past the pulses that came. After the name: 600 bytes, their XOR, the marker and 16 bits.
  {
    synth::TapeWriter writer(synth::TapeLayout{});
    writer.gap();
    writer.add(turbo(Encoding::kTdi, 0x4000, [](auto& f) { f.variant = 2; }));
    const Bytes& whole = writer.words();
    ASSERT_EQ(report(decode(whole).files).find("TDI F2") != std::string::npos, true);
    for (std::size_t into = 1; into < 32; into += 3) {
      const std::size_t after_name = 8 * (600 + 1 + 1) + 16;
      const Bytes cut(whole.begin(), whole.end() - static_cast<long>(2 * (after_name + into)));
      EXPECT_EQ(report(decode(cut).files), "") << into << " pulses before the name's end";
    }
  }
  // Noise: nothing.
  Bytes noise;
  std::uint32_t x = 1;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1664525u + 1013904223u;
    const auto w = static_cast<std::uint16_t>(200 + (x >> 20) % 3000);
    noise.insert(noise.end(), {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)});
  }
  EXPECT_EQ(report(decode(noise).files), "");
  // Random bits in each pair of turbo bit lengths (TAP units): pilots that come and go, never
  // a sync with its structure after it.
  for (const auto& [zero, one] : std::vector<std::pair<double, double>>{{0x1A, 0x28},
                                                                        {0x1C, 0x29},
                                                                        {0x1C, 0x36},
                                                                        {0x22, 0x42},
                                                                        {0x24, 0x42},
                                                                        {0x24, 0x56},
                                                                        {0x30, 0x47},
                                                                        {0x30, 0x5A},
                                                                        {0x31, 0x4B},
                                                                        {0x4C, 0x72}}) {
    synth::TapeWriter w(synth::TapeLayout{});
    w.gap();
    for (int i = 0; i < 200000; ++i) {
      x = x * 1664525u + 1013904223u;
      w.bit(x >> 31, {zero, one, true});
    }
    w.gap();
    EXPECT_EQ(report(decode(w.words()).files), "") << zero << " " << one;
  }
  // Cyberload F1's pilot and sync after its boot, then random bits: no chain ends as F1's.
  {
    synth::TapeWriter w(synth::TapeLayout{});
    w.gap();
    w.add(turbo(Encoding::kCyberload, 0x0002, [](auto& f) {
      f.variant = 1;
      f.with_data = false;
    }));
    const synth::TurboBits bits{0x30, 0x5A, true};
    for (int i = 0; i < 127; ++i) w.byte(0x0F, bits);
    w.byte(0xF0, bits);
    for (int i = 0; i < 4000; ++i) {
      x = x * 1664525u + 1013904223u;
      w.bit(x >> 31, bits);
    }
    w.gap();
    EXPECT_EQ(report(decode(w.words()).files), expected_report({kCyberF1Boot}, w.placed(), 985248));
  }
  // Visiload's pilot and sync with no boot file before them, then random bytes, each with its
  // lead bit: blocks of any size and settings, cut short where the bytes end; or one whole
  // block, then silence where no load ends. Nothing is a file.
  const synth::TurboBits visi{0x25, 0x48, true};
  for (const bool whole : {false, true}) {
    SCOPED_TRACE(whole ? "a whole block" : "random bytes");
    synth::TapeWriter w(synth::TapeLayout{});
    w.gap();
    for (int i = 0; i < 256; ++i) w.byte(0x00, visi, 1);
    w.byte(0x16, visi, 1);
    if (whole) {
      for (const std::uint8_t b : {0x23, 0xE8, 0x20, 0x00}) w.byte(b, visi, 1);  // $2000-$23E8
    }
    for (int i = 0; i < (whole ? 1000 : 200000); ++i) {
      x = x * 1664525u + 1013904223u;
      w.byte(static_cast<std::uint8_t>(x >> 24), visi, 1);
    }
    w.gap();
    EXPECT_EQ(report(decode(w.words()).files), "");
  }
}

// The kinds of one loader at speeds near each other, each loader run alone (--only) over the
// others' tapes: no block is named for a loader it is not. Steve Snake's three: each pilot
// of 0 bits is taken only by the loader whose speed it is nearest (the pulses of T1 and T2
// are too near for the bits alone to tell). Freeload Slowload's two: either threshold takes
// the other's pulses, the proportion of a 1 to a 0 tells them. Super Pavloda and Pavloda
// Penetrator: the same pulses read in the same states, told apart by their pilots (a run of
// short pulses; a cycle of seven), also where Penetrator's 1s after a 0 are long pulses.
TEST(Loaders, SpeedsKeptApart) {
  const auto tape = [](Encoding e, int variant) {
    synth::TapeFile f{e, 1, "GAME", Bytes(300, 0x5A), 0x4000};
    f.variant = variant;
    return f;
  };
  using Kinds = std::vector<std::pair<synth::TapeFile, const char*>>;
  const std::vector<Kinds> kinds = {{{tape(Encoding::kSnakeload50, 0), "Snake50 T1"},
                                     {tape(Encoding::kSnakeload50, 1), "Snake50 T2"},
                                     {tape(Encoding::kSnakeload51, 0), "Snake51"}},
                                    {{tape(Encoding::kFreeloadSlow, 1), "FreeSlow T1"},
                                     {tape(Encoding::kFreeloadSlow, 2), "FreeSlow T2"}},
                                    {{tape(Encoding::kSuperPavloda, 0), "Super Pav"},
                                     {tape(Encoding::kPavlodaPenetrator, 0), "Pav. Penet."},
                                     {tape(Encoding::kPavlodaPenetrator, 1), "Pav. Penet."}}};
  for (const Kinds& k : kinds) {
    for (const auto& [file, own] : k) {
      const Bytes words = synth::synthesize({file});
      for (const auto& other : k) {
        const char* alone = other.second;
        SCOPED_TRACE(std::string(own) + " read by " + alone);
        DecoderSettings settings;
        settings.loaders = {alone};
        const auto files = decode(words, settings).files;
        EXPECT_EQ(files.size(), std::string(alone) == own ? 1u : 0u);
        for (const TapeFile& f : files) EXPECT_EQ(f.loader->name, std::string(own));
      }
    }
  }
}

// Freeload's block at its three loaders' speeds, each read alone, the decks off as far as
// the speeds' bounds allow: a speed is one loader's, however near the next.
TEST(Loaders, FreeloadBlockSpeedsKeptApart) {
  const auto tape = [](Encoding e, int variant, double speed) {
    synth::TapeFile f{e, 1, "GAME", Bytes(300, 0x5A), 0x4000};
    f.variant = variant;
    synth::TapeWriter writer(speed_of(speed));
    writer.gap();
    writer.add(f);
    writer.gap();
    return writer.words();
  };
  struct Tape {
    Bytes words;
    const char* own;
    double speed;
  };
  const std::vector<Tape> tapes = {{tape(Encoding::kFreeload, 0, 1.15), "Freeload", 1.15},
                                   {tape(Encoding::kHitload, 0, 0.85), "Hitload", 0.85},
                                   {tape(Encoding::kHitload, 0, 1.15), "Hitload", 1.15},
                                   {tape(Encoding::kFreeloadSlow, 1, 0.87), "FreeSlow T1", 0.87}};
  for (const auto& [words, own, speed] : tapes) {
    for (const char* alone : {"Freeload", "Hitload", "FreeSlow T1"}) {
      SCOPED_TRACE(std::string(own) + " at " + std::to_string(speed) + " read by " + alone);
      DecoderSettings settings;
      settings.loaders = {alone};
      const auto files = decode(words, settings).files;
      EXPECT_EQ(files.size(), std::string(alone) == own ? 1u : 0u);
      for (const TapeFile& f : files) EXPECT_EQ(f.loader->name, std::string(own));
    }
  }
}

// Rainbow Arts F1's blocks as its loader takes them, read alone: with Microload's pilot of 255
// bytes (F1 wants 800, and Microload's block is F1's without the number), none; one that would
// load past $FFFF, none; one that loads up to $FFFF, a file ending at 0.
TEST(Loaders, RainbowArtsBlocksItTakes) {
  const auto files = [](int pilot, std::uint16_t start, std::size_t size) {
    synth::TapeFile f{Encoding::kRainbowArts, 1, "GAME", Bytes(size, 0x5A), start};
    f.pilot_bytes = pilot;
    DecoderSettings settings;
    settings.loaders = {"Rainbow F1"};
    return decode(synth::synthesize({f}), settings).files;
  };
  EXPECT_TRUE(files(255, 0x4000, 300).empty());
  EXPECT_EQ(files(700, 0x4000, 300).size(), 1u);
  EXPECT_TRUE(files(0, 0xFF00, 0x101).empty());
  const auto to_ffff = files(0, 0xFF00, 0x100);
  ASSERT_EQ(to_ffff.size(), 1u);
  EXPECT_EQ(to_ffff[0].end, 0);
  EXPECT_EQ(to_ffff[0].verdict, Verdict::kOk);
}

// Pavloda Penetrator's blocks as its loader takes them, read alone: its 1s after a 0 written
// as long pulses, read as the medium ones are (the file whole); a lead-in of 100 bytes is
// none (its loader wants 255), one of 200 is taken.
TEST(Loaders, PavlodaPenetratorBlocksItTakes) {
  Bytes data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 29 + 7);
  const auto files = [&](int pilot, int variant) {
    synth::TapeFile f{Encoding::kPavlodaPenetrator, 1, "GAME", data, 0x4000};
    f.pilot_bytes = pilot;
    f.variant = variant;
    DecoderSettings settings;
    settings.loaders = {"Pav. Penet."};
    return decode(synth::synthesize({f}), settings).files;
  };
  const auto longs = files(0, 1);
  ASSERT_EQ(longs.size(), 1u);
  EXPECT_EQ(longs[0].verdict, Verdict::kOk);
  EXPECT_EQ(longs[0].data, data);
  EXPECT_TRUE(files(100, 0).empty());
  EXPECT_EQ(files(200, 0).size(), 1u);
}

// An Audiogenic block whose XOR holds: a file only with the byte that follows it as the format
// has it (0x01, or the last block's 0 bits up to the tone's end); any other byte or bits,
// nothing. Written here from the format: 0 0x1A, 1 0x36 TAP units, most significant bit first;
// four pilot bytes 0xF0, 0xAA, the page, 256 bytes, their XOR.
TEST(Loaders, AudiogenicBlockEndsAsTheFormatHasIt) {
  const synth::TurboBits bits{0x1A, 0x36, true};
  const auto block = [&](synth::TapeWriter& w, std::uint8_t page) {
    for (int i = 0; i < 4; ++i) w.byte(0xF0, bits);
    w.byte(0xAA, bits);
    w.byte(page, bits);
    std::uint8_t x = 0;
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<std::uint8_t>(i * 7 + page);
      w.byte(v, bits);
      x ^= v;
    }
    w.byte(x, bits);
  };
  struct After {
    const char* what;
    int value, bits;  // a byte, or this many bits of it (MSB first), then the tone ends
    std::size_t files;
  };
  for (const After& a : {After{"its 0 bits", 0x00, 7, 1}, After{"a whole 0", 0x00, 8, 1},
                         After{"1 bits", 0x7F, 7, 0}, After{"another byte", 0x5A, 8, 0}}) {
    SCOPED_TRACE(a.what);
    synth::TapeWriter w;
    w.gap();
    block(w, 0x40);
    for (int b = a.bits - 1; b >= 0; --b) w.bit(((a.value >> b) & 1) != 0, bits);
    w.gap();
    const auto files = decode(w.words()).files;
    ASSERT_EQ(files.size(), a.files);
    for (const TapeFile& f : files) {
      EXPECT_EQ(f.start, 0x4000);
      EXPECT_EQ(f.data.size(), 256u);
      EXPECT_EQ(f.verdict, Verdict::kOk);
    }
  }
  // A block that does not load on after a 0x01 (as those that tell the loader to run follow
  // the last): the chain before it was whole, and it begins where its pilot does.
  synth::TapeWriter w;
  w.gap();
  w.place(10, 1);
  block(w, 0x40);
  w.byte(0x01, bits);
  w.place(11, 1);
  block(w, 0x02);
  for (int b = 0; b < 7; ++b) w.bit(false, bits);
  w.gap();
  EXPECT_EQ(report(decode(w.words()).files),
            expected_report(
                {{-1, 10, 1, "Audiogenic", "program", "", "$4000", "$4100", "256", "", "ok", "ok"},
                 {-1, 11, 1, "Audiogenic", "program", "", "$0200", "$0300", "256", "", "ok", "ok"}},
                w.placed(), 985248));
}

// Ocean New 3's pages, written here from the format (a pilot of 0x80 pulses, a 0 bit, a head of
// an unused byte, the number, an unused byte and the XOR, then 256 bytes; bits 0x2E / 0x49, most
// significant bit first): each page a file only where the bits stop or the next pilot begins
// right after it; a page the next pilot cuts short told as cut, the pages after it read; the
// same pages 30 % fast (another loader's speed, no deck's) none.
TEST(Loaders, OceanNew3PagesEndAsTheFormatHasIt) {
  const synth::TurboBits bits{0x2E, 0x49, true};
  const auto page = [&](synth::TapeWriter& w, std::uint8_t number, std::size_t bytes) {
    for (int i = 0; i < 300; ++i) w.bit(true, {0x2E, 0x80, true});
    w.bit(false, bits);
    Bytes data(256);
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < data.size(); ++i)
      x ^= data[i] = static_cast<std::uint8_t>(i * i + number);
    for (const std::uint8_t b : {std::uint8_t{0}, number, std::uint8_t{0}, x}) w.byte(b, bits);
    for (std::size_t i = 0; i < bytes; ++i) w.byte(data[i], bits);
  };
  const auto ocean = [](const std::vector<TapeFile>& files) {
    std::vector<TapeFile> out;
    for (const TapeFile& f : files)
      if (f.loader->name == std::string("Ocean N3")) out.push_back(f);
    return out;
  };
  {
    SCOPED_TRACE("bytes go on after each page");
    synth::TapeWriter w;
    w.gap();
    for (std::uint8_t n = 0x33; n < 0x36; ++n) {
      page(w, n, 256);
      for (int i = 0; i < 3; ++i) w.byte(0x5A, bits);
    }
    w.gap();
    EXPECT_TRUE(ocean(decode(w.words()).files).empty());
  }
  {
    SCOPED_TRACE("the next pilot cuts a page short");
    synth::TapeWriter w;
    w.gap();
    w.place(10, 1);
    page(w, 0x33, 256);
    w.place(11, 1);
    page(w, 0x34, 100);
    w.place(12, 1);
    page(w, 0x35, 256);
    w.gap();
    EXPECT_EQ(report(decode(w.words()).files),
              expected_report(
                  {{-1, 10, 1, "Ocean N3", "program", "", "$4000", "$4100", "256", "", "ok", "ok"},
                   {-1, 11, 1, "Ocean N3", "program", "", "$4100", "$4164", "100", "", "cut",
                    "incomplete"},
                   {-1, 12, 1, "Ocean N3", "program", "", "$4200", "$4300", "256", "", "ok", "ok"}},
                  w.placed(), 985248));
  }
  {
    SCOPED_TRACE("30 % fast");
    synth::TapeLayout fast;
    fast.speed = 0.7;
    synth::TapeWriter w(fast);
    w.gap();
    for (std::uint8_t n = 0x33; n < 0x36; ++n) page(w, n, 256);
    w.gap();
    EXPECT_TRUE(ocean(decode(w.words()).files).empty());
  }
}

// Special Agent's own speeds (its pulses nearer each other than Strike Force Cobra's) read with
// the timers its boot sets; the same code in a ROM program loading elsewhere (to its end) is no
// boot of it, and its blocks then no files.
TEST(Loaders, SpecialAgentReadAfterItsBoot) {
  Bytes data(512);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 5 + 1);
  synth::TapeFile game{Encoding::kSpecialAgent, 1, "", data, 0x2000};
  synth::TapeWriter w;
  w.gap();
  w.add(game);
  w.gap();
  EXPECT_EQ(
      report(decode(w.words()).files),
      expected_report(
          {{0, 0, 1, "ROM", "program", "SPECIAL", "$02A7", "$0314", "109", "ok ok", "ok ok", "ok"},
           {0, 10, 1, "Sp. Agent", "program", "", "$2000", "$2200", "512", "", "ok", "ok"}},
          w.placed(), 985248));
  synth::TapeWriter elsewhere;
  elsewhere.gap();
  synth::TapeFile boot{Encoding::kStandard, 3, "SPECIAL", Bytes(0x6C, 0xEA), 0x02A8};
  boot.header_filler.assign(171, 0xEA);
  const Bytes code = {0xA9, 0xC8, 0x8D, 0x04, 0xDD, 0xA9, 0x02, 0x8D, 0x05, 0xDD,
                      0xA9, 0xE8, 0x8D, 0x06, 0xDD, 0xA9, 0x04, 0x8D, 0x07, 0xDD};
  std::copy(code.begin(), code.end(), boot.header_filler.begin() + 10);
  elsewhere.add(boot);
  game.with_boot = false;
  elsewhere.add(game);
  elsewhere.gap();
  const auto files = decode(elsewhere.words()).files;
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].loader->name, std::string("ROM"));
  // Its blocks come within seconds of each other: one 20 s after the last is not its.
  synth::TapeWriter late;
  late.gap();
  game.with_boot = true;
  late.add(game);
  late.silence(20 * 985248 * 2);
  game.with_boot = false;
  game.start_address = 0x3000;
  late.add(game);
  late.gap();
  EXPECT_EQ(
      report(decode(late.words()).files),
      expected_report(
          {{0, 0, 1, "ROM", "program", "SPECIAL", "$02A7", "$0314", "109", "ok ok", "ok ok", "ok"},
           {0, 10, 1, "Sp. Agent", "program", "", "$2000", "$2200", "512", "", "ok", "ok"}},
          late.placed(), 985248));
}

// Mikro-Gen's blocks come after its boot: a pilot of 256 pulses makes one, of 255 none; a boot
// whose code differs in any byte the loader looks for tells no block (the new loader's second
// pattern changed: the loading screen alone).
TEST(Loaders, MikroGenPilotAndBootCode) {
  Bytes data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 2);
  const auto ours = [](const std::vector<TapeFile>& files) {
    std::vector<std::string> out;
    for (const TapeFile& f : files)
      if (std::string(f.loader->name).rfind("Mikro-Gen", 0) == 0)
        out.push_back(scan::file_row(f, 1).substr(40));
    return out;
  };
  // `misfit`: a pilot of 1s too slow for its bits (half as long again) before the blocks.
  const auto tape = [&](int variant, int pilot, const Bytes* boot, bool misfit = false) {
    synth::TapeFile game{Encoding::kMikroGen, 1, "", data, 0x2000};
    game.variant = variant;
    game.pilot_bytes = pilot;
    synth::TapeWriter w;
    w.gap();
    if (boot) {
      w.add({Encoding::kStandard, 1, "BOOT", *boot, 0x0801});
      w.silence(2 * 985248 / 5);
      game.with_boot = false;
    }
    if (misfit) {
      for (int i = 0; i < 300; ++i) w.bit(true, {0x38, 0x96, false});
      w.bit(false, {0x38, 0x96, false});
      w.silence(2 * 985248 / 5);
    }
    w.add(game);
    w.gap();
    return ours(decode(w.words()).files);
  };
  for (const int variant : {0, 1}) {
    SCOPED_TRACE(variant);
    const std::size_t blocks = variant == 0 ? 1 : 2;
    EXPECT_EQ(tape(variant, 256, nullptr).size(), blocks);
    EXPECT_EQ(tape(variant, 255, nullptr).size(), 0u);
  }
  // The boots as the encoder writes them, each byte the loader looks for changed in turn.
  const Bytes old_start = {0xA9, 0x00, 0x85, 0xFD, 0xA9, 0x20, 0x85, 0xFE,
                           0xAD, 0x0E, 0xDC, 0x29, 0xFE, 0x8D, 0x0E, 0xDC};
  const Bytes old_end = {0xE6, 0xFE, 0xA5, 0xFE, 0xC9, 0x22, 0xD0};
  const Bytes screen = {0xA9, 0x00, 0x85, 0xFD, 0xA9, 0x04, 0x85, 0xFE, 0xA9,
                        0x41, 0x85, 0xF8, 0xA9, 0x04, 0x85, 0xF9, 0xAD, 0x0E};
  const Bytes game = {0xA9, 0x00, 0x85, 0xFD, 0xA9, 0x20, 0x85, 0xFE, 0xA9,
                      0x2D, 0x85, 0xF8, 0xA9, 0x21, 0x85, 0xF9, 0xAD, 0x0E};
  const auto boot = [](const Bytes& first, const Bytes& second) {
    Bytes b(160, 0xEA);
    std::copy(first.begin(), first.end(), b.begin() + 0x20);
    std::copy(second.begin(), second.end(), b.begin() + 0x50);
    return b;
  };
  const Bytes old_boot = boot(old_start, old_end), new_boot = boot(screen, game);
  const auto old_files = tape(0, 0, &old_boot), new_files = tape(1, 0, &new_boot);
  ASSERT_EQ(old_files.size(), 1u);
  ASSERT_EQ(new_files.size(), 2u);
  EXPECT_EQ(old_files, tape(0, 0, nullptr));
  EXPECT_EQ(new_files, tape(1, 0, nullptr));
  EXPECT_EQ(new_files, tape(1, 0, &new_boot, true));  // still watched for after the misfit
  const auto changed = [&](int variant, bool in_first, std::size_t at) {
    const Bytes& first = variant == 0 ? old_start : screen;
    const Bytes& second = variant == 0 ? old_end : game;
    Bytes one = first, two = second;
    (in_first ? one : two)[at] ^= 0x40;
    const Bytes b = boot(one, two);
    return tape(variant, 0, &b);
  };
  for (std::size_t at = 0; at < old_start.size(); ++at) {
    if (at != 1 && at != 5) {
      EXPECT_TRUE(changed(0, true, at).empty()) << at;
    }
  }
  for (std::size_t at = 0; at < old_end.size(); ++at) {
    if (at != 5) {
      EXPECT_TRUE(changed(0, false, at).empty()) << at;
    }
  }
  for (std::size_t at = 0; at < game.size(); ++at) {
    if (at % 4 != 1) {
      EXPECT_EQ(changed(1, false, at), std::vector{new_files[0]}) << at;
    }
  }
}

// CRL's bytes, least significant bit first, as they were written: the first block's too, whose
// code sets up the next; the last bit's pulse too long for a bit read as a 1.
TEST(Loaders, CrlBytesAsWritten) {
  Bytes data(512);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 2);
  data.back() = 0xC5;
  synth::TapeFile game{Encoding::kCrl, 1, "", data, 0x2000};
  game.variant = synth::kCrlLongLast;
  synth::TapeWriter w;
  w.gap();
  w.add(game);
  w.gap();
  const auto files = decode(w.words()).files;
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[1].start, 0xCE00);
  EXPECT_EQ(Bytes(files[1].data.begin(), files[1].data.begin() + 4),
            (Bytes{0xA9, 0x00, 0x8D, 0x89}));  // LDA #$00; STA $CE89
  EXPECT_EQ(files[2].start, 0x2000);
  EXPECT_EQ(files[2].data, data);
}

// What real commercial tapes showed that our first encoders did not write, each on a tape the
// synthesiser writes with that fact: every row the whole report of the tape.
TEST(Loaders, WhatRealTapesShowed) {
  Bytes data(768);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 11 + 3);
  const auto file = [&](Encoding e, std::uint16_t start, auto change) {
    synth::TapeFile f{e, 1, "GAME", data, start};
    change(f);
    return f;
  };
  const Line ocean_boot = {0,       0,       1,     "ROM",   "program", "OCEAN",
                           "$0316", "$04A6", "400", "ok ok", "ok ok",   "ok"};
  // Ocean data holding a page of 0xFF (Bleepload's leader of 1 bits) and then what reads as
  // a Bleepload Special block, its bits in Bleepload's order.
  Bytes bleepy(1024);
  for (std::size_t i = 0; i < bleepy.size(); ++i)
    bleepy[i] = i < 256 ? 0xFF : static_cast<std::uint8_t>(i * 7 + 1);
  Bytes block(10, 0x50);
  block.insert(block.end(), {0xAF, 0x50, 0x00, 0x00, 0x90, 0x00, 0x91, 0x00, 0x90});
  for (std::size_t i = 0; i < block.size(); ++i)
    for (int b = 0; b < 8; ++b)
      bleepy[256 + i] = static_cast<std::uint8_t>((bleepy[256 + i] & ~(1 << b)) |
                                                  ((block[i] >> (7 - b)) & 1) << b);
  const Line cyber_boot = {0,       0,       1,     "ROM",   "program", "CYBERLOAD",
                           "$029F", "$033B", "156", "ok ok", "ok ok",   "ok"};
  // The data with code in it: each piece at its place.
  const auto with_code = [&](const std::vector<std::pair<std::size_t, Bytes>>& pieces) {
    Bytes d = data;
    for (const auto& [at, code] : pieces)
      std::copy(code.begin(), code.end(), d.begin() + static_cast<long>(at));
    return d;
  };
  // F3's loader, as F2 loads it: the timer, then the compare of the pilot (0xC3) and the sync
  // (0xA5); later code compares 0xFF and 0xFE, as on 3D Pool.
  const Bytes f3_loader =
      with_code({{0x40, {0xA9, 0xFE, 0x8D, 0x04, 0xDC, 0xA9, 0x01, 0x8D, 0x05, 0xDC}},
                 {0x80, {0xC9, 0xC3, 0xF0, 0xF9, 0xC9, 0xA5, 0xD0, 0xE4}},
                 {0x200, {0xC9, 0xFF, 0xF0, 0x17, 0xC9, 0xFE, 0xD0, 0x04}}});
  const Line visi_boot = {0,       0,       1,     "ROM",   "program", "VISILOAD",
                          "$029F", "$03C0", "289", "ok ok", "ok ok",   "ok"};
  const auto visi = [](int block, const char* start, const char* end, const char* size,
                       const char* verdict = "ok (no checksum)") {
    return Line{0, block, 1, "Visiload", "program", "", start, end, size, "", "ok", verdict};
  };
  const auto visiload = [&](int changes, bool boot = true) {
    return file(Encoding::kVisiload, 0x4000, [&](auto& f) {
      f.variant = changes;
      f.with_boot = boot;
    });
  };
  const Line crl_boot = {0,       0,       1,    "ROM",   "program", "CRL",
                         "$02A7", "$02B7", "16", "ok ok", "ok ok",   "ok"};
  const auto crl = [](int block, const char* start, const char* end, const char* size) {
    return Line{0, block, 1, "CRL", "program", "", start, end, size, "", "ok", "ok (no checksum)"};
  };
  const Line crl_first = crl(10, "$CE00", "$CF00", "256");
  struct Row {
    const char* what;
    std::vector<synth::TapeFile> files;
    std::vector<Line> lines;
    int machine = -1;
    void (*after)(synth::TapeWriter&) = nullptr;  // pulses written after the files
    bool joined = false;  // no pause between the files (where the next begins: not stated)
  };
  const Line thunder_boot = {0,       0,       1,     "ROM",   "program", "THUNDER",
                             "$02A7", "$0316", "111", "ok ok", "ok ok",   "ok"};
  const Line thunder_intro = {0,       10,   1,  "Thunderload", "program", "", "$C000",
                              "$C040", "64", "", "ok",          "ok"};
  const Line anirog_boot = {0,       0,       1,    "ROM",   "program", "ANIROG",
                            "$0334", "$0374", "64", "ok ok", "ok ok",   "ok"};
  const Line burner_boot = {0,       0,       1,     "ROM",   "program", "BURNER",
                            "$02A7", "$030C", "101", "ok ok", "ok ok",   "ok"};
  const Line rackit_boot = {0,       0,       1,     "ROM",   "program", "RACK-IT",
                            "$0316", "$0540", "554", "ok ok", "ok ok",   "ok"};
  // Virgin data holding a run of 3,332 0 bits (as a Virgin game of five blocks does), then
  // what Ocean's loader reads as a chain whole to its end: a 1, a page, a page of 0 and 2,047
  // 0 bits; the rest of the data after it.
  Bytes zero_run;
  {
    std::vector<bool> bits(3332, false);
    const auto lsb_first = [&](std::uint8_t v) {
      for (int b = 0; b < 8; ++b) bits.push_back(((v >> b) & 1) != 0);
    };
    bits.push_back(true);
    lsb_first(0);
    lsb_first(0x30);
    for (int i = 0; i < 256; ++i) lsb_first(data[static_cast<std::size_t>(i)]);
    lsb_first(0);
    lsb_first(0);
    bits.insert(bits.end(), 2047, false);
    bits.resize((bits.size() + 7) / 8 * 8, true);
    for (std::size_t i = 0; i < bits.size(); i += 8) {
      std::uint8_t v = 0;
      for (std::size_t b = 0; b < 8; ++b) v = static_cast<std::uint8_t>(v << 1 | bits[i + b]);
      zero_run.push_back(v);
    }
    zero_run.insert(zero_run.end(), data.begin(), data.begin() + 300);
  }
  // clang-format off
  const std::vector<Row> rows = {
    {"Ocean: a flag byte of 0xA2 (the loader's options), every page read on",
     {file(Encoding::kOcean, 0xA000, [](auto& f) { f.variant = 1; f.flag = 0xA2; })},
     {ocean_boot, {0, 10, 1, "Ocean", "program", "", "$A000", "$A300", "768", "", "ok", "ok (no checksum)"}}},
    {"Ocean: colour RAM pages with a flag of 0x83",
     {file(Encoding::kOcean, 0xD800, [](auto& f) { f.variant = 1; f.flag = 0x83; })},
     {ocean_boot, {0, 10, 1, "Ocean", "program", "", "$D800", "$DB00", "768", "", "ok", "ok (no checksum)"}}},
    {"Ocean: a run of 4,000 long pulses is no pilot of 0 bits, its loader known or not",
     {file(Encoding::kOcean, 0x3000, [](auto& f) { f.variant = 1; })},
     {ocean_boot, {0, 10, 1, "Ocean", "program", "", "$3000", "$3300", "768", "", "ok", "ok (no checksum)"}},
     -1, [](synth::TapeWriter& w) {
       w.gap();
       std::uint32_t x = 7;
       for (int i = 0; i < 4000 + 8 * 600; ++i) {
         x = x * 1664525u + 1013904223u;
         w.bit(i < 4000 || (x >> 31) != 0, {0x24, 0x56, false});
       }
     }},
    {"Cyberload: F1's parameters enciphered in the boot's header (its timer set by LDY/STY), F2's in F1's first file, F3's in F2's file (its first compare)",
     {file(Encoding::kCyberload, 0xF000, [&](auto& f) { f.variant = 2; f.data = f3_loader; }),
      file(Encoding::kCyberload, 0x4000, [](auto& f) { f.variant = 3; f.pilot_byte = 0xC3; f.sync_byte = 0xA5; f.with_boot = false; })},
     {cyber_boot, {0, 10, 1, "Cyber F1", "program", "", "$0002", "$0092", "144", "", "ok", "ok (no checksum)"},
      {0, 11, 1, "Cyber F1", "program", "", "$0100", "$0108", "8", "", "ok", "ok (no checksum)"},
      {0, 12, 1, "Cyber F2", "program", "", "$F000", "$F300", "768", "", "ok", "ok (no checksum)"},
      {1, 10, 1, "Cyber F3", "program", "", "$4000", "$4300", "768", "", "ok", "ok"}}},
    {"Cyberload: F1's files hold F1's own compare (0x0F, 0xF0), not F3's",
     {file(Encoding::kCyberload, 0x0002, [&](auto& f) { f.variant = 1; f.data = with_code({{0x40, {0xC9, 0x0F, 0xF0, 0xF9, 0xC9, 0xF0, 0xD0, 0xEB}}}); }),
      file(Encoding::kCyberload, 0x4000, [](auto& f) { f.variant = 3; })},
     {cyber_boot, {0, 10, 1, "Cyber F1", "program", "", "$0002", "$0302", "768", "", "ok", "ok (no checksum)"},
      {1, 10, 1, "Cyber F3", "program", "", "$4000", "$4300", "768", "", "ok", "ok"}}},
    {"Cyberload F1 and F2 without their boot (recorded apart): nothing proves them",
     {file(Encoding::kCyberload, 0xF000, [](auto& f) { f.variant = 2; f.with_boot = false; })}, {}},
    {"Ocean: 0xFF pages in its data start no Bleepload chain, whose failed check bytes prove nothing",
     {file(Encoding::kOcean, 0x2000, [&](auto& f) { f.variant = 1; f.data = bleepy; })},
     {ocean_boot, {0, 10, 1, "Ocean", "program", "", "$2000", "$2400", "1024", "", "ok", "ok (no checksum)"}}},
    {"Virgin: a run of 3,332 0 bits in its data is taken for Ocean's pilot, but the chain read there loses to the block's checksum",
     {file(Encoding::kVirgin, 0x2000, [&](auto& f) { f.data = zero_run; })},
     {{0, 10, 1, "Virgin", "program", "", "$2000", "$24D1", "1233", "", "ok", "ok"}}},
    {"Hi-Tec: Virgin's blocks with longer pulses (0x25 / 0x45, the loader's threshold 382 cycles); one that loads up to $FFFF ends at 0",
     {file(Encoding::kVirgin, 0xFD00, [](auto& f) { f.variant = 1; })},
     {{0, 10, 1, "Virgin", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"}}},
    {"Virgin: a pilot of 12 bytes, under the 16 its loader counts, is none",
     {file(Encoding::kVirgin, 0x0801, [](auto& f) { f.pilot_bytes = 12; })}, {}},
    {"Virgin: a head whose end wraps past $FFFF (its loader would go on over its own pointers) is none",
     {file(Encoding::kVirgin, 0xFF00, [](auto&) {})}, {}},
    {"Jiffy Load: one that loads up to $FFFF ends at 0",
     {file(Encoding::kJiffyLoad, 0xFD00, [](auto&) {})},
     {{0, 10, 1, "Jiffy Load", "program", "", "$FD00", "$0000", "768", "", "ok", "unverified"}}},
    {"Jiffy Load: a head that tells a byte more than the data: what follows does not count down from 0, no file",
     {file(Encoding::kJiffyLoad, 0x0801, [](auto& f) { f.announced_size = 769; })}, {}},
    {"Jiffy Load: a head that tells a byte less: no file",
     {file(Encoding::kJiffyLoad, 0x0801, [](auto& f) { f.announced_size = 767; })}, {}},
    {"Jiffy Load: a head whose end is below its start is none, and the block right after it is read",
     {file(Encoding::kJiffyLoad, 0x0801, [](auto& f) { f.announced_size = 0x10000 - 0x10; }),
      file(Encoding::kJiffyLoad, 0x0801, [](auto&) {})},
     {{1, 10, 1, "Jiffy Load", "program", "", "$0801", "$0B01", "768", "", "ok", "unverified"}}, -1, nullptr, true},
    {"Jiffy Load: a pilot of 150 bytes, under 200, is none",
     {file(Encoding::kJiffyLoad, 0x0801, [](auto& f) { f.pilot_bytes = 150; })}, {}},
    {"Ash & Dave: one that loads up to $FFFF ends at 0",
     {file(Encoding::kAshDave, 0xFD00, [](auto&) {})},
     {{0, 10, 1, "Ash & Dave", "program", "", "$FD00", "$0000", "768", "", "ok", "unverified"}}},
    {"Ash & Dave: a head that tells a byte more than the data: the bytes after it are not 0x00 0x01 0x02 .., no file",
     {file(Encoding::kAshDave, 0x0801, [](auto& f) { f.announced_size = 769; })}, {}},
    {"Ash & Dave: a head whose end is below its start is none, and the block right after it is read",
     {file(Encoding::kAshDave, 0x0801, [](auto& f) { f.announced_size = 0x10000 - 0x10; }),
      file(Encoding::kAshDave, 0x0801, [](auto&) {})},
     {{1, 10, 1, "Ash & Dave", "program", "", "$0801", "$0B01", "768", "", "ok", "unverified"}}, -1, nullptr, true},
    {"Ash & Dave: a pilot of 80 bytes, under 100, is none",
     {file(Encoding::kAshDave, 0x0801, [](auto& f) { f.pilot_bytes = 80; })}, {}},
    {"Empire beside Ash & Dave, their pilots and syncs the same, no boot of either: each block to its own",
     {file(Encoding::kEmpire, 0x4000, [](auto& f) { f.with_boot = false; }), file(Encoding::kAshDave, 0x0801, [](auto&) {}),
      file(Encoding::kEmpire, 0x6000, [](auto& f) { f.with_boot = false; })},
     {{0, 10, 1, "Empire", "program", "", "$4000", "$4300", "768", "", "ok", "unverified"},
      {1, 10, 1, "Ash & Dave", "program", "", "$0801", "$0B01", "768", "", "ok", "unverified"},
      {2, 10, 1, "Empire", "program", "", "$6000", "$6300", "768", "", "ok", "unverified"}}},
    {"Empire: a head whose end is below its start is none, and the block right after it is read",
     {file(Encoding::kEmpire, 0x0801, [](auto& f) { f.announced_size = 0x10000 - 0x10; f.with_boot = false; }),
      file(Encoding::kEmpire, 0x0801, [](auto& f) { f.with_boot = false; })},
     {{1, 10, 1, "Empire", "program", "", "$0801", "$0B01", "768", "", "ok", "unverified"}}, -1, nullptr, true},
    {"Empire: a pilot of 100 bytes, under its loader's 127, is none",
     {file(Encoding::kEmpire, 0x0801, [](auto& f) { f.pilot_bytes = 100; f.with_boot = false; })}, {}},
    {"The Edge: a first pilot of 960 0 bits, under 1,000, is none",
     {file(Encoding::kTheEdge, 0x0801, [](auto& f) { f.pilot_bytes = 120; })}, {}},
    {"The Edge: a second pilot of 999 0 bits is none, of 1,000 one",
     {file(Encoding::kTheEdge, 0x0801, [](auto& f) { f.variant = 999; }),
      file(Encoding::kTheEdge, 0x2000, [](auto& f) { f.variant = 1000; })},
     {{1, 10, 1, "The Edge", "program", "", "$2000", "$2300", "768", "", "ok", "unverified"}}},
    {"Creative Sparks without its boot: nothing tells where it loads, no file",
     {file(Encoding::kCreativeSparks, 0x0801, [](auto& f) { f.with_boot = false; })}, {}},
    {"Creative Sparks after another boot file: its header holds no such code, nothing tells where it loads, no file",
     {{Encoding::kStandard, 1, "OTHER", Bytes(64, 0xEA), 0x0801},
      file(Encoding::kCreativeSparks, 0x0801, [](auto& f) { f.with_boot = false; })},
     {{0, 0, 1, "ROM", "program", "OTHER", "$0801", "$0841", "64", "ok ok", "ok ok", "ok"}}},
    {"Creative Sparks: a pilot of 40 bytes, under 64, is none",
     {file(Encoding::kCreativeSparks, 0x0801, [](auto& f) { f.pilot_bytes = 40; })},
     {{0, 0, 1, "ROM", "program", "CREATIVE", "$0801", "$0841", "64", "ok ok", "ok ok", "ok"}}},
    {"Creative Sparks: one page up to $FFFF ends at 0; its one check byte and its end prove it",
     {file(Encoding::kCreativeSparks, 0xFF00, [](auto& f) { f.data.resize(256); })},
     {{0, 0, 1, "ROM", "program", "CREATIVE", "$0801", "$0841", "64", "ok ok", "ok ok", "ok"},
      {0, 10, 1, "Cr. Sparks", "program", "", "$FF00", "$0000", "256", "", "ok", "ok"}}},
    {"Rack-It: a game's blocks, each where its header says, read with the boot's parameters; one that loads up to $FFFF ends at 0",
     {file(Encoding::kRackIt, 0x0801, [](auto& f) { f.pilot_byte = 0x69; f.sync_byte = 0x96; }),
      file(Encoding::kRackIt, 0xFD00, [](auto& f) { f.pilot_byte = 0x69; f.sync_byte = 0x96; f.with_boot = false; })},
     {rackit_boot, {0, 10, 1, "Rack-It", "program", "", "$0801", "$0B01", "768", "", "ok", "ok"},
      {1, 10, 1, "Rack-It", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"}}},
    {"Rack-It without its boot (recorded apart): its pilot, sync and bit order unknown, nothing",
     {file(Encoding::kRackIt, 0x0801, [](auto& f) { f.with_boot = false; })}, {}},
    {"Snakeload 5.0: a block's trailer of 0 bits running into the next block's pilot, no pause between; one that loads up to $FFFF ends at 0",
     {file(Encoding::kSnakeload50, 0x0801, [](auto&) {}), file(Encoding::kSnakeload50, 0xFD00, [](auto&) {})},
     {{0, 10, 1, "Snake50 T1", "program", "", "$0801", "$0B01", "768", "", "ok", "ok"},
      {1, 10, 1, "Snake50 T1", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"}},
     -1, nullptr, true},
    {"Snakeload 5.1: the third sync TAPClean knows (B2 B4 B2 D4, the rest any), two blocks in a row",
     {file(Encoding::kSnakeload51, 0x0801, [](auto& f) { f.sync_byte = 2; }), file(Encoding::kSnakeload51, 0x4000, [](auto& f) { f.sync_byte = 2; })},
     {{0, 10, 1, "Snake51", "program", "", "$0801", "$0B01", "768", "", "ok", "ok"},
      {1, 10, 1, "Snake51", "program", "", "$4000", "$4300", "768", "", "ok", "ok"}}},
    {"TDI F2: a name of 2 bytes, then of 1 (the marker after the check byte tells which)",
     {file(Encoding::kTdi, 0x0800, [](auto& f) { f.variant = 2; f.name = "AB"; }), file(Encoding::kTdi, 0x2000, [](auto& f) { f.variant = 2; f.name = "Z"; })},
     {{0, 10, 1, "TDI F2", "program", "AB", "$0800", "$0B00", "768", "", "ok", "ok"},
      {1, 10, 1, "TDI F2", "program", "Z", "$2000", "$2300", "768", "", "ok", "ok"}}},
    {"Atlantis: one that loads up to $FFFF ends at 0",
     {file(Encoding::kAtlantis, 0xFD00, [](auto&) {})},
     {{0, 10, 1, "Atlantis", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"}}},
    {"Ocean New 1: one that loads up to $FFFF ends at 0",
     {file(Encoding::kOceanNew1, 0xFD00, [](auto&) {})},
     {{0, 10, 1, "Ocean N1 T1", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"}}},
    {"Jiffy Load: a head whose end is its start, 0 and 0 (all of memory, or nothing), is none",
     {file(Encoding::kJiffyLoad, 0x0000, [](auto& f) { f.data.clear(); }),
      file(Encoding::kJiffyLoad, 0x4000, [](auto& f) { f.data.clear(); })}, {}},
    {"Ocean New 1 T1 beside Freeload, their pilots, syncs and speed the same: each block to its own",
     {file(Encoding::kFreeload, 0x4000, [](auto&) {}), file(Encoding::kOceanNew1, 0x5000, [](auto&) {}),
      file(Encoding::kFreeload, 0x6000, [](auto&) {})},
     {{0, 10, 1, "Freeload", "program", "", "$4000", "$4300", "768", "", "ok", "ok"},
      {1, 10, 1, "Ocean N1 T1", "program", "", "$5000", "$5300", "768", "", "ok", "ok"},
      {2, 10, 1, "Freeload", "program", "", "$6000", "$6300", "768", "", "ok", "ok"}}},
    {"TES Tape: one that loads up to $FFFF ends at 0",
     {file(Encoding::kTesTape, 0xFD00, [](auto&) {})},
     {{0, 10, 1, "TES Tape", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"}}},
    {"TES Tape: a trailer of three 0 bits (TAPClean reads up to eight): the block ends at its check byte",
     {file(Encoding::kTesTape, 0x4000, [](auto& f) { f.variant = 3; })},
     {{0, 10, 1, "TES Tape", "program", "", "$4000", "$4300", "768", "", "ok", "ok"}}},
    {"TES Tape beside Atlantis, their pilots, syncs and speed the same: each block to its own",
     {file(Encoding::kAtlantis, 0x4000, [](auto&) {}), file(Encoding::kTesTape, 0x5000, [](auto&) {}),
      file(Encoding::kAtlantis, 0x6000, [](auto&) {})},
     {{0, 10, 1, "Atlantis", "program", "", "$4000", "$4300", "768", "", "ok", "ok"},
      {1, 10, 1, "TES Tape", "program", "", "$5000", "$5300", "768", "", "ok", "ok"},
      {2, 10, 1, "Atlantis", "program", "", "$6000", "$6300", "768", "", "ok", "ok"}}},
    {"MMS: one that loads up to $FFFF, its boot's end 0",
     {file(Encoding::kMms, 0xFD00, [](auto&) {})},
     {{0, 0, 1, "ROM", "program", "MMS", "$02A7", "$02C7", "32", "ok ok", "ok ok", "ok"},
      {0, 10, 1, "MMS", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"}}},
    {"MMS beside Biturbo, their pilots and speed the same, each after its boot: each block to its own",
     {file(Encoding::kBiturbo, 0x4000, [](auto&) {}), file(Encoding::kMms, 0x5000, [](auto&) {}),
      file(Encoding::kBiturbo, 0x6000, [](auto&) {})},
     {{0, 0, 1, "ROM", "program", "BITURBO", "$0801", "$0881", "128", "ok ok", "ok ok", "ok"},
      {0, 10, 1, "Biturbo", "program", "", "$4000", "$4300", "768", "", "ok", "ok"},
      {1, 0, 1, "ROM", "program", "MMS", "$02A7", "$02C7", "32", "ok ok", "ok ok", "ok"},
      {1, 10, 1, "MMS", "program", "", "$5000", "$5300", "768", "", "ok", "ok"},
      {2, 0, 1, "ROM", "program", "BITURBO", "$0801", "$0881", "128", "ok ok", "ok ok", "ok"},
      {2, 10, 1, "Biturbo", "program", "", "$6000", "$6300", "768", "", "ok", "ok"}}},
    {"Freeload Slowload T1 and T2 in turn, their thresholds near: each block to its own",
     {file(Encoding::kFreeloadSlow, 0x4000, [](auto& f) { f.variant = 1; }), file(Encoding::kFreeloadSlow, 0x5000, [](auto& f) { f.variant = 2; }),
      file(Encoding::kFreeloadSlow, 0x6000, [](auto& f) { f.variant = 1; })},
     {{0, 10, 1, "FreeSlow T1", "program", "", "$4000", "$4300", "768", "", "ok", "ok"},
      {1, 10, 1, "FreeSlow T2", "program", "", "$5000", "$5300", "768", "", "ok", "ok"},
      {2, 10, 1, "FreeSlow T1", "program", "", "$6000", "$6300", "768", "", "ok", "ok"}}},
    {"Ocean New 2 beside Freeload, their pilots, syncs and heads the same but its ID byte: each block to its own",
     {file(Encoding::kFreeload, 0x4000, [](auto&) {}), file(Encoding::kOceanNew2, 0x5000, [](auto&) {}),
      file(Encoding::kFreeload, 0x6000, [](auto&) {})},
     {{0, 10, 1, "Freeload", "program", "", "$4000", "$4300", "768", "", "ok", "ok"},
      {1, 10, 1, "Ocean N2", "program", "", "$5000", "$5300", "768", "", "ok", "ok"},
      {2, 10, 1, "Freeload", "program", "", "$6000", "$6300", "768", "", "ok", "ok"}}},
    {"Freeload damaged beside Ocean New 2: Freeload's block stays Freeload's, bad",
     {file(Encoding::kFreeload, 0x4000, [](auto& f) { f.flip_bit = 100; }), file(Encoding::kOceanNew2, 0x5000, [](auto&) {})},
     {{0, 10, 1, "Freeload", "program", "", "$4000", "$4300", "768", "", "sum", "bad"},
      {1, 10, 1, "Ocean N2", "program", "", "$5000", "$5300", "768", "", "ok", "ok"}}},
    {"Ocean New 2 after a whole page: the last data byte the XOR of the rest, Freeload's reading verifies too, one byte short of the block's end",
     {file(Encoding::kOceanNew2, 0x5000, [&](auto& f) { f.data.back() = 0; f.data.back() = static_cast<std::uint8_t>(0x02 ^ [&] { std::uint8_t x = 0; for (auto b : f.data) x ^= b; return x; }()); })},
     {{0, 10, 1, "Ocean N2", "program", "", "$5000", "$5300", "768", "", "ok", "ok"}}},
    {"Ocean New 4 beside Freeload, their pilots and syncs the same: each block to its own; one that loads up to $FFFF ends at 0",
     {file(Encoding::kFreeload, 0x4000, [](auto&) {}), file(Encoding::kOceanNew4, 0xFD00, [](auto&) {}),
      file(Encoding::kFreeload, 0x6000, [](auto&) {})},
     {{0, 10, 1, "Freeload", "program", "", "$4000", "$4300", "768", "", "ok", "ok"},
      {1, 10, 1, "Ocean N4", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"},
      {2, 10, 1, "Freeload", "program", "", "$6000", "$6300", "768", "", "ok", "ok"}}},
    {"Biturbo: one that loads up to $FFFF, its boot's end 0",
     {file(Encoding::kBiturbo, 0xFD00, [](auto&) {})},
     {{0, 0, 1, "ROM", "program", "BITURBO", "$0801", "$0881", "128", "ok ok", "ok ok", "ok"},
      {0, 10, 1, "Biturbo", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"}}},
    {"Rasterload: one that loads up to $FFFF (its end inclusive) ends at 0",
     {file(Encoding::kRasterload, 0xFD00, [](auto&) {})},
     {{0, 10, 1, "Rasterload", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"}}},
    {"Flashload without its boot file: the sync of most tapes (0x33); one that loads up to $FFFF (its end inclusive) ends at 0",
     {file(Encoding::kFlashload, 0xFD00, [](auto& f) { f.with_boot = false; })},
     {{0, 10, 1, "Flashload", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"}}},
    {"ODEload without its boot file: the pilot and sync of most tapes (0x20, 0xDB); one that loads up to $FFFF ends at 0",
     {file(Encoding::kOdeload, 0xFD00, [](auto& f) { f.with_boot = false; })},
     {{0, 10, 1, "ODEload", "program", "", "$FD00", "$0000", "768", "", "ok", "ok"}}},
    {"Thunderload: the intro sets a faster timer for the blocks after it",
     {file(Encoding::kThunderload, 0x4000, [](auto& f) { f.flag = 0x0120; })},
     {thunder_boot, thunder_intro, {0, 11, 1, "Thunderload", "program", "", "$4000", "$4300", "768", "", "ok", "ok"}}},
    {"Thunderload: a block whose head's check byte fails is none",
     {file(Encoding::kThunderload, 0x4000, [](auto& f) { f.bad_checksum = true; })},
     {thunder_boot, thunder_intro}},
    {"Anirog: a pilot of 40 bytes, under the 50 its loader wants, is none",
     {file(Encoding::kAnirog, 0x0801, [](auto& f) { f.pilot_bytes = 40; })}, {anirog_boot}},
    {"Anirog: a block whose flag is not its 1 is none of its",
     {file(Encoding::kAnirog, 0x0801, [](auto& f) { f.flag = 5; })}, {anirog_boot}},
    {"Novaload: a name of 17 bytes, one more than its header holds, is no header",
     {file(Encoding::kNovaload, 0x3000, [](auto& f) { f.name = "SEVENTEEN LETTERS"; })}, {}},
    {"Burner: a pilot of 10 bytes, too few to tell it from noise, is none",
     {file(Encoding::kBurner, 0x1000, [](auto& f) { f.pilot_byte = 0x2B; f.sync_byte = 0xD4; f.pilot_bytes = 10; })}, {burner_boot}},
    {"Visiload: two loads with no pause between, the second's pilot and sync in the boot's format",
     {visiload(0), visiload(0, false)},
     {visi_boot, visi(10, "$0347", "$0348", "1"), visi(11, "$4000", "$4300", "768"),
      {1, 10, 1, "Visiload", "program", "", "$0347", "$0348", "1", "", "ok", "ok (no checksum)"},
      {1, 11, 1, "Visiload", "program", "", "$4000", "$4300", "768", "", "ok", "ok (no checksum)"}},
     -1, nullptr, true},
    {"Ocean on a VIC20 tape: no C64 loader runs there",
     {file(Encoding::kOcean, 0x3000, [](auto& f) { f.variant = 1; })},
     {{0, 0, 1, "ROM", "program", "OCEAN", "$0316", "$04A6", "400", "ok ok", "ok ok", "ok"}}, 1},
    {"CRL: a block a page, each set up by the first block's code in turn",
     {file(Encoding::kCrl, 0x4000, [](auto& f) { f.variant = synth::kCrlPageBlocks; })},
     {crl_boot, crl_first, crl(11, "$4000", "$4100", "256"), crl(12, "$4100", "$4200", "256"),
      crl(13, "$4200", "$4300", "256")}},
    {"CRL: the boot's code stores the first block's start into its loop; the last pulse too long for a bit, a 1",
     {file(Encoding::kCrl, 0x4000, [](auto& f) { f.variant = synth::kCrlBootMoves | synth::kCrlLongLast; })},
     {crl_boot, crl_first, crl(11, "$4000", "$4300", "768")}},
    {"CRL: 4 long pulses before the 5 medium ones, under its loader's 5: no block",
     {file(Encoding::kCrl, 0x4000, [](auto& f) { f.pilot_bytes = 4; })}, {crl_boot}},
    {"CRL without its boot: nothing tells where its blocks load",
     {file(Encoding::kCrl, 0x4000, [](auto& f) { f.with_boot = false; })}, {}},
    {"Visiload: a pilot of three bytes after a block at 0x03BB; most significant bit first again",
     {visiload(synth::kVisiShortPilots | synth::kVisiMsbAgain)},
     {visi_boot, visi(10, "$0347", "$0348", "1"), visi(11, "$4000", "$4100", "256"),
      visi(12, "$03BB", "$03FB", "64"), visi(13, "$4100", "$4200", "256"),
      visi(14, "$03BB", "$03FB", "64"), visi(15, "$0347", "$0348", "1"),
      visi(16, "$4200", "$4300", "256")}},
    {"Visiload: a load's end (0x03BB, a pause) inside a chain, the next load in the format in force",
     {visiload(synth::kVisiPause)},
     {visi_boot, visi(10, "$0347", "$0348", "1"), visi(11, "$4000", "$4100", "256"),
      visi(12, "$03BB", "$03DB", "32"), visi(13, "$4100", "$4300", "512")}},
    {"Visiload: 10 bits a byte and a byte before the addresses, a 10-bit pilot after a pause",
     {visiload(synth::kVisiTenBits | synth::kVisiHeaderByte | synth::kVisiPause)},
     {visi_boot, visi(10, "$0347", "$0348", "1"), visi(11, "$034B", "$034C", "1"),
      visi(12, "$03A4", "$03A5", "1"), visi(13, "$4000", "$4100", "256"),
      visi(14, "$03BB", "$03DB", "32"), visi(15, "$4100", "$4300", "512")}},
    {"Visiload without its boot file: each load read whole to its end is unverified",
     {visiload(synth::kVisiPause | synth::kVisiEnd, false)},
     {visi(10, "$0347", "$0348", "1", "unverified"), visi(11, "$4000", "$4100", "256", "unverified"),
      visi(12, "$03BB", "$03DB", "32", "unverified"), visi(13, "$4100", "$4300", "512", "unverified"),
      visi(15, "$03BB", "$03DB", "32", "unverified")}},
    {"Visiload without its boot file: a load that stops short of its end is no file",
     {visiload(synth::kVisiPause, false)},
     {visi(10, "$0347", "$0348", "1", "unverified"), visi(11, "$4000", "$4100", "256", "unverified"),
      visi(12, "$03BB", "$03DB", "32", "unverified")}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    synth::TapeWriter writer(synth::TapeLayout{});
    for (const auto& f : row.files) {
      if (!row.joined || &f == &row.files.front()) writer.gap();
      writer.add(f);
    }
    if (row.after) row.after(writer);
    writer.gap();
    DecoderSettings settings;
    settings.machine = row.machine;
    const auto decoded = decode(writer.words(), settings);
    const auto shown = [&](const std::string& r) { return row.joined ? columns(r) : r; };
    EXPECT_EQ(shown(report(decoded.files)),
              shown(expected_report(row.lines, writer.placed(),
                                    recording::machine_clock_hz(std::max(row.machine, 0), 0))));
  }
}

// The listing the docs' loader tables are written from: a line per registered loader, each
// column what the descriptor says. Rows for each kind of check and of "checked against".
TEST(Loaders, ListedAsTheyAre) {
  std::vector<std::vector<std::string>> lines;
  const std::string text = scan::loaders_listing();
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    std::vector<std::string> fields;
    const std::string line = text.substr(at, end - at);
    for (std::size_t f = 0; f < line.size();) {
      const std::size_t gap = std::min(line.find("  ", f), line.size());
      fields.push_back(line.substr(f, gap - f));
      f = line.find_first_not_of(' ', gap);
      if (f == std::string::npos) break;
    }
    lines.push_back(fields);
    at = end + 1;
  }
  const auto loaders = registered_loaders();
  ASSERT_EQ(lines.size(), loaders.size() + 1);
  EXPECT_EQ(lines[0], (std::vector<std::string>{"loader", "machines", "encoding", "checks",
                                                "checked against", "what it is"}));
  for (std::size_t i = 0; i < loaders.size(); ++i) EXPECT_EQ(lines[i + 1][0], loaders[i]->name);
  const auto line_of = [&](const std::string& name) {
    for (const auto& l : lines)
      if (l[0] == name) return l;
    return std::vector<std::string>{};
  };
  // clang-format off
  const std::vector<std::vector<std::string>> rows = {
    {"ROM", "C64, VIC20", "pulse pairs of 3 lengths, markers, odd parity", "XOR, every block twice",
     "TAPClean 994fa07, WAV-PRG d2c38c0; the C64, VIC20 and C128 test tapes; the boot files of twelve commercial tapes",
     "the machine's own loader (C64, VIC20, C128): a header and the data, each block twice; XOR checksum"},
    {"C16 ROM", "C16", "full waves of 3 lengths (1:2:4), markers, odd parity", "XOR, every block twice",
     "WAV-PRG d2c38c0; the Plus/4 test tapes",
     "the C16's and Plus/4's own loader: the C64's blocks in full waves; a block ends with one medium wave"},
    {"Novaload", "C64", "one pulse a bit, LSB first", "sum", "TAPClean 994fa07, WAV-PRG d2c38c0",
     "a pilot of 0 bits, a 1, 0xAA; name, addresses, 256-byte sub-blocks; running sums"},
    {"Ocean", "C64", "one pulse a bit, LSB first", "boot code, structure", "TAPClean 994fa07; Arkanoid",
     "Ocean/Imagine F1-F3: 3,000+ 0 bits, a 1; flag (the loader's options), page, 256 bytes; page 0 and 0 bits end it; no checksum; its boot's byte handler recognised"},
    {"Tequila", "C64", "one pulse a bit", "structure only", "TAPClean 994fa07, WAV-PRG d2c38c0",
     "the Turbo Tape framing: 50+ bytes of 0x02, 9..1; a number, then LSB first: load, end, data; no checksum; no boot known: unverified at best"},
    {"Lexpeed", "C64", "one pulse a bit, MSB first", "XOR", "-",
     "the Turbo Tape framing, 9..0; a 256-byte master loader whose table gives each file's addresses; XOR"},
    {"Visiload", "C64", "one pulse a bit, a lead bit a byte", "boot code, structure",
     "WAV-PRG d2c38c0; six Visiload tapes (Chichen Itza, Cozumel, The Original)",
     "Visiload T1-T7: 0x00 pilot, 0x16; blocks that set how the next ones are read (bit order, bits a byte, header bytes), and after 0x03BB a short pilot or a load's end; no checksum"},
  };
  // clang-format on
  for (const auto& row : rows) EXPECT_EQ(line_of(row[0]), row);
}

// --only and --without: names in any case, separated by commas; what is left runs.
TEST(Loaders, ChosenByName) {
  std::vector<std::string> every;
  for (const LoaderInfo* l : registered_loaders()) every.emplace_back(l->name);
  std::vector<std::string> but_rom_and_ocean;
  for (const auto& n : every)
    if (n != "ROM" && n != "Ocean") but_rom_and_ocean.push_back(n);
  struct Row {
    std::string only, without;
    std::vector<std::string> chosen;
    std::string error;
  };
  const std::vector<Row> rows = {
      {"", "", {}, ""},
      {"turbo tape, u.s. GOLD", "", {"Turbo Tape", "U.S. Gold"}, ""},
      {"", "Rom,ocean", but_rom_and_ocean, ""},
      {"Ocean,Novaload S", "ocean", {"Novaload S"}, ""},
      {"Turbo Tape,Turbotape", "", {}, "no loader is called \"Turbotape\" (--loaders lists them)"},
      {"", "Nova", {}, "no loader is called \"Nova\" (--loaders lists them)"},
      {"ROM", "rom", {}, "--only and --without leave no loader to run"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.only + " / " + r.without);
    std::string error;
    const auto chosen = scan::choose_loaders(r.only, r.without, error);
    EXPECT_EQ(error, r.error);
    EXPECT_EQ(chosen, r.chosen);
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
  EXPECT_EQ(name("-RF"), "_-RF");                   // never read as an option
  EXPECT_EQ(name(".PROFILE"), "_.PROFILE");         // never hidden
  EXPECT_EQ(name("\x5c\x5e\x5f\x01\xd3"), "#^_s");  // pound, arrows; a control code left out
  EXPECT_EQ(name("\x93\x05GAME.  "), "GAME");
  EXPECT_EQ(name(""), "UNNAMED");
  // A recording's folder under --extract, named after its file by the same rules.
  EXPECT_EQ(safe_name("..", "recording"), "recording");  // never climbs out
  EXPECT_EQ(safe_name(" ", "recording"), "recording");
  EXPECT_EQ(safe_name("\n", "recording"), "_");  // no control code
  EXPECT_EQ(safe_name("\x7fside", "recording"), "_side");
  EXPECT_EQ(safe_name("con", "recording"), "_con");
  EXPECT_EQ(safe_name(".side", "recording"), "_.side");
  EXPECT_EQ(safe_name("side a~2", "recording"), "side a~2");
}

// A file whose name reads as nothing, as --extract and the images both call it.
TEST(FileNames, NamelessAfterTheNameBefore) {
  EXPECT_EQ(nameless_name("GAME", 12, 0xE000), "GAME 012 $E000");
  EXPECT_EQ(nameless_name("", 1, 0x7000), "TAPE 001 $7000");
  EXPECT_EQ(nameless_name("ROMEO & JULIET", 3, 0x0801, 16), "ROMEO  003 $0801");
  EXPECT_EQ(nameless_name("GAME", 1000, 0x0801, 16), "GAME 1000 $0801");
}

}  // namespace
}  // namespace tapewren::tape
