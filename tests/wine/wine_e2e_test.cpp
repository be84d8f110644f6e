// The Windows build of tapewren-record, run under Wine with its COM port backed by a
// pseudo-terminal: $WINEPREFIX/dosdevices/com5 points at the pty's slave, the test plays the
// device on the master. Run by scripts/test-windows.sh, which prepares the Wine prefix.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "../e2e/harness.hpp"

namespace tapewren::e2e {
namespace {

using namespace std::chrono_literals;

const char kBanner[] =
    "Tapewren record utility, rel 1.0\n"
    "Communicates with a Tapewren device to record tapes\n\n";

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Wine writes text-mode output with Windows line ends.
std::string unix_lines(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

std::string windows_path(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

class WineRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exe = env("TAPEWREN_WINDOWS_BUILD") + "/tapewren-record.exe";
    const std::string prefix = env("WINEPREFIX");
    if (prefix.empty() || access(exe.c_str(), R_OK) != 0)
      GTEST_SKIP() << "needs WINEPREFIX and TAPEWREN_WINDOWS_BUILD (scripts/test-windows.sh)";
    // The slave stays open here, raw, so that the line exists before Wine opens it.
    slave = open(device.port().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    link = prefix + "/dosdevices/com5";
    unlink(link.c_str());
    ASSERT_EQ(symlink(device.port().c_str(), link.c_str()), 0);
  }
  void TearDown() override {
    if (slave >= 0) close(slave);
    if (!link.empty()) unlink(link.c_str());
  }

  std::unique_ptr<Child> start(std::vector<std::string> args, Options options = {}) {
    args.insert(args.begin(), {"/usr/bin/timeout", "--foreground", "120", "wine", exe});
    return std::make_unique<Child>(args, dir, options);
  }
  std::unique_ptr<Child> start_recording(std::vector<std::string> options = {},
                                         Options child_options = {}) {
    options.push_back("COM5");
    options.push_back(windows_path(dump));
    return start(options, child_options);
  }
  // Prompts until the record command comes back: there is no sign of when Wine opens the port.
  Bytes prompt_for_command() {
    Bytes command;
    for (int tries = 0; tries < 200 && command.empty(); ++tries) {
      device.send("> ");
      command = device.receive(1, 300ms);
    }
    const Bytes rest = device.receive(7);
    command.insert(command.end(), rest.begin(), rest.end());
    return command;
  }
  Bytes handshake(Child& child) {
    const Bytes command = prompt_for_command();
    EXPECT_TRUE(acknowledge(device, child));
    return command;
  }
  bool stored(std::size_t n) { return file_reaches(dump, n); }

  TempDir dir;
  DeviceEnd device;
  int slave = -1;
  std::string exe, link;
  std::string dump = dir.path("side_a.dmp");
};

TEST_F(WineRecordTest, RecordsAWholeTapeByteForByte) {
  auto child = start_recording({"-m", "0"});
  EXPECT_EQ(handshake(*child), bytes("u 1 0 0\r"));
  EXPECT_EQ(device.line_settings_fault(), "");
  const Bytes tape = recording(20000);
  device.send(tape);
  ASSERT_TRUE(stored(tape.size()));
  device.send("OK!\r\n> ");
  EXPECT_EQ(child->wait_exit(), 0);
  EXPECT_EQ(read_bytes(dump), tape);
  EXPECT_EQ(unix_lines(child->out()), std::string(kBanner) +
                                          "Reading from COM5\n"
                                          "Issue SAVE on the host... OK\n"
                                          "Stop the recording chain with spacebar\n"
                                          "Finished!\nTotal bytes saved: 20000\n");
}

TEST_F(WineRecordTest, RecordCommandFollowsTheOptions) {
  auto child = start_recording({"-b", "-m", "2", "-v", "1"});
  EXPECT_EQ(prompt_for_command(), bytes("u 3 2 1\r"));
  device.send("OK!\r\n> ");
  EXPECT_EQ(child->wait_exit(), 0);
  EXPECT_TRUE(read_bytes(dump).empty());
}

TEST_F(WineRecordTest, SplitEndIsCutFromTheFile) {
  auto child = start_recording();
  handshake(*child);
  const Bytes tape = recording(640);
  device.send(tape);
  ASSERT_TRUE(stored(tape.size()));
  Bytes last = recording(60, 7);
  for (char c : std::string("OK!\r")) last.push_back(static_cast<std::uint8_t>(c));
  device.send(last);
  ASSERT_TRUE(stored(tape.size() + 64));
  device.send("\n> ");
  EXPECT_EQ(child->wait_exit(), 0);
  Bytes expected = tape;
  expected.insert(expected.end(), last.begin(), last.begin() + 60);
  EXPECT_EQ(read_bytes(dump), expected);
  EXPECT_NE(unix_lines(child->out()).find("Finished!!\nTotal bytes saved: 700\n"),
            std::string::npos);
}

TEST_F(WineRecordTest, ExistingOutputFileIsLeftAlone) {
  write_file(dump, bytes("precious"));
  auto child = start_recording();
  EXPECT_EQ(child->wait_exit(), 1);
  EXPECT_EQ(unix_lines(child->err()), "Unable to open file " + windows_path(dump) + " for write\n");
  EXPECT_EQ(read_file(dump), "precious");
}

TEST_F(WineRecordTest, MissingPortLeavesNoFile) {
  auto child = start({"COM7", windows_path(dump)});
  EXPECT_EQ(child->wait_exit(), 1);
  EXPECT_EQ(unix_lines(child->err()), "Unable to open COM7\n");
  EXPECT_FALSE(file_exists(dump));
}

TEST_F(WineRecordTest, ExitCodesOfTheCommandLine) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err;
  };
  for (const Case& c :
       {Case{{"-m", "3", "COM5", "x.dmp"}, 254, "Machine type can be either 0, 1, or 2.\n"},
        Case{{"-v", "2", "COM5", "x.dmp"}, 253, "Video standard can be either 0, or 1.\n"},
        Case{{"COM5"}, 1, ""}}) {
    SCOPED_TRACE(c.code);
    // Now and then Wine fails to start a program at all (seen once in many runs, exit 1,
    // no output): that is tried again; what the program itself says is not.
    std::unique_ptr<Child> child;
    int code = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
      child = start(c.args);
      code = child->wait_exit();
      if (child->out().find("Tapewren record utility") != std::string::npos) break;
    }
    EXPECT_EQ(code, c.code) << child->out() << child->err();
    EXPECT_EQ(unix_lines(child->err()), c.err);
    if (c.code == 1) {
      EXPECT_NE(unix_lines(child->out()).find("Usage: "), std::string::npos);
    }
  }
}

