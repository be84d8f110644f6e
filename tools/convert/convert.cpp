// tapewren-convert: turns any recording (a dump, a TAP file, a WAV file made with a sound
// card) into any other: a TAP file for emulators and other tape tools, a dump, or a WAV file
// to play to a real machine. The input's format follows from its content, the output's from
// its name (.tap, .dmp or .raw, .wav). The output appears whole when the conversion has
// succeeded, or not at all. What a dump does not say (its machine, whether it holds half
// waves) is told from its pulses as tapewren-scan tells it; an input that holds no tape is
// refused before gigabytes of it are converted.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "audio/wav.hpp"
#include "clean/clean.hpp"
#include "cli/cli.hpp"
#include "cli/recording_input.hpp"
#include "cli/recording_output.hpp"
#include "platform/tool_io.hpp"
#include "programs.hpp"
#include "recording/recording.hpp"
#include "tape/tape.hpp"

namespace {

namespace rec = tapewren::recording;
namespace platform = tapewren::platform;
namespace cli = tapewren::cli;
using tapewren::cli::Exit;
namespace tape = tapewren::tape;
namespace convert = tapewren::convert;

const char kUsage[] =
    "Usage: tapewren-convert [options] IN OUT\n"
    "       tapewren-convert [options] PROGRAM... OUT\n"
    "Converts a recording of a tape (a dump, a TAP file, or a WAV file made with a sound\n"
    "card; told apart by their content) into the format OUT's name says: .tap, .dmp (or\n"
    ".raw), .wav. OUT must not exist.\n"
    "Makes a tape from programs: PRG and SEQ files, or T64 and D64 images (every PRG and\n"
    "SEQ file on them, in directory order), told by their names' endings. Each file goes on\n"
    "the tape in the machine's own format, header and data each twice, named after its file\n"
    "(or its image's directory), with pulses of their nominal lengths; a program at BASIC's\n"
    "start as one BASIC loads wherever it starts.\n"
    "  -m, --machine M  c64, vic20 or c16 (or 0, 1, 2): the TAP platform byte (default:\n"
    "                   the TAP header's; a dump's loaders tell C16, else c64)\n"
    "  -v, --video V    pal or ntsc (or 0, 1)\n"
    "  -b               both edges were recorded: the TAP holds half waves (version 2)\n"
    "                   (default: the TAP version; told from a dump's pulses)\n"
    "  --tick-hz N      the dump's words count ticks of N Hz (default: half cycles of the\n"
    "                   machine's clock)\n"
    "  --rate N         WAV samples per second, 22050 to 192000 (default 44100)\n"
    "  --bits N         WAV sample size, 8 or 16 (default 16)\n"
    "  --polarity P     auto, normal or inverted. WAV in: the waves start rising (normal),\n"
    "                   falling (inverted), or as the signal says after each silence (auto,\n"
    "                   the default). WAV out: inverted starts each wave with its low half,\n"
    "                   for adapters that flip the signal\n"
    "  --invert         the same as --polarity inverted\n"
    "  --channel C      WAV in: left or right (default: the louder)\n"
    "  --force          convert an input that does not look like a tape recording\n"
    "  --clean          rewrite every block a loader read well with its loader's nominal\n"
    "                   pulses; keep pauses, what no loader read and failed blocks as\n"
    "                   recorded; the clean tape is read again and must give the same\n"
    "                   files (one that does not is kept as recorded); prints a report\n"
    "  --turbo          a made tape in Turbo Tape 250 (C64, programs only), loaded by a\n"
    "                   Turbo Tape already in the machine's memory: the tape holds no loader\n"
    "  -h, --help       this text\n"
    "  --version        the version\n"
    "Options take their values as --name VALUE or --name=VALUE.\n"
    "Exit status: 0 converted; 1 a file could not be read or written; 2 usage; 4 no tape\n"
    "in the input (no pulses, or none like a tape's); 128 + N stopped by signal N.\n";
const cli::Tool kTool = {"tapewren-convert", kUsage};

struct Options {
  int machine = -1;  // -1: not given
  int video = -1;
  bool both_edges = false;
  double tick_hz = 0;
  bool wav_options = false;  // --rate or --bits given
  cli::WavReading wav_in;    // --channel, --polarity (for a WAV output too), --invert
  bool force = false;
  bool turbo = false;
  bool clean = false;
  tapewren::audio::WavFormat wav;
  std::string in, out;
  std::vector<std::string> programs;  // a tape made from these, instead of `in` converted
};

// kOk to run, else the exit status: kUsage for a usage error (printed), kOk after --help or
// --version.
Exit parse(int argc, char** argv, Options& opt, bool& done) {
  std::vector<std::string> names;
  cli::Args args(argc, argv);
  done = false;
  while (args.next()) {
    const std::string a = args.name();
    if (!args.option()) {
      names.push_back(a);
      continue;
    }
    Exit code = Exit::kOk;
    if (cli::wav_option(kTool, args, opt.wav_in, code)) {
      if (code != Exit::kOk) return code;
      continue;
    }
    const bool flag = a == "-b" || a == "--force" || a == "--turbo" || a == "-h" || a == "--help" ||
                      a == "--version";
    if (flag && args.inline_value()) return cli::usage_error(kTool, cli::takes_no_value(a));
    std::string v;
    long long n = 0;
    const auto number = [&](long long low, long long high) {
      return cli::parse_number(v, low, high, n);
    };
    if (a == "-h" || a == "--help" || a == "--version") {
      done = true;
      return a == "--version" ? cli::version(kTool) : cli::help(kTool);
    }
    if (a == "-b") {
      opt.both_edges = true;
      continue;
    }
    if (a == "--force") {
      opt.force = true;
      continue;
    }
    if (a == "--turbo") {
      opt.turbo = true;
      continue;
    }
    if (a == "--clean") {
      opt.clean = true;
      continue;
    }
    const bool known = a == "-m" || a == "--machine" || a == "-v" || a == "--video" ||
                       a == "--tick-hz" || a == "--rate" || a == "--bits";
    if (!known) return cli::usage_error(kTool, cli::unknown_option(a));
    if (!args.value(v)) return cli::usage_error(kTool, cli::needs_value(a));
    if (a == "-m" || a == "--machine") {
      opt.machine = cli::parse_machine(v);
      if (opt.machine < 0)
        return cli::usage_error(kTool, a + " needs c64, vic20 or c16 (0, 1 or 2)");
    } else if (a == "-v" || a == "--video") {
      opt.video = cli::parse_video(v);
      if (opt.video < 0) return cli::usage_error(kTool, a + " needs pal or ntsc (0 or 1)");
    } else if (a == "--tick-hz") {
      if (!number(1, 100000000)) return cli::usage_error(kTool, "--tick-hz needs a rate in Hz");
      opt.tick_hz = static_cast<double>(n);
    } else if (a == "--rate") {
      if (!number(22050, 192000))
        return cli::usage_error(kTool, "--rate needs 22050 to 192000 samples a second");
      opt.wav.rate = static_cast<std::uint32_t>(n);
      opt.wav_options = true;
    } else {
      if (!number(8, 16) || (n != 8 && n != 16))
        return cli::usage_error(kTool, "--bits needs 8 or 16");
      opt.wav.bits = static_cast<int>(n);
      opt.wav_options = true;
    }
  }
  if (names.size() >= 2 && convert::program_kind(names[0]) != convert::ProgramKind::kNone) {
    opt.programs.assign(names.begin(), names.end() - 1);
    for (const auto& name : opt.programs)
      if (convert::program_kind(name) == convert::ProgramKind::kNone)
        return cli::usage_error(kTool, name +
                                           ": not a program (.prg, .seq) or an image (.t64, "
                                           ".d64); a recording is converted on its own");
    opt.out = names.back();
    // What describes a recording read in has nothing to describe.
    const char* refused = opt.clean                       ? "--clean"
                          : opt.both_edges                ? "-b"
                          : opt.tick_hz > 0               ? "--tick-hz"
                          : opt.force                     ? "--force"
                          : opt.wav_in.edges.channel >= 0 ? "--channel"
                                                          : nullptr;
    if (refused)
      return cli::usage_error(kTool, std::string(refused) + " is for converting a recording");
    return Exit::kOk;
  }
  if (names.size() != 2) return cli::usage_error(kTool, "name one input and one output file");
  if (opt.turbo) return cli::usage_error(kTool, "--turbo is for a tape made from programs");
  opt.in = names[0];
  opt.out = names[1];
  return Exit::kOk;
}

Exit fail(const std::string& file, const std::string& reason, Exit code = Exit::kFailed) {
  std::fprintf(stderr, "tapewren-convert: %s: %s\n", file.c_str(), reason.c_str());
  return code;
}

constexpr Exit kNoTape = Exit::kNothing;  // as tapewren-scan's "no file found"

// How much of an input is judged: a MiB is half a million dump words or a million TAP pulses,
// minutes of a tape's bits, and only a moment's reading, so that random bytes (/dev/urandom)
// are refused long before gigabytes of them are written.
constexpr std::uint64_t kLookBytes = 1 << 20;

// What the decoder makes of an input: whether its first MiB (all of it, when shorter) looks
// like a tape, and, read on, the machine its loaders tell, or a file of a loader that does not
// tell it (a C64's or a VIC20's: no C16 tape starts with one).
class Look : tape::FileListener {
 public:
  explicit Look(const tape::DecoderSettings& settings) : decoder_(settings, *this) {}
  // `read`: the input's bytes read so far.
  void feed(const rec::Pulses& pulses, std::uint64_t read) {
    decoder_.feed(pulses);
    pulses_ += pulses.count;
    if (!judged_ && read >= kLookBytes) judge(true);
  }
  // The input has ended.
  void finish() {
    decoder_.finish();
    if (!judged_) judge(false);
  }
  bool judged() const { return judged_; }
  bool cut() const { return cut_; }  // judged on the first MiB of a longer input
  std::uint64_t pulses() const { return pulses_; }
  const tape::TapeLikeness& likeness() const { return likeness_; }
  bool machine_guessed() const { return decoder_.machine_guessed(); }
  int machine() const { return decoder_.summary().machine; }
  bool file_found() const { return file_found_; }

