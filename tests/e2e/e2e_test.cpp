// The programs as a user runs them. One table of recorder runs on pseudo-terminals, played
// against the Linux build and, compiled again with TAPEWREN_UNDER_WINE, against the Windows
// build under Wine (COM5 is a link in the Wine prefix to the pty the test drives as the
// device; scripts/test-windows.sh prepares the prefix). Then the tools' own answers.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <tuple>

#include "audio/wav.hpp"
#include "common/real_tapes.hpp"
#include "harness.hpp"
#include "recording/recording.hpp"
#include "synth/tape_synth.hpp"

namespace tapewren::e2e {
namespace {

#if defined(TAPEWREN_UNDER_WINE)
constexpr bool kWine = true;
#else
constexpr bool kWine = false;
#endif

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
using Steps = std::vector<Step>;

enum class Port { kDevice, kMissing, kNotATerminal, kLocked, kNone };
// The dump file afterwards: every recorded byte the device sent, none at all, the file that was
// there before, or (n >= 0) the first n bytes sent.
constexpr long kAllSent = -1, kNoFile = -2, kUntouched = -3;

struct Scenario {
  const char* name;
  std::vector<std::string> args;  // options; the port and the dump file follow (Port)
  Port port;
  Options options;
  Steps steps;
  int exit_code;
  std::string out;  // must appear in standard output; $PORT and $DUMP stand for the two
  std::string err;  // standard error, whole
  long dump;
  bool terminal_restored = false;        // the terminal's modes at the end are those at the start
  const char* not_under_wine = nullptr;  // why the Windows build under Wine cannot show it
};
void PrintTo(const Scenario& row, std::ostream* os) {
  *os << row.name;
}

const Step kShake{Op::kHandshake, "u 1 0 0\r"}, kEnd{Op::kSend, "OK!\r\n> "};
// Without the recorder's output to watch, the acknowledgement is followed by a quiet line of
// four times the 250 ms after which the recorder's read returns with it.
const Steps kUnwatched = {
    {Op::kPrompt, "u 1 0 0\r"}, {Op::kSend, "OK\r\n"}, {Op::kSilent, "", 1000}};
const char* const kNoSignals = "Windows has no such signals";
const char* const kNoJobs = "Windows consoles have no job control";

Options in(Stdin mode, long file_size_limit = -1, int closed_fd = -1, bool reader_gone = false) {
  return Options{mode, closed_fd, reader_gone, file_size_limit};
}
// Under the sanitizers the limit is left off: their shadow memory alone is far beyond it.
Options heap_of(long bytes) {
  Options o;
#if !defined(TAPEWREN_SANITIZED)
  o.data_limit = bytes;
#else
  (void)bytes;
#endif
  return o;
}
// clang-format off
Scenario interrupted(const char* name, int signal, const char* shown) {
  return {name, {}, Port::kDevice, {}, {kShake, {Op::kTape, "", 3217}, {Op::kSignal, "", signal}}, 128 + signal,
          "Total bytes saved: 3217\n", std::string("Recording interrupted by ") + shown + "\n", kAllSent, false, kNoSignals};
}
// Standard stream `fd` closed at start: the port and the file must not take its number.
Scenario closed_stream(const char* name, int fd) {
  return {name, {}, Port::kDevice, in(Stdin::kNull, -1, fd),
          kUnwatched + Steps{{Op::kTape, "", 1000}, {Op::kSignal, "", SIGTERM}, {Op::kSilent, "", 1000}}, 128 + SIGTERM,
          fd == 1 ? "" : "Total bytes saved: 1000\n", fd == 2 ? "" : "Recording interrupted by SIGTERM\n", kAllSent, false,
          "Windows hands out handles, not reusable numbers"};
}

const std::vector<Scenario> kScenarios = {
  {"RecordsATapeByteForByte", {"-m", "0"}, Port::kDevice, {}, {kShake, {Op::kTape, "", 20000}, kEnd}, 0,
   "Tapewren record utility, rel 1.0\nCommunicates with a Tapewren device to record tapes\n\nReading from $PORT\n"
   "Issue SAVE on the host... OK\nStop the recording chain with spacebar\nFinished!\nTotal bytes saved: 20000\n", "", kAllSent},
  {"MachineTypeOutOfRange", {"-m", "3"}, Port::kDevice, {}, {}, 254, "", "Machine type can be either 0, 1, or 2.\n", kNoFile},
  {"VideoStandardOutOfRange", {"-v", "2"}, Port::kDevice, {}, {}, 253, "", "Video standard can be either 0, or 1.\n", kNoFile},
  {"OnePositionalGivesUsage", {"COM9"}, Port::kNone, {}, {}, 1, "Usage: ", "", kNoFile},
  {"ExistingDumpFileIsLeftAlone", {}, Port::kDevice, {}, {}, 1, "", "Unable to open file $DUMP for write\n", kUntouched},
  {"MissingPortCreatesNoFile", {}, Port::kMissing, {}, {}, 1, "", "Unable to open $PORT\n", kNoFile},
  {"PortThatIsNotATerminal", {}, Port::kNotATerminal, {}, {}, 1, "", "Unable to open $PORT\n", kNoFile, false,
   "COM ports are always devices"},
  {"PortHeldByAnotherProgram", {}, Port::kLocked, {}, {}, 1, "", "Unable to open $PORT\n", kNoFile, false,
   "Wine does not enforce a port's exclusive open"},
  {"SpacebarSendsOneStopRequest", {}, Port::kDevice, in(Stdin::kTerminal),
   {kShake, {Op::kTape, "", 128}, {Op::kType, " "}, {Op::kStopRequest}, kEnd}, 0,
   "Request to stop recording sent\nFinished!\n", "", kAllSent},
  {"CtrlCRestoresTheTerminal", {}, Port::kDevice, in(Stdin::kTerminal),
   {kShake, {Op::kRaw}, {Op::kTape, "", 200}, {Op::kType, "\x03"}}, 128 + SIGINT,
   "Total bytes saved: 200\n", "Recording interrupted by SIGINT\n", kAllSent, true, kNoSignals},
  {"TerminalOfASessionWithoutOne", {}, Port::kDevice, in(Stdin::kForeignTerminal),
   {kShake, {Op::kRaw}, {Op::kTape, "", 64}, {Op::kType, " "}, {Op::kStopRequest}, {Op::kSilent, "", 700}, kEnd}, 0,
   "Request to stop recording sent\nFinished!\n", "", kAllSent, true, "Windows has no controlling terminals"},
  {"CtrlZGivesTheTerminalBack", {}, Port::kDevice, in(Stdin::kForegroundJob),
   {kShake, {Op::kRaw}, {Op::kType, "\x1a"}, {Op::kCooked}, {Op::kResume}, {Op::kRaw}, {Op::kTape, "", 64}, kEnd}, 0,
   "Finished!\n", "", kAllSent, true, kNoJobs},
  {"BackgroundJobLeavesTheTerminalAlone", {}, Port::kDevice, in(Stdin::kBackgroundJob),
   {kShake, {Op::kTape, "", 640}, {Op::kType, " "}, {Op::kSilent, "", 1500}, kEnd}, 0, "Finished!\n", "", kAllSent,
   true, kNoJobs},
  interrupted("SigtermKeepsTheRecording", SIGTERM, "SIGTERM"),
  interrupted("SighupKeepsTheRecording", SIGHUP, "SIGHUP"),
  interrupted("SigquitKeepsTheRecording", SIGQUIT, "SIGQUIT"),
  {"SigtermWhileWaitingForThePrompt", {}, Port::kDevice, {},
   {{Op::kFileCreated}, {Op::kSend, "no prompt here"}, {Op::kSilent, "", 1200}, {Op::kSignal, "", SIGTERM}},
   128 + SIGTERM, "", "", 0, false, kNoSignals},
  {"CtrlCWhileWaitingForThePrompt", {}, Port::kDevice, in(Stdin::kTerminal), {{Op::kFileCreated}, {Op::kType, "\x03"}},
   128 + SIGINT, "", "", 0, true, kNoSignals},
  {"HangUpKeepsTheRecording", {}, Port::kDevice, {}, {kShake, {Op::kTape, "", 3001}, {Op::kHangUp}}, 0,
   "Total bytes saved: 3001\n", "Error reading from $PORT\n", kAllSent, false, "Wine reports an unplugged device as silence"},
  {"FullDiskKeepsTheWholeChunks", {}, Port::kDevice, in(Stdin::kNull, 500), {kShake, {Op::kBurst, "", 640}}, 0, "",
   "Error writing data to file $DUMP\n", 500, false, "no file size limits for a Windows program"},
  // A 45-minute side is about 32 MB of pulse words: all of it arrives, in flat memory.
  // The heap capped at half the tape (the cap, not the peak the kernel counts: that includes
  // the test's own memory, copied at the fork).
  {"TapeSideAtFullSpeedInFlatMemory", {}, Port::kDevice, heap_of(16l << 20), {kShake, {Op::kTape, "", 32l << 20}, kEnd}, 0,
   "Total bytes saved: 33554432\n", "", kAllSent, false, "Wine's own memory would hide the recorder's"},
  closed_stream("ClosedStandardInput", 0),
  closed_stream("ClosedStandardOutput", 1),
  closed_stream("ClosedStandardError", 2),
  {"OutputReaderGoneKeepsRecording", {}, Port::kDevice, in(Stdin::kNull, -1, -1, true),
   kUnwatched + Steps{{Op::kTape, "", 5000}, kEnd}, 0, "", "", kAllSent, false, "a Windows console write just fails"},
};
// clang-format on

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}
std::string windows_path(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}
std::string file_arg(const std::string& path) {
  return kWine ? windows_path(path) : path;
}
std::vector<std::string> command(const std::string& name, std::vector<std::string> args) {
  const std::string exe = env("TAPEWREN_WINDOWS_BUILD") + "/tapewren-" + name + ".exe";
  const std::vector<std::string> start =
      kWine ? std::vector<std::string>{"/usr/bin/timeout", "--foreground", "120", "wine", exe}
            : std::vector<std::string>{program(name)};
  args.insert(args.begin(), start.begin(), start.end());
  return args;
}

// Under Wine: COM5 is the device's pty, whose slave stays open here, raw, so that the line
// exists before Wine opens it.
struct WinePort {
  explicit WinePort(const DeviceEnd& device) {
    slave = open(device.port().c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    unlink(link.c_str());
    EXPECT_EQ(symlink(device.port().c_str(), link.c_str()), 0);
  }
  ~WinePort() {
    close(slave);
    unlink(link.c_str());
  }
  int slave;
  std::string link = env("WINEPREFIX") + "/dosdevices/com5";
};

// The record command, after prompting. Under Wine nothing tells when the port is open: the
// prompt is sent until the command comes back.
Bytes prompt(DeviceEnd& device) {
  if (!kWine) device.wait_configured();
  Bytes command;
  for (int tries = 0; tries < (kWine ? 200 : 1) && command.empty(); ++tries) {
    device.send("Tapewren ready\r\n> ");
    command = device.receive(1, kWine ? 300ms : kPatience);
  }
  return command + device.receive(7);
}

std::string replaced(std::string s, const std::string& port, const std::string& dump) {
  for (const auto& [key, value] : {std::pair{"$PORT", port}, std::pair{"$DUMP", dump}})
    for (auto at = s.find(key); at != std::string::npos; at = s.find(key)) s.replace(at, 5, value);
  return s;
}
std::string text(std::string s) {  // Wine writes text-mode output with Windows line ends
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

class Recorder : public ::testing::TestWithParam<Scenario> {};

TEST_P(Recorder, Run) {
  const Scenario& row = GetParam();
  TempDir dir;
  DeviceEnd device;
  const std::unique_ptr<WinePort> wine_port = kWine ? std::make_unique<WinePort>(device) : nullptr;
  const std::string dump = dir.path("side_a.dmp"), shown_dump = file_arg(dump);
  if (row.dump == kUntouched) write_file(dump, bytes("precious"));
  const std::string port = row.port == Port::kMissing ? (kWine ? "COM7" : dir.path("missing"))
                           : row.port == Port::kNotATerminal ? "/dev/null"
                           : kWine                           ? "COM5"
                                                             : device.port();
  const int holder =
      row.port == Port::kLocked ? open(device.port().c_str(), O_RDWR | O_NOCTTY) : -1;
  if (holder >= 0) {
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  }
  std::vector<std::string> args = row.args;
  if (row.port != Port::kNone) args.insert(args.end(), {port, shown_dump});
  // Now and then Wine fails to start a program at all (exit 1, no output): a run without a
  // conversation is tried again; what the program itself says is not.
  auto child = std::make_unique<Child>(command("record", args), dir, row.options);
  for (int tries = 1;
       row.steps.empty() && tries < 3 && child->wait_exit() == 1 && child->out().empty(); ++tries)
    child = std::make_unique<Child>(command("record", args), dir, row.options);
  const unsigned modes_at_start = child->terminal_modes();
  Bytes sent;
  for (const Step& step : row.steps) {
    SCOPED_TRACE(static_cast<int>(step.op));
    const auto tape = [&](bool wait) {
      sent = sent + recording(static_cast<std::size_t>(step.n), static_cast<unsigned>(sent.size()));
      device.send(Bytes(sent.end() - step.n, sent.end()));
      return !wait || file_reaches(dump, sent.size(), step.n > (1 << 20) ? 120s : kPatience);
    };
    const auto terminal_raw = [&] { return !(child->terminal_modes() & (ICANON | ECHO)); };
    // clang-format off
    switch (step.op) {
      case Op::kHandshake:
      case Op::kPrompt:
        EXPECT_EQ(prompt(device), bytes(step.text));
        EXPECT_EQ(device.line_settings_fault(), "");
        if (step.op == Op::kPrompt) break;
        device.send("OK\r\n");
        EXPECT_TRUE(child->wait_for_out("Stop the recording chain with spacebar"));
        break;
      case Op::kFileCreated: EXPECT_TRUE(eventually([&] { return file_exists(dump); })); break;
      case Op::kSend: device.send(step.text); break;
      case Op::kTape: ASSERT_TRUE(tape(true)); break;
      case Op::kBurst: tape(false); break;
      case Op::kType: child->type(step.text); break;
      case Op::kSignal: kill(child->pid(), static_cast<int>(step.n)); break;
      case Op::kHangUp: device.hang_up(); break;
      case Op::kStopRequest: EXPECT_EQ(device.receive(1), bytes(" ")); break;
      case Op::kSilent: EXPECT_TRUE(device.silent_for(std::chrono::milliseconds(step.n))); break;
      case Op::kRaw: EXPECT_TRUE(eventually(terminal_raw)); break;
      case Op::kCooked: EXPECT_TRUE(eventually([&] { return !terminal_raw(); })); break;
      case Op::kResume: ASSERT_GT(child->foreground_job(), 1); kill(-child->foreground_job(), SIGCONT); break;
    }
    // clang-format on
  }
  EXPECT_EQ(child->wait_exit(), row.exit_code) << child->out() << child->err();
  EXPECT_NE(text(child->out()).find(replaced(row.out, port, shown_dump)), std::string::npos)
      << child->out();
  EXPECT_EQ(text(child->err()), replaced(row.err, port, shown_dump));
  const Bytes expected = row.dump == kUntouched ? bytes("precious")
                         : row.dump >= 0        ? Bytes(sent.begin(), sent.begin() + row.dump)
                                                : sent;
  EXPECT_EQ(file_exists(dump), row.dump != kNoFile);
  EXPECT_TRUE(row.dump == kNoFile || read_bytes(dump) == expected) << "the dump file differs";
  if (row.terminal_restored) {
    EXPECT_EQ(child->terminal_modes(), modes_at_start);
  }
  if (holder >= 0) close(holder);
}

std::vector<Scenario> rows() {
  std::vector<Scenario> rows;
  std::copy_if(kScenarios.begin(), kScenarios.end(), std::back_inserter(rows),
               [](const Scenario& row) { return !kWine || !row.not_under_wine; });
  return rows;
}
INSTANTIATE_TEST_SUITE_P(Table, Recorder, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return std::string(info.param.name); });

using testing::real_tape;

// A TAP file of two synthetic programs, one per loader, written into the folder.
std::string synthetic_tap(const TempDir& dir) {
  const std::vector<synth::TapeFile> files = {
      {synth::Encoding::kStandard, 1, "ONE", Bytes(300, 0x11), 0x0801},
      {synth::Encoding::kCountdown9, 1, "TWO", Bytes(200, 0x22), 0x0801}};
  const std::string path = dir.path("synthetic.tap");
  write_file(path, recording::tap_of(synth::synthesize(files), {}));
  return path;
}

// What the schema's validator says of JSON Lines: "" when every line is valid. Every --json
// output of the tests goes through it.
std::string json_faults(const TempDir& dir, const std::string& lines) {
  static int serial = 0;
  const std::string file = dir.path("lines." + std::to_string(++serial) + ".json");
  write_file(file, bytes(lines));
  const std::string source = TAPEWREN_SOURCE_DIR;
  Child child({"/bin/sh", "-c",
               "/usr/bin/python3 " + source + "/scripts/check-scan-json.py " + source +
                   "/docs/scan-json.schema.json < " + file},
              dir);
  const int code = child.wait_exit();
  return code == 0 ? "" : "status " + std::to_string(code) + ": " + child.err();
}
bool asks_json(const std::string& name, const std::vector<std::string>& args) {
  return !kWine && name == "scan" && std::find(args.begin(), args.end(), "--json") != args.end();
}

struct Outcome {
  int code;
  std::string out, err;
};
Outcome run(const TempDir& dir, const std::string& name, std::vector<std::string> args) {
  Child child(command(name, args), dir);
  const int code = child.wait_exit();
  if (asks_json(name, args)) {
    EXPECT_EQ(json_faults(dir, child.out()), "") << child.out();
  }
  return {code, text(child.out()), text(child.err())};
}

TEST(Convert, RoundTripAndNeverOverwrites) {
  TempDir dir;
  const std::string tap = synthetic_tap(dir), dump = dir.path("t.dmp"), back = dir.path("t.tap");
  EXPECT_EQ(run(dir, "convert", {file_arg(tap), file_arg(dump)}).code, 0);
  EXPECT_EQ(run(dir, "convert", {file_arg(dump), file_arg(back)}).code, 0);
  EXPECT_TRUE(read_bytes(back) == read_bytes(tap));
  // Sound read back: its waves as they start, or, with --invert, from their falling edges.
  const std::string wav = dir.path("t.wav"), plain = dir.path("plain.tap"),
                    flipped = dir.path("flipped.tap");
  EXPECT_EQ(run(dir, "convert", {file_arg(tap), file_arg(wav)}).code, 0);
  EXPECT_EQ(run(dir, "convert", {file_arg(wav), file_arg(plain)}).code, 0);
  EXPECT_EQ(run(dir, "convert", {"--invert", file_arg(wav), file_arg(flipped)}).code, 0);
  EXPECT_GT(read_bytes(plain).size(), 20000u);
  EXPECT_FALSE(read_bytes(flipped) == read_bytes(plain));
  for (const char* taken : {"taken.tap", "taken.wav"}) {
    write_file(dir.path(taken), bytes("keep"));
    EXPECT_EQ(run(dir, "convert", {file_arg(tap), file_arg(dir.path(taken))}).code, 1);
    EXPECT_EQ(read_file(dir.path(taken)), "keep");
  }
}

// Lines but the summary's first, which says how the edges came to be known: a recording being
// written is not read twice to guess them.
std::string without_edges_line(const std::string& out) {
  std::string kept;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("machine ", 0) != 0) kept += line + "\n";
  return kept;
}

// tapewren-scan --follow, started before the recorder has made the dump, prints each file's
// line while the device still holds back what follows it; the terminator split over two reads,
// whose start the recorder cuts off the dump, is never read; its final table is that of --files
// on the finished dump; the recorder says and stores what it does alone.
TEST(Scan, FollowsARecordingWhileItIsMade) {
  TempDir dir;
  synth::TapeWriter writer;
  writer.gap();
  writer.add({synth::Encoding::kStandard, 1, "ONE", Bytes(300, 0x11), 0x0801});
  writer.gap();
  const std::size_t first = writer.words().size();
  writer.add({synth::Encoding::kStandard, 1, "TWO", Bytes(2000, 0x22), 0x1000});
  for (int i = 0; i < 3; ++i) writer.gap();
  const Bytes& tape = writer.words();
  DeviceEnd device;
  const std::unique_ptr<WinePort> wine_port = kWine ? std::make_unique<WinePort>(device) : nullptr;
  const std::string dump = dir.path("side_a.dmp");
  Child scan(command("scan", {"--follow", file_arg(dump)}), dir);
  const std::string waiting =
      "tapewren-scan: " + file_arg(dump) + ": note: not there yet: waiting for it to be made\n";
  ASSERT_TRUE(eventually([&] { return text(scan.err()) == waiting; })) << scan.err();
  Child json(command("scan", {"--follow", "--json", file_arg(dump)}), dir);  // objects as they come
  ASSERT_TRUE(eventually([&] { return text(json.err()) == waiting; })) << json.err();
  Child recorder(command("record", {kWine ? "COM5" : device.port(), file_arg(dump)}), dir);
  EXPECT_EQ(prompt(device), bytes("u 1 0 0\r"));
  device.send("OK\r\n");
  ASSERT_TRUE(recorder.wait_for_out("Stop the recording chain with spacebar"));
  const std::string one =
      "ROM        program   ONE              $0801 $092D   300  ok ok   ok ok   ok\n";
  const std::string two =
      "ROM        program   TWO              $1000 $17D0  2000  ok ok   ok ok   ok\n";
  // The first file and the pause after it: its line comes before anything more is sent.
  device.send(Bytes(tape.begin(), tape.begin() + static_cast<long>(first)));
  ASSERT_TRUE(file_reaches(dump, first));
  const auto shown = [&](const std::string& line) {
    return eventually([&] { return text(scan.out()).find(line) != std::string::npos; });
  };
  EXPECT_TRUE(shown(one)) << scan.out() << scan.err();
  EXPECT_TRUE(eventually([&] { return json.out().find("\"name\":\"ONE\"") != std::string::npos; }))
      << json.out();
  EXPECT_EQ(text(scan.out()).find(two), std::string::npos);
  // The second, but for its last pause's 58 bytes; they go in one read of 64 bytes with the
  // start of the terminator, whose last byte comes in a read of its own.
  const std::size_t held = tape.size() - 58;
  device.send(
      Bytes(tape.begin() + static_cast<long>(first), tape.begin() + static_cast<long>(held)));
  ASSERT_TRUE(file_reaches(dump, held));
  EXPECT_TRUE(shown(two)) << scan.out() << scan.err();
  device.send(Bytes(tape.begin() + static_cast<long>(held), tape.end()) + bytes("OK!\r\n>"));
  ASSERT_TRUE(file_reaches(dump, tape.size() + 6));
  device.send(" ");
  EXPECT_EQ(recorder.wait_exit(), 0);
  EXPECT_NE(text(recorder.out())
                .find("Finished!!\nTotal bytes saved: " + std::to_string(tape.size()) + "\n"),
            std::string::npos)
      << recorder.out() << tape.size();
  EXPECT_EQ(text(recorder.err()), "");
  EXPECT_TRUE(read_bytes(dump) == tape) << "the dump file differs";
  // Ended once the recorder closed the dump, with what --files says of the finished one.
  EXPECT_EQ(scan.wait_exit(), 0) << scan.err();
  const Outcome files = run(dir, "scan", {"--files", file_arg(dump)});
  EXPECT_EQ(files.code, 0);
  EXPECT_EQ(without_edges_line(text(scan.out())), without_edges_line(files.out));
  EXPECT_NE(text(scan.out()).find("(assumed: a file being written is not read twice to guess)"),
            std::string::npos);
  EXPECT_EQ(text(scan.err()), waiting);
  EXPECT_EQ(json.wait_exit(), 0);
  // The same objects, where each file begins and ends too, whatever pieces it came in.
  std::string objects = text(json.out());
  const std::string assumed = "assumed: a file being written is not read twice to guess";
  const auto at = objects.find(assumed);
  ASSERT_NE(at, std::string::npos);
  objects.replace(at, assumed.size(), "guessed from the pulses");
  EXPECT_EQ(objects, run(dir, "scan", {"--json", file_arg(dump)}).out);
}

// A dump that stops growing while the recorder still holds it ends a scan given --idle, with
// the table and summary of what it holds; Ctrl-C ends one without, with the same summary.
TEST(Scan, FollowEndsWhenTheFileStopsGrowingOrOnCtrlC) {
  TempDir dir;
  synth::TapeWriter writer;
  writer.gap();
  writer.add({synth::Encoding::kStandard, 1, "ONE", Bytes(300, 0x11), 0x0801});
  writer.gap();
  const Bytes& tape = writer.words();
  DeviceEnd device;
  const std::unique_ptr<WinePort> wine_port = kWine ? std::make_unique<WinePort>(device) : nullptr;
  const std::string dump = dir.path("side_a.dmp");
  Child recorder(command("record", {kWine ? "COM5" : device.port(), file_arg(dump)}), dir);
  EXPECT_EQ(prompt(device), bytes("u 1 0 0\r"));
  device.send("OK\r\n");
  ASSERT_TRUE(recorder.wait_for_out("Stop the recording chain with spacebar"));
  device.send(tape);
  ASSERT_TRUE(file_reaches(dump, tape.size()));
  const std::string table =
      "  #     offset    time  loader     type      name             start   end  size  header  "
      "data    verdict\n"
      "  1        402    0:06  ROM        program   ONE              $0801 $092D   300  ok ok   "
      "ok ok   ok\n"
      "1 files: 1 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint ";
  Child idle(command("scan", {"--follow", "--idle", "1", file_arg(dump)}), dir);
  EXPECT_EQ(idle.wait_exit(), 0) << idle.err();
  EXPECT_EQ(text(idle.out()).rfind(table, 0), 0u) << idle.out();
  EXPECT_EQ(text(idle.err()), "tapewren-scan: " + file_arg(dump) +
                                  ": note: it did not grow for 1 seconds and is taken as ended; "
                                  "its writer still holds it\n");
  if (!kWine) {  // Wine does not pass a signal on as Ctrl-C
    Child stopped(command("scan", {"--follow", file_arg(dump)}), dir);
    ASSERT_TRUE(eventually([&] { return stopped.out().find(" ONE ") != std::string::npos; }));
    kill(stopped.pid(), SIGINT);
    EXPECT_EQ(stopped.wait_exit(), 130);
    EXPECT_EQ(stopped.out().rfind(table, 0), 0u) << stopped.out();
    EXPECT_EQ(stopped.err(), "tapewren-scan: stopped by SIGINT\n");
  }
  device.send("OK!\r\n> ");
  EXPECT_EQ(recorder.wait_exit(), 0);
  EXPECT_TRUE(read_bytes(dump) == tape);
  // One file, as it is written: not two, not a pipe; --idle only with it.
  const std::string one_file =
      "tapewren-scan: --follow reads one recording file as it is written (a pipe is read as it "
      "comes without it)";
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--follow", file_arg(dump), file_arg(dump)}, one_file},
           {{"--follow", "-"}, one_file},
           {{"--idle", "3", file_arg(dump)}, "tapewren-scan: --idle goes with --follow"}}) {
    const Outcome refused = run(dir, "scan", args);
    EXPECT_EQ(refused.code, 2);
    EXPECT_EQ(refused.err.substr(0, refused.err.find('\n')), message);
  }
}

