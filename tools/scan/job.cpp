// One recording scanned: read through the recording reader a block of pulses at a time, into
// the name feed, or into the decoder and the map.
#include "job.hpp"

#include <algorithm>
#include <filesystem>
#include <memory>

#include "json.hpp"
#include "names/pulse_feed.hpp"
#include "pictures.hpp"
#include "platform/tool_io.hpp"
#include "recording/recording.hpp"
#include "tape/tape.hpp"

namespace tapewren::scan {

namespace {

namespace rec = tapewren::recording;

// Names as the recorder prints them, with where each header ends in the input.
class Printer : public names::NameListener {
 public:
  Printer(std::string prefix, Channel& channel) : prefix_(std::move(prefix)), channel_(channel) {}
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
    channel_.out(prefix_ + "Filename intercepted: " + name + " (header ends at byte " +
                 std::to_string(end) + ")\n");
  }

 private:
  std::string prefix_;
  Channel& channel_;
  names::PulseFeed feed_{*this};
  const rec::Pulses* pulses_ = nullptr;
  std::vector<std::uint8_t> words_;
  std::vector<std::uint32_t> pulse_of_;
};

std::string message(const std::string& file, const std::string& text) {
  return "tapewren-scan: " + file + ": " + text + "\n";
}

// One input read through the recording reader, a block of pulses at a time. `start` is told
// what the input says of itself before the first block. 0, or the exit code of what failed.
template <typename Start, typename Use>
int stream(const std::string& path, const rec::ReadSettings& rs, Channel& channel,
           std::string& error, Start start, Use use) {
  auto in = platform::InputFile::open(path, error);
  if (!in) {
    channel.err(message(path, error));
    return 1;
  }
  rec::Reader reader(*in, rs);
  if (!reader.open()) {
    error = reader.error();
    channel.err(message(path, error));
    return 1;
  }
  start(reader, *in);
  auto pulses = std::make_unique<rec::Pulses>();
  while (reader.next(*pulses)) {
    use(*pulses);
    if (platform::termination_signal() != 0) break;
  }
  if (const int signal = platform::termination_signal()) {
    channel.err(std::string("tapewren-scan: stopped by ") + platform::signal_name(signal) + "\n");
    return 128 + signal;
  }
  if (!reader.error().empty()) {
    error = reader.error();
    channel.err(message(path, error));
    return 1;
  }
  for (const auto& note : reader.notes()) channel.err(message(path, "note: " + note));
  return 0;
}

// The machine a TAP header names, with a note where it says something odd.
int tap_machine(const rec::TapHeader& h, const std::string& path, Channel& channel) {
  if (h.c16_signature && h.platform != 2) {
    channel.err(message(path, "note: a C16-TAPE-RAW header with platform " +
                                  std::to_string(h.platform) + ": taken as C16"));
    return 2;
  }
  if (h.platform > 2) {
    channel.err(message(path, "note: unknown platform " + std::to_string(h.platform) +
                                  " in the TAP header: taken as C64"));
    return 0;
  }
  return h.platform;
}

// Whether a dump holds half waves, from a first look at its start.
bool guess_half_waves(const std::string& path) {
  std::string error;
  auto in = platform::InputFile::open(path, error);
  if (!in) return false;
  rec::Reader reader(*in);
  return reader.open() && tape::guess_half_waves(reader);
}

// What the decoder is told of a recording, from the options and what the input says of
// itself; how each was come by goes into `assumed`.
tape::DecoderSettings decoder_settings(const Options& opt, const rec::Reader& reader,
                                       const platform::InputFile& in, const std::string& path,
                                       Channel& channel, Assumptions& assumed, int& tap_platform) {
  tape::DecoderSettings ds;
  ds.machine = opt.machine;
  ds.loaders = opt.loaders;
  assumed.machine = opt.machine >= 0 ? "given" : "assumed";
  const bool tap = reader.format() == rec::Format::kTap;
  const bool wav = reader.format() == rec::Format::kWav;
  if (tap) {
    const rec::TapHeader& h = reader.tap_header();
    tap_platform = tap_machine(h, path, channel);
    ds.default_machine = tap_platform;
    if (opt.machine < 0) assumed.machine = "from the TAP header";
    if (opt.video < 0) ds.video = h.video == 1 ? 1 : 0;
  }
  if (opt.video >= 0) ds.video = opt.video;
  if (opt.both_edges) {
    ds.half_waves = true;
    assumed.edges = "given";
  } else if (tap) {
    ds.half_waves = reader.half_waves();
    assumed.edges = "from the TAP version";
  } else if (wav) {
    assumed.edges = "whole waves of the sound";
  } else if (in.regular()) {
    ds.half_waves = guess_half_waves(path);
    assumed.edges = "guessed from the pulses";
  } else {
    assumed.edges = "assumed: a pipe is not read twice to guess";
  }
  assumed.half_waves = ds.half_waves;
  return ds;
}

const char* format_name(const rec::Reader& reader) {
  return reader.format() == rec::Format::kTap   ? "TAP"
         : reader.format() == rec::Format::kWav ? "WAV"
                                                : "dump";
}

// The settings of a WAV file's reading: times in the machine's cycles, the channel and the
// polarity as given, -b for half waves.
rec::ReadSettings read_settings(const Options& opt) {
  rec::ReadSettings rs;
  rs.clock_hz = rec::machine_clock_hz(std::max(opt.machine, 0), std::max(opt.video, 0));
  rs.wav = opt.wav.edges;
  rs.wav.half_waves = opt.both_edges;
  return rs;
}

// A picture written like every other output: whole or not at all, never over a file.
bool write_picture(const std::string& path, const std::string& content, Channel& channel) {
  platform::OutputFile file;
  if (file.create(path) &&
      file.write(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()) &&
      file.commit())
    return true;
  channel.err(message(path, file.error()));
  return false;
}

}  // namespace