 private:
  void on_file(const tape::TapeFile& /*file*/) override { file_found_ = true; }
  void judge(bool cut) {
    judged_ = true;
    cut_ = cut;
    likeness_ = tape::tape_likeness(decoder_.summary());
  }
  tape::Decoder decoder_;
  std::uint64_t pulses_ = 0;
  bool judged_ = false, cut_ = false, file_found_ = false;
  tape::TapeLikeness likeness_;
};

using cli::Output;
using cli::output_of;
using cli::Written;

// Dump words made here into `path`, its failure said.
Exit write_words(const std::vector<std::uint8_t>& words, const Written& how,
                 const std::string& path) {
  std::string error;
  const Exit code = cli::write_words(words, how, path, error);
  if (cli::is_signal(code)) {
    std::fprintf(stderr, "tapewren-convert: stopped by %s: %s not written\n",
                 platform::signal_name(cli::status(code) - 128), path.c_str());
    return code;
  }
  if (code != Exit::kOk) return fail(path, error);
  return Exit::kOk;
}

// One conversion: the input's pulses into the writer, a block at a time, until the input
// ends, an error, or a termination request.
class Conversion {
 public:
  explicit Conversion(const Options& opt) : opt_(opt) {}

  Exit run() {
    kind_ = output_of(opt_.out);
    if (kind_ == Output::kUnknown)
      return cli::usage_error(
          kTool, opt_.out + ": the output's name must end in .tap, .dmp, .raw or .wav");
    if (!in_.open(opt_.in, read_settings())) return fail(opt_.in, in_.error());
    reader_ = &in_.reader();
    if (reader_->bytes_read() == 0 && in_.file().regular() && in_.file().size() == 0)
      return fail(opt_.in, "an empty file: no recording in it");
    if (from_tap()) tap_machine_ = cli::tap_machine(reader_->tap_header(), tap_note_);
    if (const Exit refused = check_options(); refused != Exit::kOk) return refused;
    if (const Exit refused = first_look(); refused != Exit::kOk) return refused;
    if (opt_.clean) return clean();
    if (!out_.create(opt_.out)) return fail(opt_.out, out_.error());
    const Exit code = kind_ == Output::kTap    ? to_tap()
                      : kind_ == Output::kDump ? to_dump()
                                               : to_wav();
    if (code != Exit::kOk) return code;
    if (!out_.commit()) return fail(opt_.out, out_.error());
    return Exit::kOk;
  }