#if !defined(TAPEWREN_UNDER_WINE)
// At a terminal, while it waits, a status line says how far the recording has come; it is
// taken away before the summary is written.
TEST(Scan, FollowShowsHowFarTheRecordingHasComeAtATerminal) {
  TempDir dir;
  synth::TapeWriter writer;
  writer.gap();
  writer.add({synth::Encoding::kStandard, 1, "ONE", Bytes(300, 0x11), 0x0801});
  writer.gap();
  const std::string dump = dir.path("side_a.dmp");
  const int held = open(dump.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);  // a writer holds it
  ASSERT_GE(held, 0);
  ASSERT_EQ(write(held, writer.words().data(), writer.words().size()),
            static_cast<ssize_t>(writer.words().size()));
  Options terminal;
  terminal.stdin_mode = Stdin::kTerminal;
  terminal.stdout_on_terminal = true;
  Child scan(command("scan", {"--follow", "--idle", "2", dump}), dir, terminal);
  EXPECT_EQ(scan.wait_exit(), 0) << scan.err();
  close(held);
  std::string screen = scan.screen();
  screen.erase(std::remove(screen.begin(), screen.end(), '\r'), screen.end());  // the pty's
  const auto line = screen.find(" ONE "), shown = screen.find(" of tape so far, ");
  const auto summary = screen.find("1 files: 1 ok");
  ASSERT_NE(shown, std::string::npos) << screen;
  EXPECT_LT(line, shown);
  EXPECT_LT(shown, summary);
  // The status, then blanks over it, then the summary.
  const std::string rest = screen.substr(shown, summary - shown);
  EXPECT_NE(rest.find("% recognised; 1 files, 0 bad or incomplete    "), std::string::npos) << rest;
  EXPECT_EQ(rest.substr(rest.size() - 4), "    ") << rest;  // the last one too
}

// A real tape played by the simulator, its name shown live, converted back byte for byte.
TEST(Chain, SimulatorRecorderConverterGiveBackTheTape) {
  TAPEWREN_NEEDS_REAL_TAPES();
  TempDir dir;
  Child sim({program("sim"), "--fast", "--play", real_tape("c64-pal-normal")}, dir);
  const std::string port = sim_port(sim), dump = dir.path("side.dmp");
  Child recorder({program("record"), port, dump}, dir);
  EXPECT_EQ(recorder.wait_exit(), 0);
  EXPECT_EQ(sim.wait_exit(), 0);
  EXPECT_NE(recorder.out().find("Filename intercepted: ROMEO & JULIET\n"), std::string::npos);
  EXPECT_EQ(run(dir, "convert", {dump, dir.path("side.tap")}).code, 0);
  EXPECT_TRUE(read_bytes(dir.path("side.tap")) == read_bytes(real_tape("c64-pal-normal")));
  // The recording and the image it was played from hold the same files.
  const Outcome compared = run(dir, "scan", {"--compare", dump, real_tape("c64-pal-normal")});
  EXPECT_EQ(compared.code, 0) << compared.out;
  EXPECT_NE(compared.out.find("\nthe recordings hold the same "), std::string::npos)
      << compared.out;
  EXPECT_EQ(compared.out.find("differ"), std::string::npos) << compared.out;
}

TEST(Scan, NamesWithWhereTheirHeadersEnd) {
  TempDir dir;
  const auto dump = [&](const std::string& file, std::vector<std::string> names) {
    const synth::Encoding kinds[] = {synth::Encoding::kStandard, synth::Encoding::kCountdown9};
    std::vector<synth::TapeFile> files;
    for (std::size_t i = 0; i < names.size(); ++i)
      files.push_back({kinds[i % 2], 1, names[i], {1, 2}, 0x0801});
    write_file(dir.path(file), synth::synthesize(files));
    return dir.path(file);
  };
  const std::string a = dump("a.dmp", {"ALPHA", "BETA"}), b = dump("b.dmp", {"GAMMA"});
  const Outcome both = run(dir, "scan", {a, dir.path("missing"), b});
  EXPECT_EQ(both.code, 1);
  const auto alpha = both.out.find(a + ": Filename intercepted: ALPHA (header ends at byte ");
  EXPECT_LT(alpha, both.out.find(a + ": Filename intercepted: BETA"));
  EXPECT_LT(both.out.find("BETA"), both.out.find(b + ": Filename intercepted: GAMMA"));
  EXPECT_EQ(both.err, "tapewren-scan: " + dir.path("missing") + ": No such file or directory\n");
  // The dump cut where the line says still holds the header; one byte less does not.
  const Outcome one = run(dir, "scan", {b});
  const std::string lead = "Filename intercepted: GAMMA (header ends at byte ";
  ASSERT_EQ(one.out.rfind(lead, 0), 0u) << one.out;
  const long end = std::stol(one.out.substr(lead.size()));
  const Bytes content = read_bytes(b);
  write_file(dir.path("cut"), Bytes(content.begin(), content.begin() + end));
  write_file(dir.path("short"), Bytes(content.begin(), content.begin() + end - 1));
  EXPECT_EQ(run(dir, "scan", {dir.path("cut")}).out, one.out);
  EXPECT_EQ(run(dir, "scan", {dir.path("short")}).out, "");
  EXPECT_EQ(run(dir, "scan", {}).code, 2);
  EXPECT_EQ(run(dir, "scan", {"--bogus"}).code, 2);
}

// Files decoded, verified and extracted under names every file system takes, nothing
// overwritten, the bad one only on request; the histogram renders as a picture.
TEST(Scan, FilesExtractionAndHistogram) {
  TempDir dir;
  std::vector<synth::TapeFile> files;
  for (const char* name : {"A/B:C", "CON", "DUP", "DUP", "BROKEN"})
    files.push_back({synth::Encoding::kStandard, 1, name, {1, 2, 3}, 0xC000});
  files.back().parity_errors = {{1, 1}, {2, 1}};
  // Nameless turbo files, called after the named file before them (their loader's boot file),
  // their place and address.
  Bytes game(512);
  for (std::size_t i = 0; i < game.size(); ++i) game[i] = static_cast<std::uint8_t>(i * 7);
  files.insert(files.begin() + 3, {synth::Encoding::kOcean, 1, "", game, 0x3000});
  files.insert(files.begin() + 4, {synth::Encoding::kOcean, 1, "", game, 0x5000});
  files[4].with_boot = false;  // the loader is known by then
  write_file(dir.path("tape.dmp"), synth::synthesize(files));
  ASSERT_EQ(mkdir(dir.path("out").c_str(), 0755), 0);
  write_file(dir.path("out/DUP.prg"), bytes("keep"));
  const Outcome r =
      run(dir, "scan",
          {"--extract", dir.path("out"), "--histogram", dir.path("h.svg"), dir.path("tape.dmp")});
  EXPECT_EQ(r.code, 3);  // a bad file
  EXPECT_NE(r.out.find("1e 1e   bad\n", r.out.find("BROKEN")), std::string::npos) << r.out;
  const Bytes prg = {0x00, 0xC0, 1, 2, 3};
  for (const char* name : {"A_B_C.prg", "_CON.prg", "DUP~2.prg", "DUP~3.prg"}) {
    EXPECT_EQ(read_bytes(dir.path("out/") + name), prg) << name;
    EXPECT_NE(r.out.find(std::string("wrote ") + dir.path("out/") + name + " (5 bytes)"),
              std::string::npos);
  }
  Bytes game_prg = {0x00, 0x30};
  game_prg.insert(game_prg.end(), game.begin(), game.end());
  EXPECT_EQ(read_bytes(dir.path("out/OCEAN 005 $3000.prg")), game_prg) << r.out;
  game_prg[1] = 0x50;
  EXPECT_EQ(read_bytes(dir.path("out/OCEAN 006 $5000.prg")), game_prg) << r.out;
  EXPECT_EQ(read_file(dir.path("out/DUP.prg")), "keep");
  EXPECT_FALSE(file_exists(dir.path("out/BROKEN.prg")) ||
               file_exists(dir.path("out/BROKEN (bad).prg")));
  EXPECT_EQ(
      run(dir, "scan", {"--extract", dir.path("bad"), "--keep-bad", dir.path("tape.dmp")}).code, 3);
  EXPECT_TRUE(file_exists(dir.path("bad/BROKEN (bad).prg")));
  // A file whose loader has no checksum and whose boot is not known: whole, but unverified;
  // counted, not extracted unless asked, and not a success.
  write_file(dir.path("alone.dmp"),
             synth::synthesize({{synth::Encoding::kTurbo220, 1, "", game, 0x7000}}));
  const Outcome alone = run(dir, "scan", {"--extract", dir.path("alone"), dir.path("alone.dmp")});
  EXPECT_EQ(alone.code, 3);
  EXPECT_NE(alone.out.find(" $7000 $7200   512          ok      unverified\n1 files: 0 ok, 0 "
                           "repaired, 0 bad, 0 incomplete, 0 named only, 1 unverified;"),
            std::string::npos)
      << alone.out;
  EXPECT_EQ(alone.out.find("wrote"), std::string::npos);
  run(dir, "scan", {"--extract", dir.path("kept"), "--keep-bad", dir.path("alone.dmp")});
  game_prg[1] = 0x70;
  EXPECT_EQ(read_bytes(dir.path("kept/TAPE 001 $7000 (unverified).prg")), game_prg);
  Child render({"/usr/bin/rsvg-convert", dir.path("h.svg"), "-o", dir.path("h.png")}, dir);
  EXPECT_EQ(render.wait_exit(), 0);
  EXPECT_GT(read_bytes(dir.path("h.png")).size(), 1000u);
}

