// Whole runs of the recorder with fake port, file and keyboard: command line, open order,
// handshake bytes, close order and exit codes.
#include "app/recorder.hpp"

#include <gtest/gtest.h>

#include "app/command_line.hpp"
#include "fakes.hpp"
#include "link/protocol.hpp"

namespace tapewren::testing {
namespace {

const char kBanner[] =
    "Tapewren record utility, rel 1.0\n"
    "Communicates with a Tapewren device to record tapes\n\n";

std::string usage(const std::string& me) {
  return "Usage: " + me +
         " [options] <virtual serial port> <file>\n"
         "\nOptions:\n"
         "  -m <machine type> : 0 = C64/Generic, 1 = VIC20, 2 = C16\n"
         "  -v <video standard> : 0 = PAL, 1 = NTSC\n"
         "  -b : set both signal edges as active after first (default is single)\n"
         "\nExamples:\n"
         "  " +
         me + " COM9 Master_Side_A.dmp\n";
}

class RecorderTest : public ::testing::Test {
 protected:
  int run(std::vector<std::string> args) {
    args.insert(args.begin(), "tapewren-record");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Host host{*link, keyboard, interrupts, console, observer};
    return run_recorder(static_cast<int>(args.size()), argv.data(), host);
  }
  // A device that prompts, acknowledges, sends one chunk and ends.
  void device_records(const Bytes& recording) {
    link->port.script = {
        {bytes("hello\r\n> ")}, {bytes("OK\r\n")}, {recording}, {bytes("OK!\r\n> ")}};
  }
  std::string command_sent() const {
    if (link->port.writes.empty()) return "<none>";
    return std::string(link->port.writes[0].begin(), link->port.writes[0].end());
  }

  // A fresh device and console for each run of a table-driven test.
  void reset() {
    link = std::make_unique<FakeLink>();
    console = FakeConsole();
  }

  std::unique_ptr<FakeLink> link = std::make_unique<FakeLink>();
  FakeKeyboard keyboard;
  FakeInterrupts interrupts;
  FakeConsole console;
  RecordingObserver observer;
};

TEST_F(RecorderTest, NoArgumentsPrintsBannerAndUsage) {
  EXPECT_EQ(run({}), 1);
  EXPECT_EQ(console.out_text, kBanner + usage("tapewren-record"));
  EXPECT_TRUE(link->log.empty());
}

TEST_F(RecorderTest, WrongPositionalCountsPrintUsage) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"COM9"},
                                                                {"COM9", "out.dmp", "extra"},
                                                                {"-b"},
                                                                {"-m", "1"},
                                                                {"COM9", "out.dmp", "-b"},
                                                                {"-m"},
                                                                {"-v"},
                                                                {"-b", "-v"}}) {
    SCOPED_TRACE(args.size());
    reset();
    EXPECT_EQ(run(args), 1);
    EXPECT_EQ(console.out_text, kBanner + usage("tapewren-record"));
    EXPECT_TRUE(link->log.empty());
  }
}

TEST_F(RecorderTest, OutOfRangeValuesEndTheRunBeforeAnythingOpens) {
  struct Case {
    std::vector<std::string> args;
    int code;
  };
  const std::string machine = "Machine type can be either 0, 1, or 2.\n";
  const std::string video = "Video standard can be either 0, or 1.\n";
  for (const auto& c : std::vector<Case>{{{"-m", "3", "COM9", "o"}, -2},
                                         {{"-m", "-1", "COM9", "o"}, -2},
                                         {{"-v", "2", "COM9", "o"}, -3},
                                         {{"-m", "5", "-v", "9", "COM9", "o"}, -2},
                                         {{"-v", "9", "-m", "5", "COM9", "o"}, -3},
                                         {{"-m", "99999999999", "COM9", "o"}, -2},
                                         {{"-m", "2", "-m", "3", "COM9"}, -2}}) {
    reset();
    EXPECT_EQ(run(c.args), c.code);
    EXPECT_TRUE(link->log.empty());
    EXPECT_EQ(console.out_text, kBanner);
    EXPECT_EQ(console.err_text, c.code == -2 ? machine : video);
  }
}

