// tapewren-sim: plays the Tapewren device on a pseudo-terminal, so that tapewren-record can
// be tried, demonstrated and tested without hardware. Prints the port path first, waits for
// the recorder to configure the port, prompts, takes the record command and streams a tape.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "builtin_tape.hpp"
#include "cli/cli.hpp"
#include "cli/recording_input.hpp"
#include "platform/tool_io.hpp"
#include "recording/recording.hpp"

namespace {

namespace rec = tapewren::recording;
namespace platform = tapewren::platform;
namespace cli = tapewren::cli;

constexpr const char* kPrompt = "> ";
constexpr const char* kAck = "OK\r\n";
constexpr const char* kEndOk = "OK!\r\n> ";
constexpr const char* kEndKo = "KO!\r\n> ";
constexpr const char* kGreeting = "Tapewren device simulator\r\n";
constexpr std::size_t kReadSize = 64;            // what the recorder asks for per read
constexpr int kQuietMs = 600;                    // longer than any read of the recorder lasts
constexpr double kLineBytesPerSecond = 11520.0;  // 115200 baud, 10 bits a byte

struct Options {
  bool fast = false;
  bool end_ko = false;
  int split_end = 0;  // 0: the end reply in one write
  bool silent = false;
  long long hangup_after = -1;
  int greeting_parts = 1;
  std::string dump;      // empty: the built-in tape
  bool verbose = false;  // progress messages on standard error
};

const char kUsage[] =
    "Usage: tapewren-sim [options] [FILE]\n"
    "Plays a Tapewren device on a pseudo-terminal. The first line printed is the\n"
    "port to give tapewren-record; the recording sent is FILE (a dump file, or a\n"
    "TAP file converted on the fly), or a built-in tape when none is named.\n"
    "\n"
    "Options:\n"
    "  --play FILE         the recording to send (the same as naming FILE)\n"
    "  --fast              send the recording as fast as possible\n"
    "                      (default: the serial line's pace, 11520 bytes/s)\n"
    "  --end-ko            end the recording with the failure reply KO!\n"
    "  --split-end N       send the end reply's first N bytes (1-6) at the end of\n"
    "                      a full read and the rest in a read of its own\n"
    "  --silent            never send the prompt\n"
    "  --hangup-after N    hang up after N bytes of the recording\n"
    "  --greeting-parts N  send the greeting and prompt in N writes (1-8)\n"
    "  --verbose           tell on standard error what the device does (quiet by\n"
    "                      default, so that the recorder's lines stay whole)\n"
    "  -h, --help          this text\n"
    "  --version           the version\n"
    "Options take their values as --name VALUE or --name=VALUE.\n"
    "Exit status: 0 played; 1 the recording or the port failed; 2 usage.\n";
const cli::Tool kTool = {"tapewren-sim", kUsage};

// kOk to run, else the exit status: kUsage for a usage error (printed), kOk after --help or
// --version.
cli::Exit parse_options(int argc, char** argv, Options& opt, bool& done) {
  cli::Args args(argc, argv);
  done = false;
  while (args.next()) {
    const std::string a = args.name();
    if (!args.option()) {
      if (!opt.dump.empty()) return cli::usage_error(kTool, "only one recording can be played");
      opt.dump = a;
      continue;
    }
    const bool flag = a == "--fast" || a == "--verbose" || a == "--end-ko" || a == "--silent" ||
                      a == "-h" || a == "--help" || a == "--version";
    if (flag && args.inline_value()) return cli::usage_error(kTool, cli::takes_no_value(a));
    if (a == "-h" || a == "--help" || a == "--version") {
      done = true;
      return a == "--version" ? cli::version(kTool) : cli::help(kTool);
    }
    if (a == "--fast") {
      opt.fast = true;
      continue;
    }
    if (a == "--verbose") {
      opt.verbose = true;
      continue;
    }
    if (a == "--end-ko") {
      opt.end_ko = true;
      continue;
    }
    if (a == "--silent") {
      opt.silent = true;
      continue;
    }
    const bool known =
        a == "--split-end" || a == "--hangup-after" || a == "--greeting-parts" || a == "--play";
    if (!known) return cli::usage_error(kTool, cli::unknown_option(a));
    std::string v;
    if (!args.value(v) || v.empty()) return cli::usage_error(kTool, cli::needs_value(a));
    if (a == "--play") {
      if (!opt.dump.empty()) return cli::usage_error(kTool, "only one recording can be played");
      opt.dump = v;
      continue;
    }
    const long long low = a == "--hangup-after" ? 0 : 1;
    const long long high = a == "--split-end" ? 6 : a == "--greeting-parts" ? 8 : 1LL << 40;
    long long n = 0;
    if (!cli::parse_number(v, low, high, n))
      return cli::usage_error(
          kTool, a + " needs a number from " + std::to_string(low) + " to " + std::to_string(high));
    if (a == "--split-end") {
      opt.split_end = static_cast<int>(n);
    } else if (a == "--hangup-after") {
      opt.hangup_after = n;
    } else {
      opt.greeting_parts = static_cast<int>(n);
    }
  }
  return cli::Exit::kOk;
}

// Progress, only when asked for: the simulator usually shares a terminal with the recorder.
void log(const Options& opt, const std::string& text) {
  if (opt.verbose) std::fprintf(stderr, "tapewren-sim: %s\n", text.c_str());
}

void sleep_ms(int ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

double now_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The recording to send: a dump file read as it goes, a TAP file converted as it goes, or the
// built-in tape.
class Source {
 public:
  bool open(const std::string& path, std::string& error) {
    if (path.empty()) {
      memory_ = tapewren::builtin_tape();
      size_ = memory_.size();
      return true;
    }
    if (!input_.open(path, {})) {
      error = input_.error();
      return false;
    }
    if (!input_.file().regular()) {
      error = "not a regular file";
      return false;
    }
    if (input_.reader().format() == rec::Format::kDump) {  // sent as it is, byte for byte
      file_ = platform::InputFile::open(path, error);
      size_ = file_ ? file_->size() : 0;
      return file_ != nullptr;
    }
    // The dump's size first, from a pass of its own, for --split-end and --hangup-after.
    cli::RecordingInput counter;
    tapewren::io::CountingSink count;
    rec::DumpWriter measure(count);
    if (!counter.open(path, {}) || counter.read([&](const rec::Pulses& pulses) {
          for (std::size_t i = 0; i < pulses.count; ++i) measure.pulse(pulses.length[i]);
          return true;
        }) != cli::Exit::kOk) {
      error = counter.error();
      return false;
    }
    measure.finish();
    size_ = count.bytes;
    converting_ = true;
    writer_ = std::make_unique<rec::DumpWriter>(converted_);
    return true;
  }
  std::uint64_t size() const { return size_; }
  // Up to max bytes of what comes next; 0 at the end.
  std::size_t next(std::uint8_t* out, std::size_t max) {
    if (file_) {
      const long long k = file_->read(out, max);
      return k > 0 ? static_cast<std::size_t>(k) : 0;
    }
    if (!converting_) return take(memory_, out, max);
    while (converted_.bytes.size() - pos_ < max && !converted_end_) {
      if (!input_.reader().next(*pulses_)) {
        writer_->finish();
        converted_end_ = true;
        break;
      }
      for (std::size_t i = 0; i < pulses_->count; ++i) writer_->pulse(pulses_->length[i]);
      writer_->finish();  // hands out what the writer holds
    }
    const std::size_t n = take(converted_.bytes, out, max);
    if (pos_ > (1u << 20)) {  // what was sent goes, so that memory stays bounded
      converted_.bytes.erase(converted_.bytes.begin(),
                             converted_.bytes.begin() + static_cast<long>(pos_));
      pos_ = 0;
    }
    return n;
  }

 private:
  std::size_t take(const std::vector<std::uint8_t>& from, std::uint8_t* out, std::size_t max) {
    const std::size_t n = std::min<std::size_t>(max, from.size() - pos_);
    std::memcpy(out, from.data() + pos_, n);
    pos_ += n;
    return n;
  }

  cli::RecordingInput input_;
  std::unique_ptr<platform::InputFile> file_;  // a dump, sent as it is
  bool converting_ = false;                    // a TAP or WAV file, sent as a dump
  std::unique_ptr<rec::Pulses> pulses_ = std::make_unique<rec::Pulses>();
  tapewren::io::MemorySink converted_;
  std::unique_ptr<rec::DumpWriter> writer_;
  bool converted_end_ = false;
  std::vector<std::uint8_t> memory_;  // the built-in tape
  std::uint64_t size_ = 0;
  std::size_t pos_ = 0;
};

class Device {
 public:
  Device(int master, const Options& opt) : master_(master), opt_(opt) {}

  // False once the recorder has closed the port.
  bool send(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
      const ssize_t k = ::write(master_, p, size);
      if (k > 0) {
        p += k;
        size -= static_cast<std::size_t>(k);
        continue;
      }
      if (k < 0 && errno == EINTR) continue;
      if (k < 0 && errno == EAGAIN) {
        pollfd pf{master_, POLLOUT, 0};
        ::poll(&pf, 1, 100);
        continue;
      }
      return false;
    }
    return true;
  }
  bool send(const char* text) { return send(text, std::strlen(text)); }

  // Waits up to timeout_ms for bytes from the recorder; -1 once it has closed the port.
  ssize_t receive(std::uint8_t* out, std::size_t max, int timeout_ms) {
    pollfd pf{master_, POLLIN, 0};
    const int ready = ::poll(&pf, 1, timeout_ms);
    if (ready == 0) return 0;
    if (ready < 0) return errno == EINTR ? 0 : -1;
    const ssize_t k = ::read(master_, out, max);
    if (k > 0) return k;
    if (k < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
    return -1;
  }

  // The recorder has configured the port once the line has left canonical mode. True when it
  // set the device's own line, 115200 baud 8N1: on any other a real device is not understood.
  bool wait_for_recorder() {
    for (;;) {
      termios tio{};
      if (tcgetattr(master_, &tio) == 0 && !(tio.c_lflag & ICANON))
        return cfgetispeed(&tio) == B115200 && cfgetospeed(&tio) == B115200 &&
               (tio.c_cflag & CSIZE) == CS8 && !(tio.c_cflag & PARENB) && !(tio.c_cflag & CSTOPB);
      sleep_ms(10);
    }
  }

  void greet() {
    std::string text = std::string(kGreeting) + kPrompt;
    const std::size_t parts = static_cast<std::size_t>(opt_.greeting_parts);
    const std::size_t step = (text.size() + parts - 1) / parts;
    for (std::size_t at = 0; at < text.size(); at += step) {
      if (at > 0) sleep_ms(300);  // a pause the recorder's read ends on
      send(text.data() + at, std::min(step, text.size() - at));
    }
  }

  // Reads one record command up to its carriage return; false when the port was closed.
  bool read_command(std::string& command) {
    command.clear();
    std::uint8_t byte = 0;
    for (;;) {
      const ssize_t k = receive(&byte, 1, 1000);
      if (k < 0) return false;
      if (k == 0) continue;
      command.push_back(static_cast<char>(byte));
      if (byte == '\r' || command.size() >= 16) return true;
    }
  }

  static bool valid_command(const std::string& c) {
    return c.size() == 8 && c[0] == 'u' && c[1] == ' ' && (c[2] == '1' || c[2] == '3') &&
           c[3] == ' ' && c[4] >= '0' && c[4] <= '2' && c[5] == ' ' &&
           (c[6] == '0' || c[6] == '1') && c[7] == '\r';
  }

  // Streams the recording; false when the port closed or the sim hung up.
  bool stream(Source& source) {
    const std::uint64_t total = source.size();
    // In split mode the last bytes go out together with the end reply's first part.
    const std::uint64_t held_back =
        opt_.split_end ? std::min<std::uint64_t>(total, kReadSize - opt_.split_end) : 0;
    std::uint64_t limit = total - held_back;
    if (opt_.hangup_after >= 0) limit = std::min<std::uint64_t>(limit, opt_.hangup_after);
    const double start = now_seconds();
    std::uint64_t sent = 0;
    std::uint8_t block[kReadSize];
    while (sent < limit && !stop_seen_) {
      if (!opt_.fast) {
        const double due = start + static_cast<double>(sent) / kLineBytesPerSecond;
        const double ahead = due - now_seconds();
        if (ahead > 0) {
          if (!listen(static_cast<int>(ahead * 1000) + 1)) return false;
          continue;
        }
      }
      const std::size_t n = source.next(block, std::min<std::uint64_t>(kReadSize, limit - sent));
      if (n == 0) break;
      if (!send(block, n) || !listen(0)) return false;
      sent += n;
    }
    if (opt_.hangup_after >= 0 && sent >= static_cast<std::uint64_t>(opt_.hangup_after)) {
      sleep_ms(2000);  // let the recorder take what was sent before the line drops
      hung_up_ = true;
      return false;
    }
    return finish(source, held_back);
  }

  // Sends the end reply, split if asked; false when the port closed meanwhile.
  bool finish(Source& source, std::uint64_t held_back) {
    const char* end = opt_.end_ko ? kEndKo : kEndOk;
    if (!listen(kQuietMs)) return false;  // the recorder's read in progress ends first
    if (opt_.split_end == 0 || stop_seen_) {
      return send(end);
    }
    std::uint8_t block[kReadSize];
    std::size_t n = 0;
    while (n < held_back) {
      const std::size_t k = source.next(block + n, held_back - n);
      if (k == 0) break;
      n += k;
    }
    std::memcpy(block + n, end, static_cast<std::size_t>(opt_.split_end));
    if (!send(block, n + opt_.split_end) || !listen(kQuietMs)) return false;
    return send(end + opt_.split_end);
  }

  // Takes what the recorder sent within timeout_ms; a space is a stop request.
  bool listen(int timeout_ms) {
    std::uint8_t in[64];
    const ssize_t k = receive(in, sizeof in, timeout_ms);
    if (k < 0) return false;
    for (ssize_t i = 0; i < k; ++i) {
      if (in[i] == ' ') {
        log(opt_, "stop request received");
        stop_seen_ = true;
      }
    }
    return true;
  }

  bool hung_up() const { return hung_up_; }

  // After the recording: stays at the prompt until the recorder lets go of the port.
  void wait_for_close() {
    std::uint8_t in[64];
    while (receive(in, sizeof in, 1000) >= 0) {
    }
  }

 private:
  int master_;
  const Options& opt_;
  bool stop_seen_ = false;
  bool hung_up_ = false;
};

int open_pty(std::string& path) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const char* name = ptsname(master);
  if (!name) return -1;
  path = name;
  // Start from a terminal in its usual cooked mode: the recorder's raw mode is the signal.
  termios tio{};
  if (tcgetattr(master, &tio) == 0) {
    tio.c_lflag |= ICANON;
    tcsetattr(master, TCSANOW, &tio);
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  return master;
}

}  // namespace

int main(int argc, char** argv) {
  platform::open_missing_tool_streams();
  Options opt;
  bool done = false;
  const cli::Exit parsed = parse_options(argc, argv, opt, done);
  if (parsed != cli::Exit::kOk || done) return cli::status(cli::close_output(kTool, parsed));
  Source source;
  std::string error;
  if (!source.open(opt.dump, error)) {
    std::fprintf(stderr, "tapewren-sim: %s: %s\n", opt.dump.c_str(), error.c_str());
    return 1;
  }
  if (opt.split_end && source.size() < kReadSize) {
    std::fprintf(stderr, "tapewren-sim: --split-end needs a recording of at least %zu bytes\n",
                 kReadSize);
    return 1;
  }
  std::string path;
  const int master = open_pty(path);
  if (master < 0) {
    std::fprintf(stderr, "tapewren-sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  std::printf("%s\n", path.c_str());
  // The port's name is all that is written there, and all a user has to find the device by.
  if (cli::close_output(kTool, cli::Exit::kOk) != cli::Exit::kOk) return 1;

  Device device(master, opt);
  const bool line_ok = device.wait_for_recorder();
  log(opt, line_ok ? "port configured by the recorder" : "port not set to 115200 baud 8N1");
  if (opt.silent || !line_ok) {
    device.wait_for_close();
    return 0;
  }
  device.greet();
  std::string command;
  while (device.read_command(command)) {
    if (!Device::valid_command(command)) {
      log(opt, "malformed record command");
      device.send(kEndKo);
      continue;
    }
    log(opt, "record command u " + command.substr(2, 5) + " accepted");
    device.send(kAck);
    sleep_ms(kQuietMs);  // the tape starts after the acknowledgement has gone by on its own
    if (device.stream(source)) log(opt, "recording sent");
    break;
  }
  if (device.hung_up()) {
    log(opt, "hanging up");  // closing the master drops the line under the recorder
  } else {
    device.wait_for_close();
  }
  close(master);
  return 0;
}