#if !defined(TAPEWREN_UNDER_WINE)
// The files of a folder, by their names in lower case (the field's tools write PETSCII
// letters so).
std::map<std::string, Bytes> folder_files(const std::string& path) {
  std::map<std::string, Bytes> files;
  if (DIR* d = opendir(path.c_str())) {
    while (const dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const Bytes content = read_bytes(path + "/" + name);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      files[name] = content;
    }
    closedir(d);
  }
  return files;
}

// A file in an image: its name as the tools show it (lower case), its type, its blocks on
// the disk, and which file of the tape it holds (its load address and data).
struct Held {
  int blocks;
  std::string name;
  const char* type;
  int file;
};
struct ImageRow {
  const char* name;
  std::vector<synth::TapeFile> tape;
  bool d64_exists;  // an image of that name is there before
  int code;
  std::string err;         // whole; $D64 stands for the image's path
  std::vector<Held> disk;  // in directory order
  int blocks_free;
  std::vector<Held> archive;  // the T64's files
};
void PrintTo(const ImageRow& row, std::ostream* os) {
  *os << row.name;
}

// Never 0x00, where a data file would end.
Bytes pattern(std::size_t size, int seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i)
    b[i] = static_cast<std::uint8_t>(1 + (i * 13 + seed) % 255);
  return b;
}
synth::TapeFile part(const char* name, int seed) {  // a program of 200 blocks, with its address
  return {synth::Encoding::kCountdown9, 1, name, pattern(200 * 254 - 2, seed), 0x0801};
}
synth::TapeFile broken() {
  synth::TapeFile f{synth::Encoding::kStandard, 1, "BROKEN", pattern(100, 9), 0x0801};
  f.parity_errors = {{1, 7}, {2, 7}};
  return f;
}

// clang-format off
const std::vector<ImageRow> kImageRows = {
  {"ProgramsDataFileAndNamesUsedTwice",
   {{synth::Encoding::kStandard, 1, "GAME", pattern(600, 1), 0x0801},
    {synth::Encoding::kStandard, 4, "RECORDS", pattern(382, 2), 0x033C},
    {synth::Encoding::kCountdown9, 1, "DUP", pattern(300, 3), 0x1000},
    broken(),
    {synth::Encoding::kStandard, 1, "DUP", pattern(10, 4), 0xC000}},
   false, 3, "",
   {{3, "game", "prg", 0}, {2, "records", "seq", 1}, {2, "dup", "prg", 2}, {1, "dup~2", "prg", 4}}, 656,
   {{0, "game", "prg", 0}, {0, "records", "seq", 1}, {0, "dup", "prg", 2}, {0, "dup~2", "prg", 4}}},
  {"MoreThanTheDiskHolds",
   {part("PART 1", 1), part("PART 2", 2), part("PART 3", 3), part("PART 4", 4)},
   false, 3, "tapewren-scan: $D64: no room for PART 4 (50800 bytes, 200 blocks)\n",
   {{200, "part 1", "prg", 0}, {200, "part 2", "prg", 1}, {200, "part 3", "prg", 2}}, 64,
   {{0, "part 1", "prg", 0}, {0, "part 2", "prg", 1}, {0, "part 3", "prg", 2}, {0, "part 4", "prg", 3}}},
  {"ExistingImageLeftAlone",
   {{synth::Encoding::kStandard, 1, "ONLY", pattern(50, 5), 0x0801}},
   true, 1, "tapewren-scan: $D64: File exists\n", {}, 0,
   {{0, "only", "prg", 0}}},
  // Saved without a name: called after the name before it, on the disk as in the folder.
  {"NamelessFileNamedAsExtracted",
   {{synth::Encoding::kStandard, 1, "GAME", pattern(100, 6), 0x0801},
    {synth::Encoding::kStandard, 1, "", pattern(100, 7), 0x0801}},
   false, 0, "",
   {{1, "game", "prg", 0}, {1, "game 002 $0801", "prg", 1}}, 662,
   {{0, "game", "prg", 0}, {0, "game 002 $0801", "prg", 1}}},
};
// clang-format on

class Images : public ::testing::TestWithParam<ImageRow> {};

// The images of a tape as the field's tools read them back: cc1541 lists the disk and finds
// it valid, cbmconvert unpacks the disk and the archive; the same files, names, types and
// bytes as --extract writes and as the tape holds, in tape order.
TEST_P(Images, ReadBackByTheFieldsTools) {
  const ImageRow& row = GetParam();
  if (!file_exists("/usr/bin/cc1541") || !file_exists("/usr/bin/cbmconvert"))
    GTEST_SKIP() << "cc1541 or cbmconvert is not installed (scripts/install-deps.sh)";
  TempDir dir;
  write_file(dir.path("side.dmp"), synth::synthesize(row.tape));
  const std::string d64 = dir.path("side.d64"), t64 = dir.path("side.t64");
  if (row.d64_exists) write_file(d64, bytes("keep"));
  const Outcome r = run(
      dir, "scan", {"--extract", dir.path("x"), "--d64", d64, "--t64", t64, dir.path("side.dmp")});
  EXPECT_EQ(r.code, row.code) << r.out << r.err;
  std::string err = row.err;
  if (err.find("$D64") != std::string::npos) err.replace(err.find("$D64"), 4, d64);
  EXPECT_EQ(r.err, err);
  const auto tool = [&](const std::string& line) {
    Child child({"/bin/sh", "-c", line}, dir);
    const int code = child.wait_exit();
    return Outcome{code, child.out(), child.err()};
  };
  const auto held = [&](const Held& h) {
    const synth::TapeFile& f = row.tape[static_cast<std::size_t>(h.file)];
    Bytes b = std::string(h.type) == "prg" ? Bytes{static_cast<std::uint8_t>(f.start_address),
                                                   static_cast<std::uint8_t>(f.start_address >> 8)}
                                           : Bytes{};
    return b + f.data;
  };
  const std::map<std::string, Bytes> extracted = folder_files(dir.path("x"));
  const auto check = [&](const std::string& unpacked, const std::vector<Held>& want) {
    const std::map<std::string, Bytes> got = folder_files(unpacked);
    EXPECT_EQ(got.size(), want.size()) << unpacked;
    for (const Held& h : want) {
      const std::string file = h.name + "." + h.type;
      ASSERT_EQ(got.count(file), 1u) << file << " not in " << unpacked;
      EXPECT_TRUE(got.at(file) == held(h)) << file;
      EXPECT_TRUE(extracted.count(file) == 1 && extracted.at(file) == got.at(file)) << file;
    }
  };
  if (row.d64_exists) {
    EXPECT_EQ(read_file(d64), "keep");
  } else {
    const Outcome valid = tool("cc1541 -V " + d64);
    EXPECT_EQ(valid.code, 0) << valid.err;
    std::string listing;
    for (const Held& h : row.disk) {
      std::string shown = h.name;  // cc1541 shows PETSCII's 0x7E (a pi sign) as ^
      std::replace(shown.begin(), shown.end(), '~', '^');
      char line[64];
      std::snprintf(line, sizeof line, "%-5d%-19s%s \n", h.blocks, ("\"" + shown + "\"").c_str(),
                    h.type);
      listing += line;
    }
    listing += std::to_string(row.blocks_free) + " blocks free.\n\n";
    // The disk's name and ID (from the files), then the directory.
    const std::string list = tool("cc1541 " + d64).out;
    const std::string head = "\n0 \x1b[7m\"side            \" ";
    ASSERT_NE(list.find(head), std::string::npos) << list;
    EXPECT_EQ(list.substr(list.find(head) + head.size() + 2, 7), " 2a\x1b[m\n") << list;
    EXPECT_EQ(list.substr(list.find(head) + head.size() + 9), listing);
    ASSERT_EQ(
        tool("mkdir " + dir.path("d") + " && cd " + dir.path("d") + " && cbmconvert -N -d " + d64)
            .code,
        0);
    check(dir.path("d"), row.disk);
  }
  ASSERT_EQ(
      tool("mkdir " + dir.path("t") + " && cd " + dir.path("t") + " && cbmconvert -N -t " + t64)
          .code,
      0);
  check(dir.path("t"), row.archive);
}
INSTANTIATE_TEST_SUITE_P(Table, Images, ::testing::ValuesIn(kImageRows),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

#if !defined(TAPEWREN_UNDER_WINE)
// A script of the source tree (python3), its standard input from a file.
Outcome script(const TempDir& dir, const std::string& line) {
  Child child({"/bin/sh", "-c",
               "/usr/bin/python3 " + std::string(TAPEWREN_SOURCE_DIR) + "/scripts/" + line},
              dir);
  const int code = child.wait_exit();
  return {code, text(child.out()), text(child.err())};
}

// A side of many kinds of file: good (one with a copy lost), repaired, bad, named only, turbo.
std::vector<synth::TapeFile> mixed_side() {
  Bytes game(700);
  for (std::size_t i = 0; i < game.size(); ++i) game[i] = static_cast<std::uint8_t>(i * 11 + 3);
  std::vector<synth::TapeFile> files = {
      {synth::Encoding::kStandard, 1, "GOOD", Bytes(300, 0x11), 0x0801},
      {synth::Encoding::kStandard, 4, "RECORDS", Bytes(400, 0x41), 0x033C},
      {synth::Encoding::kStandard, 1, "MENDED", Bytes(200, 0x22), 0x0801},
      {synth::Encoding::kStandard, 1, "BROKEN", Bytes(200, 0x33), 0x0801},
      {synth::Encoding::kStandard, 1, "NAME ONLY", Bytes(10, 0x44), 0x0801},
      {synth::Encoding::kStandard, 1, "SAY \"HI\"", Bytes(10, 0x45), 0x0801},
      {synth::Encoding::kCountdown9, 1, "TURBO", game, 0x0801},
      {synth::Encoding::kNovaload, 1, "NOVA", game, 0x4000}};
  files[0].lost_copies = {{1, 2}};
  files[2].parity_errors = {{1, 5}};
  files[3].parity_errors = {{1, 7}, {2, 7}};
  files[4].with_data = false;
  files[5].with_data = false;
  return files;
}

// Every line of --json valid under the schema, by a real validator; the table rebuilt from
// the JSON alone the same as the text report, for every file and recording, an unreadable
// one among them, scanned two at a time and reported in the order given.
TEST(Scan, JsonValidAndTheSameAsTheTable) {
  TempDir dir;
  write_file(dir.path("mixed.dmp"), synth::synthesize(mixed_side()));
  write_file(dir.path("c16.dmp"),
             synth::synthesize({{synth::Encoding::kC16, 1, "PLUS", Bytes(500, 0x55), 0x1001}}));
  std::vector<std::string> inputs = {dir.path("mixed.dmp"), dir.path("missing.tap"),
                                     dir.path("c16.dmp")};
  if (testing::have_real_tapes())
    for (const char* t : {"c64-pal-normal-errors", "plus4-ntsc", "c64-pal-turbo", "vic20-ntsc"})
      inputs.push_back(real_tape(t));
  std::vector<std::string> args = {"--files", "--jobs", "2"};
  args.insert(args.end(), inputs.begin(), inputs.end());
  const Outcome table = run(dir, "scan", args);
  args.insert(args.begin(), "--json");
  const Outcome json = run(dir, "scan", args);
  EXPECT_EQ(json.code, table.code);
  EXPECT_EQ(json.code, 1);  // the missing one
  write_file(dir.path("out.json"), bytes(json.out));
  const Outcome rebuilt =
      script(dir, "check-scan-json.py " + std::string(TAPEWREN_SOURCE_DIR) +
                      "/docs/scan-json.schema.json --table < " + dir.path("out.json"));
  EXPECT_EQ(rebuilt.code, 0) << rebuilt.err;
  EXPECT_EQ(rebuilt.err, "");
  // The text report without its headings and summaries: the lines the JSON must give back.
  std::string expected;
  std::vector<std::string> order;
  for (std::size_t at = 0; at < table.out.size();) {
    const std::size_t end = table.out.find('\n', at);
    const std::string line = table.out.substr(at, end - at);
    at = end + 1;
    if (line.size() > 1 && line.back() == ':') order.push_back(line.substr(0, line.size() - 1));
    if (line.rfind("  #", 0) == 0 || line.rfind("machine ", 0) == 0 || line.back() == ':' ||
        line.find(" not recognised") == line.size() - 15)
      continue;
    expected += line + "\n";
  }
  EXPECT_EQ(rebuilt.out, expected);
  EXPECT_EQ(order, inputs);  // in the order given, whichever finished first
  EXPECT_EQ(json.out.find("\"end_offset\":null"), std::string::npos);  // every file's end known
  // Each recording's objects together, in the order given.
  std::size_t last = 0;
  for (std::size_t at = json.out.find("\"recording\":\""); at != std::string::npos;
       at = json.out.find("\"recording\":\"", at + 1)) {
    const std::size_t from = at + 13, to = json.out.find('"', from);
    const auto which = std::find(inputs.begin(), inputs.end(), json.out.substr(from, to - from));
    ASSERT_NE(which, inputs.end());
    const auto index = static_cast<std::size_t>(which - inputs.begin());
    EXPECT_GE(index, last) << json.out.substr(from, to - from);
    last = index;
  }
  EXPECT_NE(table.out.find("total: " + std::to_string(inputs.size()) +
                           " recordings, 1 unreadable, 1 with bad or incomplete files, 0 without "
                           "files; "),
            std::string::npos)
      << table.out;
  EXPECT_NE(expected.find("  8 "), std::string::npos) << expected;  // the mixed side is there
  EXPECT_NE(
      json.out.find("{\"type\":\"error\",\"version\":1,\"recording\":\"" + dir.path("missing.tap") +
                    "\",\"message\":\"No such file or directory\"}"),
      std::string::npos);
  // A line that breaks the schema is caught (the validator is not a formality).
  write_file(dir.path("wrong.json"), bytes(json.out.substr(0, json.out.find('\n')) + "\n" +
                                           "{\"type\":\"file\",\"version\":1}\n"));
  EXPECT_EQ(script(dir, "check-scan-json.py " + std::string(TAPEWREN_SOURCE_DIR) +
                            "/docs/scan-json.schema.json < " + dir.path("wrong.json"))
                .code,
            1);
}

// The map and the histogram read back as a person reads them, by their axes: each file's
// band in its verdict's colour, white between files; the pulse classes of each loader dark
// (a bar) at their lengths and nothing between them; a line at each mark. Neither picture is
// ever written over a file, and several recordings give a picture each.
TEST(Scan, MapAndHistogramShowTheTape) {
  TempDir dir;
  synth::TapeWriter writer(synth::TapeLayout{});
  std::vector<synth::TapeFile> files = {
      {synth::Encoding::kStandard, 1, "GOOD", Bytes(2000, 0x5A), 0x0801},
      {synth::Encoding::kCountdown9, 1, "FAST", Bytes(6000, 0xA5), 0x0801},
      {synth::Encoding::kStandard, 1, "BROKEN", Bytes(2000, 0x66), 0x0801}};
  files[2].parity_errors = {{1, 900}, {2, 900}};
  for (const auto& f : files) {
    writer.gap();
    writer.add(f);
  }
  writer.gap();
  write_file(dir.path("side.dmp"), writer.words());
  const Outcome r = run(dir, "scan",
                        {"--files", "--map", dir.path("map.svg"), "--histogram", dir.path("h.svg"),
                         dir.path("side.dmp")});
  EXPECT_EQ(r.code, 3);
  Child render({"/usr/bin/rsvg-convert", dir.path("map.svg"), "-o", dir.path("map.png")}, dir);
  ASSERT_EQ(render.wait_exit(), 0);
  // Where each file begins and ends, from the synthesizer; the classes from the formats:
  // ROM 0x30, 0x42, 0x56 and Turbo Tape 0x1A, 0x28 TAP units of 8 cycles.
  const auto at = [&](int file, int block, int copy) {
    for (const auto& p : writer.placed())
      if (p.file == file && p.block == block && p.copy == copy)
        return static_cast<double>(p.half_cycles) / (2 * 985248.0);
    ADD_FAILURE() << file << " " << block;
    return 0.0;
  };
  const auto us = [](int units) { return std::to_string(units * 8 / 0.985248); };
  const std::string data1 = std::to_string((at(0, 1, 1) + at(0, 1, 2)) / 2),
                    data2 = std::to_string(at(1, 1, 1) + 1),
                    between = std::to_string(at(1, 0, 1) - 1.0);
  std::string queries;
  for (const std::string& q :
       {data1 + ",band", between + ",band", data2 + ",band",
        std::to_string((at(2, 1, 1) + at(2, 1, 2)) / 2) + ",band", data1 + "," + us(0x30),
        data1 + "," + us(0x42), data1 + "," + us(0x56), data1 + "," + us(0x3A),
        data1 + "," + us(0x4C), data2 + "," + us(0x1A), data2 + "," + us(0x28),
        data2 + "," + us(0x21), data2 + "," + us(0x42)})
    queries += " " + q;
  const Outcome probe =
      script(dir, "picture-probe.py " + dir.path("map.svg") + " " + dir.path("map.png") + queries);
  ASSERT_EQ(probe.code, 0) << probe.err;
  std::vector<std::string> colours;
  for (std::size_t i = 0; i + 8 <= probe.out.size(); i += 8)
    colours.push_back(probe.out.substr(i, 7));
  ASSERT_EQ(colours.size(), 13u) << probe.out;
  const std::vector<std::string> band = {colours[0], colours[1], colours[2], colours[3]};
  EXPECT_EQ(band, (std::vector<std::string>{"#2ca02c", "#ffffff", "#2ca02c", "#ff7f0e"}));
  for (int i : {4, 5, 6, 9, 10}) EXPECT_NE(colours[i], "#ffffff") << i << " a class";
  for (int i : {7, 8, 11, 12}) EXPECT_EQ(colours[i], "#ffffff") << i << " between classes";
  // The histogram's text: the marks of the loaders that read a file, each after the bin its
  // length falls in and before the next one, empty bins or not.
  const Outcome text = run(dir, "scan", {"--histogram", "-", dir.path("side.dmp")});
  std::string marks;
  double previous = 0;
  bool mark_before = false;
  for (std::size_t at = 0; at < text.out.size(); at = text.out.find('\n', at) + 1) {
    const std::string line = text.out.substr(at, text.out.find('\n', at) - at);
    if (line[0] == '#') continue;
    const double us_at = std::stod(line);
    const bool mark = line.find("<- ") != std::string::npos;
    EXPECT_TRUE(mark || !mark_before ? us_at >= previous : us_at > previous) << line;
    if (mark) marks += line.substr(line.find("<- ") + 3) + "\n";
    previous = us_at;
    mark_before = mark;
  }
  EXPECT_EQ(marks,
            "Turbo Tape 0|1 (threshold)\nROM short\nROM short|medium (threshold)\nROM medium\n"
            "ROM medium|long (threshold)\nROM long\n");
  // The histogram's picture: bars at the classes' lengths, none between them, and a line at
  // each mark where the text puts it.
  Child hist({"/usr/bin/rsvg-convert", dir.path("h.svg"), "-o", dir.path("h.png")}, dir);
  ASSERT_EQ(hist.wait_exit(), 0);
  std::string bars = " " + us(0x1A) + ",bar " + us(0x28) + ",bar " + us(0x30) + ",bar " + us(0x42) +
                     ",bar " + us(0x56) + ",bar " + us(0x21) + ",bar " + us(0x36) + ",bar " +
                     us(0x4A) + ",bar";
  std::size_t mark_count = 0;
  for (std::size_t at = text.out.find("<- "); at != std::string::npos;
       at = text.out.find("<- ", at + 1), ++mark_count)
    bars +=
        " " + std::to_string(std::stod(text.out.substr(text.out.rfind('\n', at) + 1))) + ",mark";
  const Outcome seen = script(dir, "picture-probe.py " + dir.path("h.svg") + " " +
                                       dir.path("h.png") + bars + " " + us(0x3C) + ",mark");
  ASSERT_EQ(seen.code, 0) << seen.err;
  ASSERT_EQ(seen.out.size(), 8 * (8 + mark_count + 1)) << seen.out;
  for (std::size_t i = 0; i < 8 + mark_count + 1; ++i) {
    const bool white = seen.out.substr(8 * i, 7) == "#ffffff";
    EXPECT_EQ(white, (i >= 5 && i < 8) || i == 8 + mark_count) << i << "\n" << seen.out;
  }
  // Never over a file; several recordings, numbered pictures.
  write_file(dir.path("taken.svg"), bytes("keep"));
  const Outcome refused = run(dir, "scan", {"--map", dir.path("taken.svg"), dir.path("side.dmp")});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("File exists"), std::string::npos) << refused.err;
  EXPECT_EQ(read_file(dir.path("taken.svg")), "keep");
  write_file(dir.path("other.dmp"), synth::synthesize({files[0]}));
  EXPECT_EQ(
      run(dir, "scan", {"--map", dir.path("m.svg"), dir.path("side.dmp"), dir.path("other.dmp")})
          .code,
      0);
  EXPECT_NE(read_file(dir.path("m-1.svg")).find("Map of " + dir.path("side.dmp")),
            std::string::npos);
  EXPECT_NE(read_file(dir.path("m-2.svg")).find("Map of " + dir.path("other.dmp")),
            std::string::npos);
  EXPECT_FALSE(file_exists(dir.path("m.svg")));
}