 private:
  int machine() const {
    if (opt_.machine >= 0) return opt_.machine;
    if (tap_machine_ >= 0) return tap_machine_;
    return std::max(guessed_machine_, 0);
  }
  // -b; a TAP file's version; a dump's pulses (only a regular file is read twice to tell).
  bool half_waves() const {
    return opt_.both_edges || (from_tap() && reader_->half_waves()) ||
           (from_dump() && guessed_half_waves_);
  }
  int video() const {
    if (opt_.video >= 0) return opt_.video;
    return reader_ && from_tap() && reader_->tap_header().video == 1 ? 1 : 0;
  }
  double clock_hz() const { return rec::machine_clock_hz(machine(), video()); }
  rec::ReadSettings read_settings() const {
    return cli::read_settings(opt_.machine, opt_.video, opt_.wav_in, opt_.both_edges, opt_.tick_hz);
  }
  bool from_tap() const { return reader_->format() == rec::Format::kTap; }
  bool from_wav() const { return reader_->format() == rec::Format::kWav; }
  bool from_dump() const { return reader_->format() == rec::Format::kDump; }

  tape::DecoderSettings decoder_settings() const {
    tape::DecoderSettings ds;
    ds.machine = opt_.machine;
    ds.default_machine = machine();
    ds.video = video() == 1 ? 1 : 0;
    ds.half_waves = half_waves();
    return ds;
  }

