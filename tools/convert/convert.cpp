// tapewren-convert: turns a dump file into a TAP file for emulators and other tape tools, a
// TAP file into a dump file, and either into a WAV file to play to a real machine. The
// direction follows from the input (a TAP file starts with its signature) and the output's
// name (.wav).
#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/wav.hpp"
#include "platform/host.hpp"
#include "tap_format.hpp"

#ifndef O_BINARY
#define O_BINARY 0  // only Windows tells text files from binary ones
#endif

namespace {

namespace tap = tapewren::tap;

constexpr std::size_t kBlockSize = 1 << 20;

const char kUsage[] =
    "Usage: tapewren-convert [-m 0|1|2] [-v 0|1] [-b] [--tick-hz N] [WAV options] IN OUT\n"
    "Converts a dump file to a TAP file, or a TAP file to a dump file; OUT must not exist.\n"
    "An OUT ending in .wav gets the tape as sound, from a dump or a TAP file.\n"
    "  -m N          machine: 0 = C64/Generic, 1 = VIC20, 2 = C16 (TAP platform byte)\n"
    "  -v N          video standard: 0 = PAL, 1 = NTSC\n"
    "  -b            both edges were recorded: the TAP holds half waves (version 2)\n"
    "  --tick-hz N   the device counts ticks of N Hz (default: half cycles of the\n"
    "                machine's clock)\n"
    "  --rate N      WAV samples per second, 22050 to 192000 (default 44100)\n"
    "  --bits N      WAV sample size, 8 or 16 (default 16)\n"
    "  --invert      WAV waves low half first, for adapters that flip the signal\n";

struct Options {
  int machine = -1;  // -1: not given
  int video = -1;
  bool both_edges = false;
  double tick_hz = 0;
  tapewren::audio::WavFormat wav;
  const char* in = nullptr;
  const char* out = nullptr;
};

bool number(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  value = v;
  return true;
}

int usage_error(const std::string& message) {
  std::fprintf(stderr, "tapewren-convert: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// 0 to run, 2 for a usage error (printed), -1 after --help.
int parse(int argc, char** argv, Options& opt) {
  std::vector<const char*> names;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    long v = 0;
    auto value = [&](long low, long high) {
      return i + 1 < argc && number(argv[i + 1], low, high, v) && (++i, true);
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return -1;
    }
    if (a == "-m") {
      if (!value(0, 2)) return usage_error("-m needs 0, 1 or 2");
      opt.machine = static_cast<int>(v);
    } else if (a == "-v") {
      if (!value(0, 1)) return usage_error("-v needs 0 or 1");
      opt.video = static_cast<int>(v);
    } else if (a == "-b") {
      opt.both_edges = true;
    } else if (a == "--tick-hz") {
      if (!value(1, 100000000)) return usage_error("--tick-hz needs a rate in Hz");
      opt.tick_hz = static_cast<double>(v);
    } else if (a == "--rate") {
      if (!value(22050, 192000))
        return usage_error("--rate needs 22050 to 192000 samples a second");
      opt.wav.rate = static_cast<std::uint32_t>(v);
    } else if (a == "--bits") {
      if (!value(8, 16) || (v != 8 && v != 16)) return usage_error("--bits needs 8 or 16");
      opt.wav.bits = static_cast<int>(v);
    } else if (a == "--invert") {
      opt.wav.invert = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return usage_error("unknown option " + a);
    } else {
      names.push_back(argv[i]);
    }
  }
  if (names.size() != 2) return usage_error("name one input and one output file");
  opt.in = names[0];
  opt.out = names[1];
  return 0;
}

// The output file, created new; removed again if the conversion fails half way.
class Output {
 public:
  // O_EXCL: an existing file is never overwritten (the C library's "x" mode is not
  // available everywhere).
  explicit Output(const char* path) : path_(path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_BINARY, 0666);
    if (fd >= 0) file_ = ::fdopen(fd, "wb");
  }
  ~Output() {
    if (file_) std::fclose(file_);
    if (file_ && !kept_) std::remove(path_);
  }
  bool ok() const { return file_ != nullptr; }
  bool write(const std::vector<std::uint8_t>& bytes) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  bool rewrite_start(const std::vector<std::uint8_t>& bytes) {
    return std::fseek(file_, 0, SEEK_SET) == 0 && write(bytes);
  }
  bool keep() {
    kept_ = std::fflush(file_) == 0 && !std::ferror(file_);
    return kept_;
  }

 private:
  const char* path_;
  std::FILE* file_ = nullptr;
  bool kept_ = false;
};

int fail(const std::string& message) {
  std::fprintf(stderr, "tapewren-convert: %s\n", message.c_str());
  return 1;
}

int tap_to_dump(std::FILE* in, std::uint64_t size, const Options& opt) {
  std::vector<std::uint8_t> block(kBlockSize);
  const std::size_t got = std::fread(block.data(), 1, tap::kHeaderSize, in);
  tap::Header header;
  std::string error;
  if (!tap::parse_header(block.data(), got, size, header, error))
    return fail(std::string(opt.in) + ": " + error);
  if (opt.machine >= 0 && opt.machine != header.platform)
    std::fprintf(stderr, "tapewren-convert: note: the TAP header says platform %d, using -m %d\n",
                 header.platform, opt.machine);
  if (opt.both_edges != (header.version == 2))
    std::fprintf(stderr, "tapewren-convert: note: a version %d TAP holds %s\n", header.version,
                 header.version == 2 ? "half waves (both edges)" : "whole pulses (single edge)");
  const int machine = opt.machine >= 0 ? opt.machine : header.platform;
  const int video = opt.video >= 0 ? opt.video : header.video;
  const tap::Unit unit =
      opt.tick_hz > 0 ? tap::Unit::ticks(opt.tick_hz, machine, video) : tap::Unit::half_cycles();
  Output out(opt.out);
  if (!out.ok()) return fail(std::string("cannot create ") + opt.out + ": " + std::strerror(errno));
  tap::TapToDump convert(unit, header.version);
  std::vector<std::uint8_t> words;
  for (;;) {
    const std::size_t n = std::fread(block.data(), 1, block.size(), in);
    words.clear();
    convert.add(block.data(), n, words);
    if (!out.write(words)) return fail(std::string("cannot write ") + opt.out);
    if (n < block.size()) break;
  }
  if (std::ferror(in)) return fail(std::string("cannot read ") + opt.in);
  if (!convert.finish(error)) return fail(std::string(opt.in) + ": " + error);
  if (convert.unknown_lengths() > 0)
    std::fprintf(stderr,
                 "tapewren-convert: note: %llu overlong pulses of unknown length (TAP version 0) "
                 "written as 2048 cycles\n",
                 static_cast<unsigned long long>(convert.unknown_lengths()));
  if (!out.keep()) return fail(std::string("cannot write ") + opt.out);
  return 0;
}

int dump_to_tap(std::FILE* in, std::uint64_t size, const Options& opt) {
  if (size % 2 != 0)
    return fail(std::string(opt.in) +
                ": neither a TAP file nor a dump file (a dump holds "
                "16-bit words, but this file has an odd length)");
  tap::Header header;
  header.version = opt.both_edges ? 2 : 1;
  header.platform = static_cast<std::uint8_t>(opt.machine >= 0 ? opt.machine : 0);
  header.video = static_cast<std::uint8_t>(opt.video >= 0 ? opt.video : 0);
  header.c16_signature = header.platform == 2 && opt.both_edges;
  const tap::Unit unit = opt.tick_hz > 0
                             ? tap::Unit::ticks(opt.tick_hz, header.platform, header.video)
                             : tap::Unit::half_cycles();
  Output out(opt.out);
  if (!out.ok()) return fail(std::string("cannot create ") + opt.out + ": " + std::strerror(errno));
  if (!out.write(tap::make_header(header))) return fail(std::string("cannot write ") + opt.out);
  tap::DumpToTap convert(unit);
  std::vector<std::uint8_t> block(kBlockSize), bytes;
  std::uint64_t length = 0;
  for (;;) {
    const std::size_t n = std::fread(block.data(), 1, block.size(), in);
    bytes.clear();
    convert.add(block.data(), n, bytes);
    if (n < block.size()) convert.finish(bytes);
    length += bytes.size();
    if (!out.write(bytes)) return fail(std::string("cannot write ") + opt.out);
    if (n < block.size()) break;
  }
  if (std::ferror(in)) return fail(std::string("cannot read ") + opt.in);
  if (length > 0xFFFFFFFFull) return fail("the recording is too long for one TAP file");
  header.length = static_cast<std::uint32_t>(length);
  if (!out.rewrite_start(tap::make_header(header)) || !out.keep())
    return fail(std::string("cannot write ") + opt.out);
  return 0;
}

}  // namespace