// Folders: their recordings in name order (a TAP file known by its content, whatever its
// name), their folders with -r, other files left alone; a folder with none is an error.
TEST(Scan, FoldersOfRecordings) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.path("box").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.path("box/inner").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.path("empty").c_str(), 0755), 0);
  const auto side = [](const char* name) {
    return synth::synthesize({{synth::Encoding::kStandard, 1, name, Bytes(20, 1), 0x0801}});
  };
  write_file(dir.path("box/b.dmp"), side("B"));
  write_file(dir.path("box/a.tap"), recording::tap_of(side("A"), {}));
  write_file(dir.path("box/c.bin"), recording::tap_of(side("C"), {}));
  write_file(dir.path("box/notes.txt"), bytes("not a tape"));
  write_file(dir.path("box/inner/d.dmp"), side("D"));
  const Outcome flat = run(dir, "scan", {"--jobs=2", dir.path("box")});
  EXPECT_EQ(flat.code, 0) << flat.err;
  EXPECT_EQ(flat.out, dir.path("box/a.tap") + ": Filename intercepted: A" +
                          flat.out.substr(flat.out.find(" (header")));
  std::vector<std::string> seen;
  for (std::size_t at = 0; at < flat.out.size(); at = flat.out.find('\n', at) + 1)
    seen.push_back(flat.out.substr(at, flat.out.find(": ", at) - at));
  EXPECT_EQ(seen, (std::vector<std::string>{dir.path("box/a.tap"), dir.path("box/b.dmp"),
                                            dir.path("box/c.bin")}))
      << flat.out;
  const Outcome deep = run(dir, "scan", {"-r", dir.path("box")});
  EXPECT_NE(deep.out.find(dir.path("box/inner/d.dmp") + ": Filename intercepted: D"),
            std::string::npos)
      << deep.out;
  // Several recordings extract into a folder each, named after the recording.
  EXPECT_EQ(
      run(dir, "scan", {"--extract", dir.path("out"), dir.path("box"), dir.path("box/b.dmp")}).code,
      0);
  const Bytes prg = {0x01, 0x08, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  for (const char* f : {"out/a/A.prg", "out/b/B.prg", "out/c/C.prg", "out/b~2/B.prg"})
    EXPECT_EQ(read_bytes(dir.path(f)), prg) << f;
  const Outcome none = run(dir, "scan", {dir.path("empty")});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.err, "tapewren-scan: " + dir.path("empty") +
                          ": no recordings in it (.dmp, .tap or .wav files, or files that start "
                          "as TAP or WAV files)\n");
}

// Three recordings of one side, each damaged elsewhere, one without the first file: the
// table says which held good copies and what only the merge recovers, the merged files are
// extracted whole; --compare says where the recordings differ.
TEST(Scan, MergeAndCompareRecordingsOfOneSide) {
  TempDir dir;
  Bytes game(900);
  for (std::size_t i = 0; i < game.size(); ++i) game[i] = static_cast<std::uint8_t>(i * 5 + 2);
  const std::vector<std::pair<int, int>> lost[] = {{{1, 3}, {2, 3}}, {{1, 800}, {2, 800}}, {}};
  std::vector<std::string> takes;
  for (int t = 0; t < 3; ++t) {
    std::vector<synth::TapeFile> side = {
        {synth::Encoding::kStandard, 1, "GAME", game, 0x0801},
        {synth::Encoding::kStandard, 1, "LEVEL", Bytes(300, 0x5A), 0x4000},
        {synth::Encoding::kNovaloadSpecial, 1, "", Bytes(game.begin(), game.begin() + 768),
         0x3000}};
    side[0].parity_errors = lost[t];
    side[2].flip_bit = 10 + 290 * t;  // a chain of three blocks, each recording's damaged elsewhere
    if (t == 2) side.erase(side.begin());  // started after the first file
    takes.push_back(dir.path("take" + std::to_string(t + 1) + ".dmp"));
    write_file(takes.back(), synth::synthesize(side));
  }
  const Outcome merged = run(dir, "scan",
                             {"--merge", "--extract", dir.path("out"), "--d64", dir.path("m.d64"),
                              takes[0], takes[1], takes[2]});
  EXPECT_EQ(merged.code, 0) << merged.err;
  const auto crc = [](const Bytes& b) {  // CRC-32, as zip and the report compute it
    std::uint32_t c = 0xFFFFFFFF;
    for (std::uint8_t byte : b) {
      c ^= byte;
      for (int k = 0; k < 8; ++k) c = c & 1 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    char hex[12];
    std::snprintf(hex, sizeof hex, "%08x", ~c);
    return std::string(hex);
  };
  const auto row = [](const std::string& columns, std::string cell) {
    return columns + "  " + cell.append(40 - cell.size(), ' ') + "  ";
  };
  const Bytes chain(game.begin(), game.begin() + 768);
  // Each line whole: the chain's blocks held good by no one recording together.
  for (const std::string& line :
       {"a: " + takes[0] + ": 4 files, 2 good; fingerprint ",
        "\nb: " + takes[1] + ": 5 files, 3 good; fingerprint ",
        "\nc: " + takes[2] + ": 3 files, 2 good; fingerprint ",
        "\n" + row("  # loader     type      name             start   end  size", "copies") +
            "crc32     merged\n" +
            row("  1 ROM        program   GAME             $0801 $0B85   900",
                "a: 1e 1e, b: 1e 1e, c: -") +
            crc(game) + "  repaired (only the merge recovers it)\nwrote " +
            dir.path("out/GAME.prg") + " (902 bytes)\n" +
            row("  2 ROM        program   LEVEL            $4000 $412C   300",
                "a: ok ok, b: ok ok, c: ok ok") +
            crc(Bytes(300, 0x5A)) + "  ok\nwrote " + dir.path("out/LEVEL.prg") + " (302 bytes)\n" +
            row("  3 Novaload S program                    $3000 $3300   768",
                "a: sum+ok+ok, b: ok+sum+ok, c: ok+ok+sum") +
            crc(chain) + "  ok (only the merge recovers it)\nwrote " +
            dir.path("out/LEVEL 003 $3000.prg") + " (770 bytes)\n" +
            "3 files: 2 ok, 1 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint ",
        "\n2 files recovered only by merging\nwrote " + dir.path("m.d64") +
            " (3 files, 654 blocks free)\n"})
    EXPECT_NE(merged.out.find(line), std::string::npos) << line << "\n" << merged.out;
  Bytes prg = {0x01, 0x08};
  prg.insert(prg.end(), game.begin(), game.end());
  EXPECT_EQ(read_bytes(dir.path("out/GAME.prg")), prg);
  // The same as JSON Lines, valid, and giving back the table (its "wrote" lines aside); and the
  // comparison as well.
  for (const char* mode : {"--merge", "--compare"}) {
    SCOPED_TRACE(mode);
    const Outcome text = run(dir, "scan", {mode, takes[0], takes[1], takes[2]});
    const Outcome json = run(dir, "scan", {mode, "--json", takes[0], takes[1], takes[2]});
    EXPECT_EQ(json.code, text.code);
    write_file(dir.path("several.json"), bytes(json.out));
    const Outcome rebuilt =
        script(dir, "check-scan-json.py " + std::string(TAPEWREN_SOURCE_DIR) +
                        "/docs/scan-json.schema.json --table < " + dir.path("several.json"));
    EXPECT_EQ(rebuilt.code, 0) << rebuilt.err;
    EXPECT_EQ(rebuilt.out, text.out);
  }
  // One clean tape of the three: the file and the chain only the merge recovers are on it,
  // read whole by themselves (every copy of GAME written again, the chain's blocks each taken
  // from a recording that read it well).
  const std::string clean = dir.path("side.tap");
  const Outcome cleaned =
      run(dir, "scan", {"--merge", "--clean", file_arg(clean), takes[0], takes[1], takes[2]});
  EXPECT_EQ(cleaned.code, 0) << cleaned.err;
  EXPECT_NE(cleaned.out.find("\n" + file_arg(clean) +
                             ": 3 of 3 good files on the clean tape; 2 blocks taken from other "
                             "recordings, 0 kept as the first recording has them\n"),
            std::string::npos)
      << cleaned.out;
  const Outcome back = run(dir, "scan", {"--files", file_arg(clean)});
  EXPECT_EQ(back.code, 0);
  for (const std::string line :
       {"ROM        program   GAME             $0801 $0B85   900  ok ok   ok ok   ok\n",
        "ROM        program   LEVEL            $4000 $412C   300  ok ok   ok ok   ok\n",
        "Novaload S program                    $3000 $3300   768          ok      ok\n",
        "\n3 files: 3 ok, 0 repaired, 0 bad"})
    EXPECT_NE(back.out.find(line), std::string::npos) << line << back.out;
  const Outcome alone = run(dir, "scan", {"--clean", file_arg(dir.path("x.tap")), takes[0]});
  EXPECT_EQ(alone.code, 2);
  EXPECT_EQ(alone.err.substr(0, alone.err.find('\n')),
            "tapewren-scan: --clean goes with --merge (one recording: tapewren-convert --clean)");
  // One recording at a time gives the same; one that cannot be read stops the merge.
  EXPECT_EQ(run(dir, "scan", {"--merge", "--jobs", "1", takes[0], takes[1], takes[2]}).out,
            run(dir, "scan", {"--merge", takes[0], takes[1], takes[2]}).out);
  const Outcome missing =
      run(dir, "scan", {"--merge", takes[0], dir.path("missing.dmp"), takes[2]});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err,
            "tapewren-scan: " + dir.path("missing.dmp") + ": No such file or directory\n");
  // Two recordings that lose the same byte: bad, exit 3, nothing extracted without --keep-bad.
  const Outcome same_spot =
      run(dir, "scan", {"--merge", "--extract", dir.path("bad"), takes[0], takes[0]});
  EXPECT_EQ(same_spot.code, 3);
  EXPECT_NE(same_spot.out.find("  bad (1 bytes not recovered)\n"), std::string::npos)
      << same_spot.out;
  EXPECT_FALSE(file_exists(dir.path("bad/GAME.prg")));
  const Outcome compared = run(dir, "scan", {"--compare", takes[0], takes[2]});
  EXPECT_EQ(compared.code, 3);
  EXPECT_NE(compared.out.find("a: bad, b: -              not good in every recording\n"),
            std::string::npos)
      << compared.out;
  EXPECT_NE(compared.out.find("a: " + crc(Bytes(300, 0x5A)) + ", b: " + crc(Bytes(300, 0x5A)) +
                              "  same\n"),
            std::string::npos)
      << compared.out;
  EXPECT_NE(compared.out.find("the recordings differ in 2 of 3 files\n"), std::string::npos);
  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{"--merge", takes[0]},
        {"--merge", "--map", dir.path("m.svg"), takes[0], takes[1]},
        {"--compare", "--extract", dir.path("x"), takes[0], takes[1]},
        {"--merge", "--compare", takes[0], takes[1]}})
    EXPECT_EQ(run(dir, "scan", wrong).code, 2) << wrong[1];
}

// Three recordings of a turbo file, each with a bit flipped in another of three bytes close
// together and a pilot of its own length: none holds it good, and the clean tape of their
// merge holds it pieced together.
TEST(Scan, MergeCleanPiecesABlockTogether) {
  TempDir dir;
  Bytes data(600);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::vector<std::string> takes;
  for (int t = 0; t < 3; ++t) {
    synth::TapeFile file{synth::Encoding::kTurbotape526, 1, "GAME", data, 0x4000};
    file.flip_bit = 300 + 3 * t;
    file.pilot_bytes = 256 + 40 * t;  // each deck started at another place of the pilot
    synth::TapeLayout layout;
    layout.speed = 0.98 + 0.02 * t;
    layout.seed = static_cast<std::uint32_t>(t + 3);
    takes.push_back(dir.path("take" + std::to_string(t + 1) + ".dmp"));
    write_file(takes.back(), synth::synthesize({file}, layout));
  }
  const std::string clean = dir.path("side.tap");
  const Outcome cleaned =
      run(dir, "scan", {"--merge", "--clean", file_arg(clean), takes[0], takes[1], takes[2]});
  EXPECT_EQ(cleaned.code, 0) << cleaned.err;
  EXPECT_NE(cleaned.out.find("\n" + file_arg(clean) +
                             ": 1 of 1 good files on the clean tape; 1 blocks taken from other "
                             "recordings (1 of them pieced together from several), 0 kept as "
                             "the first recording has them\n"),
            std::string::npos)
      << cleaned.out;
  const Outcome back = run(dir, "scan", {"--files", file_arg(clean)});
  EXPECT_EQ(back.code, 0) << back.out;
  EXPECT_NE(back.out.find("Turbo 526  program   GAME             $4000 $4258   600  ok      ok "
                          "     ok\n"),
            std::string::npos)
      << back.out;
}
#endif

// A usage error as the tools print it: what was wrong, and where to look.
std::string usage_error(const std::string& tool, const std::string& what) {
  return "tapewren-" + tool + ": " + what + "\nTry 'tapewren-" + tool +
         " --help' for more information.\n";
}

