// The tools' one way of reading a recording.
#include "cli/recording_input.hpp"

#include <algorithm>

namespace tapewren::cli {

recording::ReadSettings read_settings(int machine, int video, const WavReading& wav,
                                      bool both_edges, double tick_hz) {
  recording::ReadSettings rs;
  rs.tick_hz = tick_hz;
  rs.clock_hz = recording::machine_clock_hz(std::max(machine, 0), std::max(video, 0));
  rs.wav = wav.edges;
  rs.wav.half_waves = both_edges;
  return rs;
}

int tap_machine(const recording::TapHeader& header, std::string& note) {
  note.clear();
  if (header.c16_signature && header.platform != 2) {
    note =
        "a C16-TAPE-RAW header with platform " + std::to_string(header.platform) + ": taken as C16";
    return 2;
  }
  if (header.platform > 2) {
    note =
        "unknown platform " + std::to_string(header.platform) + " in the TAP header: taken as C64";
    return 0;
  }
  return header.platform;
}

bool RecordingInput::open(const std::string& path, const recording::ReadSettings& settings) {
  path_ = path;
  reader_.reset();
  file_ = platform::InputFile::open(path, error_);
  if (!file_) return false;
  reader_ = std::make_unique<recording::Reader>(*file_, settings);
  if (reader_->open()) return true;
  error_ = reader_->error();
  return false;
}

}  // namespace tapewren::cli