TEST(ScanDecimal, ReadsLikePercentD) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  };
  for (const auto& c : std::vector<Case>{{"x", false, 7},
                                         {"", false, 7},
                                         {"2x", true, 2},
                                         {" 1", true, 1},
                                         {"\t\n 2", true, 2},
                                         {"+1", true, 1},
                                         {"-0", true, 0},
                                         {"-", false, 7},
                                         {"+ 1", false, 7},
                                         {"012", true, 12},
                                         {"-7", true, -7},
                                         {"2147483648", true, 2147483647},
                                         {"-99999999999999999999", true, -2147483647 - 1}}) {
    SCOPED_TRACE(c.text);
    int value = 7;
    EXPECT_EQ(scan_decimal(c.text, value), c.ok);
    EXPECT_EQ(value, c.value);
  }
}

TEST_F(RecorderTest, RecordCommandCarriesEdgeModeMachineAndVideo) {
  struct Case {
    std::vector<std::string> options;
    std::string command;
  };
  for (const auto& c :
       std::vector<Case>{{{}, "u 1 0 0\r"},
                         {{"-b"}, "u 3 0 0\r"},
                         {{"-b", "-b"}, "u 3 0 0\r"},
                         {{"-m", "2", "-v", "1"}, "u 1 2 1\r"},
                         {{"-b", "-m", "2", "-v", "1"}, "u 3 2 1\r"},
                         {{"-m", "x"}, "u 1 0 0\r"},
                         {{"-m", "2", "-m", "x"}, "u 1 2 0\r"},
                         {{"-mfoo", "2"}, "u 1 2 0\r"},
                         {{"-m", "2x", "-v", " 1"}, "u 1 2 1\r"},
                         {{"-m", "+1", "-v", "-0"}, "u 1 1 0\r"},
                         {{"-bogus"}, "u 3 0 0\r"},
                         {{"-x"}, "u 1 0 0\r"},
                         {{"-"}, "u 1 0 0\r"},
                         {{"--"}, "u 1 0 0\r"},
                         {{"-m", "-v"}, "u 1 0 0\r"},  // -v is the machine type's value
                         {{"-v", "1", "-m", "1"}, "u 1 1 1\r"}}) {
    SCOPED_TRACE(c.command + " from " + std::to_string(c.options.size()) + " options");
    reset();
    device_records(data(8));
    auto args = c.options;
    args.push_back("COM9");
    args.push_back("out.dmp");
    EXPECT_EQ(run(args), 0);
    EXPECT_EQ(command_sent(), c.command);
    EXPECT_EQ(link->port.writes[0].size(), 8u);
  }
}

TEST_F(RecorderTest, EmptyFirstPositionalIsThePortName) {
  EXPECT_EQ(run({"-b", "", "out.dmp"}), 1);
  EXPECT_EQ(link->log.front(), "open_port ");
}

TEST_F(RecorderTest, WholeRunClosesPortThenFileAndPrintsTheTotal) {
  device_records(data(64));
  EXPECT_EQ(run({"-m", "1", "COM9", "side_a.dmp"}), 0);
  EXPECT_EQ(link->file.content, data(64));
  EXPECT_EQ(link->log.front(), "open_port COM9");
  EXPECT_EQ(link->log[1], "create_file side_a.dmp");
  const std::vector<std::string> tail(link->log.end() - 2, link->log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"port.close", "file.close"}));
  EXPECT_EQ(link->port.closes, 1);
  EXPECT_EQ(link->file.closes, 1);
  const std::string out = console.out_text;
  EXPECT_EQ(out.substr(out.size() - 32), "Finished!\nTotal bytes saved: 64\n");
  EXPECT_EQ(out.find("Reading from COM9\n"), sizeof kBanner - 1);
}