// The conventions every tool keeps: help and version on standard output with status 0; a
// usage error on standard error, with what was wrong, a line pointing at --help, and status
// 2; values given as --name VALUE or --name=VALUE; machines and video by name.
TEST(Tools, CommandLineConventions) {
  TempDir dir;
  const std::string tap = file_arg(synthetic_tap(dir));
  struct Row {
    const char* tool;
    std::vector<std::string> args;
    int code;
    std::string out_has, err;
  };
  // clang-format off
  const std::vector<Row> rows = {
    {"scan", {"--version"}, 0, "tapewren-scan 1.0\n", ""},
    {"convert", {"--version"}, 0, "tapewren-convert 1.0\n", ""},
    {"sim", {"--version"}, 0, "tapewren-sim 1.0\n", ""},
    {"scan", {"-h"}, 0, "Usage: tapewren-scan [options] RECORDING|FOLDER...\n", ""},
    {"convert", {"--help"}, 0, "Usage: tapewren-convert [options] IN OUT\n", ""},
    {"sim", {"-h"}, 0, "Usage: tapewren-sim [options] [FILE]\n", ""},
    {"scan", {"--histogram"}, 2, "", usage_error("scan", "option --histogram needs a value")},
    {"convert", {"--rate"}, 2, "", usage_error("convert", "option --rate needs a value")},
    {"sim", {"--bogus"}, 2, "", usage_error("sim", "unknown option --bogus")},
    {"scan", {"--files=yes", tap}, 2, "", usage_error("scan", "option --files takes no value")},
    {"scan", {"--jobs=0", tap}, 2, "", usage_error("scan", "--jobs needs a number from 1 to 256")},
    {"convert", {"-m", "c17", tap, file_arg(dir.path("x.dmp"))}, 2, "", usage_error("convert", "-m needs c64, vic20 or c16 (0, 1 or 2)")},
    {"scan", {}, 2, "", usage_error("scan", "no recording named")},
    {"scan", {"--files", "--machine=vic20", "-v", "ntsc", tap}, 0, "\nmachine VIC20 NTSC (given), ", ""},
    // A C64 tape read as a C16's: its loaders do not run there, and nothing is found.
    {"scan", {"--files", "-m", "plus4", "--video=1", tap}, 4, "\nmachine C16 NTSC (given), ", ""},
    {"scan", {"--files", "--machine", "0", "--", tap}, 0, "\nmachine C64 PAL (given), ", ""},
    // The loaders chosen reach the decoder: without the ROM loader, or with Turbo Tape's only,
    // the ROM file is not found and the Turbo Tape file still is.
    {"scan", {"--files", "--without=rom", tap}, 0, "\n  1      27374    0:25  Turbo Tape program   TWO              $0801 $08C9   200  ok      ok      ok\n1 files: 1 ok, 0 repaired", ""},
    {"scan", {"--files", "--only", "turbo tape", tap}, 0, "\n  1      27374    0:25  Turbo Tape program   TWO              $0801 $08C9   200  ok      ok      ok\n1 files: 1 ok, 0 repaired", ""},
    {"scan", {"--only=ROM,Nope", tap}, 2, "", usage_error("scan", "no loader is called \"Nope\" (--loaders lists them)")},
    {"scan", {"--loaders"}, 0, "\nTurbo Tape   C64         one pulse a bit, MSB first   ", ""},
    {"convert", {"--machine=vic20", "--video=ntsc", tap, file_arg(dir.path("v.dmp"))}, 0, "", "tapewren-convert: note: the TAP header says platform 0, using -m 1\n"},
  };
  // clang-format on
  for (const Row& r : rows) {
    std::string what = r.tool;
    for (const auto& a : r.args) what += " " + a;
    SCOPED_TRACE(what);
    const Outcome o = run(dir, r.tool, r.args);
    EXPECT_EQ(o.code, r.code);
    if (r.out_has.empty()) {
      EXPECT_EQ(o.out, "");
    }
    EXPECT_NE(o.out.find(r.out_has), std::string::npos) << o.out;
    EXPECT_EQ(o.err, r.err);
  }
  EXPECT_TRUE(file_exists(dir.path("v.dmp")));
}

// A report that could not be written is no success, whatever the tool and whatever it was
// asked for: "write error" with the reason and status 1, as ls > /dev/full says.
TEST(Tools, ReportThatCannotBeWrittenFails) {
  TempDir dir;
  const std::string tap = synthetic_tap(dir);
  for (const std::vector<std::string>& line :
       std::vector<std::vector<std::string>>{{"scan", "--files", "--json", tap},
                                             {"scan", "--merge", tap, tap},
                                             {"scan", "--histogram", "-", tap},
                                             {"scan", "--help"},
                                             {"scan", "--loaders"},
                                             {"convert", "--version"},
                                             {"sim", "--help"}}) {
    std::string shell = "exec " + program(line[0]);
    for (std::size_t i = 1; i < line.size(); ++i) shell += " '" + line[i] + "'";
    SCOPED_TRACE(shell);
    Child child({"/bin/sh", "-c", shell + " > /dev/full"}, dir);
    EXPECT_EQ(child.wait_exit(), 1);
    EXPECT_EQ(child.err(), "tapewren-" + line[0] + ": write error: No space left on device\n");
  }
}

// A real tape as sound in several formats, measured back from the samples: the header's
// fields, the first half wave's polarity, and every wave starting on the sample nearest the
// tape's own pulse, pauses silent, all along the tape.
TEST(Convert, TapesAsSound) {
  TAPEWREN_NEEDS_REAL_TAPES();
  TempDir dir;
  const auto le = [](const Bytes& b, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
  };
  struct Case {
    const char* tape;
    std::vector<std::string> options;
    double clock;
    std::uint32_t rate, bits;
    bool half_waves, invert;
  };
  // clang-format off
  for (const Case& c : std::vector<Case>{
           {"c64-pal-normal", {}, 985248, 44100, 16, false, false},
           {"c64-pal-turbo", {}, 985248, 44100, 16, false, false},
           {"vic20-ntsc", {"-m", "1", "--rate", "22050", "--bits", "8"}, 1108405, 22050, 8, false, false},
           {"plus4-pal", {"-m", "2", "-v", "1", "-b", "--rate", "192000"}, 894886, 192000, 16, true, false},
           {"c64-pal-normal-errors", {"--invert", "--rate", "48000"}, 985248, 48000, 16, false, true},
           {"plus4-ntsc", {}, 886724, 44100, 16, false, false}}) {  // the machine its loader tells
    // clang-format on
    SCOPED_TRACE(c.tape);
    const std::string dump = dir.path(std::string(c.tape) + ".dmp");
    ASSERT_EQ(run(dir, "convert", {real_tape(c.tape), dump}).code, 0);
    const Bytes words = read_bytes(dump);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {dump, dir.path(std::string(c.tape) + ".wav")});
    ASSERT_EQ(run(dir, "convert", args).code, 0);
    const Bytes wav = read_bytes(args.back());
    EXPECT_EQ(
        std::string(wav.begin(), wav.begin() + 4) + std::string(wav.begin() + 8, wav.begin() + 16),
        "RIFFWAVEfmt ");
    EXPECT_EQ((std::vector<std::uint32_t>{le(wav, 4, 4), le(wav, 20, 2), le(wav, 22, 2),
                                          le(wav, 24, 4), le(wav, 28, 4), le(wav, 34, 2)}),
              (std::vector<std::uint32_t>{static_cast<std::uint32_t>(wav.size() - 8), 1, 1, c.rate,
                                          c.rate * c.bits / 8, c.bits}));
    const std::size_t data_end = 44 + le(wav, 40, 4);  // an odd size has a pad byte after it
    EXPECT_EQ(wav.size(), data_end + data_end % 2);
    std::vector<int> level;  // each sample: +1 high, -1 low, 0 silent
    for (std::size_t at = 44; at < data_end; at += c.bits / 8) {
      const int v = c.bits == 16 ? static_cast<std::int16_t>(le(wav, at, 2)) : wav[at] - 128;
      level.push_back((v > 0) - (v < 0));
    }
    const int first = *std::find_if(level.begin(), level.end(), [](int l) { return l != 0; });
    EXPECT_EQ(first, c.invert ? -1 : 1);
    std::vector<std::size_t> edges;  // where a wave (or a half wave) begins after the first
    for (std::size_t i = 1; i < level.size(); ++i)
      if (level[i] != 0 && level[i] != level[i - 1] && (c.half_waves || level[i] == first))
        edges.push_back(i);
    std::vector<double> starts;  // where the tape's pulses begin, in samples; pauses are silence
    double half_cycles = 0, pending = 0;
    for (std::size_t i = 0; i + 1 < words.size(); i += 2) {
      const int word = words[i] | words[i + 1] << 8;
      pending += word;
      if (word == 0xFFFF) continue;  // the pulse goes on
      if (pending < 0xFFFF && half_cycles > 0)
        starts.push_back(half_cycles * c.rate / (2 * c.clock));
      half_cycles += pending;
      pending = 0;
    }
    ASSERT_EQ(edges.size(), starts.size());
    for (std::size_t k = 0; k < edges.size(); ++k)
      ASSERT_LE(std::fabs(static_cast<double>(edges[k]) - starts[k]), 1.0) << k;
  }
}

TEST(Convert, OptionsAndRefusals) {
  TempDir dir;
  write_file(dir.path("in.dmp"), {0x00, 0x03, 0x10, 0x04});
  ASSERT_EQ(
      run(dir, "convert", {"-m", "1", "-v", "1", dir.path("in.dmp"), dir.path("vic.tap")}).code, 0);
  EXPECT_EQ(read_bytes(dir.path("vic.tap")),
            bytes("C64-TAPE-RAW") + Bytes({1, 1, 1, 0, 2, 0, 0, 0, 48, 65}));
  ASSERT_EQ(run(dir, "convert", {"-b", "-m", "2", dir.path("in.dmp"), dir.path("c16.tap")}).code,
            0);
  EXPECT_EQ(read_file(dir.path("c16.tap")).substr(0, 13), std::string("C16-TAPE-RAW\x02"));
  ASSERT_EQ(run(dir, "convert", {"-m", "2", dir.path("in.dmp"), dir.path("whole.tap")}).code, 0);
  EXPECT_EQ(read_file(dir.path("whole.tap")).substr(0, 13), std::string("C16-TAPE-RAW\x01"));
}

// The shared test tapes' program, extracted, made into a tape for each machine and in Turbo
// Tape: each loads back as the same program, the same fingerprint.
TEST(Convert, TestTapesProgramMadeIntoTapes) {
  TAPEWREN_NEEDS_REAL_TAPES();
  TempDir dir;
  ASSERT_EQ(
      run(dir, "scan", {"--extract", file_arg(dir.path("out")), real_tape("c64-pal-normal")}).code,
      0);
  const std::string prg = dir.path("out/ROMEO & JULIET.prg");
  ASSERT_TRUE(file_exists(prg));
  const std::string want = run(dir, "scan", {"--files", real_tape("c64-pal-normal")}).out;
  const auto fingerprint = [](const std::string& out) {
    const auto at = out.find("fingerprint ");
    return at == std::string::npos ? std::string() : out.substr(at + 12, 8);
  };
  for (const std::vector<std::string>& how :
       {std::vector<std::string>{}, {"--turbo"}, {"-m", "vic20"}, {"-m", "c16"}}) {
    std::string name = "made";
    for (const auto& h : how) name += h;
    SCOPED_TRACE(name);
    std::vector<std::string> args = how;
    args.insert(args.end(), {file_arg(prg), file_arg(dir.path(name + ".wav"))});
    ASSERT_EQ(run(dir, "convert", args).code, 0);
    const Outcome back = run(dir, "scan", {"--files", file_arg(dir.path(name + ".wav"))});
    EXPECT_EQ(back.code, 0) << back.out;
    EXPECT_EQ(fingerprint(back.out), fingerprint(want));
    EXPECT_NE(back.out.find("ROMEO & JULIET   $0801 $0ABF   702"), std::string::npos) << back.out;
  }
}

// A recording cleaned as the README shows it: the test tape whose first data copy failed
// parity comes back whole, its report saying what was rewritten; a clean tape as sound reads
// the same; what --clean cannot do is refused.
TEST(Convert, CleanTapes) {
  TAPEWREN_NEEDS_REAL_TAPES();
  TempDir dir;
  const std::string clean = dir.path("clean.tap");
  Outcome o = run(dir, "convert", {"--clean", real_tape("c64-pal-normal-errors"), file_arg(clean)});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, file_arg(clean) +
                       ": 1 of 1 files rewritten with nominal pulses (0 of them at lengths "
                       "learned from the tape, 1 damaged copies written again from their "
                       "repeats); 100.0 % of the pulses rewritten, the rest (pauses, what no "
                       "loader read, the files above) as recorded\n");
  const std::string line =
      "ROM        program   ROMEO & JULIET   $0801 $0ABF   702  ok ok   ok ok   ok\n";
  o = run(dir, "scan", {"--files", file_arg(clean)});
  EXPECT_NE(o.out.find(line), std::string::npos) << o.out;
  ASSERT_EQ(run(dir, "convert",
                {"--clean", "--rate", "48000", real_tape("c64-pal-turbo"),
                 file_arg(dir.path("turbo.wav"))})
                .code,
            0);
  o = run(dir, "scan", {"--files", file_arg(dir.path("turbo.wav"))});
  EXPECT_NE(
      o.out.find("Turbo Tape program   ROMEO & JULIET   $0801 $0ABF   702  ok      ok      ok\n"),
      std::string::npos)
      << o.out;
  o = run(dir, "convert", {"--clean", real_tape("c64-pal-normal"), file_arg(clean)});
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.err, "tapewren-convert: " + file_arg(clean) + ": File exists\n");
  write_file(dir.path("p.prg"), {0x01, 0x08, 0x00});
  o = run(dir, "convert", {"--clean", file_arg(dir.path("p.prg")), file_arg(dir.path("x.tap"))});
  EXPECT_EQ(o.code, 2);
  EXPECT_EQ(o.err, usage_error("convert", "--clean is for converting a recording"));
}

// Tapes made from programs, as a user makes them: PRG and SEQ files into a TAP file, whose
// files go to a D64 and a T64 that make a sound and a dump of the same files again; what
// cannot be made is refused with nothing written.
TEST(Convert, TapesFromPrograms) {
  TempDir dir;
  Bytes game = {0x01, 0x08}, code = {0x00, 0xC0}, notes;
  for (int i = 0; i < 700; ++i) game.push_back(static_cast<std::uint8_t>(i * 5));
  for (int i = 0; i < 90; ++i) code.push_back(static_cast<std::uint8_t>(i ^ 0x5A));
  for (int i = 0; i < 200; ++i) notes.push_back(static_cast<std::uint8_t>('a' + i % 26));
  write_file(dir.path("Space Game.prg"), game);
  write_file(dir.path("code.PRG"), code);
  write_file(dir.path("notes.seq"), notes);
  const std::string made = dir.path("made.tap");
  Outcome o = run(dir, "convert",
                  {file_arg(dir.path("Space Game.prg")), file_arg(dir.path("code.PRG")),
                   file_arg(dir.path("notes.seq")), file_arg(made)});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out + o.err, "");
  const std::string table =
      "ROM        program   SPACE GAME       $0801 $0ABD   700  ok ok   ok ok   ok\n"
      "ROM        program   CODE             $C000 $C05A    90  ok ok   ok ok   ok\n"
      "ROM        data file NOTES                          200  ok ok   ok ok   ok (ends at its "
      "first 0x00, byte 200 of 382)\n";
  // The table's columns after where and when each file begins.
  const auto columns = [](const std::string& out) {
    std::string cut;
    for (std::size_t at = 0, end = 0; at < out.size() && out[at] == ' '; at = end + 1) {
      end = out.find('\n', at);
      if (std::isdigit(static_cast<unsigned char>(out[at + 2])))  // not the table's title
        cut += out.substr(at + 24, end - at - 23);
    }
    return cut;
  };
  o = run(dir, "scan",
          {"--files", "--d64", file_arg(dir.path("side.d64")), "--t64",
           file_arg(dir.path("side.t64")), file_arg(made)});
  EXPECT_EQ(o.code, 0) << o.out;
  EXPECT_EQ(columns(o.out), table);
  EXPECT_EQ(read_bytes(made).size() > 20 ? read_bytes(made)[12] : 0, 1);  // TAP version 1
  for (const std::string image : {"side.d64", "side.t64"}) {
    SCOPED_TRACE(image);
    const std::string sound = dir.path(image + ".wav");
    ASSERT_EQ(run(dir, "convert", {file_arg(dir.path(image)), file_arg(sound)}).code, 0);
    o = run(dir, "scan", {"--files", file_arg(sound)});
    EXPECT_EQ(columns(o.out), table);
  }
  // Turbo Tape: programs only, on a C64.
  o = run(dir, "convert",
          {"--turbo", file_arg(dir.path("Space Game.prg")), file_arg(dir.path("t.dmp"))});
  ASSERT_EQ(o.code, 0) << o.err;
  o = run(dir, "scan", {"--files", file_arg(dir.path("t.dmp"))});
  EXPECT_EQ(columns(o.out),
            "Turbo Tape program   SPACE GAME       $0801 $0ABD   700  ok      ok      ok\n");
  struct Refused {
    std::vector<std::string> args;
    int code;
    std::string err;
  };
  write_file(dir.path("stub.prg"), {0x01, 0x08});
  // clang-format off
  for (const Refused& r : std::vector<Refused>{
           {{"--turbo", file_arg(dir.path("notes.seq")), file_arg(dir.path("x.tap"))}, 1,
            "tapewren-convert: \"NOTES\": a SEQ file: Turbo Tape carries programs only: nothing written\n"},
           {{file_arg(dir.path("stub.prg")), file_arg(dir.path("x.tap"))}, 1,
            "tapewren-convert: \"STUB\": no program in it (2 bytes, its load address and nothing more); not put on the tape: nothing written\n"},
           {{file_arg(dir.path("missing.prg")), file_arg(dir.path("x.tap"))}, 1,
            "tapewren-convert: " + file_arg(dir.path("missing.prg")) + ": No such file or directory: nothing written\n"},
           {{file_arg(dir.path("Space Game.prg")), file_arg(made)}, 1,
            "tapewren-convert: " + file_arg(made) + ": File exists\n"},
           {{"-m", "vic20", "--turbo", file_arg(dir.path("code.PRG")), file_arg(dir.path("x.tap"))}, 2,
            usage_error("convert", "--turbo makes a C64 tape: Turbo Tape 250 is the C64's")},
           {{file_arg(dir.path("code.PRG")), file_arg(made), file_arg(dir.path("x.tap"))}, 2,
            usage_error("convert", file_arg(made) + ": not a program (.prg, .seq) or an image (.t64, .d64); a recording is converted on its own")},
           {{"--turbo", file_arg(made), file_arg(dir.path("x.dmp"))}, 2,
            usage_error("convert", "--turbo is for a tape made from programs")},
           {{"-b", file_arg(dir.path("code.PRG")), file_arg(dir.path("x.tap"))}, 2,
            usage_error("convert", "-b is for converting a recording")}}) {
    // clang-format on
    std::string what;
    for (const auto& a : r.args) what += " " + a;
    SCOPED_TRACE(what);
    o = run(dir, "convert", r.args);
    EXPECT_EQ(o.code, r.code);
    EXPECT_EQ(o.err, r.err);
    EXPECT_FALSE(file_exists(dir.path("x.tap")) || file_exists(dir.path("x.dmp")));
  }
  // -m vic20: the TAP header names the VIC20, and the scan reads it as one.
  ASSERT_EQ(run(dir, "convert",
                {"-m", "vic20", file_arg(dir.path("code.PRG")), file_arg(dir.path("vic.tap"))})
                .code,
            0);
  EXPECT_EQ(read_bytes(dir.path("vic.tap"))[13], 1);
  o = run(dir, "scan", {"--files", file_arg(dir.path("vic.tap"))});
  EXPECT_NE(o.out.find("\nmachine VIC20 PAL (from the TAP header)"), std::string::npos) << o.out;
  EXPECT_EQ(columns(o.out),
            "ROM        program   CODE             $C000 $C05A    90  ok ok   ok ok   ok\n");
}