  // Runs `use` on the input read again from its start; false when it cannot be opened again
  // (the conversion itself will tell why).
  template <typename Use>
  bool reread(Use use) const {
    cli::RecordingInput again;
    if (!again.open(opt_.in, read_settings())) return false;
    use(again);
    return true;
  }

  // Before anything is written, a regular file is read for what a dump does not say (whether
  // its pulses are half waves, then its machine, found as tapewren-scan finds them) and, but
  // for a WAV file's sound, judged: no pulses, or none like a tape's, is no tape to convert.
  // A pipe is read once: judged as it goes (in each_pulse), and what it does not say is
  // assumed, with a note. kOk, or the status of a refusal.
  Exit first_look() {
    if (from_wav()) return Exit::kOk;
    if (!in_.file().regular()) {
      look_ = std::make_unique<Look>(decoder_settings());
      return Exit::kOk;
    }
    // A TAP header and a sound need the machine and the edges; a dump neither.
    const bool told = from_dump() && kind_ != Output::kDump;
    if (told && !opt_.both_edges)
      reread([&](cli::RecordingInput& r) {
        guessed_half_waves_ = tape::guess_half_waves(r.reader());
      });
    // Ticks are counted in -m's clock (C64's by default): then so is everything else.
    const bool want_machine = told && opt_.machine < 0 && opt_.tick_hz <= 0;
    Exit code = Exit::kOk;
    reread([&](cli::RecordingInput& r) {
      Look look(decoder_settings());
      bool given = false, stopped = false;
      const Exit read = r.read([&](const rec::Pulses& pulses) {
        look.feed(pulses, r.reader().bytes_read());
        if (look.judged() && !given) {
          given = true;
          code = verdict(look);
        }
        stopped = code != Exit::kOk ||
                  (given && (!want_machine || look.machine_guessed() || look.file_found()));
        return !stopped;
      });
      if (cli::is_signal(read)) {
        code = interrupted();
        return;
      }
      if (read != Exit::kOk) return;  // the conversion will say what could not be read
      if (!stopped) {
        look.finish();
        if (!given) code = verdict(look);
      }
      if (want_machine && look.machine_guessed()) guessed_machine_ = look.machine();
    });
    return code;
  }

