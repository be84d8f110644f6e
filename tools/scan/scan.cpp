// tapewren-scan: inspects recordings, dump files and TAP files alike. By default it prints
// every name the recorder's name interception finds, with the byte offset where the header
// ended; with --files it decodes, verifies and repairs every file on the tape, and can
// extract them and draw the histogram of the pulse lengths.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "names/pulse_feed.hpp"
#include "platform/host.hpp"
#include "platform/tool_io.hpp"
#include "recording/recording.hpp"
#include "report.hpp"
#include "tape/tape.hpp"

namespace {

namespace rec = tapewren::recording;
namespace tape = tapewren::tape;
namespace platform = tapewren::platform;

const char kUsage[] =
    "Usage: tapewren-scan [options] FILE...\n"
    "Reads recordings (dump files or TAP files). Without options it prints the name of every\n"
    "file whose tape header it finds, as tapewren-record does while recording, with the byte\n"
    "offset where the header ended.\n"
    "  --files          decode every file on the tape: where it starts, loader, type, name,\n"
    "                   addresses, size, both copies of each block, and a verdict (ok,\n"
    "                   repaired from the repeat, bad, incomplete); then a summary with the\n"
    "                   tape's fingerprint, the same for every good recording of one tape\n"
    "  --extract DIR    also write each good file to DIR as NAME.prg or NAME.seq (never over\n"
    "                   an existing file)\n"
    "  --keep-bad       with --extract: bad and incomplete files too, marked in their names\n"
    "  --histogram OUT  write the pulse-length histogram as an SVG picture (- : as text); with\n"
    "                   several recordings, one picture each, numbered OUT-1.svg, OUT-2.svg...\n"
    "  -m N, -v N       machine (0 C64, 1 VIC20, 2 C16) and video standard (0 PAL, 1 NTSC)\n"
    "                   for times and microseconds; default: the TAP header, or C64 PAL\n"
    "  -b               a dump recorded with both edges (half waves), as with tapewren-record -b\n"
    "Exit status: 0 all well; 1 a file could not be read or written; 2 usage;\n"
    "3 (with --files) a file is bad or incomplete; 4 (with --files) no file found at all;\n"
    "128 + N stopped by signal N.\n";

struct Options {
  bool files = false, keep_bad = false;
  const char* extract = nullptr;
  const char* histogram = nullptr;
  int machine = -1, video = -1;
  bool both_edges = false;
  std::vector<const char*> inputs;
};

// Names as the recorder prints them, with where each header ends in the input.
class Printer : public tapewren::names::NameListener {
 public:
  explicit Printer(std::string prefix) : prefix_(std::move(prefix)) {}
  // The pulses as the words a dump holds (a long pause as a few 0xFFFF words: more of them
  // change no scanner), and which pulse each word belongs to.
  void feed(const rec::Pulses& pulses) {
    pulses_ = &pulses;
    words_.clear();
    pulse_of_.clear();
    for (std::size_t i = 0; i < pulses.count; ++i) {
      std::uint64_t rest = pulses.length[i];
      for (int n = 0; n < 16; ++n, rest -= 0xFFFF) {
        const auto w = static_cast<std::uint16_t>(std::min<std::uint64_t>(rest, 0xFFFF));
        words_.push_back(static_cast<std::uint8_t>(w));
        words_.push_back(static_cast<std::uint8_t>(w >> 8));
        pulse_of_.push_back(static_cast<std::uint32_t>(i));
        if (rest < 0xFFFF) break;
      }
    }
    feed_.feed_pulse_words(words_.data(), static_cast<std::uint32_t>(words_.size()));
  }
  void on_name(const char* name, std::uint32_t word_index) override {
    const std::size_t i = pulse_of_[word_index];
    const std::uint64_t end = i + 1 < pulses_->count ? pulses_->offset[i + 1] : pulses_->end;
    std::printf("%sFilename intercepted: %s (header ends at byte %llu)\n", prefix_.c_str(), name,
                static_cast<unsigned long long>(end));
  }