// Every real tape through a dump and back with the commands the README shows comes back byte
// for byte: `tapewren-convert game.tap game.dmp`, then `tapewren-convert game.dmp back.tap`,
// with -m where the header names another machine than its tape's loader (the Plus/4 tapes'
// C64 header) and -v ntsc where it says NTSC. So do the C16's own TAP files, of half waves
// (version 2, C16-TAPE-RAW, platform 2, as its emulators write them; made here from the
// Plus/4 tapes), with no option at all: the dump does not say what they are, the pulses do.
TEST(Convert, RealTapesComeBackThroughADump) {
  TAPEWREN_NEEDS_REAL_TAPES();
  TempDir dir;
  struct Case {
    std::string name, tap;
    std::vector<std::string> back;  // the options the way back needs
  };
  std::vector<Case> cases;
  DIR* d = opendir(TAPEWREN_TAPES_DIR);
  ASSERT_NE(d, nullptr);
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".tap") != 0) continue;
    const std::string path = std::string(TAPEWREN_TAPES_DIR) + "/" + name;
    Case c{name, path, {}};
    if (name.rfind("testtape-plus4", 0) == 0) c.back = {"-m", "c64"};
    if (read_bytes(path).at(14) == 1) c.back.insert(c.back.end(), {"-v", "ntsc"});
    cases.push_back(c);
  }
  closedir(d);
  for (const char* plus4 : {"plus4-pal", "plus4-ntsc"}) {
    const Bytes whole = read_bytes(real_tape(plus4));
    Bytes halves = bytes("C16-TAPE-RAW") + Bytes{2, 2, 0, 0, 0, 0, 0, 0};
    for (std::size_t i = recording::kTapHeaderSize; i < whole.size(); ++i) {
      if (whole[i] == 0) {  // a pause stays one
        halves.insert(halves.end(), whole.begin() + static_cast<long>(i),
                      whole.begin() + static_cast<long>(i) + 4);
        i += 3;
        continue;
      }
      const auto first = static_cast<std::uint8_t>(std::max(whole[i] / 2, 1));
      halves.insert(halves.end(), {first, static_cast<std::uint8_t>(whole[i] - first)});
    }
    const auto length = static_cast<std::uint32_t>(halves.size() - recording::kTapHeaderSize);
    for (int k = 0; k < 4; ++k) halves[16 + k] = static_cast<std::uint8_t>(length >> (8 * k));
    const std::string name = std::string("c16-") + plus4 + "-halves.tap";
    write_file(dir.path(name), halves);
    cases.push_back({name, dir.path(name), {}});
  }
  ASSERT_GT(cases.size(), 2u) << "no tape in " TAPEWREN_TAPES_DIR;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dump = dir.path(c.name + ".dmp"), back = dir.path(c.name + ".back.tap");
    ASSERT_EQ(run(dir, "convert", {c.tap, dump}).code, 0);
    std::vector<std::string> args = c.back;
    args.insert(args.end(), {dump, back});
    const Outcome way_back = run(dir, "convert", args);
    EXPECT_EQ(way_back.code, 0) << way_back.err;
    EXPECT_TRUE(read_bytes(back) == read_bytes(c.tap));
  }
}

// Hostile inputs and conditions against the real tools. Each row: what is in the scratch
// folder ($D) before, the command, standard input, the exit code, standard error (whole, or
// its start when the row's text ends in "..."), and everything in the folder afterwards: what
// was there, unchanged, and the outputs named, with their bytes or the start of them.
// Contents are made when a row runs: the test process stays small, as the memory of the
// programs it starts begins with its own.
using Make = Bytes (*)();
enum class Special { kNone, kFifo, kLocked };
struct Given {
  std::string name;
  Make content;                      // nullptr: a folder
  std::string link_to = {};          // a symbolic link to this instead
  Special special = Special::kNone;  // a FIFO instead; or a folder that no one may read
};
// kRefused: the input, more than the tool may read before it refuses it, must not all be taken.
enum class Feed { kNone, kWhole, kPartThenSignal, kRefused };
struct Output {
  std::string name;
  Make content;         // nullptr: a folder
  bool prefix = false;  // content is how the file starts
};
struct Hostile {
  const char* name;
  std::string program;
  std::vector<std::string> args;
  std::vector<Given> given;
  int exit_code;
  std::string err;
  std::vector<Output> outputs = {};
  Options options = {};
  Feed feed = Feed::kNone;
  Make input = nullptr;  // fed to standard input
  int signal = 0;
  std::string out = {};  // must appear in standard output
};
void PrintTo(const Hostile& row, std::ostream* os) {
  *os << row.name;
}

// Two small programs, one per loader.
Bytes side() {
  return synth::synthesize({{synth::Encoding::kStandard, 1, "ONE", Bytes(300, 0x11), 0x0801},
                            {synth::Encoding::kCountdown9, 1, "TWO", Bytes(200, 0x22), 0x0801}});
}
// Enough pulses that writing their sound takes a while.
Bytes long_side() {
  Bytes out;
  const Bytes one = side();
  while (out.size() < (2u << 20)) out = out + one;
  return out;
}
Bytes tap_of_side() {
  return recording::tap_of(side(), {});
}
// A program whose data's second copy was lost to a dropout.
Bytes lost_copy_side() {
  synth::TapeFile f{synth::Encoding::kStandard, 1, "ONE", Bytes(300, 0x11), 0x0801};
  f.lost_copies = {{1, 2}};
  return synth::synthesize({f});
}
// One program alone, and the file --extract makes of it.
Bytes one_file_tap() {
  return recording::tap_of(
      synth::synthesize({{synth::Encoding::kStandard, 1, "ONE", Bytes(300, 0x11), 0x0801}}), {});
}
Bytes one_prg() {
  return Bytes{0x01, 0x08} + Bytes(300, 0x11);
}
Bytes tap_signature() {
  return bytes("C64-TAPE-RAW");
}
// The same as sound, as a sound card would have recorded it.
Bytes wav_of_side() {
  const Bytes dump = side();
  io::MemorySink sink;
  audio::WavWriter wav({}, 2 * 985248, sink);
  for (std::size_t i = 0; i + 1 < dump.size(); i += 2) {
    const auto p = static_cast<std::uint64_t>(dump[i] | dump[i + 1] << 8);
    wav.pulse(p, p >= recording::kContinues);
  }
  wav.finish();
  return sink.bytes;
}
// Sound as our writer makes it: a 44.1 kHz, 16-bit mono WAV file of the pulses.
Bytes wav_of_pulses(const std::vector<std::uint64_t>& pulses, bool invert) {
  io::MemorySink sink;
  audio::WavFormat format;
  format.invert = invert;
  audio::WavWriter wav(format, 2 * 985248, sink);
  for (const auto p : pulses) wav.pulse(p, p >= recording::kContinues);
  wav.finish();
  return sink.bytes;
}
std::vector<std::uint64_t> pulses_of_side() {
  const Bytes dump = side();
  std::vector<std::uint64_t> out;
  for (std::size_t i = 0; i + 1 < dump.size(); i += 2)
    out.push_back(static_cast<std::uint64_t>(dump[i] | dump[i + 1] << 8));
  return out;
}
// A WAV file's RIFF and data sizes, set from its length.
Bytes with_sizes(Bytes wav) {
  const auto set = [&](std::size_t at, std::size_t v) {
    for (int i = 0; i < 4; ++i)
      wav[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  set(4, wav.size() - 8);
  set(40, wav.size() - 44);
  return wav;
}
// Two seconds of waves of 0.3 to 1.5 ms, the other way round, right before a file of the side
// with no silence between: their polarity decides that file's stretch. Before the first file
// only, or before both.
Bytes misleading_starts(bool inverted, bool before_both) {
  std::vector<std::uint64_t> noise;
  std::uint32_t random = 5;
  for (int i = 0; i < 2000; ++i) {
    random = random * 1664525u + 1013904223u;
    noise.push_back(600 + (random >> 8) % 2400);
  }
  // The side's files, each from its first wave on, with the silence after it.
  std::vector<std::vector<std::uint64_t>> files;
  bool in_pause = true;
  for (const auto p : pulses_of_side()) {
    const bool wave = p > 0 && p < 0xFFFF;
    if (wave && in_pause) files.emplace_back();
    in_pause = !wave && (in_pause || p >= 0xFFFF);
    if (!files.empty()) files.back().push_back(p);
  }
  Bytes wav;
  const auto add = [&](const Bytes& sound) {  // its samples, after the header
    wav.insert(wav.end(), sound.begin() + (wav.empty() ? 0 : 44), sound.end());
  };
  for (std::size_t f = 0; f < files.size(); ++f) {
    if (f == 0 || before_both) add(wav_of_pulses(noise, !inverted));
    add(wav_of_pulses(files[f], inverted));
  }
  return with_sizes(std::move(wav));
}
Bytes misleading_start() {
  return misleading_starts(false, false);
}
Bytes misleading_starts_of_both() {
  return misleading_starts(false, true);
}
Bytes misleading_starts_of_both_inverted() {
  return misleading_starts(true, true);
}
// Stereo: a loud 1 kHz tone on the left, the side at half its level on the right.
Bytes side_on_the_right() {
  const Bytes mono = wav_of_side();
  Bytes wav(mono.begin(), mono.begin() + 44);
  wav[22] = 2;                       // channels
  wav[32] = 4;                       // bytes a frame
  const std::uint32_t rate = 44100;  // bytes a second: twice
  for (int i = 0; i < 4; ++i) wav[28 + i] = static_cast<std::uint8_t>((rate * 4) >> (8 * i));
  for (std::size_t at = 44, n = 0; at + 1 < mono.size(); at += 2, ++n) {
    const auto tone = static_cast<std::int16_t>(n % 44 < 22 ? 30000 : -30000);
    const auto right =
        static_cast<std::int16_t>(static_cast<std::int16_t>(mono[at] | mono[at + 1] << 8) / 2);
    for (const std::int16_t v : {tone, right})
      wav.insert(wav.end(), {static_cast<std::uint8_t>(v),
                             static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8)});
  }
  return with_sizes(std::move(wav));
}
Bytes inverted_wav_of_side() {
  return wav_of_pulses(pulses_of_side(), true);
}
Bytes with_tap_version(Bytes tap, std::uint8_t version) {
  tap[12] = version;
  return tap;
}
Bytes words(std::uint16_t w, std::size_t n) {
  Bytes out;
  for (std::size_t i = 0; i < n; ++i)
    out.insert(out.end(), {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)});
  return out;
}
Bytes long_entries(std::size_t n) {  // a TAP file of n pulses of 0xFFFFFF cycles
  Bytes body;
  for (std::size_t i = 0; i < n; ++i) body.insert(body.end(), {0, 0xFF, 0xFF, 0xFF});
  recording::TapHeader h;
  h.length = static_cast<std::uint32_t>(body.size());
  return recording::make_tap_header(h) + body;
}
Bytes side_then_long_entries() {  // a tape, then a pause of over 2 hours
  Bytes tap = tap_of_side();
  const Bytes pauses = long_entries(16384);
  tap.insert(tap.end(), pauses.begin() + recording::kTapHeaderSize, pauses.end());
  recording::TapHeader h;
  h.length = static_cast<std::uint32_t>(tap.size() - recording::kTapHeaderSize);
  const Bytes header = recording::make_tap_header(h);
  std::copy(header.begin(), header.end(), tap.begin());
  return tap;
}
Bytes cut(Bytes b, std::size_t n) {
  b.resize(b.size() - n);
  return b;
}
Bytes taken() {
  return bytes("taken");
}
std::vector<Given> dup_names() {  // DUP.prg, DUP~2.prg ... DUP~999.prg, all taken
  std::vector<Given> g = {{"out/DUP.prg", taken}};
  for (int n = 2; n <= 999; ++n) g.push_back({"out/DUP~" + std::to_string(n) + ".prg", taken});
  return g;
}
Bytes dup_tape() {
  return synth::synthesize({{synth::Encoding::kStandard, 1, "DUP", {1, 2, 3}, 0xC000},
                            {synth::Encoding::kStandard, 1, "DUP", {4, 5}, 0xC000}});
}
Options unprivileged() {
  Options o;
  o.unprivileged = true;
  return o;
}
Bytes two_prg() {  // side()'s second file, as --extract writes it
  return Bytes{0x01, 0x08} + Bytes(200, 0x22);
}
Bytes nameless_after_game() {  // a program saved without a name after one named in colour
  return synth::synthesize({{synth::Encoding::kStandard, 1, "\x1cGAME", {1, 2}, 0x0801},
                            {synth::Encoding::kStandard, 1, "", {3, 4}, 0x0801}});
}
Options stdin_pipe() {
  Options o;
  o.stdin_mode = Stdin::kPipe;
  return o;
}
Options file_limit(long bytes) {
  Options o;
  o.file_size_limit = bytes;
  o.ignore_sigxfsz = false;  // the tool must mind the signal itself
  return o;
}
// The heap may not grow past a few MiB: what a tool holds must not depend on its input.
Options memory_limit() {
  Options o;
  o.data_limit = 8l << 20;
  return o;
}
// No thread can be started: the calling thread does all the work.
Options no_threads() {
  Options o;
  o.unprivileged = true;
  o.process_limit = 1;
  return o;
}
// Room for the program and a few threads' stacks (8 MiB each), not for eight.
Options address_space_of(long bytes) {
  Options o;
  o.address_space_limit = bytes;
  return o;
}
std::vector<Given> sides(int n) {  // $D/1.dmp ... $D/n.dmp
  std::vector<Given> g;
  for (int i = 1; i <= n; ++i) g.push_back({std::to_string(i) + ".dmp", side});
  return g;
}
std::vector<std::string> files_of_sides(int n, const std::string& jobs) {
  std::vector<std::string> args = {"--files", "--jobs", jobs};
  for (int i = 1; i <= n; ++i) args.push_back("$D/" + std::to_string(i) + ".dmp");
  return args;
}
const std::string kOnlyOneJob =
    "only 1 of 3 jobs could be started (Resource temporarily unavailable); going on with 1\n";
const std::string kNote = "tapewren-convert: note: $D/";
const std::string kNothingWritten =
    ": the sound would be over 4 GiB, more than one WAV file holds; nothing written\n";

Bytes c16_side() {
  return synth::synthesize({{synth::Encoding::kC16, 1, "PLUS", Bytes(100, 0x33), 0x1001}});
}
Bytes c16_tap_with(bool c16_signature, std::uint8_t platform) {
  recording::TapHeader h;
  h.c16_signature = c16_signature;
  h.platform = platform;
  return recording::tap_of(c16_side(), h);
}
Bytes bad_side() {
  return synth::synthesize(
      {{synth::Encoding::kStandard, 1, "BAD", Bytes(30, 1), 0x0801, {}, {}, true}});
}
Bytes halves_side() {
  synth::TapeLayout both;
  both.both_edges = true;
  return synth::synthesize({{synth::Encoding::kStandard, 1, "ONE", Bytes(300, 0x11), 0x0801}},
                           both);
}
Bytes not_a_tape() {  // a picture, say
  Bytes out(5000);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
  return out;
}
const std::string kC16Summary = "machine C16 PAL (guessed from the loaders found)";
// A C16 tape recorded with both edges: a game of 16 KiB, whose first file ends past the first
// MiB of its dump.
Bytes c16_halves() {
  synth::TapeLayout both;
  both.both_edges = true;
  return synth::synthesize({{synth::Encoding::kC16, 1, "PLUS", Bytes(16384, 0x33), 0x1001}}, both);
}
Bytes c16_tap_v2() {  // the same as the C16's emulators write it
  recording::TapHeader h;
  h.version = 2;
  h.platform = 2;
  h.c16_signature = true;
  return recording::tap_of(c16_halves(), h);
}
Bytes blank_tap() {  // a TAP header, no pulses
  return recording::make_tap_header({});
}
Bytes noise() {  // 8 MiB as /dev/urandom gives them, the same every run
  Bytes out(8u << 20);
  std::uint32_t x = 2463534242u;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return out;
}
Bytes noise_tap() {  // a valid header, random pulses
  Bytes data = noise();
  data.resize(2u << 20);
  recording::TapHeader h;
  h.length = static_cast<std::uint32_t>(data.size());
  return recording::make_tap_header(h) + data;
}
const std::string kNoTape =
    " pulses at a tape's bit lengths); --force converts it all the same; nothing written\n";

// Two games with one loader that load to the same addresses, as one publisher's are; the
// first recorded from its first file's data repeat on.
std::vector<synth::TapeFile> game(int step, bool from_repeat = false) {
  Bytes data(1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * step + 1);
  std::vector<synth::TapeFile> side = {
      {synth::Encoding::kStandard, 1, "GAME", Bytes(200, 0x21), 0x0801},
      {synth::Encoding::kNovaloadSpecial, 1, "", data, 0x0800}};
  if (from_repeat) side[0].lost_copies = {{0, 1}, {0, 2}, {1, 1}};
  return side;
}
Bytes dig() {
  return synth::synthesize(game(7));
}
Bytes dig_from_repeat() {
  return synth::synthesize(game(7, true));
}
Bytes other_game() {
  return synth::synthesize(game(11));
}

