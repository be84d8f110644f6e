// From the recording to the emulator: real tapes played by the simulator, recorded, and
// converted back with tapewren-convert; and the converter's answers to bad input.
#include <gtest/gtest.h>

#include "harness.hpp"

namespace tapewren::e2e {
namespace {

std::string tape_path(const std::string& name) {
  return std::string(TAPEWREN_TAPES_DIR) + "/testtape-" + name + ".tap";
}

class ConvertTest : public ::testing::Test {
 protected:
  int convert(const std::vector<std::string>& args, std::string* err = nullptr) {
    std::vector<std::string> argv{convert_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    Child child(argv, dir);
    const int code = child.wait_exit();
    if (err) *err = child.err();
    return code;
  }
  TempDir dir;
};

TEST_F(ConvertTest, RealTapesRecordedFromTheSimulatorComeBackUnchanged) {
  for (const std::string name : {"c64-pal-normal", "c64-ntsc-normal", "c64-pal-normal-errors",
                                 "c64-pal-turbo", "vic20-pal", "vic20-ntsc", "plus4-pal"}) {
    SCOPED_TRACE(name);
    Child sim({sim_binary(), "--fast", "--play", tape_path(name)}, dir);
    const std::string port = sim_port(sim);
    ASSERT_FALSE(port.empty());
    const std::string dump = dir.path(name + ".dmp"), back = dir.path(name + ".tap");
    Child recorder({record_binary(), port, dump}, dir);
    EXPECT_EQ(recorder.wait_exit(), 0);
    EXPECT_EQ(sim.wait_exit(), 0);
    if (name != "plus4-pal") {  // the Plus/4 pulses fall outside every scanner window
      EXPECT_NE(recorder.out().find("Filename intercepted: ROMEO & JULIET\n"), std::string::npos);
    }
    EXPECT_EQ(convert({dump, back}), 0);
    EXPECT_EQ(read_bytes(back), read_bytes(tape_path(name)));
  }
}

TEST_F(ConvertTest, OptionsFillTheTapHeader) {
  write_file(dir.path("in.dmp"), {0x00, 0x03, 0x10, 0x04});
  ASSERT_EQ(convert({"-m", "1", "-v", "1", dir.path("in.dmp"), dir.path("vic.tap")}), 0);
  const Bytes vic = read_bytes(dir.path("vic.tap"));
  ASSERT_EQ(vic.size(), 22u);
  EXPECT_EQ(std::string(vic.begin(), vic.begin() + 12), "C64-TAPE-RAW");
  EXPECT_EQ((Bytes{vic[12], vic[13], vic[14], vic[16], vic[20], vic[21]}),
            (Bytes{1, 1, 1, 2, 48, 65}));
  ASSERT_EQ(convert({"-b", "-m", "2", dir.path("in.dmp"), dir.path("c16.tap")}), 0);
  const Bytes c16 = read_bytes(dir.path("c16.tap"));
  EXPECT_EQ(std::string(c16.begin(), c16.begin() + 12), "C16-TAPE-RAW");
  EXPECT_EQ(c16[12], 2);
  // And back: the words return exactly.
  ASSERT_EQ(convert({dir.path("vic.tap"), dir.path("again.dmp")}), 0);
  EXPECT_EQ(read_bytes(dir.path("again.dmp")), (Bytes{0x00, 0x03, 0x10, 0x04}));
}

TEST_F(ConvertTest, BadInputIsRefusedAndNothingIsOverwritten) {
  std::string err;
  write_file(dir.path("odd.dmp"), {1, 2, 3});
  EXPECT_EQ(convert({dir.path("odd.dmp"), dir.path("o1")}, &err), 1);
  EXPECT_NE(err.find("odd length"), std::string::npos) << err;
  EXPECT_FALSE(file_exists(dir.path("o1")));

  Bytes tap = read_bytes(tape_path("c64-pal-turbo"));
  tap.pop_back();
  write_file(dir.path("short.tap"), tap);
  EXPECT_EQ(convert({dir.path("short.tap"), dir.path("o2")}, &err), 1);
  EXPECT_NE(err.find("the TAP header gives 23551 bytes of data, the file has 23550"),
            std::string::npos)
      << err;
  EXPECT_FALSE(file_exists(dir.path("o2")));

  tap = read_bytes(tape_path("c64-pal-turbo"));
  tap[12] = 7;
  write_file(dir.path("v7.tap"), tap);
  EXPECT_EQ(convert({dir.path("v7.tap"), dir.path("o3")}, &err), 1);
  EXPECT_NE(err.find("unknown TAP version 7"), std::string::npos) << err;

  write_file(dir.path("taken"), bytes("keep me"));
  EXPECT_EQ(convert({tape_path("c64-pal-turbo"), dir.path("taken")}, &err), 1);
  EXPECT_NE(err.find("cannot create"), std::string::npos) << err;
  EXPECT_EQ(read_file(dir.path("taken")), "keep me");

  EXPECT_EQ(convert({"-m", "3", "a", "b"}, &err), 2);
  EXPECT_NE(err.find("Usage: tapewren-convert"), std::string::npos);
  EXPECT_EQ(convert({"only-one"}, &err), 2);
  EXPECT_EQ(convert({dir.path("missing"), dir.path("o4")}, &err), 1);
  EXPECT_FALSE(file_exists(dir.path("o4")));
}

}  // namespace
}  // namespace tapewren::e2e
