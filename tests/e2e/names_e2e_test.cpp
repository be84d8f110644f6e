// Names seen by the user: live while recording from the simulator, and from dump files
// through tapewren-scan.
#include <gtest/gtest.h>

#include "builtin_tape.hpp"
#include "harness.hpp"
#include "tape_synth.hpp"

namespace tapewren::e2e {
namespace {

using namespace std::chrono_literals;

std::string names_block(const std::vector<std::string>& names, const std::string& prefix = "") {
  std::string out;
  for (const auto& n : names) out += prefix + "Filename intercepted: " + n + "\n";
  return out;
}

TEST(LiveNames, RecordingTheBuiltInTapeShowsItsNamesInOrder) {
  TempDir dir;
  Child sim({sim_binary(), "--fast"}, dir);
  const std::string port = sim_port(sim);
  ASSERT_FALSE(port.empty());
  const std::string dump = dir.path("builtin.dmp");
  Child recorder({record_binary(), port, dump}, dir);
  EXPECT_EQ(recorder.wait_exit(), 0);
  EXPECT_EQ(read_bytes(dump), builtin_tape());
  const std::string out = recorder.out();
  const std::string expected = "Stop the recording chain with spacebar\n" +
                               names_block(builtin_tape_names()) + "Finished!\n";
  EXPECT_NE(out.find(expected), std::string::npos) << out;
  EXPECT_EQ(sim.wait_exit(), 0);
}

class ScanTest : public ::testing::Test {
 protected:
  std::string tape(const std::string& file, const std::vector<std::string>& names) {
    std::vector<synth::TapeFile> files;
    for (std::size_t i = 0; i < names.size(); ++i)
      files.push_back({i % 2 ? synth::Encoding::kCountdown9 : synth::Encoding::kStandard,
                       1,
                       names[i],
                       {1, 2, 3, 4},
                       0x0801});
    write_file(dir.path(file), synth::synthesize(files));
    return dir.path(file);
  }
  TempDir dir;
};

TEST_F(ScanTest, NamesFromSeveralFilesAndAMissingOne) {
  const std::string a = tape("a.dmp", {"ALPHA", "BETA"});
  const std::string b = tape("b.dmp", {"GAMMA"});
  const std::string missing = dir.path("missing.dmp");
  Child scan({scan_binary(), a, missing, b}, dir);
  EXPECT_EQ(scan.wait_exit(), 1);
  const std::string out = scan.out();
  EXPECT_NE(out.find(a + ": Filename intercepted: ALPHA (header ends at byte "), std::string::npos);
  EXPECT_LT(out.find("ALPHA"), out.find("BETA"));
  EXPECT_LT(out.find("BETA"), out.find(b + ": Filename intercepted: GAMMA"));
  EXPECT_EQ(scan.err(), "tapewren-scan: cannot read " + missing + ": No such file or directory\n");
}

TEST_F(ScanTest, OffsetIsWhereTheHeaderEnds) {
  const std::string a = tape("a.dmp", {"ALPHA"});
  Child scan({scan_binary(), a}, dir);
  ASSERT_EQ(scan.wait_exit(), 0);
  const std::string out = scan.out();
  const std::string lead = "Filename intercepted: ALPHA (header ends at byte ";
  ASSERT_EQ(out.rfind(lead, 0), 0u) << out;
  const std::size_t end = std::stoul(out.substr(lead.size()));
  // The dump cut at that offset still holds the header; one byte less does not.
  const Bytes whole = read_bytes(a);
  write_file(dir.path("cut.dmp"), Bytes(whole.begin(), whole.begin() + end));
  write_file(dir.path("short.dmp"), Bytes(whole.begin(), whole.begin() + end - 1));
  Child cut({scan_binary(), dir.path("cut.dmp")}, dir);
  Child short_one({scan_binary(), dir.path("short.dmp")}, dir);
  EXPECT_EQ(cut.wait_exit(), 0);
  EXPECT_EQ(short_one.wait_exit(), 0);
  EXPECT_EQ(cut.out(), out);
  EXPECT_EQ(short_one.out(), "");
}

TEST_F(ScanTest, BadArgumentsGiveUsage) {
  Child none({scan_binary()}, dir);
  EXPECT_EQ(none.wait_exit(), 2);
  EXPECT_NE(none.err().find("Usage: tapewren-scan FILE..."), std::string::npos);
  Child bad({scan_binary(), "--bogus"}, dir);
  EXPECT_EQ(bad.wait_exit(), 2);
  EXPECT_EQ(bad.err().substr(0, 38), "tapewren-scan: unknown option --bogus\n");
}

}  // namespace
}  // namespace tapewren::e2e