 private:
  std::string prefix_;
  tapewren::names::PulseFeed feed_{*this};
  const rec::Pulses* pulses_ = nullptr;
  std::vector<std::uint8_t> words_;
  std::vector<std::uint32_t> pulse_of_;
};

// One input read through the recording reader, a block of pulses at a time. `start` is told
// what the input says of itself before the first block. 0, or the exit code of what failed.
template <typename Start, typename Use>
int stream(const char* path, Start start, Use use) {
  std::string error;
  auto in = platform::InputFile::open(path, error);
  if (!in) {
    std::fprintf(stderr, "tapewren-scan: %s: %s\n", path, error.c_str());
    return 1;
  }
  rec::Reader reader(*in);
  if (!reader.open()) {
    std::fprintf(stderr, "tapewren-scan: %s: %s\n", path, reader.error().c_str());
    return 1;
  }
  start(reader, *in);
  auto pulses = std::make_unique<rec::Pulses>();
  while (reader.next(*pulses)) {
    use(*pulses);
    if (platform::termination_signal() != 0) break;
  }
  if (const int signal = platform::termination_signal()) {
    std::fprintf(stderr, "tapewren-scan: stopped by %s\n", platform::signal_name(signal));
    return 128 + signal;
  }
  if (!reader.error().empty()) {
    std::fprintf(stderr, "tapewren-scan: %s: %s\n", path, reader.error().c_str());
    return 1;
  }
  for (const auto& note : reader.notes())
    std::fprintf(stderr, "tapewren-scan: %s: note: %s\n", path, note.c_str());
  return 0;
}

const char* const kMachineNames[] = {"C64", "VIC20", "C16"};

// The machine a TAP header names, with a note where it says something odd.
int tap_machine(const rec::TapHeader& h, const char* path) {
  if (h.c16_signature && h.platform != 2) {
    std::fprintf(stderr,
                 "tapewren-scan: %s: note: a C16-TAPE-RAW header with platform %d: "
                 "taken as C16\n",
                 path, h.platform);
    return 2;
  }
  if (h.platform > 2) {
    std::fprintf(stderr,
                 "tapewren-scan: %s: note: unknown platform %d in the TAP header: "
                 "taken as C64\n",
                 path, h.platform);
    return 0;
  }
  return h.platform;
}

// Whether a dump holds half waves, from a first look at its start.
bool guess_half_waves(const char* path) {
  std::string error;
  auto in = platform::InputFile::open(path, error);
  if (!in) return false;
  rec::Reader reader(*in);
  if (!reader.open()) return false;
  tape::EdgeGuess guess;
  auto pulses = std::make_unique<rec::Pulses>();
  for (int blocks = 0; blocks < 1024 && !guess.enough() && reader.next(*pulses); ++blocks)
    guess.add(*pulses);
  return guess.half_waves();
}

// The picture's name for input number n of several: OUT-n.svg.
std::string numbered(const std::string& path, std::size_t n) {
  const auto slash = path.find_last_of("/\\");
  const auto dot = path.rfind('.');
  const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::size_t at = has_ext ? dot : path.size();
  return path.substr(0, at) + "-" + std::to_string(n) + path.substr(at);
}

int usage_error(const std::string& message) {
  std::fprintf(stderr, "tapewren-scan: %s\n%s", message.c_str(), kUsage);
  return 2;
}

int parse(int argc, char** argv, Options& opt) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return -1;
    }
    if (a == "--files") {
      opt.files = true;
    } else if (a == "-b") {
      opt.both_edges = true;
    } else if (a == "--keep-bad") {
      opt.keep_bad = true;
    } else if ((a == "--extract" || a == "--histogram") && has_value) {
      (a == "--extract" ? opt.extract : opt.histogram) = argv[++i];
      opt.files |= a == "--extract";
    } else if ((a == "-m" || a == "-v") && has_value) {
      char* end = nullptr;
      const long v = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || v < 0 || v > (a == "-m" ? 2 : 1))
        return usage_error(a + " needs " + (a == "-m" ? "0, 1 or 2" : "0 or 1"));
      (a == "-m" ? opt.machine : opt.video) = static_cast<int>(v);
    } else if (a == "--") {
      for (++i; i < argc; ++i) opt.inputs.push_back(argv[i]);
    } else if (a.size() > 1 && a[0] == '-') {
      return usage_error("unknown option " + a);
    } else {
      opt.inputs.push_back(argv[i]);
    }
  }
  if (opt.inputs.empty()) return usage_error("no recording named");
  if (opt.keep_bad && !opt.extract) return usage_error("--keep-bad goes with --extract");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::open_missing_standard_streams();
  platform::catch_termination();
  Options opt;
  const int parsed = parse(argc, argv, opt);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;
  const bool several = opt.inputs.size() > 1;
  int code = 0;
  // A signal outranks a file that cannot be read or written, which outranks a recording
  // with no file at all, which outranks a bad file.
  const auto rank = [](int c) { return c > 4 ? 4 : c == 1 ? 3 : c == 4 ? 2 : c == 3 ? 1 : 0; };
  const auto worst = [&](int c) {
    if (rank(c) > rank(code)) code = c;
  };
  for (std::size_t n = 0; n < opt.inputs.size(); ++n) {
    const char* path = opt.inputs[n];
    if (!opt.files && !opt.histogram) {  // the names, as the recorder shows them
      Printer printer(several ? std::string(path) + ": " : std::string());
      const int c = stream(
          path, [](const rec::Reader&, const platform::InputFile&) {},
          [&](const rec::Pulses& p) { printer.feed(p); });
      if (c != 0) worst(c);
      if (c > 1) break;
      continue;
    }
    if (several && opt.files) std::printf("%s:\n", path);
    tapewren::scan::Report report(opt.files, opt.extract, opt.keep_bad);
    std::unique_ptr<tape::Decoder> decoder;
    tapewren::scan::Assumptions assumed;
    int tap_platform = -1;
    const auto start = [&](const rec::Reader& reader, const platform::InputFile& in) {
      tape::DecoderSettings settings;
      settings.machine = opt.machine;
      assumed.machine = opt.machine >= 0 ? "given" : "assumed";
      if (reader.format() == rec::Format::kTap) {
        const rec::TapHeader& h = reader.tap_header();
        tap_platform = tap_machine(h, path);
        settings.default_machine = tap_platform;
        if (opt.machine < 0) assumed.machine = "from the TAP header";
        if (opt.video < 0) settings.video = h.video == 1 ? 1 : 0;
      }
      if (opt.video >= 0) settings.video = opt.video;
      if (opt.both_edges) {
        settings.half_waves = true;
        assumed.edges = "given";
      } else if (reader.format() == rec::Format::kTap) {
        settings.half_waves = reader.half_waves();
        assumed.edges = "from the TAP version";
      } else if (in.regular()) {
        settings.half_waves = guess_half_waves(path);
        assumed.edges = "guessed from the pulses";
      } else {
        assumed.edges = "assumed: a pipe is not read twice to guess";
      }
      assumed.half_waves = settings.half_waves;
      decoder = std::make_unique<tape::Decoder>(settings, report);
    };
    const int read = stream(path, start, [&](const rec::Pulses& p) { decoder->feed(p); });
    if (read != 0) {
      worst(read);
      if (read > 1) break;
      continue;
    }
    decoder->finish();
    const tape::Summary summary = decoder->summary();
    if (summary.machine_guessed && tap_platform >= 0 && summary.machine != tap_platform)
      std::fprintf(stderr,
                   "tapewren-scan: %s: note: the TAP header says %s, the tape holds %s blocks\n",
                   path, kMachineNames[tap_platform], kMachineNames[summary.machine]);
    report.finish(summary, assumed);
    if (opt.files && report.files() == 0) {
      worst(4);
    } else if (opt.files && !report.all_good()) {
      worst(3);
    }
    if (!report.extracted()) worst(1);
    if (opt.histogram) {
      const std::string out = several && std::string(opt.histogram) != "-"
                                  ? numbered(opt.histogram, n + 1)
                                  : std::string(opt.histogram);
      std::string error;
      if (!tapewren::scan::write_histogram(summary.histogram, summary.marks,
                                           rec::machine_clock_hz(summary.machine, summary.video),
                                           out, error)) {
        std::fprintf(stderr, "tapewren-scan: %s: %s\n", out.c_str(), error.c_str());
        worst(1);
      }
    }
  }
  return code;
}