  // kOk when the input holds pulses that look like a tape's (or --force), else the status of
  // the refusal, told.
  Exit verdict(const Look& look) const {
    if (!look.cut() && look.pulses() == 0)
      return fail(opt_.in, "no pulses in it: nothing to convert; nothing written", kNoTape);
    const tape::TapeLikeness& l = look.likeness();
    if (l.tape || opt_.force) return Exit::kOk;
    return fail(opt_.in,
                std::string("does not look like a tape recording (") +
                    (look.cut() ? "in its first MiB: " : "") + "no pilot tone, and " +
                    std::to_string(l.clustered) + " of " + std::to_string(l.pulses) +
                    " pulses at a tape's bit lengths); --force converts it all the same; "
                    "nothing written",
                kNoTape);
  }

  // A dump read from a pipe is not read twice to tell its machine and edges: what was taken.
  void note_assumed() const {
    if (!from_dump() || in_.file().regular() || kind_ == Output::kDump) return;
    std::string what, taken, options;
    if (opt_.machine < 0) {
      what = "machine";
      taken = "C64";
      options = "-m";
    }
    if (!opt_.both_edges) {
      what += what.empty() ? "edges" : " and edges";
      taken += taken.empty() ? "whole pulses" : ", whole pulses";
      options += options.empty() ? "-b" : " and -b";
    }
    if (what.empty()) return;
    note(opt_.in + ": a pipe is not read twice to tell a dump's " + what + ": taken as " + taken +
         " (" + options + (options.size() > 2 ? " say" : " says") + " otherwise)");
  }

  // Options that would have no effect are refused rather than ignored.
  Exit check_options() {
    if (opt_.wav_options && kind_ != Output::kWav)
      return cli::usage_error(kTool, "--rate and --bits are for a WAV output (OUT ending in .wav)");
    if (!opt_.wav_in.polarity_option.empty() && kind_ != Output::kWav && !from_wav())
      return cli::usage_error(kTool, opt_.wav_in.polarity_option + " is for a WAV input or output");
    if (opt_.wav_in.edges.channel >= 0 && !from_wav())
      return cli::usage_error(kTool, "--channel is for a WAV input");
    if (opt_.tick_hz > 0 && (from_tap() || from_wav()) && kind_ != Output::kDump)
      return cli::usage_error(kTool, "--tick-hz describes a dump file; neither " +
                                         std::string(opt_.in) + " nor " + opt_.out + " is one");
    if (from_tap()) {
      if (!tap_note_.empty()) note(opt_.in + ": " + tap_note_);
      const auto& h = reader_->tap_header();
      if (opt_.machine >= 0 && opt_.machine != h.platform)
        note("the TAP header says platform " + std::to_string(h.platform) + ", using -m " +
             std::to_string(opt_.machine));
      if (opt_.both_edges != (h.version == 2))
        note("a version " + std::to_string(h.version) + " TAP holds " +
             (h.version == 2 ? "half waves (both edges)" : "whole pulses (single edge)"));
    }
    return Exit::kOk;
  }

  void note(const std::string& text) const {
    std::fprintf(stderr, "tapewren-convert: note: %s\n", text.c_str());
  }

