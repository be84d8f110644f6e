// The D64 and T64 images read back byte by byte, as a table of file lists: each file's
// directory entry, chain and bytes, the BAM against the sectors used, and what was left out.
#include "image/image.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "images.hpp"

namespace tapewren::image {
namespace {

Bytes pattern(std::size_t size, int seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + seed * 31);
  return b;
}

struct Expected {
  std::string name;  // in the directory and the archive
  std::uint8_t type;
  int blocks;  // -1: left out of the disk
};
struct Row {
  const char* label;
  std::vector<std::pair<File, Expected>> files;
  int blocks_free;
};
void PrintTo(const Row& row, std::ostream* os) {
  *os << row.label;
}

const std::vector<Row> kRows = {
    {"OnePrg", {{{"HELLO  ", FileType::kPrg, pattern(300, 1)}, {"HELLO", 0x82, 2}}}, 662},
    {"PrgAndSeq",
     {{{"GAME", FileType::kPrg, pattern(1000, 2)}, {"GAME", 0x82, 4}},
      {{std::string("DATA\0\0", 6), FileType::kSeq, pattern(573, 3)}, {"DATA", 0x81, 3}}},
     657},
    {"NamesUsedTwice",
     {{{"DUP", FileType::kPrg, pattern(254, 4)}, {"DUP", 0x82, 1}},
      {{"DUP\xA0", FileType::kPrg, pattern(255, 5)}, {"DUP~2", 0x82, 2}},
      {{"ABCDEFGHIJKLMNOP", FileType::kSeq, pattern(508, 6)}, {"ABCDEFGHIJKLMNOP", 0x81, 2}},
      {{"ABCDEFGHIJKLMNOP", FileType::kPrg, pattern(2, 7)}, {"ABCDEFGHIJKLMN~2", 0x82, 1}}},
     658},
    {"FullDiskKeepsWhatFits",
     {{{"ONE", FileType::kPrg, pattern(200 * 254, 8)}, {"ONE", 0x82, 200}},
      {{"TWO", FileType::kPrg, pattern(200 * 254, 9)}, {"TWO", 0x82, 200}},
      {{"THREE", FileType::kPrg, pattern(200 * 254, 10)}, {"THREE", 0x82, 200}},
      {{"TOO BIG", FileType::kPrg, pattern(99 * 254 + 1, 11)}, {"TOO BIG", 0x82, -1}},
      {{"LAST", FileType::kSeq, pattern(64 * 254, 12)}, {"LAST", 0x81, 64}}},
     0},
    // Programs of 64 KiB take more blocks than a byte counts; one block too many is too many.
    {"ExactlyFull",
     {{{"BIG ONE", FileType::kPrg, pattern(258 * 254, 13)}, {"BIG ONE", 0x82, 258}},
      {{"BIG TWO", FileType::kPrg, pattern(258 * 254, 14)}, {"BIG TWO", 0x82, 258}},
      {{"ONE MORE", FileType::kPrg, pattern(148 * 254 + 1, 15)}, {"ONE MORE", 0x82, -1}},
      {{"JUST FITS", FileType::kPrg, pattern(148 * 254, 16)}, {"JUST FITS", 0x82, 148}}},
     0},
};

class Images : public ::testing::TestWithParam<Row> {};

std::size_t at(int t, int s) {
  std::size_t n = 0;
  for (int k = 1; k < t; ++k) n += k <= 17 ? 21 : k <= 24 ? 19 : k <= 30 ? 18 : 17;
  return (n + static_cast<std::size_t>(s)) * 256;
}
int sectors(int t) {
  return t <= 17 ? 21 : t <= 24 ? 19 : t <= 30 ? 18 : 17;
}

TEST_P(Images, ReadBackWhole) {
  const Row& row = GetParam();
  std::vector<File> files;
  for (const auto& f : row.files) files.push_back(f.first);
  const Built disk = d64(files, {"SIDE A", {'T', 'W'}});
  const Bytes& d = disk.image;
  ASSERT_EQ(d.size(), kD64Size);
  const std::uint8_t* bam = &d[at(18, 0)];
  EXPECT_EQ(std::string(bam + 0x90, bam + 0xAB),
            "SIDE A\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0TW\xA0"
            "2A\xA0\xA0\xA0\xA0");
  // The directory, sector by sector from 18/1, and each file's chain from its entry.
  std::set<std::pair<int, int>> used = {{18, 0}};
  std::vector<Expected> listed;
  std::vector<Bytes> contents;
  for (int t = 18, s = 1; t != 0; t = d[at(t, s)], s = d[at(18, s) + 1]) {
    ASSERT_TRUE(used.insert({18, s}).second) << "directory loops at 18/" << s;
    if (d[at(18, s)] == 0) {
      EXPECT_EQ(d[at(18, s) + 1], 0xFF) << "the directory's last sector";
    }
    for (int e = 0; e < 8; ++e) {
      const std::uint8_t* entry = &d[at(18, s) + 32 * e];
      if (entry[2] == 0) continue;
      std::string name(entry + 5, entry + 21);
      name.erase(name.find_last_not_of('\xA0') + 1);
      Bytes bytes;
      int count = 0;
      for (int ft = entry[3], fs = entry[4]; ft != 0; ++count) {
        ASSERT_TRUE(ft >= 1 && ft <= 35 && ft != 18 && fs < sectors(ft)) << ft << "/" << fs;
        ASSERT_TRUE(used.insert({ft, fs}).second) << "sector used twice: " << ft << "/" << fs;
        const std::uint8_t* sec = &d[at(ft, fs)];
        bytes.insert(bytes.end(), sec + 2, sec + (sec[0] ? 256 : sec[1] + 1));
        ft = sec[0];
        fs = sec[1];
      }
      EXPECT_EQ(count, entry[30] | entry[31] << 8) << name;
      listed.push_back({name, entry[2], count});
      contents.push_back(bytes);
    }
  }
  // The BAM marks exactly those sectors used, its counts match its bits.
  int free_blocks = 0;
  for (int t = 1; t <= 35; ++t) {
    int free_here = 0;
    for (int s = 0; s < 24; ++s) {
      const bool free_bit = (bam[4 * t + 1 + s / 8] >> (s % 8)) & 1;
      const bool expect_free = s < sectors(t) && used.count({t, s}) == 0;
      EXPECT_EQ(free_bit, expect_free) << t << "/" << s;
      free_here += free_bit ? 1 : 0;
    }
    EXPECT_EQ(bam[4 * t], free_here) << "track " << t;
    if (t != 18) free_blocks += free_here;
  }
  EXPECT_EQ(free_blocks, row.blocks_free);
  // The files in order, and those left out; the T64 holds them all.
  const Built tape = t64(files, "SIDE A");
  const Bytes& a = tape.image;
  ASSERT_GE(a.size(), 64u + 32 * files.size());
  const char n = static_cast<char>(files.size());
  const std::string header = std::string("C64S tape image file") + std::string(12, '\0') +
                             std::string{'\x01', '\x01', n, 0, n, 0, 0, 0} +
                             "SIDE A                  ";
  EXPECT_EQ(std::string(a.begin(), a.begin() + 64), header);
  EXPECT_TRUE(tape.left_out.empty());
  std::vector<std::size_t> left_out;
  for (std::size_t i = 0, k = 0; i < row.files.size(); ++i) {
    const Expected& want = row.files[i].second;
    const Bytes& bytes = row.files[i].first.bytes;
    if (want.blocks < 0) {
      left_out.push_back(i);
    } else if (k < listed.size()) {
      EXPECT_EQ(listed[k].name, want.name);
      EXPECT_EQ(listed[k].type, want.type) << want.name;
      EXPECT_EQ(listed[k].blocks, want.blocks) << want.name;
      EXPECT_TRUE(contents[k] == bytes) << want.name;
      ++k;
    }
    const std::uint8_t* entry = &a[64 + 32 * i];
    const std::size_t start = entry[2] | entry[3] << 8, end = entry[4] | entry[5] << 8;
    const std::size_t offset = entry[8] | entry[9] << 8 | entry[10] << 16;
    Bytes back = {entry[2], entry[3]};
    back.insert(back.end(), a.begin() + static_cast<long>(offset),
                a.begin() + static_cast<long>(offset + ((end - start) & 0xFFFF)));
    EXPECT_EQ(std::string(entry + 16, entry + 32),
              (want.name + std::string(16, ' ')).substr(0, 16));
    EXPECT_EQ(entry[0], 1);
    EXPECT_EQ(entry[1], want.type) << want.name;
    EXPECT_TRUE(back == bytes) << want.name;
  }
  EXPECT_EQ(listed.size(), row.files.size() - left_out.size());
  EXPECT_EQ(disk.left_out, left_out);
  // Read back as a tape is made from them: the disk's files in order, the archive's all.
  const Contents from_disk = read_d64(d), from_tape = read_t64(a);
  EXPECT_EQ(from_disk.error + from_tape.error, "");
  EXPECT_TRUE(from_disk.notes.empty() && from_tape.notes.empty());
  ASSERT_EQ(from_disk.files.size(), listed.size());
  ASSERT_EQ(from_tape.files.size(), row.files.size());
  for (std::size_t i = 0, k = 0; i < row.files.size(); ++i) {
    const File& f = row.files[i].first;
    const std::string& name = row.files[i].second.name;
    for (const File* back :
         {&from_tape.files[i], row.files[i].second.blocks < 0 ? nullptr : &from_disk.files[k++]}) {
      if (!back) continue;
      EXPECT_EQ(back->name, name);
      EXPECT_EQ(back->type, f.type) << name;
      EXPECT_TRUE(back->bytes == f.bytes) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Images, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.label); });

// Images from anywhere: a chain that loops or leaves the disk, an archive's wrong end address
// or an offset past its end, cost the file concerned, never a hang or a read out of bounds.
TEST(ImagesRead, DamageCostsTheFileConcernedOnly) {
  const std::vector<File> files = {{"ONE", FileType::kPrg, pattern(600, 1)},
                                   {"TWO", FileType::kPrg, pattern(600, 2)},
                                   {"THREE", FileType::kSeq, pattern(100, 3)}};
  Bytes disk = d64(files, {"D", {'0', '1'}}).image;
  const std::uint8_t* entry = &disk[at(18, 1)];
  // TWO's second sector points back at its first; THREE starts on track 36.
  const int t2 = entry[32 + 3], s2 = entry[32 + 4];
  const std::size_t second = at(disk[at(t2, s2)], disk[at(t2, s2) + 1]);
  disk[second] = static_cast<std::uint8_t>(t2);
  disk[second + 1] = static_cast<std::uint8_t>(s2);
  disk[at(18, 1) + 64 + 3] = 36;
  Contents back = read_d64(disk);
  ASSERT_EQ(back.files.size(), 1u);
  EXPECT_EQ(back.files[0].name, "ONE");
  EXPECT_TRUE(back.files[0].bytes == files[0].bytes);
  EXPECT_EQ(back.notes,
            (std::vector<std::string>{"\"TWO\" left out: its chain of sectors is broken",
                                      "\"THREE\" left out: its chain of sectors is broken"}));
  // The directory's own chain looping on itself ends the directory, the files kept.
  disk[at(18, 1)] = 18;
  disk[at(18, 1) + 1] = 1;
  back = read_d64(disk);
  EXPECT_EQ(back.files.size(), 1u);
  EXPECT_EQ(back.notes.back(),
            "the directory's chain is broken at 18/1: the files listed before it are read");
  EXPECT_EQ(read_d64(Bytes(1000)).error,
            "not a D64 disk image (its size is none of 35 or 40 tracks')");

  Bytes tape = t64(files, "T").image;
  // ONE's end address far past its bytes, as many archives have it: up to TWO's; THREE's bytes
  // outside the archive.
  tape[64 + 4] = 0xFF, tape[64 + 5] = 0xFF;
  tape[64 + 64 + 8] = 0xFF, tape[64 + 64 + 9] = 0xFF, tape[64 + 64 + 10] = 0xFF;
  back = read_t64(tape);
  ASSERT_EQ(back.files.size(), 2u);
  EXPECT_TRUE(back.files[0].bytes == files[0].bytes);
  EXPECT_TRUE(back.files[1].bytes == files[1].bytes);
  EXPECT_EQ(back.notes, (std::vector<std::string>{
                            "T64 entry \"ONE\": its end address says 55776 bytes, 598 are there",
                            "T64 entry \"THREE\" left out: not a tape file, or its bytes lie "
                            "outside the archive"}));
  tape.resize(80);
  EXPECT_EQ(read_t64(tape).error, "a T64 archive cut short: its directory runs past its end");
}

// tapewren-scan's images name a file saved without a name after the name before it as a
// person reads it, its colour codes left out, cut to fit: as --extract names it.
TEST(ScanImages, NamelessFileCalledAfterTheReadableNameBefore) {
  namespace fs = std::filesystem;
  const fs::path path =
      fs::temp_directory_path() /
      ("tapewren-nameless-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".t64");
  scan::Channel held;  // the messages, never shown
  scan::Images images({"", path.string(), "SIDE", true}, held);
  tape::TapeFile named, nameless;
  named.name.fill(0x20);
  const std::string colour_and_name = std::string(1, '\x1c') + "ROMEO & JULIET";
  std::copy(colour_and_name.begin(), colour_and_name.end(), named.name.begin());
  named.data = {1, 2};
  nameless.name.fill(0x20);
  nameless.data = {3, 4};
  nameless.start = named.start = 0x0801;
  images.add(named);
  images.add(nameless);
  ASSERT_EQ(images.finish(), tapewren::cli::Exit::kOk);
  std::ifstream in(path, std::ios::binary);
  const std::string t((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  fs::remove(path);
  ASSERT_GE(t.size(), 128u);
  EXPECT_EQ(t.substr(64 + 16, 16), colour_and_name + " ");  // its own name, as on tape
  EXPECT_EQ(t.substr(96 + 16, 16), "ROMEO  002 $0801");
}

}  // namespace
}  // namespace tapewren::image
