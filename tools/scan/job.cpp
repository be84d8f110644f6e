// One recording scanned: read through the recording reader a block of pulses at a time, into
// the name feed, or into the decoder and the map.
#include "job.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "cli/recording_input.hpp"
#include "follow.hpp"
#include "json.hpp"
#include "names/pulse_feed.hpp"
#include "pictures.hpp"
#include "platform/tool_io.hpp"
#include "recording/recording.hpp"
#include "tape/tape.hpp"

namespace tapewren::scan {

namespace {

namespace rec = tapewren::recording;
using cli::Exit;

// Names as the recorder prints them, with where each header ends in the input.
class Printer : public names::NameListener {
 public:
  Printer(std::string prefix, Channel& channel) : prefix_(std::move(prefix)), channel_(channel) {}
  // The pulses' values as the scanners take them from a dump's words (a long pause is a few
  // 0xFFFF words: more of them change no scanner), and which pulse each value belongs to.
  void feed(const rec::Pulses& pulses) {
    pulses_ = &pulses;
    values_.clear();
    pulse_of_.clear();
    for (std::size_t i = 0; i < pulses.count; ++i) {
      std::uint64_t rest = pulses.length[i];
      for (int n = 0; n < 16; ++n, rest -= 0xFFFF) {
        values_.push_back(
            names::pulse_value(static_cast<std::uint16_t>(std::min<std::uint64_t>(rest, 0xFFFF))));
        pulse_of_.push_back(static_cast<std::uint32_t>(i));
        if (rest < 0xFFFF) break;
      }
    }
    feed_.feed_values(values_.data(), static_cast<std::uint32_t>(values_.size()));
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
  std::vector<std::uint8_t> values_;
  std::vector<std::uint32_t> pulse_of_;
};

std::string message(const std::string& file, const std::string& text) {
  return "tapewren-scan: " + file + ": " + text + "\n";
}

// An input opened: its reader, its name, and whether it is a file that can be read again.
struct Opened {
  enum Kind { kFile, kStream, kGrowing };
  const rec::Reader& reader;
  const std::string& path;
  Kind kind;
};

// One input read through the recording reader, a block of pulses at a time. `start` is told
// what the input says of itself before the first block. kOk, or the status of what failed.
template <typename Start, typename Use>
Exit stream(const std::string& path, const rec::ReadSettings& rs, Channel& channel,
            std::string& error, Start start, Use use) {
  cli::RecordingInput in;
  if (!in.open(path, rs)) {
    error = in.error();
    channel.err(message(path, error));
    return Exit::kFailed;
  }
  start(Opened{in.reader(), path, in.file().regular() ? Opened::kFile : Opened::kStream});
  const Exit read = in.read([&](const rec::Pulses& pulses) {
    use(pulses);
    return true;
  });
  if (cli::is_signal(read)) {
    channel.err(std::string("tapewren-scan: stopped by ") +
                platform::signal_name(cli::status(read) - 128) + "\n");
    return read;
  }
  if (read != Exit::kOk) {
    error = in.error();
    channel.err(message(path, error));
    return read;
  }
  for (const auto& note : in.notes()) channel.err(message(path, "note: " + note));
  return Exit::kOk;
}

double steady_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One input that another program is still writing, read as it grows and waited for until it
// is made: ended when its writer has closed it and all of it is read, after `--idle` without
// growth, or by a termination request, which ends it as if it were whole (`ended` says which).
template <typename Start, typename Use>
Exit follow(const Options& opt, const std::string& path, rec::ReadSettings rs, Channel& channel,
            std::string& error, Follow::End& ended, const std::function<void()>& progress,
            Start start, Use use) {
  std::unique_ptr<platform::GrowingFile> file;
  const double since = steady_seconds();
  for (bool told = false;;) {
    bool missing = false;
    file = platform::GrowingFile::open(path, error, missing);
    if (file || !missing || (opt.idle > 0 && steady_seconds() - since >= opt.idle)) break;
    if (const int signal = platform::termination_signal()) return cli::signalled(signal);
    if (!told) channel.err(message(path, "note: not there yet: waiting for it to be made"));
    told = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!file) {
    channel.err(message(path, error));
    return Exit::kFailed;
  }
  Follow source(*file, {opt.idle}, steady_seconds, platform::termination_signal, progress);
  rs.live = true;
  rec::Reader reader(source, rs);
  const bool opened = reader.open();
  ended = source.end();
  if (!opened && ended == Follow::End::kSignal)
    return cli::signalled(platform::termination_signal());
  if (!opened) {
    error = reader.error();
    channel.err(message(path, error));
    return Exit::kFailed;
  }
  start(Opened{reader, path, Opened::kGrowing});
  rec::each_block(reader, [&](const rec::Pulses& pulses) {
    use(pulses);
    return true;
  });
  ended = source.end();
  if (!reader.error().empty()) {
    error = reader.error();
    channel.err(message(path, error));
    return Exit::kFailed;
  }
  if (ended == Follow::End::kIdle) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", opt.idle);
    channel.err(message(path, std::string("note: it did not grow for ") + seconds +
                                  " seconds and is taken as ended; its writer still holds it"));
  }
  for (const auto& note : reader.notes()) channel.err(message(path, "note: " + note));
  return Exit::kOk;
}

// Whether a dump holds half waves, from a first look at its start.
bool guess_half_waves(const std::string& path) {
  cli::RecordingInput in;
  return in.open(path, {}) && tape::guess_half_waves(in.reader());
}

// What the decoder is told of a recording, from the options and what the input says of
// itself; how each was come by goes into `assumed`.
tape::DecoderSettings decoder_settings(const Options& opt, const Opened& in, Channel& channel,
                                       Assumptions& assumed, int& tap_platform) {
  const rec::Reader& reader = in.reader;
  tape::DecoderSettings ds;
  ds.machine = opt.machine;
  ds.loaders = opt.loaders;
  ds.byte_bounds = !opt.clean.empty();  // a merge's clean tape pieces blocks together at bytes
  assumed.machine = opt.machine >= 0 ? "given" : "assumed";
  const bool tap = reader.format() == rec::Format::kTap;
  const bool wav = reader.format() == rec::Format::kWav;
  if (tap) {
    const rec::TapHeader& h = reader.tap_header();
    std::string note;
    tap_platform = cli::tap_machine(h, note);
    if (!note.empty()) channel.err(message(in.path, "note: " + note));
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
  } else if (in.kind == Opened::kFile) {
    ds.half_waves = guess_half_waves(in.path);
    assumed.edges = "guessed from the pulses";
  } else if (in.kind == Opened::kGrowing) {
    assumed.edges = "assumed: a file being written is not read twice to guess";
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

rec::ReadSettings read_settings(const Options& opt) {
  return cli::read_settings(opt.machine, opt.video, opt.wav, opt.both_edges);
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
        path, rs, channel, error, [](const Opened&) {},
        [&](const rec::Pulses& p) { printer.feed(p); });
    outcome.read = outcome.code == Exit::kOk;
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
      outcome.code = Exit::kFailed;
      return outcome;
    }
    fs::create_directory(input.extract_dir, ec);
    if (ec) {
      channel.err(message(input.extract_dir, "cannot create the folder: " + ec.message()));
      outcome.code = Exit::kFailed;
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
  const auto start = [&](const Opened& in) {
    tape::DecoderSettings ds = decoder_settings(opt, in, channel, assumed, tap_platform);
    settings.format = format_name(in.reader);
    report = std::make_unique<Report>(settings, channel);
    if (!input.map.empty()) map = std::make_unique<PulseMap>();
    ds.observer = map.get();
    decoder = std::make_unique<tape::Decoder>(ds, *report);
  };
  std::string error;
  const auto feed = [&](const rec::Pulses& p) { decoder->feed(p); };
  Follow::End ended = Follow::End::kNone;
  // While following, at a terminal: how far the recording has come, and how much of it the
  // loaders have recognised so far.
  const bool terminal = opt.follow && platform::output_is_terminal();
  double shown = 0;
  const std::function<void()> progress = [&] {
    const double now = steady_seconds();
    if (!terminal || !decoder || now - shown < 0.5) return;
    shown = now;
    channel.status(status_text(decoder->summary(), report ? report->counts() : Counts{}));
  };
  const Exit read = opt.follow ? follow(opt, path, rs, channel, error, ended, progress, start, feed)
                               : stream(path, rs, channel, error, start, feed);
  if (read != Exit::kOk) {
    outcome.code = read;
    if (opt.json && read == Exit::kFailed)  // scripts see in the JSON too what could not be read
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
    outcome.code = Exit::kNothing;
  } else if ((opt.files || opt.json) && !outcome.counts.all_good()) {
    outcome.code = Exit::kBad;
  }
  if (ended == Follow::End::kSignal) {  // what was read is told, and then why it stopped
    const int signal = platform::termination_signal();
    channel.err(std::string("tapewren-scan: stopped by ") + platform::signal_name(signal) + "\n");
    outcome.code = cli::signalled(signal);
  }
  bool written = report->extracted();
  const Exit imaged = images ? images->finish() : Exit::kOk;
  written &= imaged != Exit::kFailed;
  if (imaged == Exit::kBad && outcome.code == Exit::kOk) outcome.code = Exit::kBad;
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
  if (!written) outcome.code = Exit::kFailed;  // outranks a bad file or none
  return outcome;
}

// Every file of the recording kept, for merging and comparing.
struct Kept : tape::FileListener {
  explicit Kept(std::vector<tape::TapeFile>& files) : files(files) {}
  void on_file(const tape::TapeFile& file) override { files.push_back(file); }
  std::vector<tape::TapeFile>& files;
};

Exit decode_recording(const Options& opt, const std::string& path, Channel& channel,
                      std::vector<tape::TapeFile>& files) {
  Kept kept(files);
  std::unique_ptr<tape::Decoder> decoder;
  Assumptions assumed;
  int tap_platform = -1;
  const auto start = [&](const Opened& in) {
    decoder = std::make_unique<tape::Decoder>(
        decoder_settings(opt, in, channel, assumed, tap_platform), kept);
  };
  std::string error;
  const Exit read = stream(path, read_settings(opt), channel, error, start,
                           [&](const rec::Pulses& p) { decoder->feed(p); });
  if (read == Exit::kOk) decoder->finish();
  return read;
}

bool recording_settings(const Options& opt, const std::string& path,
                        tape::DecoderSettings& settings) {
  cli::RecordingInput in;
  if (!in.open(path, read_settings(opt))) return false;
  Channel quiet;  // what it says was said when the recording was decoded
  Assumptions assumed;
  int tap_platform = -1;
  settings =
      decoder_settings(opt, Opened{in.reader(), path, Opened::kFile}, quiet, assumed, tap_platform);
  return true;
}

bool replay_recording(const Options& opt, const std::string& path,
                      const std::function<void(const rec::Pulses&)>& use) {
  cli::RecordingInput in;
  if (!in.open(path, read_settings(opt))) return false;
  return in.read([&](const rec::Pulses& pulses) {
    use(pulses);
    return true;
  }) == cli::Exit::kOk;
}

}  // namespace tapewren::scan