// clang-format off
const std::vector<Hostile> kHostile = {
  {"C16SignatureWithPlatform0IsNoted", "scan", {"--files", "$D/plus.tap"}, {{"plus.tap", [] { return c16_tap_with(true, 0); }}},
   0, "tapewren-scan: $D/plus.tap: note: a C16-TAPE-RAW header with platform 0: taken as C16\n", {}, {}, Feed::kNone, nullptr, 0,
   "  1         24    0:07  C16 ROM    program   PLUS             $1001 $1065   100  ok ok   ok ok   ok\n"},
  {"UnknownPlatformIsNoted", "scan", {"--files", "$D/odd.tap"}, {{"odd.tap", [] { return c16_tap_with(false, 200); }}},
   0, "tapewren-scan: $D/odd.tap: note: unknown platform 200 in the TAP header: taken as C64\n"
      "tapewren-scan: $D/odd.tap: note: the TAP header says C64, the tape holds C16 blocks\n", {}, {}, Feed::kNone, nullptr, 0, kC16Summary},
  // The converter reads a TAP header by the scanner's rule: the C16 tape stays a C16 tape.
  {"ConvertTakesTheC16SignatureAsScanDoes", "convert", {"$D/plus.tap", "$D/again.tap"}, {{"plus.tap", [] { return c16_tap_with(true, 0); }}},
   0, "tapewren-convert: note: $D/plus.tap: a C16-TAPE-RAW header with platform 0: taken as C16\n",
   {{"again.tap", [] { Bytes b = bytes("C16-TAPE-RAW"); b.insert(b.end(), {1, 2, 0}); return b; }, true}}},
  {"HistogramAloneJudgesNothing", "scan", {"--histogram", "$D/h.svg", "$D/bad.dmp"}, {{"bad.dmp", bad_side}},
   0, "", {{"h.svg", [] { return bytes("<svg"); }, true}}},
  {"BadFileExits3", "scan", {"--files", "$D/bad.dmp"}, {{"bad.dmp", bad_side}}, 3, "", {}, {}, Feed::kNone, nullptr, 0,
   "1 files: 0 ok, 0 repaired, 1 bad, 0 incomplete, 0 named only"},
  {"NoFileAtAllExits4", "scan", {"--files", "$D/picture.jpg"}, {{"picture.jpg", not_a_tape}}, 4, "", {}, {}, Feed::kNone, nullptr, 0,
   "0 files: 0 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint 00000000\n"},
  {"WrongEdgeModeSaysSo", "scan", {"--files", "-b", "$D/side.dmp"}, {{"side.dmp", side}}, 4, "", {}, {}, Feed::kNone, nullptr, 0,
   "half waves (both edges) (given)\n"},
  {"ForgottenEdgeModeIsGuessed", "scan", {"--files", "$D/halves.dmp"}, {{"halves.dmp", halves_side}}, 0, "", {}, {}, Feed::kNone, nullptr, 0,
   "ok ok   ok ok   ok\n1 files: 1 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint c6d5f262\n"
   "machine C64 PAL (assumed), half waves (both edges) (guessed from the pulses)\n"},
  {"HistogramOverAnInputIsRefused", "scan", {"--histogram", "$D/side.svg", "$D/side.svg"}, {{"side.svg", tap_of_side}},
   1, "tapewren-scan: $D/side.svg: File exists\n"},
  {"HistogramThroughALinkIsRefused", "scan", {"--histogram", "$D/link.svg", "$D/side.dmp"}, {{"side.dmp", side}, {"target", [] { return bytes("precious"); }}, {"link.svg", nullptr, "target"}},
   1, "tapewren-scan: $D/link.svg: File exists\n"},
  {"HistogramThroughADanglingLinkIsRefused", "scan", {"--histogram", "$D/link.svg", "$D/side.dmp"}, {{"side.dmp", side}, {"link.svg", nullptr, "nowhere"}},
   1, "tapewren-scan: $D/link.svg: File exists\n"},
  // Two jobs whatever the processors: the two pictures are written at once (make test-tsan).
  {"OneHistogramForEachRecording", "scan", {"--jobs", "2", "--histogram", "$D/h.svg", "$D/a.dmp", "$D/b.dmp"}, {{"a.dmp", side}, {"b.dmp", side}},
   0, "", {{"h-1.svg", [] { return bytes("<svg"); }, true}, {"h-2.svg", [] { return bytes("<svg"); }, true}}},
  {"MergeOfTwoTapesIsRefused", "scan", {"--merge", "--extract", "$D/out", "$D/a.dmp", "$D/b.dmp"}, {{"a.dmp", dig}, {"b.dmp", other_game}},
   1, "tapewren-scan: the recordings are not of one side: none holds most of another's files; --force merges them all the same\n"},
  {"AnotherTapeAmongThreeIsNamed", "scan", {"--merge", "$D/a.dmp", "$D/b.dmp", "$D/c.dmp"}, {{"a.dmp", dig}, {"b.dmp", other_game}, {"c.dmp", dig_from_repeat}},
   1, "tapewren-scan: $D/b.dmp: not of the side the other recordings hold; --force merges it all the same\n"},
  {"TwoTapesMergedWhenForced", "scan", {"--merge", "--force", "$D/a.dmp", "$D/b.dmp"}, {{"a.dmp", dig}, {"b.dmp", other_game}},
   0, "", {}, {}, Feed::kNone, nullptr, 0,
   "  2 Novaload S program                    $0800 $0C00  1024  a: ok, b: ok        0e00d889  repaired (conflict at byte 1, 1008 bytes in all)\n"},
  {"ManyRecordingsKeepTheirLinesShort", "scan", {"--merge", "$D/a.dmp", "$D/b.dmp", "$D/c.dmp", "$D/d.dmp", "$D/e.dmp", "$D/f.dmp", "$D/g.dmp", "$D/h.dmp", "$D/i.dmp", "$D/j.dmp", "$D/k.dmp", "$D/l.dmp"},
   {{"a.dmp", dig}, {"b.dmp", dig}, {"c.dmp", dig}, {"d.dmp", dig}, {"e.dmp", dig}, {"f.dmp", dig}, {"g.dmp", dig}, {"h.dmp", dig_from_repeat},
    {"i.dmp", dig}, {"j.dmp", dig}, {"k.dmp", dig}, {"l.dmp", dig}},
   0, "", {}, {}, Feed::kNone, nullptr, 0,
   "  # loader     type      name             start   end  size  crc32     merged\n"
   "  1 ROM        program   GAME             $0801 $08C9   200  bbd96bd8  ok\n"
   "     a: ok ok, b: ok ok, c: ok ok, d: ok ok, e: ok ok, f: ok ok, g: ok ok, h: - ok,\n"
   "     i: ok ok, j: ok ok, k: ok ok, l: ok ok\n"
   "  2 Novaload S program                    $0800 $0C00  1024  0e00d889  ok\n"
   "     a: ok, b: ok, c: ok, d: ok, e: ok, f: ok, g: ok, h: ok, i: ok, j: ok, k: ok, l: ok\n"
   "2 files: 2 ok,"},
  {"RecordingFromTheDataRepeatHoldsThatFile", "scan", {"--merge", "$D/a.dmp", "$D/b.dmp"}, {{"a.dmp", dig}, {"b.dmp", dig_from_repeat}},
   0, "", {}, {}, Feed::kNone, nullptr, 0,
   "b: $D/b.dmp: 2 files, 1 good; fingerprint 963baac6\n"
   "  # loader     type      name             start   end  size  copies             crc32     merged\n"
   "  1 ROM        program   GAME             $0801 $08C9   200  a: ok ok, b: - ok  bbd96bd8  ok\n"
   "  2 Novaload S program                    $0800 $0C00  1024  a: ok, b: ok       0e00d889  ok\n"
   "2 files: 2 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint 963baac6\n"
   "0 files recovered only by merging\n"},
  // Several recordings extract into a folder each, named as a program is: never a name that
  // climbs out of the folder, hides, is a device on Windows or holds a control code; never
  // through a link.
  {"RecordingNamedWithDotsStaysInTheFolder", "scan", {"--extract", "$D/out", "$D/in"},
   {{"in/...tap", one_file_tap}, {"in/x.tap", one_file_tap}, {"out", nullptr}}, 0, "",
   {{"out/recording/ONE.prg", one_prg}, {"out/x/ONE.prg", one_prg}}},
  {"RecordingFolderNamesAreCleaned", "scan", {"--extract", "$D/out", "$D/in"},
   {{"in/\n.tap", one_file_tap}, {"in/ .tap", one_file_tap}, {"in/..tap", one_file_tap}, {"in/CON.tap", one_file_tap}},
   0, "", {{"out/_/ONE.prg", one_prg}, {"out/recording/ONE.prg", one_prg}, {"out/recording~2/ONE.prg", one_prg},
           {"out/_CON/ONE.prg", one_prg}}},
  {"RecordingFolderThatIsALinkIsNotFollowed", "scan", {"--extract", "$D/out", "$D/in"},
   {{"in/x.tap", one_file_tap}, {"in/y.tap", one_file_tap}, {"elsewhere", nullptr}, {"out/x", nullptr, "../elsewhere"}},
   1, "tapewren-scan: $D/out/x: a symbolic link: nothing is written through it\n", {{"out/y/ONE.prg", one_prg}}},
  // A report lost is no success: a full disk, a closed standard output.
  {"ReportPastAFileSizeLimitFails", "scan", {"--files", "$D/side.dmp"}, {{"side.dmp", side}},
   1, "tapewren-scan: write error: File too large\n", {}, file_limit(100)},
  {"ReportToAClosedOutputFails", "scan", {"--json", "$D/side.dmp"}, {{"side.dmp", side}},
   1, "tapewren-scan: write error: Bad file descriptor\n", {}, in(Stdin::kNull, -1, 1)},
  // The JSON keeps its schema: a copy not found has the state "", not the table's "-".
  {"MissingCopyKeepsTheSchema", "scan", {"--json", "$D/lost.dmp"}, {{"lost.dmp", lost_copy_side}},
   0, "", {}, {}, Feed::kNone, nullptr, 0, "{\"found\":false,\"state\":\"\",\"complete\":false,"},
  // Nothing is skipped in silence, nothing said is untrue.
  {"FolderSkipsAreTold", "scan", {"$D/box"},
   {{"box/a.tap", one_file_tap}, {"box/pipe", nullptr, "", Special::kFifo}, {"box/zero.tap", nullptr, "/dev/zero"},
    {"box/gone.tap", nullptr, "nowhere"}},
   0, "tapewren-scan: $D/box/gone.tap: note: a link to nothing: skipped\n"
      "tapewren-scan: $D/box/pipe: note: a pipe, not a file: skipped\n"
      "tapewren-scan: $D/box/zero.tap: note: a device, not a file: skipped\n",
   {}, {}, Feed::kNone, nullptr, 0, "$D/box/a.tap: Filename intercepted: ONE (header ends at byte "},
  {"UnreadableSubfolderIsNamed", "scan", {"-r", "$D/box"},
   {{"box/a.tap", one_file_tap}, {"box/inner", nullptr, "", Special::kLocked}},
   1, "tapewren-scan: $D/box/inner: Permission denied\n", {}, unprivileged(), Feed::kNone, nullptr, 0,
   "$D/box/a.tap: Filename intercepted: ONE"},
  {"FolderWithoutRecordingsNamesWav", "scan", {"$D/box"}, {{"box", nullptr}}, 1,
   "tapewren-scan: $D/box: no recordings in it (.dmp, .tap or .wav files, or files that start as TAP or WAV files)\n"},
  {"BadFileOutranksNothingFound", "scan", {"--files", "$D/bad.dmp", "$D/picture.jpg"},
   {{"bad.dmp", bad_side}, {"picture.jpg", not_a_tape}}, 3, "", {}, {}, Feed::kNone, nullptr, 0,
   "total: 2 recordings, 0 unreadable, 1 with bad or incomplete files, 1 without files;"},
  {"MapNamedPngIsRefused", "scan", {"--map", "$D/m.png", "$D/side.dmp"}, {{"side.dmp", side}},
   2, usage_error("scan", "$D/m.png: --map draws an SVG picture: its name must end in .svg")},
  {"HistogramNamedPngIsRefused", "scan", {"--histogram", "$D/h.png", "$D/side.dmp"}, {{"side.dmp", side}},
   2, usage_error("scan", "$D/h.png: --histogram draws an SVG picture: its name must end in .svg")},
  {"UsageErrorPointsAtHelp", "scan", {"--bogus", "$D/side.dmp"}, {{"side.dmp", side}},
   2, "tapewren-scan: unknown option --bogus\nTry 'tapewren-scan --help' for more information.\n"},
  {"ExtractedAgainLeavesTheSameFileAlone", "scan", {"--extract", "$D/out", "$D/side.dmp"},
   {{"side.dmp", side}, {"out/ONE.prg", one_prg}, {"out/TWO.prg", taken}},
   0, "", {{"out/TWO~2.prg", two_prg}}, {}, Feed::kNone, nullptr, 0,
   "same as $D/out/ONE.prg, left as it is\n"},
  {"NamelessFileCalledAfterTheNameBefore", "scan", {"--extract", "$D/out", "$D/side.dmp"},
   {{"side.dmp", nameless_after_game}}, 0, "",
   {{"out/GAME.prg", [] { return Bytes{0x01, 0x08, 1, 2}; }}, {"out/GAME 002 $0801.prg", [] { return Bytes{0x01, 0x08, 3, 4}; }}}},
  // Threads the system will not start make the scan slower, never end it.
  {"JobsThatCannotStartLeaveTheCallerToScan", "scan", files_of_sides(3, "3"), sides(3),
   0, "tapewren-scan: note: " + kOnlyOneJob, {}, no_threads(), Feed::kNone, nullptr, 0,
   "total: 3 recordings, 0 unreadable, 0 with bad or incomplete files, 0 without files; 6 files: 6 ok, "},
  {"MergeWhenNoJobCanStart", "scan", {"--merge", "--jobs", "3", "$D/a.dmp", "$D/b.dmp", "$D/c.dmp"},
   {{"a.dmp", dig}, {"b.dmp", dig_from_repeat}, {"c.dmp", dig}},
   0, "tapewren-scan: note: " + kOnlyOneJob, {}, no_threads(), Feed::kNone, nullptr, 0,
   "2 files: 2 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint 963baac6\n"
   "0 files recovered only by merging\n"},
  // How many threads fit depends on the program's size; that some do not, and that those that
  // do leave room for the work, does not.
  {"JobsBeyondTheAddressSpaceLeaveRoomToScan", "scan", files_of_sides(8, "8"), sides(8),
   0, "tapewren-scan: note: only ...", {}, address_space_of(64l << 20), Feed::kNone, nullptr, 0,
   "total: 8 recordings, 0 unreadable, 0 with bad or incomplete files, 0 without files; 16 files: 16 ok, "},
  {"ExistingTapLeftAlone", "convert", {"$D/side.dmp", "$D/taken.tap"}, {{"side.dmp", side}, {"taken.tap", [] { return bytes("keep"); }}},
   1, "tapewren-convert: $D/taken.tap: File exists\n"},
  {"ExistingWavLeftAlone", "convert", {"$D/side.dmp", "$D/taken.wav"}, {{"side.dmp", side}, {"taken.wav", [] { return bytes("keep"); }}},
   1, "tapewren-convert: $D/taken.wav: File exists\n"},
  // The folder the files go to appears once the scan is ready for a signal; a tone of long
  // pulses puts no file in it.
  {"SigintWhileScanningEndsWithItsStatus", "scan", {"--files", "--extract", "$D/x", "/dev/stdin"}, {}, 128 + SIGINT,
   "tapewren-scan: stopped by SIGINT\n", {{"x", nullptr}}, stdin_pipe(), Feed::kPartThenSignal,
   [] { return Bytes(2u << 20, 0x30); }, SIGINT},
  {"SigintWhileWritingSoundLeavesNothing", "convert", {"/dev/stdin", "$D/side.wav"}, {}, 128 + SIGINT,
   "tapewren-convert: stopped by SIGINT: $D/side.wav not written\n", {}, stdin_pipe(), Feed::kPartThenSignal, long_side, SIGINT},
  {"SigtermWhileWritingATapLeavesNothing", "convert", {"/dev/stdin", "$D/side.tap"}, {}, 128 + SIGTERM,
   "tapewren-convert: stopped by SIGTERM: $D/side.tap not written\n", {}, stdin_pipe(), Feed::kPartThenSignal, long_side, SIGTERM},
  {"SighupWhileWritingADumpLeavesNothing", "convert", {"/dev/stdin", "$D/side.dmp"}, {}, 128 + SIGHUP,
   "tapewren-convert: stopped by SIGHUP: $D/side.dmp not written\n", {}, stdin_pipe(), Feed::kPartThenSignal,
   [] { return recording::tap_of(long_side(), {}); }, SIGHUP},
  {"FileSizeLimitStopsAConversion", "convert", {"$D/side.dmp", "$D/side.wav"}, {{"side.dmp", side}},
   1, "tapewren-convert: $D/side.wav: File too large\n", {}, file_limit(100000)},
  {"FileSizeLimitStopsAnExtraction", "scan", {"--extract", "$D/out", "$D/side.dmp"}, {{"side.dmp", side}, {"out", nullptr}},
   1, "tapewren-scan: $D/out/ONE.prg: File too large\ntapewren-scan: $D/out/TWO.prg: File too large\n"
      "tapewren-scan: write error: File too large\n", {}, file_limit(200)},  // the report too
  {"TickRateTypedAsHzIsRefusedUpFront", "convert", {"--force", "--tick-hz", "1000", "$D/side.dmp", "$D/side.wav"}, {{"side.dmp", side}},
   1, "tapewren-convert: $D/side.wav" + kNothingWritten, {}, memory_limit()},
  {"LongPausesAsDumpInFlatMemory", "convert", {"$D/long.tap", "$D/long.dmp"}, {{"long.tap", side_then_long_entries}},
   0, "", {{"long.dmp", [] { return recording::dump_of(side_then_long_entries()); }}}, memory_limit()},
  {"LongPauseAsSoundInFlatMemory", "convert", {"$D/pause.dmp", "$D/pause.wav"}, {{"pause.dmp", [] { return side() + words(0xFFFF, 1u << 15); }}},
   0, "", {{"pause.wav", [] { return bytes("RIFF"); }, true}}, memory_limit()},
  {"PipedDumpIsReadWhole", "convert", {"-m", "c64", "/dev/stdin", "$D/side.tap"}, {}, 0,
   "tapewren-convert: note: /dev/stdin: a pipe is not read twice to tell a dump's edges: taken as whole pulses (-b says otherwise)\n",
   {{"side.tap", tap_of_side}}, stdin_pipe(), Feed::kWhole, side},
  {"PipedTapIsNotCleaned", "convert", {"--clean", "/dev/stdin", "$D/side.tap"}, {}, 2,
   "tapewren-convert: --clean reads its input twice: name a file, not a pipe\nTry 'tapewren-convert --help' for more information.\n",
   {}, stdin_pipe(), Feed::kWhole, tap_of_side},
  {"PipedTapIsReadWhole", "convert", {"/dev/stdin", "$D/side.dmp"}, {}, 0, "", {{"side.dmp", [] { return recording::dump_of(tap_of_side()); }}}, stdin_pipe(), Feed::kWhole, tap_of_side},
  {"PipedTapIsScannedWhole", "scan", {"--files", "/dev/stdin"}, {}, 0, "", {}, stdin_pipe(), Feed::kWhole, tap_of_side, 0,
   "2 files: 2 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint 9a75502f\n"},
  {"FolderAsInput", "convert", {"$D", "$D/x.tap"}, {}, 1, "tapewren-convert: $D: Is a directory\n"},
  {"MissingOutputFolder", "convert", {"$D/side.dmp", "$D/nowhere/x.tap"}, {{"side.dmp", side}}, 1, "tapewren-convert: $D/nowhere/x.tap: No such file or directory\n"},
  {"NumbersGoOnPast999", "scan", {"--extract", "$D/out", "$D/dup.dmp"}, dup_names() + std::vector<Given>{{"dup.dmp", dup_tape}},
   0, "", {{"out/DUP~1000.prg", [] { return Bytes{0x00, 0xC0, 1, 2, 3}; }}, {"out/DUP~1001.prg", [] { return Bytes{0x00, 0xC0, 4, 5}; }}}},
  {"OddDumpConvertedWithANote", "convert", {"$D/odd.dmp", "$D/odd.tap"}, {{"odd.dmp", [] { return side() + Bytes{7}; }}},
   0, kNote + "odd.dmp: the last byte (at offset " + std::to_string(side().size()) + ") is half a pulse word: left out\n", {{"odd.tap", tap_of_side}}},
  {"OddDumpScannedWithANote", "scan", {"--files", "$D/odd.dmp"}, {{"odd.dmp", [] { return side() + Bytes{7}; }}},
   0, "tapewren-scan: $D/odd.dmp: note: the last byte (at offset " + std::to_string(side().size()) + ") is half a pulse word: left out\n", {}, {}, Feed::kNone, {}, 0,
   "2 files: 2 ok"},
  {"TapCutInALongEntryConvertedWithANote", "convert", {"--force", "$D/cut.tap", "$D/cut.dmp"}, {{"cut.tap", [] { return cut(long_entries(3), 2); }}},
   0, kNote + "cut.tap: the TAP data ends inside a long pulse (at offset 28): that pulse is left out\n" + kNote +
   "cut.tap: the TAP header gives 12 bytes of pulses, the file has 10: all of them are read\n", {{"cut.dmp", [] { return recording::dump_of(long_entries(2)); }}}},
  {"TapCutInALongEntryScannedWithANote", "scan", {"--files", "$D/cut.tap"}, {{"cut.tap", [] { return cut(long_entries(3), 2); }}},
   4, "tapewren-scan: $D/cut.tap: note: the TAP data ends inside a long pulse (at offset 28): that pulse is left out\n"
   "tapewren-scan: $D/cut.tap: note: the TAP header gives 12 bytes of pulses, the file has 10: all of them are read\n"},
  {"TapLongerThanItsHeaderSays", "convert", {"$D/longer.tap", "$D/longer.dmp"}, {{"longer.tap", [] { return tap_of_side() + Bytes{48}; }}},
   0, kNote + "longer.tap: the TAP header gives " + std::to_string(tap_of_side().size() - 20) + " bytes of pulses, the file has " +
   std::to_string(tap_of_side().size() - 19) + ": all of them are read\n", {{"longer.dmp", [] { return recording::dump_of(tap_of_side()) + Bytes{0x00, 0x03}; }}}},
  {"UnknownTapVersion", "convert", {"$D/v3.tap", "$D/v3.dmp"}, {{"v3.tap", [] { return with_tap_version(tap_of_side(), 3); }}}, 1, "tapewren-convert: $D/v3.tap: unknown TAP version 3\n"},
  {"TapHeaderCutShort", "convert", {"$D/short.tap", "$D/short.dmp"}, {{"short.tap", [] { return cut(tap_of_side(), tap_of_side().size() - 15); }}},
   1, "tapewren-convert: $D/short.tap: the TAP header is cut short (15 of 20 bytes)\n"},
  {"WavOptionsWithoutAWav", "convert", {"--rate", "48000", "$D/side.dmp", "$D/side.tap"}, {{"side.dmp", side}},
   2, usage_error("convert", "--rate and --bits are for a WAV output (OUT ending in .wav)")},
  {"TickRateForATapFile", "convert", {"--tick-hz", "1000000", "$D/side.tap", "$D/side.wav"}, {{"side.tap", tap_of_side}},
   2, usage_error("convert", "--tick-hz describes a dump file; neither $D/side.tap nor $D/side.wav is one")},
  // The output's format from its name, the input's from its content; what is not a tape refused.
  {"TapNamedTapGetsATap", "convert", {"$D/side.tap", "$D/copy.tap"}, {{"side.tap", tap_of_side}}, 0, "", {{"copy.tap", tap_of_side}}},
  {"DumpNamedDmpGetsADump", "convert", {"$D/side.dmp", "$D/copy.dmp"}, {{"side.dmp", side}}, 0, "", {{"copy.dmp", side}}},
  {"RawIsADumpToo", "convert", {"$D/side.dmp", "$D/copy.raw"}, {{"side.dmp", side}}, 0, "", {{"copy.raw", side}}},
  {"UnknownOutputNameIsRefused", "convert", {"$D/side.dmp", "$D/side.prg"}, {{"side.dmp", side}},
   2, usage_error("convert", "$D/side.prg: the output's name must end in .tap, .dmp, .raw or .wav")},
  {"NamelessOutputIsRefused", "convert", {"$D/side.dmp", "$D/side"}, {{"side.dmp", side}},
   2, usage_error("convert", "$D/side: the output's name must end in .tap, .dmp, .raw or .wav")},
  {"WavKnownByItsContent", "convert", {"$D/sound.tap", "$D/back.tap"}, {{"sound.tap", wav_of_side}}, 0, "",
   {{"back.tap", tap_signature, true}}},
  {"WavScanned", "scan", {"--files", "$D/sound.wav"}, {{"sound.wav", wav_of_side}}, 0, "", {}, {}, Feed::kNone, nullptr, 0,
   "2 files: 2 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint "},
  // How to read a WAV file, the same options in both tools.
  {"ScanReadsTheChannelGiven", "scan", {"--files", "--channel", "right", "$D/stereo.wav"}, {{"stereo.wav", side_on_the_right}}, 0, "", {}, {}, Feed::kNone, nullptr, 0,
   "2 files: 2 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint "},
  {"ScanReadsTheLouderChannelUnlessTold", "scan", {"--files", "$D/stereo.wav"}, {{"stereo.wav", side_on_the_right}}, 4, "", {}, {}, Feed::kNone, nullptr, 0,
   "0 files: 0 ok"},
  {"ScanWithANonsenseChannel", "scan", {"--channel", "middle", "$D/sound.wav"}, {{"sound.wav", wav_of_side}},
   2, usage_error("scan", "--channel needs left or right")},
  {"ScanWithANonsensePolarity", "scan", {"--polarity=sideways", "$D/sound.wav"}, {{"sound.wav", wav_of_side}},
   2, usage_error("scan", "--polarity needs auto, normal or inverted")},
  {"ConvertWithANonsensePolarity", "convert", {"--polarity", "up", "$D/sound.wav", "$D/back.tap"}, {{"sound.wav", wav_of_side}},
   2, usage_error("convert", "--polarity needs auto, normal or inverted")},
  {"PolarityWithoutAWav", "convert", {"--polarity", "normal", "$D/side.tap", "$D/copy.tap"}, {{"side.tap", tap_of_side}},
   2, usage_error("convert", "--polarity is for a WAV input or output")},
  // Without --polarity the start misleads its stretch, the first file; the second, after a
  // silence, is read the way its own waves go.
  {"MisleadingStartCostsItsStretchOnly", "scan", {"--files", "$D/misled.wav"}, {{"misled.wav", misleading_start}}, 0, "", {}, {}, Feed::kNone, nullptr, 0,
   "1 files: 1 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint bf42796a\n"},
  {"PolarityNormalGiven", "scan", {"--files", "--polarity", "normal", "$D/misled.wav"}, {{"misled.wav", misleading_starts_of_both}}, 0, "", {}, {}, Feed::kNone, nullptr, 0,
   "2 files: 2 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint "},
  {"PolarityInvertedGiven", "scan", {"--files", "--polarity", "inverted", "$D/misled.wav"}, {{"misled.wav", misleading_starts_of_both_inverted}}, 0, "", {}, {}, Feed::kNone, nullptr, 0,
   "2 files: 2 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint "},
  {"InvertIsPolarityInverted", "scan", {"--files", "--invert", "$D/misled.wav"}, {{"misled.wav", misleading_starts_of_both_inverted}}, 0, "", {}, {}, Feed::kNone, nullptr, 0,
   "2 files: 2 ok, 0 repaired, 0 bad, 0 incomplete, 0 named only; fingerprint "},
  {"PolarityInvertedWritesLowHalvesFirst", "convert", {"--polarity", "inverted", "$D/side.dmp", "$D/side.wav"}, {{"side.dmp", side}},
   0, "", {{"side.wav", inverted_wav_of_side}}},
  {"TextFileIsNoTape", "convert", {"$D/notes.txt", "$D/notes.tap"}, {{"notes.txt", [] { return bytes("Not a tape, only a text file.\n"); }}},
   4, "tapewren-convert: $D/notes.txt: does not look like a tape recording (no pilot tone, and 1 of 15" + kNoTape},
  {"TextFileForced", "convert", {"--force", "$D/notes.txt", "$D/notes.tap"}, {{"notes.txt", [] { return bytes("Not a tape, only a text file.\n"); }}},
   0, "", {{"notes.tap", tap_signature, true}}},
  {"EmptyFileIsNoTape", "convert", {"$D/empty.dmp", "$D/empty.wav"}, {{"empty.dmp", [] { return Bytes(); }}},
   1, "tapewren-convert: $D/empty.dmp: an empty file: no recording in it\n"},
  // Nothing of a tape: refused as tapewren-scan finds no file (4), random bytes after their
  // first MiB (never all 8 MiB of them, not even from a pipe).
  {"TapWithoutPulsesToDumpIsRefused", "convert", {"$D/blank.tap", "$D/blank.dmp"}, {{"blank.tap", blank_tap}},
   4, "tapewren-convert: $D/blank.tap: no pulses in it: nothing to convert; nothing written\n"},
  {"TapWithoutPulsesToWavIsRefused", "convert", {"$D/blank.tap", "$D/blank.wav"}, {{"blank.tap", blank_tap}},
   4, "tapewren-convert: $D/blank.tap: no pulses in it: nothing to convert; nothing written\n"},
  {"RandomBytesAreRefusedAfterTheirFirstMiB", "convert", {"$D/noise.dmp", "$D/noise.tap"}, {{"noise.dmp", noise}},
   4, "tapewren-convert: $D/noise.dmp: does not look like a tape recording (in its first MiB: no pilot tone, and 4688 of 524283" + kNoTape},
  {"RandomBytesFromAPipeAreNotReadToTheEnd", "convert", {"/dev/stdin", "$D/noise.tap"}, {},
   4, "tapewren-convert: /dev/stdin: does not look like a tape recording (in its first MiB: no pilot tone, and 4688 of 524283" + kNoTape,
   {}, stdin_pipe(), Feed::kRefused, noise},
  {"RandomBytesForcedAreConverted", "convert", {"--force", "$D/noise.dmp", "$D/noise.tap"}, {{"noise.dmp", noise}},
   0, "", {{"noise.tap", tap_signature, true}}},
  {"RandomTapDataIsRefused", "convert", {"$D/noise.tap", "$D/noise.dmp"}, {{"noise.tap", noise_tap}},
   4, "tapewren-convert: $D/noise.tap: does not look like a tape recording (in its first MiB: no pilot tone, and 133513 of 1036466" + kNoTape},
  // What a dump does not say: told as tapewren-scan tells it, or, from a pipe, what was taken.
  {"C16DumpOfHalfWavesGetsTheC16sTap", "convert", {"$D/c16.dmp", "$D/c16.tap"}, {{"c16.dmp", c16_halves}}, 0, "", {{"c16.tap", c16_tap_v2}}},
  {"PipedC16DumpSaysWhatItTook", "convert", {"/dev/stdin", "$D/c16.tap"}, {}, 0,
   "tapewren-convert: note: /dev/stdin: a pipe is not read twice to tell a dump's machine and edges: taken as C64, whole pulses (-m and -b say otherwise)\n",
   {{"c16.tap", [] { return recording::tap_of(c16_halves(), {}); }}}, stdin_pipe(), Feed::kWhole, c16_halves},
};
// clang-format on