bool ends_with_wav(const std::string& name) {
  std::string end = name.size() >= 4 ? name.substr(name.size() - 4) : "";
  for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == ".wav";
}

// Dump words (or a TAP file's pulses as words) to sound. A pulse that runs past one word is a
// pause between blocks: silence of its length.
int to_wav(std::FILE* in, std::uint64_t size, bool is_tap, Options opt) {
  std::vector<std::uint8_t> block(kBlockSize), words, samples;
  tap::Header header;
  std::string error;
  std::uint64_t tick_hz = 0;
  std::unique_ptr<tap::TapToDump> from_tap;
  if (is_tap) {
    const std::size_t got = std::fread(block.data(), 1, tap::kHeaderSize, in);
    if (!tap::parse_header(block.data(), got, size, header, error))
      return fail(std::string(opt.in) + ": " + error);
    opt.wav.half_waves = header.version == 2;
    tick_hz = static_cast<std::uint64_t>(
        2 * tap::machine_clock_hz(opt.machine >= 0 ? opt.machine : header.platform,
                                  opt.video >= 0 ? opt.video : header.video));
    from_tap = std::make_unique<tap::TapToDump>(tap::Unit::half_cycles(), header.version);
  } else {
    if (size % 2 != 0)
      return fail(std::string(opt.in) +
                  ": a dump holds 16-bit words, but this file has an odd length");
    opt.wav.half_waves = opt.both_edges;
    tick_hz = static_cast<std::uint64_t>(
        opt.tick_hz > 0
            ? opt.tick_hz
            : 2 * tap::machine_clock_hz(std::max(opt.machine, 0), std::max(opt.video, 0)));
  }
  tapewren::audio::WavWriter wav(opt.wav, tick_hz);
  Output out(opt.out);
  if (!out.ok()) return fail(std::string("cannot create ") + opt.out + ": " + std::strerror(errno));
  if (!out.write(wav.header())) return fail(std::string("cannot write ") + opt.out);
  std::uint64_t pending = 0;
  for (;;) {
    const std::size_t n = std::fread(block.data(), 1, block.size(), in);
    const std::vector<std::uint8_t>* w = &block;
    std::size_t count = n;
    if (from_tap) {
      words.clear();
      from_tap->add(block.data(), n, words);
      w = &words;
      count = words.size();
    }
    samples.clear();
    for (std::size_t i = 0; i + 1 < count; i += 2) {
      const auto word = static_cast<std::uint16_t>((*w)[i] | (*w)[i + 1] << 8);
      pending += word;
      if (word == tap::kContinues) continue;
      wav.pulse(pending, pending >= tap::kContinues, samples);
      pending = 0;
    }
    if (n < block.size() && pending > 0) wav.pulse(pending, true, samples);  // going on at the end
    if (wav.data_bytes() > tapewren::audio::kMaxDataBytes)
      return fail(std::string(opt.out) +
                  ": the sound would be over 4 GiB, more than one WAV file holds");
    if (!out.write(samples)) return fail(std::string("cannot write ") + opt.out);
    if (n < block.size()) break;
  }
  if (std::ferror(in)) return fail(std::string("cannot read ") + opt.in);
  if (from_tap && !from_tap->finish(error)) return fail(std::string(opt.in) + ": " + error);
  if (!out.rewrite_start(wav.header()) || !out.keep())
    return fail(std::string("cannot write ") + opt.out);
  return 0;
}

int main(int argc, char** argv) {
  tapewren::platform::open_missing_standard_streams();
  Options opt;
  const int parsed = parse(argc, argv, opt);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;
  std::FILE* in = std::fopen(opt.in, "rb");
  if (!in) return fail(std::string("cannot read ") + opt.in + ": " + std::strerror(errno));
  std::uint8_t start[12] = {};
  const std::size_t got = std::fread(start, 1, sizeof start, in);
  std::uint64_t size = 0;
  if (std::fseek(in, 0, SEEK_END) == 0) size = static_cast<std::uint64_t>(std::ftell(in));
  std::rewind(in);
  const bool is_tap = tap::is_tap(start, got);
  const int code = ends_with_wav(opt.out) ? to_wav(in, size, is_tap, opt)
                   : is_tap               ? tap_to_dump(in, size, opt)
                                          : dump_to_tap(in, size, opt);
  std::fclose(in);
  return code;
}
