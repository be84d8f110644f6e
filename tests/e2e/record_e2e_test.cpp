// tapewren-record as a user runs it: a real process, a device on a real pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "harness.hpp"

namespace tapewren::e2e {
namespace {

using namespace std::chrono_literals;

const char kBanner[] =
    "Tapewren record utility, rel 1.0\n"
    "Communicates with a Tapewren device to record tapes\n\n";

// Comfortably longer than the recorder waits on a quiet line before a read returns.
constexpr auto kQuiet = 1000ms;

class RecordTest : public ::testing::Test {
 protected:
  std::unique_ptr<Child> start(std::vector<std::string> args, Options options = {}) {
    args.insert(args.begin(), record_binary());
    return std::make_unique<Child>(args, dir, options);
  }
  std::unique_ptr<Child> start_recording(std::vector<std::string> options = {},
                                         Options child_options = {}) {
    options.push_back(device.port());
    options.push_back(dump);
    return start(options, child_options);
  }
  // Prompt (after a greeting), record command, acknowledgement: the command received.
  Bytes handshake(Child& child) {
    const Bytes command = e2e::handshake(device, child, "Tapewren ready\r\n");
    EXPECT_EQ(command.size(), 8u);
    return command;
  }
  bool stored(std::size_t n) { return file_reaches(dump, n); }

