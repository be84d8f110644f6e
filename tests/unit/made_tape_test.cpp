// Tapes made from programs: one table of programs, machines and formats, each row stating the
// report lines the decoder gives for the made tape, the bytes it reads back, and the pulses the
// tape is made of; then what cannot go on a tape, refused with its reason.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/decode.hpp"
#include "programs.hpp"
#include "recording/recording.hpp"
#include "report.hpp"

namespace tapewren::convert {
namespace {

using image::Bytes;
using image::File;
using image::FileType;

Bytes program(std::size_t start, std::size_t size, int seed) {
  Bytes b = {static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(start >> 8)};
  for (std::size_t i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(i * 13 + seed));
  return b;
}

Bytes text(std::size_t size) {
  Bytes b;
  for (std::size_t i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>('A' + i % 26));
  return b;
}

struct Row {
  const char* label;
  std::vector<File> files;
  MadeTape how;
  std::vector<int> types;          // each file's header type (ROM) or ID (Turbo Tape)
  std::vector<std::string> lines;  // the report's columns after where and when
  std::set<int> pulses;            // every pulse but the pauses, in half cycles
  int lead_in;                     // short pulses before the first header (0: a pilot)
};
void PrintTo(const Row& row, std::ostream* os) {
  *os << row.label;
}

const std::set<int> kC64 = {0x30 * 16, 0x42 * 16, 0x56 * 16};
const std::set<int> kVic20 = {0x2B * 16, 0x3F * 16, 0x53 * 16};

const std::vector<Row> kRows = {
    {"C64: BASIC, machine code and a data file",
     {{"GAME", FileType::kPrg, program(0x0801, 300, 1)},
      {"CODE", FileType::kPrg, program(0xC000, 4000, 2)},
      {"HISCORES", FileType::kSeq, text(400)}},
     {0, false},
     {1, 3, 4},
     {"ROM        program   GAME             $0801 $092D   300  ok ok   ok ok   ok",
      "ROM        program   CODE             $C000 $CFA0  4000  ok ok   ok ok   ok",
      "ROM        data file HISCORES                       400  ok ok   ok ok   ok (ends at its "
      "first 0x00, byte 400 of 573)"},
     kC64,
     0x6A00},
    {"a program up to $FFFE, the last a header says",
     {{"TOP", FileType::kPrg, program(0xFF00, 0xFF, 3)}},
     {0, false},
     {3},
     {"ROM        program   TOP              $FF00 $FFFF   255  ok ok   ok ok   ok"},
     kC64,
     0x6A00},
    {"VIC20: unexpanded and expanded BASIC, its own pulses",
     {{"VIC GAME", FileType::kPrg, program(0x1001, 500, 4)},
      {"BIG VIC", FileType::kPrg, program(0x1201, 700, 5)},
      {"AT A000", FileType::kPrg, program(0xA000, 100, 6)}},
     {1, false},
     {1, 1, 3},
     {"ROM        program   VIC GAME         $1001 $11F5   500  ok ok   ok ok   ok",
      "ROM        program   BIG VIC          $1201 $14BD   700  ok ok   ok ok   ok",
      "ROM        program   AT A000          $A000 $A064   100  ok ok   ok ok   ok"},
     kVic20,
     0x6A00},
    {"C16: BASIC and a data file",
     {{"PLUS", FileType::kPrg, program(0x1001, 600, 7)},
      {"NOTES", FileType::kSeq, text(191 * 2 + 1)}},
     {2, false},
     {1, 4},
     {"C16 ROM    program   PLUS             $1001 $1259   600  ok ok   ok ok   ok",
      "C16 ROM    data file NOTES                          383  ok ok   ok ok   ok (ends at its "
      "first 0x00, byte 383 of 573)"},
     {0x35 * 16, 0x6A * 16, 0xD4 * 16},
     0x6A00},
    {"Turbo Tape 250: BASIC and binary",
     {{"FAST", FileType::kPrg, program(0x0801, 2000, 8)},
      {"FASTER", FileType::kPrg, program(0x4000, 9000, 9)}},
     {0, true},
     {1, 2},
     {"Turbo Tape program   FAST             $0801 $0FD1  2000  ok      ok      ok",
      "Turbo Tape program   FASTER           $4000 $6328  9000  ok      ok      ok"},
     {0x1A * 16, 0x28 * 16},
     0},
};

class MadeTapes : public ::testing::TestWithParam<Row> {};

TEST_P(MadeTapes, LoadBackAsTheSamePrograms) {
  const Row& row = GetParam();
  Bytes words;
  std::string error;
  ASSERT_TRUE(program_tape(row.files, row.how, words, error)) << error;
  std::multiset<int> seen;
  int lead_in = 0;
  bool leading = true;
  for (std::size_t i = 0; i + 1 < words.size(); i += 2) {
    const int w = words[i] | words[i + 1] << 8;
    if (w == 0xFFFF || w == 0) continue;  // a pause and its end
    seen.insert(w);
    if (leading && w == *row.pulses.begin()) ++lead_in;
    leading = leading && w == *row.pulses.begin();
  }
  EXPECT_EQ(std::set<int>(seen.begin(), seen.end()), row.pulses);
  if (row.lead_in > 0) {
    EXPECT_EQ(lead_in, row.lead_in);
  }
  tape::DecoderSettings settings;
  settings.machine = row.how.machine;
  settings.default_machine = row.how.machine;
  const auto decoded = testing::decode(words, settings);
  ASSERT_EQ(decoded.files.size(), row.files.size());
  for (std::size_t i = 0; i < row.files.size(); ++i) {
    const tape::TapeFile& f = decoded.files[i];
    const std::string line = scan::file_row(f, static_cast<int>(i) + 1);
    EXPECT_EQ(line.substr(24, line.find('\n') - 24), row.lines[i]);
    EXPECT_EQ(f.type, row.types[i]) << row.lines[i];
    // What the file gives back: a program with its load address; a data file's contents.
    Bytes back = f.data;
    if (f.kind == tape::Kind::kProgram)
      back.insert(back.begin(),
                  {static_cast<std::uint8_t>(f.start), static_cast<std::uint8_t>(f.start >> 8)});
    EXPECT_TRUE(back == row.files[i].bytes) << row.lines[i];
    // A data file's header holds the tape buffer's addresses, as the machine writes it.
    if (f.kind == tape::Kind::kDataFile) {
      const std::size_t buffer = row.how.machine == 2 ? 0x0333 : 0x033C;
      ASSERT_GE(f.header_bytes.size(), 5u);
      EXPECT_EQ(f.header_bytes[1] | f.header_bytes[2] << 8, buffer);
      EXPECT_EQ(f.header_bytes[3] | f.header_bytes[4] << 8, buffer + 192);
    }
  }
  EXPECT_EQ(decoded.summary.machine, row.how.machine);
}

INSTANTIATE_TEST_SUITE_P(Table, MadeTapes, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return "Row" + std::to_string(info.index); });

TEST(MadeTapes, WhatCannotGoOnATapeIsRefusedWithItsReason) {
  const std::vector<std::pair<std::pair<File, bool>, std::string>> refused = {
      {{{"NUL", FileType::kSeq, {'A', 0, 'B'}}, false},
       "\"NUL\": a SEQ file holding a 0x00 byte: the machine reads a tape's data file only up "
       "to its first 0x00; not put on the tape"},
      {{{"EMPTY", FileType::kSeq, {}}, false},
       "\"EMPTY\": a SEQ file with nothing in it; not put on the tape"},
      {{{"SEQ", FileType::kSeq, text(10)}, true},
       "\"SEQ\": a SEQ file: Turbo Tape carries programs only"},
      {{{"STUB", FileType::kPrg, {0x01, 0x08}}, false},
       "\"STUB\": no program in it (2 bytes, its load address and nothing more); not put on "
       "the tape"},
      {{{"WRAP", FileType::kPrg, program(0xFF00, 0x100, 1)}, false},
       "\"WRAP\": it would load past $FFFE, which a tape header cannot say; not put on the "
       "tape"},
  };
  for (const auto& [input, reason] : refused) {
    Bytes words;
    std::string error;
    const std::vector<File> files = {{"FINE", FileType::kPrg, program(0x0801, 10, 1)}, input.first};
    EXPECT_FALSE(program_tape(files, {0, input.second}, words, error)) << reason;
    EXPECT_EQ(error, reason);
  }
}

TEST(MadeTapes, NamesFromFileNamesAsTheMachineShowsThem) {
  const std::map<std::string, std::string> names = {
      {"games/Boulder Dash.prg", "BOULDER DASH"},
      {"C:\\tapes\\side_a.PRG", "SIDE?A"},
      {"a.very.long.name.of.a.program.prg", "A.VERY.LONG.NAME"},
      {"caf\xC3\xA9{1}.seq", "CAF??1?"},
  };
  for (const auto& [path, name] : names) EXPECT_EQ(tape_name(path), name) << path;
  EXPECT_EQ(program_kind("x.T64"), ProgramKind::kT64);
  EXPECT_EQ(program_kind("x.d64"), ProgramKind::kD64);
  EXPECT_EQ(program_kind("x.tap"), ProgramKind::kNone);
  EXPECT_EQ(program_kind("dir.prg/x"), ProgramKind::kNone);
}

}  // namespace
}  // namespace tapewren::convert
