// Whole runs of the recorder on fakes, one table row each: the command line, what the device
// says read by read, the keys pressed and the faults met; then the exit code, the console, the
// dump file, the chunks passed on to the names and the bytes sent to the device.
#include "app/recorder.hpp"

#include <gtest/gtest.h>

#include "fakes.hpp"

#if defined(_WIN32)
#include <windows.h>

#include "platform/host.hpp"
#include "platform/win32/win32_link.hpp"
#endif

namespace tapewren::testing {
namespace {

const Bytes kAck = bytes("OK\r\n"), kEnd = bytes("OK!\r\n> "), kKo = bytes("KO!\r\n> ");
const Read kPrompt{bytes("hello\r\n> ")};
// Standard output after the banner, with "|" where it was flushed.
const std::string kBanner =
    "Tapewren record utility, rel 1.0\nCommunicates with a Tapewren device to record tapes\n\n";
const std::string kStart = "Reading from COM9\nIssue SAVE on the host... |";
const std::string kRec = "OK\nStop the recording chain with spacebar\n|";
const std::string kStop = "Request to stop recording sent\n|";
const std::string kFin = "Finished!\n|", kSplitFin = "Finished!!\n|";
const std::string kUsage =
    "Usage: tapewren-record [options] <virtual serial port> <file>\n\nOptions:\n"
    "  -m <machine type> : 0 = C64/Generic, 1 = VIC20, 2 = C16\n"
    "  -v <video standard> : 0 = PAL, 1 = NTSC\n"
    "  -b : set both signal edges as active after first (default is single)\n\nExamples:\n"
    "  tapewren-record COM9 Master_Side_A.dmp\n";
const std::string kMachine = "Machine type can be either 0, 1, or 2.\n";
const std::string kVideo = "Video standard can be either 0, or 1.\n";
const Log kNothingOpened = {};
const Log kOpened = {"open_port COM9", "create_file out.dmp", "port.write after read 1"};
const Log kClosed = {"port.close", "file.close"};
const std::vector<std::string> kDefault = {"COM9", "out.dmp"};

std::string total(int n) {
  return "Total bytes saved: " + std::to_string(n) + "\n|";
}

struct Case {
  std::string name;
  std::vector<std::string> args;
  std::vector<Read> reads;
  int code;
  std::string out, err;
  Bytes file = {};
  std::vector<std::uint32_t> fed = {};  // sizes of the chunks passed on to the names
  std::deque<int> keys = {};            // what each poll finds
  std::string sent = "u 1 0 0\r";       // everything written to the device
  int fail_write = 0, short_write = 0, signal_on_check = 0;
  bool set_end_ok = true;
  Log log = {};  // when given: the order of opens, writes and closes
};

std::vector<Case> cases() {
  const Bytes a = data(64), b = data(64, 0x80), c = data(30, 0x40);
  const Bytes almost =
      data(10) + bytes("OK!\r\n>x") + data(5) + bytes("KO!\r\n>x") + bytes("OK\rx");
  const std::vector<Read> rec = {kPrompt, {kAck}, {a}, {kEnd}};
  const std::string whole = kStart + kRec + kFin + total(64);
  // clang-format off
  std::vector<Case> cases = {
    // The command line: usage, range checks and the record command.
    {"no arguments", {}, {}, 1, kUsage, "", {}, {}, {}, "", 0, 0, 0, true, kNothingOpened},
    {"one positional", {"COM9"}, {}, 1, kUsage, "", {}, {}, {}, "", 0, 0, 0, true, kNothingOpened},
    {"three positionals", {"COM9", "o", "x"}, {}, 1, kUsage, "", {}, {}, {}, ""},
    {"options only", {"-b"}, {}, 1, kUsage, "", {}, {}, {}, ""},
    {"a value, no positionals", {"-m", "1"}, {}, 1, kUsage, "", {}, {}, {}, ""},
    {"options end at a positional", {"COM9", "o", "-b"}, {}, 1, kUsage, "", {}, {}, {}, ""},
    {"-m without a value", {"-m"}, {}, 1, kUsage, "", {}, {}, {}, ""},
    {"-v without a value", {"-b", "-v"}, {}, 1, kUsage, "", {}, {}, {}, ""},
    {"-m 3", {"-m", "3", "COM9", "o"}, {}, -2, "", kMachine, {}, {}, {}, "", 0, 0, 0, true, kNothingOpened},
    {"-m -1", {"-m", "-1", "COM9", "o"}, {}, -2, "", kMachine, {}, {}, {}, ""},
    {"-v 2", {"-v", "2", "COM9", "o"}, {}, -3, "", kVideo, {}, {}, {}, "", 0, 0, 0, true, kNothingOpened},
    {"the first bad value counts", {"-m", "5", "-v", "9", "COM9", "o"}, {}, -2, "", kMachine, {}, {}, {}, ""},
    {"the first bad value counts 2", {"-v", "9", "-m", "5", "COM9", "o"}, {}, -3, "", kVideo, {}, {}, {}, ""},
    {"huge values saturate", {"-m", "99999999999", "COM9", "o"}, {}, -2, "", kMachine, {}, {}, {}, ""},
    {"huge negative values", {"-v", "-99999999999999999999", "COM9", "o"}, {}, -3, "", kVideo, {}, {}, {}, ""},
    {"a later value", {"-m", "2", "-m", "3", "COM9"}, {}, -2, "", kMachine, {}, {}, {}, ""},
    {"-m value as the last element", {"-m", "5"}, {}, -2, "", kMachine, {}, {}, {}, ""},
    {"-v value as the last element", {"-v", "7"}, {}, -3, "", kVideo, {}, {}, {}, ""},
    {"defaults", kDefault, rec, 0, whole, "", a, {64}, {}, "u 1 0 0\r", 0, 0, 0, true, kOpened + Log{"file.write"} + kClosed},
    {"-b", {"-b", "COM9", "out.dmp"}, rec, 0, whole, "", a, {64}, {}, "u 3 0 0\r"},
    {"-b twice", {"-b", "-b", "COM9", "out.dmp"}, rec, 0, whole, "", a, {64}, {}, "u 3 0 0\r"},
    {"-m -v -b", {"-b", "-m", "2", "-v", "1", "COM9", "out.dmp"}, rec, 0, whole, "", a, {64}, {}, "u 3 2 1\r"},
    {"-v before -m", {"-v", "1", "-m", "1", "COM9", "out.dmp"}, rec, 0, whole, "", a, {64}, {}, "u 1 1 1\r"},
    {"no number keeps the value", {"-m", "2", "-m", "x", "COM9", "out.dmp"}, rec, 0, whole, "", a, {64}, {}, "u 1 2 0\r"},
    {"no number, a sign alone", {"-m", "-", "-v", "+ 1", "COM9", "out.dmp"}, rec, 0, whole, "", a, {64}, {}, "u 1 0 0\r"},
    {"only the second character counts", {"-mfoo", "2", "-bogus", "COM9", "out.dmp"}, rec, 0, whole, "", a, {64}, {}, "u 3 2 0\r"},
    {"numbers read like %d", {"-m", "2x", "-v", "\t\n 1", "COM9", "out.dmp"}, rec, 0, whole, "", a, {64}, {}, "u 1 2 1\r"},
    {"signs", {"-m", "+1", "-v", "-0", "COM9", "out.dmp"}, rec, 0, whole, "", a, {64}, {}, "u 1 1 0\r"},
    {"other options are ignored", {"-x", "-", "--", "COM9", "out.dmp"}, rec, 0, whole, "", a, {64}, {}, "u 1 0 0\r"},
    {"-m takes the next element", {"-m", "-v", "COM9", "out.dmp"}, rec, 0, whole, "", a, {64}, {}, "u 1 0 0\r"},
    // Opening, the prompt and the command.
    {"port does not open", kDefault, {}, 1, "", "Unable to open COM9\n", {}, {}, {}, "", 0, 0, 0, true, {"open_port COM9"}},
    {"file cannot be created", kDefault, {}, 1, "", "Unable to open file out.dmp for write\n", {}, {}, {}, "", 0, 0, 0, true, {"open_port COM9", "create_file out.dmp", "port.close"}},
    {"prompt read fails", kDefault, {{bytes("noise")}, {{}, false}}, 1, "", "Error reading prompt from COM9 (0)\n", {}, {}, {}, "", 0, 0, 0, true, Log{"open_port COM9", "create_file out.dmp"} + kClosed},
    {"command fails", kDefault, rec, 1, "", "Error writing command to COM9\n", {}, {}, {}, "u 1 0 0\r", 0, 0, 0, true, kOpened + kClosed},
    {"only a read that ends with the prompt", kDefault, {{bytes("> x")}, {bytes(">")}, {bytes(" ")}, {{}}, {bytes(">")}, {bytes("garbage\r\n> ")}, {kAck}, {kEnd}}, 0, kStart + kRec + kFin + total(0), "", {}, {}, {}, "u 1 0 0\r", 0, 0, 0, true, Log{"open_port COM9", "create_file out.dmp", "port.write after read 6"} + kClosed},
    // The capture loop's conversations.
    {"whole recording", kDefault, {kPrompt, {kAck}, {a}, {{}}, {b}, {c}, {kEnd}}, 0, kStart + kRec + kFin + total(158), "", a + b + c, {64, 64, 30}},
    {"nothing stored before an acknowledgement ends a read", kDefault, {kPrompt, {data(10)}, {kAck + data(6)}, {data(8)}, {kAck}, {data(4)}, {kEnd}}, 0, kStart + kRec + kFin + total(4), "", data(4), {4}},
    {"a chunk ending like the acknowledgement is not stored", kDefault, {kPrompt, {kAck}, {data(20)}, {data(12) + kAck}, {data(6)}, {kEnd}}, 0, kStart + kRec + kRec + kFin + total(26), "", data(20) + data(6), {20, 6}},
    {"replies with another last byte are data", kDefault, {kPrompt, {kAck}, {data(10) + bytes("OK!\r\n>x")}, {data(5) + bytes("KO!\r\n>x")}, {bytes("OK\rx")}, {kEnd}}, 0, kStart + kRec + kFin + total(33), "", almost, {17, 12, 4}},
    {"end in a chunk keeps the bytes in front, not fed", kDefault, {kPrompt, {kAck}, {a}, {data(57, 0x60) + kEnd}}, 0, kStart + kRec + kFin + total(121), "", a + data(57, 0x60), {64}},
    {"end before any acknowledgement", kDefault, {kPrompt, {data(9) + kEnd}}, 0, kStart + kFin + total(9), "", data(9), {}},
    {"failed trailing write", kDefault, {kPrompt, {kAck}, {data(57) + kEnd}}, 0, kStart + kRec + kFin + total(57), "Error flushing trailing data (57 bytes) to file out.dmp\n", {}, {}, {}, "u 1 0 0\r", 1},
    {"failure reply stores nothing of its chunk", kDefault, {kPrompt, {kAck}, {data(8)}, {data(20) + kKo}}, 0, kStart + kRec + total(8), "Recording error!\n", data(8), {8}},
    {"split end cut from the file and the total", kDefault, {kPrompt, {kAck}, {data(64, 0x30)}, {data(60) + bytes("OK!\r")}, {bytes("\n> ")}}, 0, kStart + kRec + kSplitFin + total(124), "", data(64, 0x30) + data(60), {64, 64}},
    {"split failure reply keeps its first part", kDefault, {kPrompt, {kAck}, {data(60) + bytes("KO!\r")}, {bytes("\n> ")}}, 0, kStart + kRec + "Recording error!!\n" + total(64), "", data(60) + bytes("KO!\r"), {64}},
    {"split end while waiting cannot be cut", kDefault, {kPrompt, {data(60) + bytes("OK!\r")}, {bytes("\n> ")}}, 0, kStart + "|" + total(0), "Last file operation failed!\n", {}, {}},
    {"failed cut keeps the total", kDefault, {kPrompt, {kAck}, {data(60) + bytes("OK!\r")}, {bytes("\n> ")}}, 0, kStart + kRec + "|" + total(64), "Last file operation failed!\n", data(60) + bytes("OK!\r"), {64}, {}, "u 1 0 0\r", 0, 0, 0, false},
    {"a terminator split after a short chunk is data", kDefault, {kPrompt, {kAck}, {a}, {data(20) + bytes("OK!\r")}, {bytes("\n> ")}}, 0, kStart + kRec + total(91), "Error reading from COM9\n", a + data(20) + bytes("OK!\r\n> "), {64, 24, 3}},
    {"a short chunk before any full one is data", kDefault, {kPrompt, {kAck}, {bytes("\r\n> ")}}, 0, kStart + kRec + total(4), "Error reading from COM9\n", bytes("\r\n> "), {4}},
    {"one stop request per space, chunks kept", kDefault, {kPrompt, {kAck}, {a}, {b}, {c}, {kEnd}}, 0, kStart + kRec + kStop + kStop + kFin + total(158), "", a + b + c, {64, 64, 30}, {-1, ' ', 'x', ' ', -1}, "u 1 0 0\r  "},
    {"a terminator in the space's pass ends the loop", kDefault, {kPrompt, {kAck}, {data(10)}, {kEnd}, {data(10)}}, 0, kStart + kRec + kStop + kFin + total(10), "", data(10), {10}, {-1, -1, ' '}, "u 1 0 0\r "},
    {"space before the acknowledgement", kDefault, {kPrompt, {{}}, {kAck}, {kEnd}}, 0, kStart + kStop + kRec + kFin + total(0), "", {}, {}, {' '}, "u 1 0 0\r "},
    {"failed read keeps what was stored", kDefault, {kPrompt, {kAck}, {a}, {data(31)}, {{}, false}}, 0, kStart + kRec + total(95), "Error reading from COM9\n", a + data(31), {64, 31}},
    {"failed store ends the loop, the chunk counted", kDefault, {kPrompt, {kAck}, {a}, {data(40)}, {b}, {kEnd}}, 0, kStart + kRec + total(104), "Error writing data to file out.dmp\n", a, {64}, {}, "u 1 0 0\r", 2},
    {"short store ends the loop", kDefault, {kPrompt, {kAck}, {a}, {data(40)}, {b}, {kEnd}}, 0, kStart + kRec + total(104), "Error writing data to file out.dmp\n", a + data(20), {64}, {}, "u 1 0 0\r", 0, 2},
    {"odd chunks are stored and fed whole", kDefault, {kPrompt, {kAck}, {data(63)}, {data(1)}, {kEnd}}, 0, kStart + kRec + kFin + total(64), "", data(63) + data(1), {63, 1}},
    {"a signal ends the loop after its pass", kDefault, {kPrompt, {kAck}, {a}, {b}, {kEnd}}, 130, kStart + kRec + total(128), "Recording interrupted by SIGINT\n", a + b, {64, 64}, {}, "u 1 0 0\r", 0, 0, 3, true, kOpened + Log{"file.write", "file.write"} + kClosed},
  };
  // clang-format on
  const std::string end = "OK!\r\n> ";
  for (std::uint32_t split = 1; split < end.size(); ++split) {
    const Bytes front = data(64 - split);
    cases.push_back(
        {"split end after byte " + std::to_string(split),
         kDefault,
         {kPrompt, {kAck}, {front + bytes(end.substr(0, split))}, {bytes(end.substr(split))}},
         0,
         kStart + kRec + kSplitFin + total(static_cast<int>(front.size())),
         "",
         front,
         {64}});
  }
  return cases;
}

TEST(Recorder, Runs) {
  for (Case& c : cases()) {
    SCOPED_TRACE(c.name);
    FakeDevice device;
    device.script.assign(c.reads.begin(), c.reads.end());
    device.port_ok = c.err != "Unable to open COM9\n";
    device.file_ok = c.err.rfind("Unable to open file", 0) != 0;
    device.command_ok = c.err.rfind("Error writing command", 0) != 0;
    device.fail_write = c.fail_write;
    device.short_write = c.short_write;
    device.set_end_ok = c.set_end_ok;
    FakeKeyboard keyboard;
    keyboard.keys = c.keys;
    FakeInterrupts interrupts;
    interrupts.on_check = c.signal_on_check;
    FakeConsole console;
    FedChunks fed;
    Host host{device, keyboard, interrupts, console, fed};
    c.args.insert(c.args.begin(), "tapewren-record");
    std::vector<char*> argv;
    for (auto& arg : c.args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(run_recorder(static_cast<int>(c.args.size()), argv.data(), host), c.code);
    EXPECT_EQ(console.out, kBanner + c.out);
    EXPECT_EQ(console.err, c.err);
    EXPECT_EQ(device.file, c.file);
    EXPECT_EQ(fed.sizes, c.fed);
    EXPECT_EQ(device.sent, bytes(c.sent));
    if (!c.log.empty() || c.code != 0) {
      EXPECT_EQ(device.log, c.log);
    }
    EXPECT_EQ(keyboard.mode, c.code == 0 || c.code == 130 ? "enter leave " : "");
  }
}

#if defined(_WIN32)
// Ctrl-C and Ctrl-Break end a run with the exit codes that the README gives: 130 and 149.
TEST(ConsoleEvents, CtrlCAndCtrlBreak) {
  EXPECT_EQ(128 + win32::console_event_signal(CTRL_C_EVENT), 130);
  EXPECT_EQ(128 + win32::console_event_signal(CTRL_BREAK_EVENT), 149);
  EXPECT_EQ(win32::console_event_signal(CTRL_CLOSE_EVENT), 0);
  EXPECT_STREQ(platform::interrupts().name(2), "Ctrl-C");
  EXPECT_STREQ(platform::interrupts().name(21), "Ctrl-Break");
}
#endif

}  // namespace
}  // namespace tapewren::testing
