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
#include "report.hpp"
#include "tap_format.hpp"
#include "tape/tape.hpp"

namespace {

namespace tap = tapewren::tap;
namespace tape = tapewren::tape;

// Large even-sized reads: words pair up from each file's first byte across reads.
constexpr std::size_t kBlockSize = 1 << 20;
constexpr std::size_t kTapStep = 16;  // TAP bytes converted at a time

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
    "  --histogram OUT  write the pulse-length histogram as an SVG picture (- : as text)\n"
    "  -m N, -v N       machine (0 C64, 1 VIC20, 2 C16) and video standard (0 PAL, 1 NTSC)\n"
    "                   for times and microseconds; default: the TAP header, or C64 PAL\n"
    "  -b               a dump recorded with both edges (half waves), as with tapewren-record -b\n"
    "Exit status: 0 all well; 1 a file could not be read or written; 2 usage;\n"
    "3 (with --files) a file is bad or incomplete.\n";

struct Options {
  bool files = false, keep_bad = false;
  const char* extract = nullptr;
  const char* histogram = nullptr;
  int machine = -1, video = -1;
  bool both_edges = false;
  std::vector<const char*> inputs;
};

class Printer : public tapewren::names::NameListener {
 public:
  explicit Printer(std::string prefix) : prefix_(std::move(prefix)) {}
  void at(std::uint64_t block_offset) { block_offset_ = block_offset; }
  void on_name(const char* name, std::uint32_t word_index) override {
    const std::uint64_t end = block_offset_ + 2ull * word_index + 2;
    std::printf("%sFilename intercepted: %s (header ends at byte %llu)\n", prefix_.c_str(), name,
                static_cast<unsigned long long>(end));
  }

 private:
  std::string prefix_;
  std::uint64_t block_offset_ = 0;
};

// Streams one input: dump words straight, a TAP file converted a block at a time. Hands
// each block of words to `use` with the offset of its first word. False when unreadable.
template <typename Use>
bool stream(const char* path, int& platform, int& video, bool& half_waves, Use use) {
  std::FILE* in = std::fopen(path, "rb");
  if (!in) {
    std::fprintf(stderr, "tapewren-scan: cannot read %s: %s\n", path, std::strerror(errno));
    return false;
  }
  std::vector<std::uint8_t> block(kBlockSize), words;
  std::size_t n = std::fread(block.data(), 1, tap::kHeaderSize, in);
  std::uint64_t offset = 0;
  bool ok = true;
  if (tap::is_tap(block.data(), n)) {
    tap::Header header;
    std::string error;
    std::fseek(in, 0, SEEK_END);
    const auto size = static_cast<std::uint64_t>(std::ftell(in));
    std::fseek(in, static_cast<long>(tap::kHeaderSize), SEEK_SET);
    if (!tap::parse_header(block.data(), n, size, header, error)) {
      std::fprintf(stderr, "tapewren-scan: %s: %s\n", path, error.c_str());
      std::fclose(in);
      return false;
    }
    platform = header.platform;
    video = header.video;
    half_waves = header.version == 2;
    // Converted a few bytes at a time, so that what is found can be placed in the TAP file.
    tap::TapToDump convert(tap::Unit::half_cycles(), header.version);
    offset = tap::kHeaderSize;
    do {
      n = std::fread(block.data(), 1, block.size(), in);
      for (std::size_t at = 0; at < n; at += kTapStep) {
        words.clear();
        convert.add(block.data() + at, std::min(kTapStep, n - at), words);
        use(words.data(), words.size(), offset + at);
      }
      offset += n;
    } while (n == block.size());
  } else {
    for (;;) {
      n += std::fread(block.data() + n, 1, block.size() - n, in);
      use(block.data(), n, offset);
      offset += n;
      if (n < block.size()) break;
      n = 0;
    }
  }
  if (std::ferror(in)) {
    std::fprintf(stderr, "tapewren-scan: error reading %s: %s\n", path, std::strerror(errno));
    ok = false;
  }
  std::fclose(in);
  return ok;
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
  Options opt;
  const int parsed = parse(argc, argv, opt);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;
  const bool several = opt.inputs.size() > 1;
  int code = 0;
  for (const char* path : opt.inputs) {
    int platform = 0, video = 0;
    bool half_waves = opt.both_edges;
    if (!opt.files && !opt.histogram) {  // the names, as the recorder shows them
      Printer printer(several ? std::string(path) + ": " : std::string());
      tapewren::names::PulseFeed feed(printer);
      if (!stream(path, platform, video, half_waves,
                  [&](const std::uint8_t* w, std::size_t n, std::uint64_t at) {
                    printer.at(at);
                    feed.feed_pulse_words(w, static_cast<std::uint32_t>(n));
                  }))
        code = 1;
      continue;
    }
    // The clock: named on the command line, else the TAP header's, else a C64 PAL's.
    const auto clock = [&] {
      return tap::machine_clock_hz(opt.machine >= 0 ? opt.machine : platform,
                                   opt.video >= 0 ? opt.video : video);
    };
    if (several && opt.files) std::printf("%s:\n", path);
    tapewren::scan::Report report(opt.files, opt.extract, opt.keep_bad);
    std::unique_ptr<tape::Decoder> decoder;  // made once a TAP header has told the machine
    const auto start = [&] {
      decoder = std::make_unique<tape::Decoder>(clock(), report, half_waves);
    };
    const bool read = stream(path, platform, video, half_waves,
                             [&](const std::uint8_t* w, std::size_t n, std::uint64_t at) {
                               if (!decoder) start();
                               decoder->feed(w, n, at);
                             });
    if (!read) {
      code = 1;
      continue;
    }
    if (!decoder) start();
    decoder->finish();
    if (!report.finish() && code == 0) code = 3;
    if (!report.extracted()) code = 1;
    if (opt.histogram && !tapewren::scan::write_histogram(
                             decoder->histogram(), decoder->thresholds(), clock(), opt.histogram)) {
      std::fprintf(stderr, "tapewren-scan: cannot write %s\n", opt.histogram);
      code = 1;
    }
  }
  return code;
}