  TempDir dir;
  DeviceEnd device;
  std::string dump = dir.path("side_a.dmp");
};

TEST_F(RecordTest, RecordsAWholeTapeByteForByte) {
  auto child = start_recording({"-m", "0"});
  EXPECT_EQ(handshake(*child), bytes("u 1 0 0\r"));
  EXPECT_EQ(device.line_settings_fault(), "");
  const Bytes tape = recording(20000);
  device.send(tape);
  ASSERT_TRUE(stored(tape.size()));
  device.send("OK!\r\n> ");
  EXPECT_EQ(child->wait_exit(), 0);
  EXPECT_EQ(read_bytes(dump), tape);
  EXPECT_EQ(child->out(), std::string(kBanner) + "Reading from " + device.port() +
                              "\nIssue SAVE on the host... OK\n"
                              "Stop the recording chain with spacebar\n"
                              "Finished!\nTotal bytes saved: 20000\n");
  EXPECT_EQ(child->err(), "");
}

TEST_F(RecordTest, RecordCommandFollowsTheOptions) {
  struct Case {
    std::vector<std::string> options;
    std::string command;
  };
  for (const auto& c :
       std::vector<Case>{{{"-b"}, "u 3 0 0\r"}, {{"-m", "2", "-v", "1"}, "u 1 2 1\r"}}) {
    SCOPED_TRACE(c.command);
    DeviceEnd dev;
    const std::string out = dir.path("cmd" + c.command.substr(2, 1) + c.command.substr(4, 1));
    auto args = c.options;
    args.push_back(dev.port());
    args.push_back(out);
    auto child = start(args);
    ASSERT_TRUE(dev.wait_configured());
    dev.send("> ");
    EXPECT_EQ(dev.receive(8), bytes(c.command));
    EXPECT_TRUE(dev.silent_for(300ms));  // nothing but the command
    dev.send("OK!\r\n> ");
    EXPECT_EQ(child->wait_exit(), 0);
  }
}

TEST_F(RecordTest, SplitEndIsCutFromTheFile) {
  auto child = start_recording();
  handshake(*child);
  const Bytes tape = recording(640);
  device.send(tape);
  ASSERT_TRUE(stored(tape.size()));
  // A full read that ends with the first part of the end reply, then the rest on its own.
  Bytes last = recording(60, 7);
  for (char c : std::string("OK!\r")) last.push_back(static_cast<std::uint8_t>(c));
  device.send(last);
  ASSERT_TRUE(stored(tape.size() + 64));
  device.send("\n> ");
  EXPECT_EQ(child->wait_exit(), 0);
  Bytes expected = tape;
  expected.insert(expected.end(), last.begin(), last.begin() + 60);
  EXPECT_EQ(read_bytes(dump), expected);
  EXPECT_TRUE(child->wait_for_out("Finished!!\nTotal bytes saved: 700\n", 0ms));
}

TEST_F(RecordTest, HangUpKeepsEverythingStored) {
  auto child = start_recording();
  handshake(*child);
  const Bytes tape = recording(3001);
  device.send(tape);
  ASSERT_TRUE(stored(tape.size()));
  device.hang_up();
  EXPECT_EQ(child->wait_exit(), 0);
  EXPECT_EQ(read_bytes(dump), tape);
  EXPECT_EQ(child->err(), "Error reading from " + device.port() + "\n");
  EXPECT_TRUE(child->wait_for_out("Total bytes saved: 3001\n", 0ms));
}

TEST_F(RecordTest, FullDiskStopsWithEarlierChunksIntact) {
  Options limited;
  limited.file_size_limit = 500;  // the console's own output file stays below it
  auto child = start_recording({}, limited);
  handshake(*child);
  const Bytes tape = recording(64 * 10);
  device.send(tape);
  EXPECT_EQ(child->wait_exit(), 0);
  EXPECT_EQ(child->err(), "Error writing data to file " + dump + "\n");
  // Seven chunks went in whole, the eighth only as far as the limit.
  EXPECT_EQ(read_bytes(dump), Bytes(tape.begin(), tape.begin() + 500));
  // The total also counts what the failed write was given: the chunk that hit the limit.
  const std::string out = child->out();
  const auto at = out.find("Total bytes saved: ");
  ASSERT_NE(at, std::string::npos);
  const long total = std::stol(out.substr(at + 19));
  EXPECT_GT(total, 500);
  EXPECT_LE(total, 564);
}

TEST_F(RecordTest, ExistingOutputFileIsLeftAlone) {
  write_file(dump, bytes("precious"));
  auto child = start_recording();
  EXPECT_EQ(child->wait_exit(), 1);
  EXPECT_EQ(child->err(), "Unable to open file " + dump + " for write\n");
  EXPECT_EQ(read_file(dump), "precious");
}

TEST_F(RecordTest, DanglingSymlinkIsNotFollowed) {
  const std::string target = dir.path("elsewhere");
  ASSERT_EQ(symlink(target.c_str(), dump.c_str()), 0);
  auto child = start_recording();
  EXPECT_EQ(child->wait_exit(), 1);
  EXPECT_FALSE(file_exists(target));
}

TEST_F(RecordTest, PortThatIsNotATerminalIsRefused) {
  const std::string plain = dir.path("plain");
  write_file(plain, bytes("x"));
  for (const std::string& port : {plain, std::string("/dev/null"), dir.path("missing")}) {
    SCOPED_TRACE(port);
    auto child = start({port, dump});
    EXPECT_EQ(child->wait_exit(), 1);
    EXPECT_EQ(child->err(), "Unable to open " + port + "\n");
    EXPECT_FALSE(file_exists(dump));
  }
}

TEST_F(RecordTest, PortLockedByAnotherProgramIsRefused) {
  const int holder = open(device.port().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  auto child = start_recording();
  EXPECT_EQ(child->wait_exit(), 1);
  EXPECT_EQ(child->err(), "Unable to open " + device.port() + "\n");
  EXPECT_FALSE(file_exists(dump));
  close(holder);
}

TEST_F(RecordTest, SpaceThroughAPipeSendsTheStopRequest) {
  Options piped;
  piped.stdin_mode = Stdin::kPipe;
  auto child = start_recording({}, piped);
  handshake(*child);
  const Bytes tape = recording(128);
  device.send(tape);
  ASSERT_TRUE(stored(tape.size()));
  child->type("x ");
  EXPECT_EQ(device.receive(1), bytes(" "));
  EXPECT_TRUE(child->wait_for_out("Request to stop recording sent\n"));
  device.send("OK!\r\n> ");
  EXPECT_EQ(child->wait_exit(), 0);
  EXPECT_EQ(read_bytes(dump), tape);
}

TEST_F(RecordTest, TerminalIsRestoredAfterCtrlC) {
  Options term;
  term.stdin_mode = Stdin::kTerminal;
  auto child = start_recording({}, term);
  termios before{};
  ASSERT_EQ(tcgetattr(child->terminal_slave(), &before), 0);
  ASSERT_TRUE(before.c_lflag & ICANON);
  handshake(*child);
  // The loop reads single keys without echo.
  EXPECT_TRUE(eventually([&] {
    termios now{};
    return tcgetattr(child->terminal_slave(), &now) == 0 && !(now.c_lflag & (ICANON | ECHO));
  }));
  const Bytes tape = recording(200);
  device.send(tape);
  ASSERT_TRUE(stored(tape.size()));
  child->type(" ");
  EXPECT_EQ(device.receive(1), bytes(" "));
  child->type("\x03");  // Ctrl-C on the terminal
  EXPECT_EQ(child->wait_exit(), 128 + SIGINT);
  termios after{};
  ASSERT_EQ(tcgetattr(child->terminal_slave(), &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(read_bytes(dump), tape);
  EXPECT_EQ(child->err(), "Recording interrupted by SIGINT\n");
  EXPECT_TRUE(child->wait_for_out("Total bytes saved: 200\n", 0ms));
}

TEST_F(RecordTest, CtrlZGivesTheTerminalBackUntilTheRecorderContinues) {
  Options term;
  term.stdin_mode = Stdin::kTerminal;
  term.job_control = true;
  auto child = start_recording({}, term);
  handshake(*child);
  const int tty = child->terminal_slave();
  auto cooked = [&] {
    termios now{};
    return tcgetattr(tty, &now) == 0 && (now.c_lflag & ICANON) && (now.c_lflag & ECHO);
  };
  ASSERT_TRUE(eventually([&] { return !cooked(); }));
  child->type("\x1a");  // Ctrl-Z
  EXPECT_TRUE(eventually(cooked));
  const pid_t job = tcgetpgrp(child->terminal_master());
  ASSERT_GT(job, 0);
  kill(-job, SIGCONT);  // what `fg` does
  EXPECT_TRUE(eventually([&] { return !cooked(); }));
  device.send(recording(64));
  ASSERT_TRUE(stored(64));
  device.send("OK!\r\n> ");
  EXPECT_EQ(child->wait_exit(), 0);
  EXPECT_TRUE(cooked());
}

TEST_F(RecordTest, BackgroundJobRecordsWithoutTouchingTheTerminal) {
  Options term;
  term.stdin_mode = Stdin::kTerminal;
  term.job_control = true;
  term.background = true;  // `tapewren-record ... &`
  auto child = start_recording({}, term);
  termios before{};
  ASSERT_EQ(tcgetattr(child->terminal_slave(), &before), 0);
  handshake(*child);
  const Bytes tape = recording(640);
  device.send(tape);
  ASSERT_TRUE(stored(tape.size()));
  child->type(" ");  // typed at the shell, not at the recorder
  EXPECT_TRUE(device.silent_for(1500ms));
  device.send("OK!\r\n> ");
  EXPECT_EQ(child->wait_exit(), 0);
  termios after{};
  ASSERT_EQ(tcgetattr(child->terminal_slave(), &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(read_bytes(dump), tape);
}

TEST_F(RecordTest, TerminationSignalKeepsTheRecording) {
  auto child = start_recording();
  handshake(*child);
  const Bytes tape = recording(1000);
  device.send(tape);
  ASSERT_TRUE(stored(tape.size()));
  child->signal(SIGTERM);
  EXPECT_EQ(child->wait_exit(), 128 + SIGTERM);
  EXPECT_EQ(read_bytes(dump), tape);
  EXPECT_EQ(child->err(), "Recording interrupted by SIGTERM\n");
}

TEST_F(RecordTest, NoStandardInputAtAllStillRecords) {
  Options closed;
  closed.stdin_mode = Stdin::kClosed;
  auto child = start_recording({}, closed);
  handshake(*child);
  device.send(recording(64));
  ASSERT_TRUE(stored(64));
  device.send("OK!\r\n> ");
  EXPECT_EQ(child->wait_exit(), 0);
}

// The simulator end to end, as `make demo` uses it.
class SimulatorTest : public ::testing::Test {
 protected:
  struct Run {
    int code;
    std::string out;
    Bytes dump;
  };
  Run record_with_sim(std::vector<std::string> sim_args) {
    sim_args.insert(sim_args.begin(), sim_binary());
    Child sim(sim_args, dir);
    const std::string port = sim_port(sim);
    EXPECT_FALSE(port.empty());
    const std::string dump = dir.path("sim" + std::to_string(++runs) + ".dmp");
    Child recorder({record_binary(), port, dump}, dir);
    Run r{recorder.wait_exit(), recorder.out(), read_bytes(dump)};
    EXPECT_EQ(sim.wait_exit(), 0);
    return r;
  }

  TempDir dir;
  int runs = 0;
};

TEST_F(SimulatorTest, PlaysADumpFileThatComesBackUnchanged) {
  const Bytes tape = recording(5000, 3);
  write_file(dir.path("in.dmp"), tape);
  for (const std::string split : {"", "1", "3", "6"}) {
    SCOPED_TRACE(split);
    std::vector<std::string> args{"--fast", "--greeting-parts", "3", dir.path("in.dmp")};
    if (!split.empty()) args.insert(args.begin(), {"--split-end", split});
    const Run r = record_with_sim(args);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.dump, tape);
    EXPECT_NE(r.out.find(split.empty() ? "Finished!\n" : "Finished!!\n"), std::string::npos);
  }
}

TEST_F(SimulatorTest, FailureReplyAndHangUpAreReported) {
  const Bytes tape = recording(4000, 5);
  write_file(dir.path("in.dmp"), tape);
  Run r = record_with_sim({"--fast", "--end-ko", "--split-end", "4", dir.path("in.dmp")});
  EXPECT_NE(r.out.find("Recording error!!\n"), std::string::npos);
  Bytes with_part = tape;
  for (char c : std::string("KO!\r")) with_part.push_back(static_cast<std::uint8_t>(c));
  EXPECT_EQ(r.dump, with_part);
  r = record_with_sim({"--fast", "--hangup-after", "1000", dir.path("in.dmp")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.dump, Bytes(tape.begin(), tape.begin() + 1000));
}

}  // namespace
}  // namespace tapewren::e2e
