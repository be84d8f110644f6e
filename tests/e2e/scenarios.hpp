// The recorder as a real process, one table row per run: what the device and the user do, and
// what must come out. Played against the Linux programs and, unchanged, under Wine.
#pragma once

#include <gtest/gtest.h>
#include <sys/file.h>

#include <memory>
#include <ostream>

#include "harness.hpp"

namespace tapewren::e2e {

enum class Op {
  kHandshake,    // prompt, expect the record command `text`, acknowledge
  kPrompt,       // prompt and expect the record command `text`; no acknowledgement
  kFileCreated,  // the dump file exists: the recorder waits for the prompt
  kSend,         // the device sends `text`
  kTape,         // the device sends n bytes of recording and the dump file takes them all
  kBurst,        // n bytes of recording, without waiting for them to be stored
  kType,         // the user types `text`
  kSignal,       // signal n to the recorder
  kHangUp,       // the device goes away
  kStopRequest,  // the device receives one stop request
  kSilent,       // the device receives nothing for n ms
  kRaw,          // the terminal is in single-key, no-echo mode
  kCooked,       // the terminal is back in line mode with echo
  kResume,       // `fg`: the stopped job continues
};
struct Step {
  Op op;
  std::string text = {};
  long n = 0;
};

enum class Port { kDevice, kMissing, kNotATerminal, kLocked, kNone };
// The dump file afterwards: every recorded byte the device sent, none at all, the file that was
// there before, or (n >= 0) the first n bytes sent.
constexpr long kAllSent = -1, kNoFile = -2, kUntouched = -3;

struct Scenario {
  const char* name;
  std::vector<std::string> args;  // options; the port and the dump file follow (Port)
  Port port;
  Options options;
  std::vector<Step> steps;
  int exit_code;
  std::string out;  // must appear in standard output; $PORT and $DUMP stand for the two
  std::string err;  // standard error, whole
  long dump;
  bool terminal_restored = false;        // the terminal's modes at the end are those at the start
  long max_rss_kib = 0;                  // a bound on peak memory, when not 0
  const char* not_under_wine = nullptr;  // why the Windows build under Wine cannot show it
};
inline void PrintTo(const Scenario& row, std::ostream* os) {
  *os << row.name;
}

inline Scenario interrupted(const char* name, int signal, const char* shown) {
  return {name,
          {},
          Port::kDevice,
          {},
          {{Op::kHandshake, "u 1 0 0\r"}, {Op::kTape, "", 3217}, {Op::kSignal, "", signal}},
          128 + signal,
          "Total bytes saved: 3217\n",
          std::string("Recording interrupted by ") + shown + "\n",
          kAllSent,
          false,
          0,
          "Windows has no such signals"};
}

// Without the recorder's output to watch, the acknowledgement is followed by a quiet line of
// four times the 250 ms after which the recorder's read returns with it.
const std::vector<Step> kUnwatchedStart = {
    {Op::kPrompt, "u 1 0 0\r"}, {Op::kSend, "OK\r\n"}, {Op::kSilent, "", 1000}};

// Standard stream `fd` closed at start: the port and the file must not take its number.
inline Scenario closed_stream(const char* name, int fd) {
  Scenario row{name,
               {},
               Port::kDevice,
               {},
               kUnwatchedStart,
               128 + SIGTERM,
               fd == 1 ? "" : "Total bytes saved: 1000\n",
               fd == 2 ? "" : "Recording interrupted by SIGTERM\n",
               kAllSent,
               false,
               0,
               "Windows hands out handles, not reusable numbers"};
  row.options.closed_fd = fd;
  row.steps.insert(row.steps.end(),
                   {{Op::kTape, "", 1000}, {Op::kSignal, "", SIGTERM}, {Op::kSilent, "", 1000}});
  return row;
}

inline std::vector<Scenario> scenarios() {
  const Step shake{Op::kHandshake, "u 1 0 0\r"}, end{Op::kSend, "OK!\r\n> "};
  const auto in = [](Stdin mode, long file_size_limit = -1, bool reader_gone = false) {
    return Options{mode, -1, reader_gone, file_size_limit};
  };
  const char* const no_signals = "Windows has no such signals";
  const char* const no_jobs = "Windows consoles have no job control";
  Scenario reader_gone{"OutputReaderGoneKeepsRecording",
                       {},
                       Port::kDevice,
                       in(Stdin::kNull, -1, true),
                       kUnwatchedStart,
                       0,
                       "",
                       "",
                       kAllSent,
                       false,
                       0,
                       "a Windows console write just fails"};
  reader_gone.steps.insert(reader_gone.steps.end(), {{Op::kTape, "", 5000}, end});
  // clang-format off
  return {
    {"RecordsATapeByteForByte", {"-m", "0"}, Port::kDevice, {}, {shake, {Op::kTape, "", 20000}, end}, 0,
     "Tapewren record utility, rel 1.0\nCommunicates with a Tapewren device to record tapes\n\nReading from $PORT\n"
     "Issue SAVE on the host... OK\nStop the recording chain with spacebar\nFinished!\nTotal bytes saved: 20000\n", "", kAllSent},
    {"MachineTypeOutOfRange", {"-m", "3"}, Port::kDevice, {}, {}, 254, "", "Machine type can be either 0, 1, or 2.\n", kNoFile},
    {"VideoStandardOutOfRange", {"-v", "2"}, Port::kDevice, {}, {}, 253, "", "Video standard can be either 0, or 1.\n", kNoFile},
    {"OnePositionalGivesUsage", {"COM9"}, Port::kNone, {}, {}, 1, "Usage: ", "", kNoFile},
    {"ExistingDumpFileIsLeftAlone", {}, Port::kDevice, {}, {}, 1, "", "Unable to open file $DUMP for write\n", kUntouched},
    {"MissingPortCreatesNoFile", {}, Port::kMissing, {}, {}, 1, "", "Unable to open $PORT\n", kNoFile},
    {"PortThatIsNotATerminal", {}, Port::kNotATerminal, {}, {}, 1, "", "Unable to open $PORT\n", kNoFile, false, 0,
     "COM ports are always devices"},
    {"PortHeldByAnotherProgram", {}, Port::kLocked, {}, {}, 1, "", "Unable to open $PORT\n", kNoFile, false, 0,
     "Wine does not enforce a port's exclusive open"},
    {"SpacebarSendsOneStopRequest", {}, Port::kDevice, in(Stdin::kTerminal),
     {shake, {Op::kTape, "", 128}, {Op::kType, " "}, {Op::kStopRequest}, end}, 0,
     "Request to stop recording sent\nFinished!\n", "", kAllSent},
    {"CtrlCRestoresTheTerminal", {}, Port::kDevice, in(Stdin::kTerminal),
     {shake, {Op::kRaw}, {Op::kTape, "", 200}, {Op::kType, "\x03"}}, 128 + SIGINT,
     "Total bytes saved: 200\n", "Recording interrupted by SIGINT\n", kAllSent, true, 0, no_signals},
    {"TerminalOfASessionWithoutOne", {}, Port::kDevice, in(Stdin::kForeignTerminal),
     {shake, {Op::kRaw}, {Op::kTape, "", 64}, {Op::kType, " "}, {Op::kStopRequest}, {Op::kSilent, "", 700}, end}, 0,
     "Request to stop recording sent\nFinished!\n", "", kAllSent, true, 0, "Windows has no controlling terminals"},
    {"CtrlZGivesTheTerminalBack", {}, Port::kDevice, in(Stdin::kForegroundJob),
     {shake, {Op::kRaw}, {Op::kType, "\x1a"}, {Op::kCooked}, {Op::kResume}, {Op::kRaw}, {Op::kTape, "", 64}, end}, 0,
     "Finished!\n", "", kAllSent, true, 0, no_jobs},
    {"BackgroundJobLeavesTheTerminalAlone", {}, Port::kDevice, in(Stdin::kBackgroundJob),
     {shake, {Op::kTape, "", 640}, {Op::kType, " "}, {Op::kSilent, "", 1500}, end}, 0, "Finished!\n", "", kAllSent,
     true, 0, no_jobs},
    interrupted("SigtermKeepsTheRecording", SIGTERM, "SIGTERM"),
    interrupted("SighupKeepsTheRecording", SIGHUP, "SIGHUP"),
    interrupted("SigquitKeepsTheRecording", SIGQUIT, "SIGQUIT"),
    {"SigtermWhileWaitingForThePrompt", {}, Port::kDevice, {},
     {{Op::kFileCreated}, {Op::kSend, "no prompt here"}, {Op::kSilent, "", 1200}, {Op::kSignal, "", SIGTERM}},
     128 + SIGTERM, "", "", 0, false, 0, no_signals},
    {"CtrlCWhileWaitingForThePrompt", {}, Port::kDevice, in(Stdin::kTerminal), {{Op::kFileCreated}, {Op::kType, "\x03"}},
     128 + SIGINT, "", "", 0, true, 0, no_signals},
    {"HangUpKeepsTheRecording", {}, Port::kDevice, {}, {shake, {Op::kTape, "", 3001}, {Op::kHangUp}}, 0,
     "Total bytes saved: 3001\n", "Error reading from $PORT\n", kAllSent, false, 0, "Wine reports an unplugged device as silence"},
    {"FullDiskKeepsTheWholeChunks", {}, Port::kDevice, in(Stdin::kNull, 500), {shake, {Op::kBurst, "", 640}}, 0, "",
     "Error writing data to file $DUMP\n", 500, false, 0, "no file size limits for a Windows program"},
    // A 45-minute side is about 32 MB of pulse words: all of it arrives, in flat memory.
    {"TapeSideAtFullSpeedInFlatMemory", {}, Port::kDevice, {}, {shake, {Op::kTape, "", 32l << 20}, end}, 0,
     "Total bytes saved: 33554432\n", "", kAllSent, false, 16 << 10, "Wine's own memory would hide the recorder's"},
    closed_stream("ClosedStandardInput", 0),
    closed_stream("ClosedStandardOutput", 1),
    closed_stream("ClosedStandardError", 2),
    reader_gone,
  };
  // clang-format on
}

// Where a row runs: the Linux programs, or the Windows ones under Wine.
struct Target {
  virtual ~Target() = default;
  virtual std::vector<std::string> command(const std::vector<std::string>& args) = 0;
  virtual std::string port_name(Port port, const DeviceEnd& device, const TempDir& dir) = 0;
  virtual std::string file_name(const std::string& path) { return path; }
  virtual Bytes handshake(DeviceEnd& device, Child& recorder, bool acknowledge) = 0;
  virtual std::string text(const std::string& raw) { return raw; }  // console output as written
};

inline std::string replaced(std::string s, const std::string& port, const std::string& dump) {
  for (const auto& [key, value] : {std::pair{"$PORT", port}, std::pair{"$DUMP", dump}})
    for (auto at = s.find(key); at != std::string::npos; at = s.find(key)) s.replace(at, 5, value);
  return s;
}

inline void run_scenario(const Scenario& row, Target& target) {
  TempDir dir;
  DeviceEnd device;
  const std::string dump = dir.path("side_a.dmp"), shown_dump = target.file_name(dump);
  if (row.dump == kUntouched) write_file(dump, bytes("precious"));
  const std::string port = target.port_name(row.port, device, dir);
  const int holder =
      row.port == Port::kLocked ? open(device.port().c_str(), O_RDWR | O_NOCTTY) : -1;
  if (holder >= 0) {
    EXPECT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  }
  std::vector<std::string> args = row.args;
  if (row.port != Port::kNone) args.insert(args.end(), {port, shown_dump});
  // Now and then Wine fails to start a program at all (exit 1, no output): a run without a
  // conversation is tried again; what the program itself says is not.
  auto child = std::make_unique<Child>(target.command(args), dir, row.options);
  for (int tries = 1;
       row.steps.empty() && tries < 3 && child->wait_exit() == 1 && child->out().empty(); ++tries)
    child = std::make_unique<Child>(target.command(args), dir, row.options);
  const unsigned modes_at_start = child->terminal_modes();
  Bytes sent;
  for (const Step& step : row.steps) {
    SCOPED_TRACE(static_cast<int>(step.op));
    switch (step.op) {
      case Op::kHandshake:
      case Op::kPrompt:
        EXPECT_EQ(target.handshake(device, *child, step.op == Op::kHandshake), bytes(step.text));
        EXPECT_EQ(device.line_settings_fault(), "");
        break;
      case Op::kFileCreated:
        EXPECT_TRUE(eventually([&] { return file_exists(dump); }));
        break;
      case Op::kSend:
        device.send(step.text);
        break;
      case Op::kTape:
      case Op::kBurst: {
        const Bytes tape =
            recording(static_cast<std::size_t>(step.n), static_cast<unsigned>(sent.size()));
        device.send(tape);
        sent.insert(sent.end(), tape.begin(), tape.end());
        if (step.op == Op::kTape) {
          ASSERT_TRUE(file_reaches(dump, sent.size(), step.n > (1 << 20) ? 120s : kPatience));
        }
        break;
      }
      case Op::kType:
        child->type(step.text);
        break;
      case Op::kSignal:
        kill(child->pid(), static_cast<int>(step.n));
        break;
      case Op::kHangUp:
        device.hang_up();
        break;
      case Op::kStopRequest:
        EXPECT_EQ(device.receive(1), bytes(" "));
        break;
      case Op::kSilent:
        EXPECT_TRUE(device.silent_for(std::chrono::milliseconds(step.n)));
        break;
      case Op::kRaw:
      case Op::kCooked: {
        const bool raw = step.op == Op::kRaw;
        EXPECT_TRUE(
            eventually([&] { return !(child->terminal_modes() & (ICANON | ECHO)) == raw; }));
        break;
      }
      case Op::kResume:
        ASSERT_GT(child->foreground_job(), 0);
        kill(-child->foreground_job(), SIGCONT);
        break;
    }
  }
  EXPECT_EQ(child->wait_exit(), row.exit_code) << child->out() << child->err();
  EXPECT_NE(target.text(child->out()).find(replaced(row.out, port, shown_dump)), std::string::npos)
      << child->out();
  EXPECT_EQ(target.text(child->err()), replaced(row.err, port, shown_dump));
  if (row.dump == kNoFile) {
    EXPECT_FALSE(file_exists(dump));
  }
  if (row.dump != kNoFile) {
    const Bytes expected = row.dump == kUntouched ? bytes("precious")
                           : row.dump == kAllSent ? sent
                                                  : Bytes(sent.begin(), sent.begin() + row.dump);
    EXPECT_TRUE(read_bytes(dump) == expected) << "the dump file differs";
  }
  if (row.terminal_restored) {
    EXPECT_EQ(child->terminal_modes(), modes_at_start);
  }
#if !defined(TAPEWREN_SANITIZED)  // the sanitizers' bookkeeping grows with the I/O done
  if (row.max_rss_kib > 0) {
    EXPECT_LE(child->usage().ru_maxrss, row.max_rss_kib);
  }
#endif
  if (holder >= 0) close(holder);
}

}  // namespace tapewren::e2e