  // Every pulse of the input to `write`; kOk, or the status of what went wrong.
  template <typename Write>
  Exit each_pulse(Write write) {
    std::uint64_t all = 0;
    Exit code = Exit::kOk;
    const Exit read = in_.read([&](const rec::Pulses& pulses) {
      if (look_) {  // a pipe: judged on its first MiB, as it goes
        look_->feed(pulses, reader_->bytes_read());
        if (look_->judged()) {
          if ((code = verdict(*look_)) != Exit::kOk) return false;
          look_.reset();
        }
      }
      all += pulses.count;
      for (std::size_t i = 0; i < pulses.count; ++i) {
        if (!write(pulses.length[i])) {
          code = write_failed();
          return false;
        }
      }
      return true;
    });
    if (cli::is_signal(read)) return interrupted();
    if (code != Exit::kOk) return code;
    if (read != Exit::kOk) return fail(opt_.in, in_.error());
    for (const auto& n : in_.notes()) note(std::string(opt_.in) + ": " + n);
    if (look_) {
      look_->finish();
      if (const Exit refused = verdict(*look_); refused != Exit::kOk) return refused;
    }
    if (all == 0)  // a sound of silence
      return fail(opt_.in, "no pulses in it: nothing to convert; nothing written", kNoTape);
    note_assumed();
    return Exit::kOk;
  }

  // After a termination request: said, and its status; kOk before one.
  Exit interrupted() const {
    const int signal = platform::termination_signal();
    if (signal == 0) return Exit::kOk;
    std::fprintf(stderr, "tapewren-convert: stopped by %s: %s not written\n",
                 platform::signal_name(signal), opt_.out.c_str());
    return cli::signalled(signal);
  }

  // The writer's own reason (a limit passed), else the file's (the disk full).
  Exit write_failed() {
    if (const Exit code = interrupted(); code != Exit::kOk) return code;
    return fail(opt_.out, limit_error_.empty() ? out_.error() : limit_error_);
  }

  // A regular file can be read twice: once to measure what the output would be, so that one
  // too big for its format is refused before anything is written.
  template <typename Measure>
  bool measure(Measure each) {
    if (!in_.file().regular()) return true;
    bool fits = true;
    reread([&](cli::RecordingInput& again) {  // what it cannot read, the conversion will tell
      again.read([&](const rec::Pulses& pulses) {
        for (std::size_t i = 0; i < pulses.count && fits; ++i) fits = each(pulses.length[i]);
        return fits;
      });
    });
    return fits;
  }

  Exit to_tap() {
    rec::TapHeader header;
    header.version = half_waves() ? 2 : 1;
    header.platform = static_cast<std::uint8_t>(machine());
    header.video = static_cast<std::uint8_t>(video());
    header.c16_signature = header.platform == 2;  // as the C16's emulators write them
    // A dump word makes at most 4 TAP bytes: only a dump over 1 GiB can pass the limit.
    if (in_.file().size() > rec::kMaxTapData / 4) {
      tapewren::io::CountingSink count;
      rec::TapWriter counter(count, header);
      if (!measure([&](std::uint64_t p) { return counter.pulse(p); }))
        return fail(opt_.out, counter.error() + "; nothing written");
    }
    rec::TapWriter tap(out_, header);
    const Exit code = each_pulse([&](std::uint64_t p) {
      if (tap.pulse(p)) return true;
      limit_error_ = tap.error();
      return false;
    });
    if (code != Exit::kOk) return code;
    return tap.finish() ? Exit::kOk : write_failed();
  }

  Exit to_dump() {
    rec::DumpWriter dump(out_, opt_.tick_hz, clock_hz());
    const Exit code = each_pulse([&](std::uint64_t p) { return dump.pulse(p); });
    if (code != Exit::kOk) return code;
    return dump.finish() ? Exit::kOk : write_failed();
  }

