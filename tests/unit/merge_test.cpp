// Several recordings of one side, each damaged elsewhere: one table of sides recorded three
// times, every merged file stated whole (what it is, which recordings held good copies, its
// verdict with its notes, and whether its bytes are the original's).
#include "tape/merge.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "common/decode.hpp"
#include "report.hpp"
#include "synth/tape_synth.hpp"

namespace tapewren::tape {
namespace {

using Bytes = std::vector<std::uint8_t>;
using synth::Encoding;

Bytes counting(std::size_t n, int step) {
  Bytes b(n);
  // Never 0x00: a data file ends at its first.
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * step % 255 + 1);
  return b;
}

// One recording of the side: what went wrong on it.
struct Take {
  std::vector<std::pair<int, void (*)(synth::TapeFile&)>> damage;  // file, what
  std::vector<int> missing = {};  // files it lacks: it started late, a dropout took them
  double speed = 1.0;
};

// A merged file as the table shows it: the file of the side it should be (-1: none), the
// copies each recording held, the verdict with its notes; its address where it is a part.
struct Merged {
  int original;
  const char *copies, *verdict;
  int start = -1;
  const char* name = nullptr;  // a boot file's, which its turbo file writes
};

struct Row {
  const char* what;
  std::vector<synth::TapeFile> side;
  std::vector<Take> takes;
  std::vector<Merged> merged;
  int only_by_merging;
};

std::string cell(const Matched& parts, std::size_t recordings) {
  std::string out;
  for (std::size_t r = 0; r < recordings; ++r)
    out += std::string(r ? ", " : "") + static_cast<char>('a' + r) + ": " +
           scan::copies_text(parts, r);
  return out;
}

std::string verdict(const TapeFile& f) {
  std::string v = verdict_text(f.verdict);
  for (const auto& n : f.notes) v += " (" + n + ")";
  return v;
}

template <int Copy, int Byte>
void parity(synth::TapeFile& f) {
  f.parity_errors.push_back({Copy, Byte});
}
template <int Copy, int Byte>
void dropout(synth::TapeFile& f) {
  f.dropouts.push_back({Copy, Byte});
}
template <int Byte>
void lost_both(synth::TapeFile& f) {  // a byte bad in both copies
  f.parity_errors.push_back({1, Byte});
  f.parity_errors.push_back({2, Byte});
}
template <int Block, int Copy>
void lost_copy(synth::TapeFile& f) {
  f.lost_copies.push_back({Block, Copy});
}
template <int Byte>
void flip(synth::TapeFile& f) {
  f.flip_bit = Byte;
}
template <int Byte>
void cut(synth::TapeFile& f) {
  f.dropout_at = Byte;
}
void changed(synth::TapeFile& f) {  // another release: another byte that checks out
  f.data[100] ^= 0x40;
}

synth::TapeFile rom(const char* name, std::size_t size, std::uint16_t start, int type = 1) {
  synth::TapeFile f{Encoding::kStandard, static_cast<std::uint8_t>(type), name, counting(size, 7),
                    start};
  return f;
}
synth::TapeFile turbo(Encoding e, const char* name, std::size_t size, std::uint16_t start) {
  synth::TapeFile f{e, 1, name, counting(size, 13), start};
  return f;
}

TEST(Merge, EachFileFromTheCopiesThatReadIt) {
  const auto a = rom("FIRST", 3000, 0x0801), b = rom("SECOND", 500, 0xC000, 3),
             seq = rom("RECORDS", 400, 0x033C, 4);
  const auto free = turbo(Encoding::kFreeload, "", 500, 0x2000);
  const auto tt = turbo(Encoding::kTurbotape526, "TT", 700, 0x1000);
  const auto micro = turbo(Encoding::kMicroload, "", 500, 0x2000),
             short_free = turbo(Encoding::kFreeload, "", 300, 0x2000);
  const auto visi = turbo(Encoding::kVisiload, "", 600, 0x4000);
  auto burner = turbo(Encoding::kBurner, "", 500, 0x2000);
  burner.pilot_byte = 0x2B;  // its boot file tells them
  burner.sync_byte = 0xD4;
  const auto chain1 = turbo(Encoding::kNovaloadSpecial, "", 768, 0x3000),
             chain2 = turbo(Encoding::kNovaloadSpecial, "", 512, 0x3300);
  const std::vector<Row> rows = {
      {"ROM: a byte lost in both copies, elsewhere in each recording; one starts late and runs "
       "fast",
       {a, b, seq},
       {{{{0, lost_both<5>}}},
        {{{0, lost_both<20>}, {1, dropout<1, 7>}, {2, lost_both<50>}}},
        {{{2, lost_both<60>}}, {0}, 1.05}},
       {{0, "a: 1e 1e, b: 1e 1e, c: -", "repaired (only the merge recovers it)"},
        {1, "a: ok ok, b: 1e ok, c: ok ok", "ok"},
        {2, "a: ok ok, b: 3e 3e, c: 3e 3e", "ok"}},
       1},
      {"ROM: the same byte lost in every copy; a data file's records lost alike",
       {a, seq},
       {{{{0, lost_both<5>}, {1, lost_both<50>}}},
        {{{0, dropout<1, 5>}, {0, dropout<2, 5>}, {1, lost_both<50>}}},
        {{{0, lost_both<5>}, {1, lost_both<50>}}}},
       {{-1, "a: 1e 1e, b: 1e 1e, c: 1e 1e", "bad (1 bytes not recovered)"},
        {-1, "a: 3e 3e, b: 3e 3e, c: 3e 3e", "bad (2 bytes not recovered)"}},
       0},
      {"ROM: a recording that starts at the data block's repeat holds a copy of that file",
       {a, b},
       {{}, {{{0, lost_copy<0, 1>}, {0, lost_copy<0, 2>}, {0, lost_copy<1, 1>}}}, {}},
       {{0, "a: ok ok, b: - ok, c: ok ok", "ok"}, {1, "a: ok ok, b: ok ok, c: ok ok", "ok"}},
       0},
      {"ROM: data blocks found without their header make no program, merged or not",
       {a, b},
       {{{{0, lost_copy<0, 1>}, {0, lost_copy<0, 2>}, {0, lost_copy<1, 1>}}},
        {{{0, lost_copy<0, 1>}, {0, lost_copy<0, 2>}}},
        {{{0, lost_copy<0, 1>}, {0, lost_copy<0, 2>}, {0, lost_copy<1, 2>}}}},
       {{-1, "a: - ok, b: ok ok, c: ok -", "incomplete", 0, ""},
        {1, "a: ok ok, b: ok ok, c: ok ok", "ok"}},
       0},
      {"ROM: a copy lost, the repeat damaged; a file missing from the middle of one recording",
       {b, a, seq},
       {{{{1, lost_copy<1, 1>}, {1, parity<2, 9>}}},
        {{{1, lost_both<300>}}, {2}},
        {{{1, parity<1, 9>}, {1, lost_copy<1, 2>}}}},
       {{0, "a: ok ok, b: ok ok, c: ok ok", "ok"},
        {1, "a: - 1e, b: 1e 1e, c: 1e -", "repaired (only the merge recovers it)"},
        {2, "a: ok ok, b: -, c: ok ok", "ok"}},
       1},
      {"Turbo: three damaged copies agree byte by byte, and the checksum holds",
       {free, tt},
       {{{{0, flip<10>}, {1, flip<5>}}}, {{{0, flip<300>}}}, {{{0, flip<450>}, {1, flip<500>}}}},
       {{0, "a: sum, b: sum, c: sum",
         "repaired (500 bytes by the majority of damaged copies, the checksum holds) (only the "
         "merge recovers it)"},
        {1, "a: sum, b: ok, c: sum", "ok"}},
       1},
      {"Turbo: two damaged copies that disagree, one cut short, one recording without it",
       {free, tt},
       {{{{0, flip<10>}, {1, cut<600>}}}, {{{0, flip<300>}, {1, cut<200>}}}, {{}, {0, 1}}},
       {{-1, "a: sum, b: sum, c: -", "bad (2 bytes not recovered)"},
        {-1, "a: cut, b: cut, c: -", "incomplete"}},
       0},
      {"Good copies that disagree: the majority, marked",
       {b},
       {{}, {}, {{{0, changed}}}},
       {{0, "a: ok ok, b: ok ok, c: ok ok", "repaired (conflict at byte 100)"}},
       0},
      {"Two good copies that disagree: the first recording's, marked",
       {b},
       {{}, {{{0, changed}}}},
       {{0, "a: ok ok, b: ok ok", "repaired (conflict at byte 100)"}},
       0},
      {"No checksum, two copies read well that disagree: nothing tells which is right",
       {burner},
       {{}, {{{0, flip<100>}}}},
       {{-1, "a: ok ok, b: ok ok", "ok", 0x02A7, "BURNER"},  // the boot file
        {-1, "a: ok, b: ok", "bad (conflict at byte 100) (1 bytes not recovered)"}},
       0},
      {"No checksum, three copies read well, one of them damaged: the majority, marked",
       {burner},
       {{}, {{{0, flip<100>}}}, {}},
       {{-1, "a: ok ok, b: ok ok, c: ok ok", "ok", 0x02A7, "BURNER"},
        {0, "a: ok, b: ok, c: ok", "repaired (conflict at byte 100)"}},
       0},
      {"Files at one address: matched by loader and size, one recording without the later two",
       {free, micro, short_free},
       {{}, {}, {{}, {1, 2}}},
       {{0, "a: ok, b: ok, c: ok", "ok"},
        {1, "a: ok, b: ok, c: -", "ok"},
        {2, "a: ok, b: ok, c: -", "ok"}},
       0},
      {"Two files at one address, each in other recordings: two files",
       {free, short_free},
       {{{}, {1}}, {{}, {1}}, {{}, {0}}},
       {{0, "a: ok, b: ok, c: -", "ok"}, {1, "a: -, b: -, c: ok", "ok"}},
       0},
      {"The same flaw in two of four recordings: no majority for that byte",
       {free},
       {{{{0, flip<10>}}}, {{{0, flip<10>}}}, {{{0, flip<300>}}}, {{{0, flip<450>}}}},
       {{-1, "a: sum, b: sum, c: sum, d: sum", "bad (1 bytes not recovered)"}},
       0},
      {"The same flaw in two of three recordings: the majority is wrong, the checksum tells",
       {free},
       {{{{0, flip<10>}}}, {{{0, flip<10>}}}, {{{0, flip<300>}}}},
       {{-1, "a: sum, b: sum, c: sum", "bad (500 bytes read with errors in every copy)"}},
       0},
      {"No checksum: damaged copies that agree are no proof",
       {visi},
       {{{{0, flip<10>}}}, {{{0, flip<100>}}}, {{{0, flip<200>}}}},
       {{-1, "a: ok ok, b: ok ok, c: ok ok", "ok", 0x029F, "VISILOAD"},  // the boot file
        {-1, "a: ok, b: ok, c: ok", "ok", 0x0347},                       // its loader's block
        {-1, "a: sum, b: sum, c: sum", "bad (256 bytes read with errors in every copy)"},
        {-1, "a: ok, b: ok, c: ok", "ok", 0x4100}},
       0},
      {"Copies cut short: the size of the one that read",
       {tt},
       {{{{0, cut<200>}}}, {{{0, cut<300>}}}, {}},
       {{0, "a: cut, b: cut, c: ok", "ok"}},
       0},
      {"A chain whose middle block only the merge recovers: one file, repaired",
       {chain1},
       {{{{0, flip<300>}}}, {{{0, flip<400>}}}, {{{0, flip<450>}}}},
       {{0, "a: ok+sum+ok, b: ok+sum+ok, c: ok+sum+ok",
         "repaired (256 bytes by the majority of damaged copies, the checksum holds) (only the "
         "merge recovers it)"}},
       1},
      {"Two chains that load back to back stay two files",
       {chain1, chain2},
       {{}, {}, {}},
       {{0, "a: ok, b: ok, c: ok", "ok"}, {1, "a: ok, b: ok, c: ok", "ok"}},
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::vector<TapeFile>> recordings;
    for (std::size_t t = 0; t < row.takes.size(); ++t) {
      const Take& take = row.takes[t];
      std::vector<synth::TapeFile> side;
      for (std::size_t i = 0; i < row.side.size(); ++i) {
        if (std::find(take.missing.begin(), take.missing.end(), static_cast<int>(i)) !=
            take.missing.end())
          continue;
        synth::TapeFile f = row.side[i];
        for (const auto& [file, harm] : take.damage)
          if (file == static_cast<int>(i)) harm(f);
        side.push_back(f);
      }
      synth::TapeLayout layout;
      layout.speed = take.speed;
      layout.seed = static_cast<std::uint32_t>(t + 7);
      recordings.push_back(split_chains(testing::decode(synth::synthesize(side, layout)).files));
    }
    std::vector<MergedFile> merged;
    for (const auto& copies : match_files(recordings)) merged.push_back(merge_copies(copies));
    merged = join_chains(std::move(merged));
    ASSERT_EQ(merged.size(), row.merged.size());
    int only = 0;
    for (std::size_t i = 0; i < merged.size(); ++i) {
      SCOPED_TRACE("file " + std::to_string(i + 1));
      const MergedFile& m = merged[i];
      const Merged& want = row.merged[i];
      // Every merged file that should be the original is, byte for byte, with its name and
      // addresses; every other one is not good.
      const synth::TapeFile& original =
          row.side[want.original >= 0 ? want.original : std::min(i, row.side.size() - 1)];
      EXPECT_EQ(readable_name(m.file.name), want.name ? want.name : original.name);
      EXPECT_EQ(m.file.start, want.start >= 0 ? want.start : original.start_address);
      EXPECT_EQ(cell(m.parts, recordings.size()), want.copies);
      EXPECT_EQ(verdict(m.file), want.verdict);
      if (want.original >= 0) {
        EXPECT_TRUE(m.file.data == original.data);
      }
      only += m.only_by_merging;
    }
    EXPECT_EQ(only, row.only_by_merging);
  }
}

// A chain is one file in memory: a block that would carry it past the top (a load address
// that no check byte covers, damaged) begins a file of its own.
TEST(Merge, ChainsEndAtTheTopOfMemory) {
  const LoaderInfo loader{.name = "Chained", .checksum = true};
  const auto block = [&](std::uint16_t start, std::size_t size) {
    MergedFile m;
    m.file.loader = &loader;
    m.file.start = start;
    m.file.data.assign(size, 0x11);
    m.file.end = static_cast<std::uint16_t>(start + size);
    m.file.body_blocks = 1;
    m.parts = {{nullptr}};
    m.good_in = {false};
    return m;
  };
  EXPECT_EQ(join_chains({block(0xF000, 0x0F00), block(0xFF00, 0x0100)}).size(), 1u);
  EXPECT_EQ(join_chains({block(0xF000, 0x0F00), block(0xFF00, 0x0200)}).size(), 2u);
}

// Recordings of other sides told before anything is merged: two games with one loader that
// load to the same addresses, a recording of another tape among three, a side recorded late.
TEST(Merge, RecordingsOfOtherSidesAreTold) {
  const auto game = [](int step) {
    return std::vector<synth::TapeFile>{
        rom("GAME", 200, 0x0801),
        {Encoding::kNovaloadSpecial, 1, "", counting(1024, step), 0x0800},
        {Encoding::kNovaloadSpecial, 1, "", counting(512, step + 2), 0xC000}};
  };
  const std::vector<synth::TapeFile> dig = game(7), other = game(11),
                                     late = {dig.begin() + 1, dig.end()},
                                     free = {turbo(Encoding::kFreeload, "", 500, 0x2000)};
  const auto told = [](const std::vector<std::vector<synth::TapeFile>>& sides) {
    std::vector<std::vector<TapeFile>> recordings;
    for (const auto& side : sides)
      recordings.push_back(split_chains(testing::decode(synth::synthesize(side)).files));
    return strangers(match_files(recordings), recordings.size());
  };
  using Told = std::vector<std::size_t>;
  EXPECT_EQ(told({dig, dig, dig}), Told{});
  EXPECT_EQ(told({dig, late}), Told{});
  EXPECT_EQ(told({dig, other}), (Told{0, 1}));
  EXPECT_EQ(told({dig, dig, other}), Told{2});
  EXPECT_EQ(told({free, dig}), (Told{0, 1}));
}

}  // namespace
}  // namespace tapewren::tape