TEST_F(RecorderTest, PortThatWillNotOpenLeavesNoFile) {
  link->port_ok = false;
  EXPECT_EQ(run({"COM9", "out.dmp"}), 1);
  EXPECT_EQ(console.err_text, "Unable to open COM9\n");
  EXPECT_EQ(link->log, EventLog{"open_port COM9"});
}

TEST_F(RecorderTest, FileThatCannotBeCreatedClosesThePort) {
  link->file_ok = false;
  EXPECT_EQ(run({"COM9", "out.dmp"}), 1);
  EXPECT_EQ(console.err_text, "Unable to open file out.dmp for write\n");
  EXPECT_EQ(link->log, (EventLog{"open_port COM9", "create_file out.dmp", "port.close"}));
}

TEST_F(RecorderTest, FailedPromptReadClosesPortThenFile) {
  link->port.script = {{bytes("noise")}, {{}, false}};
  EXPECT_EQ(run({"COM9", "out.dmp"}), 1);
  EXPECT_EQ(console.err_text, "Error reading prompt from COM9 (0)\n");
  const std::vector<std::string> tail(link->log.end() - 2, link->log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"port.close", "file.close"}));
  EXPECT_TRUE(link->port.writes.empty());
}

TEST_F(RecorderTest, FailedCommandWriteClosesPortThenFile) {
  device_records(data(4));
  link->port.write_ok = false;
  EXPECT_EQ(run({"COM9", "out.dmp"}), 1);
  EXPECT_EQ(console.err_text, "Error writing command to COM9\n");
  EXPECT_EQ(link->log.back(), "file.close");
  EXPECT_EQ(console.out_text.find("Reading from"), std::string::npos);
}

TEST_F(RecorderTest, PromptMustEndARead) {
  // The prompt followed by a byte, a prompt split across reads, and tiny reads do not count.
  link->port.script = {
      {bytes("> x")},           {bytes(">")},      {bytes(" ")},        {{}}, {bytes(">")},
      {bytes("garbage\r\n> ")}, {bytes("OK\r\n")}, {bytes("OK!\r\n> ")}};
  EXPECT_EQ(run({"COM9", "out.dmp"}), 0);
  EXPECT_EQ(link->port.reads, 8);
  EXPECT_EQ(command_sent(), "u 1 0 0\r");
}

TEST_F(RecorderTest, InterruptedRecordingExitsWithTheShellCode) {
  device_records(data(64));
  interrupts.signal_on_check = 2;
  EXPECT_EQ(run({"COM9", "out.dmp"}), 130);
  EXPECT_EQ(link->file.content, data(64));
  EXPECT_NE(console.out_text.find("Total bytes saved: 64\n"), std::string::npos);
  EXPECT_EQ(link->log.back(), "file.close");
}

TEST(EndsWithReply, ComparesOnlyTheEndOfTheRun) {
  const Bytes prompt_end = bytes("abc> ");
  EXPECT_TRUE(ends_with_reply(prompt_end.data(), prompt_end.size(), REPLY_PROMPT));
  EXPECT_FALSE(ends_with_reply(prompt_end.data(), 1, REPLY_PROMPT));
  const Bytes end = bytes("OK!\r\n> ");
  EXPECT_TRUE(ends_with_reply(end.data(), end.size(), REPLY_END_OK));
  EXPECT_TRUE(ends_with_reply(end.data(), end.size(), REPLY_PROMPT));
  EXPECT_FALSE(ends_with_reply(end.data(), end.size(), REPLY_ACK));
  EXPECT_FALSE(ends_with_reply(end.data() + 1, end.size() - 1, REPLY_END_OK));
  const Bytes lower = bytes("ok\r\n");
  EXPECT_FALSE(ends_with_reply(lower.data(), lower.size(), REPLY_ACK));
  EXPECT_EQ(reply_length(REPLY_END_KO), 7u);
}

}  // namespace
}  // namespace tapewren::testing