  // A pulse that runs past one dump word is a pause between blocks: silence of its length.
  Exit to_wav() {
    tapewren::audio::WavFormat format = opt_.wav;
    format.half_waves = half_waves();
    // For a WAV input it said how that one was.
    format.invert = opt_.wav_in.edges.polarity < 0 && !from_wav();
    const auto tick_hz = static_cast<std::uint64_t>(2 * clock_hz());
    tapewren::io::CountingSink nowhere;
    const tapewren::audio::WavWriter sizes(format, tick_hz, nowhere);
    std::uint64_t total = 0;
    measure([&](std::uint64_t p) {
      total += p;
      return true;
    });
    if (sizes.data_bytes_for(total) > tapewren::audio::kMaxDataBytes)
      return fail(opt_.out,
                  "the sound would be over 4 GiB, more than one WAV file holds; nothing written");
    tapewren::audio::WavWriter wav(format, tick_hz, out_);
    const Exit code = each_pulse([&](std::uint64_t p) {
      if (wav.pulse(p, p >= rec::kContinues)) return true;
      limit_error_ = wav.error();
      return false;
    });
    if (code != Exit::kOk) return code;
    if (wav.finish()) return Exit::kOk;
    limit_error_ = wav.error();
    return write_failed();
  }

  // ---- --clean ----------------------------------------------------------------------------

  // The input decoded, every file kept.
  struct Decoded : tape::FileListener {
    std::vector<tape::TapeFile> files;
    tape::Summary summary;
    void on_file(const tape::TapeFile& file) override { files.push_back(file); }
  };

  Exit clean() {
    if (!in_.file().regular())
      return cli::usage_error(kTool, "--clean reads its input twice: name a file, not a pipe");
    Decoded first;
    {
      tape::Decoder decoder(decoder_settings(), first);
      if (!reread([&](cli::RecordingInput& r) {
            r.read([&](const rec::Pulses& pulses) {
              decoder.feed(pulses);
              return true;
            });
          }))
        return fail(opt_.in, "cannot be read again");
      decoder.finish();
      first.summary = decoder.summary();
    }
    if (const Exit code = interrupted(); code != Exit::kOk) return code;
    const int machine = first.summary.machine;
    tapewren::clean::Cleaned cleaned;
    const auto replay = [&](const std::function<void(const rec::Pulses&)>& use) {
      Exit read = Exit::kOk;
      return reread([&](cli::RecordingInput& r) {
               read = r.read([&](const rec::Pulses& pulses) {
                 use(pulses);
                 return true;
               });
             }) &&
             read == Exit::kOk;
    };
    if (!tapewren::clean::clean(first.files, decoder_settings(), machine, replay, cleaned)) {
      if (const Exit code = interrupted(); code != Exit::kOk) return code;
      return fail(opt_.in, "cannot be read again");
    }
    const std::vector<std::uint8_t>& words = cleaned.words;
    const Exit code = write_words(words,
                                  {kind_, machine, video(), half_waves(), opt_.wav,
                                   opt_.wav_in.edges.polarity < 0 && !from_wav()},
                                  opt_.out);
    if (code != Exit::kOk) return code;
    report(first, cleaned.plan, cleaned.raw, cleaned.counts);
    return Exit::kOk;
  }