TEST_F(WineRecordTest, SpacebarSendsTheStopRequest) {
  Options term;
  term.stdin_mode = Stdin::kTerminal;
  auto child = start_recording({}, term);
  handshake(*child);
  const Bytes tape = recording(128);
  device.send(tape);
  ASSERT_TRUE(stored(tape.size()));
  child->type(" ");
  EXPECT_EQ(device.receive(1), bytes(" "));
  EXPECT_TRUE(child->wait_for_out("Request to stop recording sent"));
  device.send("OK!\r\n> ");
  EXPECT_EQ(child->wait_exit(), 0);
  EXPECT_EQ(read_bytes(dump), tape);
}

TEST_F(WineRecordTest, ConverterRoundTripsAndNeverOverwrites) {
  const std::string convert = env("TAPEWREN_WINDOWS_BUILD") + "/tapewren-convert.exe";
  const std::string tap = std::string(TAPEWREN_TAPES_DIR) + "/testtape-c64-pal-turbo.tap";
  auto run = [&](const std::string& in, const std::string& out) {
    Child child({"/usr/bin/timeout", "120", "wine", convert, windows_path(in), windows_path(out)},
                dir);
    return child.wait_exit();
  };
  EXPECT_EQ(run(tap, dir.path("t.dmp")), 0);
  EXPECT_EQ(run(dir.path("t.dmp"), dir.path("t.tap")), 0);
  EXPECT_EQ(read_bytes(dir.path("t.tap")), read_bytes(tap));
  write_file(dir.path("taken"), bytes("keep"));
  EXPECT_EQ(run(tap, dir.path("taken")), 1);
  EXPECT_EQ(read_file(dir.path("taken")), "keep");
}

TEST(WineLimits, NotCoveredUnderWine) {
  GTEST_SKIP() << "Wine does not enforce share mode 0 (a port held by another program) and "
                  "reports an unplugged device as silence; both are tested on Linux only";
}

}  // namespace
}  // namespace tapewren::e2e