Outcome scan_recording(const Options& opt, const Input& input, Channel& channel) {
  Outcome outcome;
  const std::string& path = input.path;
  const rec::ReadSettings rs = read_settings(opt);
  if (!opt.files && !opt.json && input.histogram.empty() && input.map.empty()) {
    Printer printer(input.prefixed ? path + ": " : std::string(), channel);
    std::string error;
    outcome.code = stream(
        path, rs, channel, error, [](const rec::Reader&, const platform::InputFile&) {},
        [&](const rec::Pulses& p) { printer.feed(p); });
    outcome.read = outcome.code == 0;
    return outcome;
  }
  if (input.prefixed && opt.files && !opt.json) channel.out(path + ":\n");
  if (!input.extract_dir.empty()) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // A recording's own folder in DIR: one that is a link would send its files out of DIR.
    if (input.extract_dir != opt.extract &&
        fs::is_symlink(fs::symlink_status(input.extract_dir, ec))) {
      channel.err(message(input.extract_dir, "a symbolic link: nothing is written through it"));
      outcome.code = 1;
      return outcome;
    }
    fs::create_directory(input.extract_dir, ec);
    if (ec) {
      channel.err(message(input.extract_dir, "cannot create the folder: " + ec.message()));
      outcome.code = 1;
      return outcome;
    }
  }
  ReportSettings settings;
  settings.table = opt.files;
  settings.json = opt.json;
  settings.places = !input.map.empty();
  settings.recording = path;
  settings.extract_dir = input.extract_dir;
  settings.keep_bad = opt.keep_bad;
  std::unique_ptr<Images> images;
  if (!input.d64.empty() || !input.t64.empty()) {
    images = std::make_unique<Images>(
        ImageSettings{input.d64, input.t64,
                      opt.disk_name.empty() ? disk_name_of(path) : petscii_name(opt.disk_name),
                      opt.json},
        channel);
    settings.images = images.get();
  }
  std::unique_ptr<Report> report;
  std::unique_ptr<tape::Decoder> decoder;
  std::unique_ptr<PulseMap> map;
  Assumptions assumed;
  int tap_platform = -1;
  const auto start = [&](const rec::Reader& reader, const platform::InputFile& in) {
    tape::DecoderSettings ds =
        decoder_settings(opt, reader, in, path, channel, assumed, tap_platform);
    settings.format = format_name(reader);
    report = std::make_unique<Report>(settings, channel);
    if (!input.map.empty()) map = std::make_unique<PulseMap>();
    ds.observer = map.get();
    decoder = std::make_unique<tape::Decoder>(ds, *report);
  };
  std::string error;
  const int read =
      stream(path, rs, channel, error, start, [&](const rec::Pulses& p) { decoder->feed(p); });
  if (read != 0) {
    outcome.code = read;
    if (opt.json && read == 1)  // scripts see in the JSON too what could not be read
      channel.out(JsonObject()
                      .text("type", "error")
                      .integer("version", kJsonVersion)
                      .text("recording", path)
                      .text("message", error)
                      .str() +
                  "\n");
    if (report) outcome.counts = report->counts();
    return outcome;
  }
  outcome.read = true;
  decoder->finish();
  const tape::Summary summary = decoder->summary();
  if (summary.machine_guessed && tap_platform >= 0 && summary.machine != tap_platform)
    channel.err(message(path, std::string("note: the TAP header says ") +
                                  tape::machine_text(tap_platform) + ", the tape holds " +
                                  tape::machine_text(summary.machine) + " blocks"));
  report->finish(summary, assumed);
  outcome.counts = report->counts();
  if ((opt.files || opt.json) && outcome.counts.files == 0) {
    outcome.code = 4;
  } else if ((opt.files || opt.json) && !outcome.counts.all_good()) {
    outcome.code = 3;
  }
  bool written = report->extracted();
  const int imaged = images ? images->finish() : 0;  // 1 not written, 3 files left out
  written &= imaged != 1;
  if (imaged == 3 && outcome.code == 0) outcome.code = 3;
  const Caption caption{
      path, std::string(tape::machine_text(summary.machine)) + (summary.video ? " NTSC" : " PAL"),
      rec::machine_clock_hz(summary.machine, summary.video)};
  if (input.histogram == "-") {
    channel.out(histogram_text(summary.histogram, summary.marks, caption));
  } else if (!input.histogram.empty()) {
    written &= write_picture(input.histogram,
                             histogram_svg(summary.histogram, summary.marks, caption), channel);
  }
  if (map)
    written &= write_picture(input.map, map->svg(caption, report->places(), summary.unrecognised),
                             channel);
  if (!written) outcome.code = 1;  // outranks a bad file or none
  return outcome;
}

// Every file of the recording kept, for merging and comparing.
struct Kept : tape::FileListener {
  explicit Kept(std::vector<tape::TapeFile>& files) : files(files) {}
  void on_file(const tape::TapeFile& file) override { files.push_back(file); }
  std::vector<tape::TapeFile>& files;
};

int decode_recording(const Options& opt, const std::string& path, Channel& channel,
                     std::vector<tape::TapeFile>& files) {
  Kept kept(files);
  std::unique_ptr<tape::Decoder> decoder;
  Assumptions assumed;
  int tap_platform = -1;
  const auto start = [&](const rec::Reader& reader, const platform::InputFile& in) {
    decoder = std::make_unique<tape::Decoder>(
        decoder_settings(opt, reader, in, path, channel, assumed, tap_platform), kept);
  };
  std::string error;
  const int read = stream(path, read_settings(opt), channel, error, start,
                          [&](const rec::Pulses& p) { decoder->feed(p); });
  if (read == 0) decoder->finish();
  return read;
}

}  // namespace tapewren::scan