  // What was rewritten and what kept as recorded, file by file and in all.
  void report(const Decoded& d, const std::vector<tapewren::clean::Stretch>& plan,
              const std::set<std::size_t>& raw, const tapewren::clean::Counts& counts) const {
    std::map<std::size_t, std::size_t> rewritten;  // blocks of each file
    std::set<std::size_t> learned;                 // files at lengths learned from the tape
    std::size_t repaired = 0;
    for (const auto& s : plan) {
      ++rewritten[s.file];
      repaired += s.replacement.empty() ? 0 : 1;
      if (s.learned) learned.insert(s.file);
    }
    std::size_t whole = 0, steady = 0;
    for (std::size_t i = 0; i < d.files.size(); ++i) {
      const tape::TapeFile& f = d.files[i];
      const bool all = rewritten.count(i) > 0 && rewritten.at(i) == f.blocks.size();
      whole += all ? 1 : 0;
      steady += all && learned.count(i) > 0 ? 1 : 0;
      if (all) continue;
      const char* why = raw.count(i) > 0         ? "the clean tape did not give it back"
                        : rewritten.count(i) > 0 ? "rewritten but for blocks that failed"
                        : f.verdict == tape::Verdict::kNamed
                            ? "only named: its blocks were not read"
                        : tape::is_good(f) || f.verdict == tape::Verdict::kUnverified
                            ? "its pulses show no lengths to learn"
                            : tape::verdict_text(f.verdict);
      std::printf("kept as recorded: %3zu  %-10s %-16s  %s\n", i + 1,
                  f.loader ? f.loader->name : "", tape::readable_name(f.name).c_str(), why);
    }
    const double share = counts.pulses ? 100.0 * static_cast<double>(counts.rewritten) /
                                             static_cast<double>(counts.pulses)
                                       : 0;
    std::printf(
        "%s: %zu of %zu files rewritten with nominal pulses (%zu of them at lengths learned "
        "from the tape, %zu damaged copies written again from their repeats); %.1f %% of the "
        "pulses rewritten, the rest (pauses, what no loader read, the files above) as "
        "recorded\n",
        opt_.out.c_str(), whole, d.files.size(), steady, repaired, share);
  }

  const Options& opt_;
  Output kind_ = Output::kTap;
  cli::RecordingInput in_;
  rec::Reader* reader_ = nullptr;  // in_'s, once open
  int tap_machine_ = -1;           // a TAP file's, as its header names it
  std::string tap_note_;           // what was odd in that header
  platform::OutputFile out_;
  std::string limit_error_;
  int guessed_machine_ = -1;  // a dump's, as its loaders tell it; -1: not told
  bool guessed_half_waves_ = false;
  std::unique_ptr<Look> look_;  // a pipe's first MiB, being judged
};

// A tape made from programs, into the output as a TAP file, a dump or a sound.
Exit make_tape(const Options& opt) {
  const Output kind = output_of(opt.out);
  if (kind == Output::kUnknown)
    return cli::usage_error(kTool,
                            opt.out + ": the output's name must end in .tap, .dmp, .raw or .wav");
  if (opt.wav_options && kind != Output::kWav)
    return cli::usage_error(kTool, "--rate and --bits are for a WAV output (OUT ending in .wav)");
  if (!opt.wav_in.polarity_option.empty() && kind != Output::kWav)
    return cli::usage_error(kTool, opt.wav_in.polarity_option + " is for a WAV output");
  convert::MadeTape how;
  how.machine = std::max(opt.machine, 0);
  how.turbo = opt.turbo;
  if (how.turbo && how.machine != 0)
    return cli::usage_error(kTool, "--turbo makes a C64 tape: Turbo Tape 250 is the C64's");
  const int video = std::max(opt.video, 0);
  std::vector<tapewren::image::File> files;
  std::vector<std::string> notes;
  std::string error;
  if (!convert::read_programs(opt.programs, files, notes, error))
    return fail(error, "nothing written");
  for (const auto& n : notes) std::fprintf(stderr, "tapewren-convert: note: %s\n", n.c_str());
  std::vector<std::uint8_t> words;
  if (!convert::program_tape(files, how, words, error)) return fail(error, "nothing written");
  return write_words(
      words, {kind, how.machine, video, false, opt.wav, opt.wav_in.edges.polarity < 0}, opt.out);
}

}  // namespace

int main(int argc, char** argv) {
  platform::open_missing_tool_streams();
  platform::catch_termination();
  Options opt;
  bool done = false;
  Exit code = parse(argc, argv, opt, done);
  if (code == Exit::kOk && !done)
    code = opt.programs.empty() ? Conversion(opt).run() : make_tape(opt);
  return cli::status(cli::close_output(kTool, code));
}