// Every file and link under the folder, hidden ones too, as paths relative to it.
std::vector<std::string> listing(const std::string& dir, const std::string& under = "") {
  std::vector<std::string> names;
  DIR* d = opendir((dir + "/" + under).c_str());
  if (!d) return names;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string rel = under.empty() ? name : under + "/" + name;
    names.push_back(rel);
    struct stat st {};
    if (lstat((dir + "/" + rel).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      const auto inner = listing(dir, rel);
      names.insert(names.end(), inner.begin(), inner.end());
    }
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

class Tools : public ::testing::TestWithParam<Hostile> {};

TEST_P(Tools, Hostile) {
  const Hostile& row = GetParam();
  TempDir work, logs;  // the outputs of the child go elsewhere than the folder looked at
  const auto here = [&](std::string s) {
    for (auto at = s.find("$D"); at != std::string::npos; at = s.find("$D"))
      s.replace(at, 2, work.dir);
    return s;
  };
  std::vector<std::string> expected_names;
  const auto expect = [&](const std::string& name) {  // and the folders it is in
    for (auto slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
      expected_names.push_back(name.substr(0, slash));
    expected_names.push_back(name);
  };
  if (row.options.unprivileged) chmod(work.dir.c_str(), 0755);
  for (const Given& g : row.given) {
    const std::string path = work.path(g.name);
    for (auto slash = g.name.find('/'); slash != std::string::npos;
         slash = g.name.find('/', slash + 1))
      mkdir(work.path(g.name.substr(0, slash)).c_str(), 0755);
    if (g.special == Special::kFifo) {
      ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    } else if (!g.link_to.empty()) {
      ASSERT_EQ(symlink(g.link_to.c_str(), path.c_str()), 0);
    } else if (!g.content) {
      ASSERT_EQ(mkdir(path.c_str(), g.special == Special::kLocked ? 0 : 0755), 0);
    } else {
      write_file(path, g.content());
    }
    expect(g.name);
  }
  for (const Output& o : row.outputs) expect(o.name);
  std::sort(expected_names.begin(), expected_names.end());
  expected_names.erase(std::unique(expected_names.begin(), expected_names.end()),
                       expected_names.end());
  std::vector<std::string> args;
  for (const auto& a : row.args) args.push_back(here(a));
  Child child(command(row.program, args), logs, row.options);
  if (row.feed == Feed::kWhole) {
    EXPECT_TRUE(child.feed(row.input()));
    child.close_input();
  } else if (row.feed == Feed::kRefused) {
    EXPECT_FALSE(child.feed(row.input()));  // it stopped reading: it read no more than it needed
    child.close_input();
  } else if (row.feed == Feed::kPartThenSignal) {
    // Half the input, then the signal once the output is being written (its temporary file
    // has grown), while the tool waits for the rest: never a lucky delay.
    const Bytes input = row.input();
    EXPECT_TRUE(
        child.feed(Bytes(input.begin(), input.begin() + static_cast<long>(input.size() / 2))));
    EXPECT_TRUE(eventually([&] {
      for (const auto& name : listing(work.dir)) {
        struct stat st {};
        if (stat(work.path(name).c_str(), &st) == 0 && st.st_size > 0) return true;
      }
      return false;
    }));
    kill(child.pid(), row.signal);
  }
  EXPECT_EQ(child.wait_exit(), row.exit_code) << child.err();
  child.close_input();
  const std::string err = here(row.err);
  if (err.size() > 3 && err.compare(err.size() - 3, 3, "...") == 0) {
    EXPECT_EQ(child.err().substr(0, err.size() - 3), err.substr(0, err.size() - 3));
  } else {
    EXPECT_EQ(child.err(), err);
  }
  EXPECT_NE(child.out().find(here(row.out)), std::string::npos) << child.out();
  if (asks_json(row.program, args)) {
    EXPECT_EQ(json_faults(logs, child.out()), "");
  }
  EXPECT_EQ(listing(work.dir), expected_names);
  for (const Given& g : row.given) {
    if (g.link_to.empty() && g.content) {
      EXPECT_TRUE(read_bytes(work.path(g.name)) == g.content()) << g.name;
    }
  }
  for (const Output& o : row.outputs) {
    if (!o.content) {  // a folder
      struct stat st {};
      EXPECT_TRUE(stat(work.path(o.name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) << o.name;
      continue;
    }
    const Bytes got = read_bytes(work.path(o.name)), want = o.content();
    EXPECT_TRUE(o.prefix
                    ? got.size() >= want.size() && std::equal(want.begin(), want.end(), got.begin())
                    : got == want)
        << o.name;
  }
}

std::vector<Hostile> hostile_rows() {
  std::vector<Hostile> rows = kHostile;
#if defined(TAPEWREN_SANITIZED)  // the sanitizers reserve far more address space than any limit
  rows.erase(std::remove_if(rows.begin(), rows.end(),
                            [](const Hostile& r) {
                              return r.options.data_limit >= 0 ||
                                     r.options.address_space_limit >= 0;
                            }),
             rows.end());
#endif
  return rows;
}
INSTANTIATE_TEST_SUITE_P(Table, Tools, ::testing::ValuesIn(hostile_rows()),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace
}  // namespace tapewren::e2e
