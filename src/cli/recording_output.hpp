// Recordings made in memory (dump words) written out as the output's name says: a TAP file,
// a dump or a WAV file, whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/wav.hpp"
#include "cli/cli.hpp"

namespace tapewren::cli {

enum class Output { kTap, kDump, kWav, kUnknown };

// The output's format, from its name's extension (.tap, .dmp or .raw, .wav).
Output output_of(const std::string& name);

// How dump words are written out.
struct Written {
  Output kind = Output::kTap;
  int machine = 0, video = 0;
  bool half_waves = false;
  audio::WavFormat wav;
  bool invert = false;
};

// Dump words (half cycles of the machine's clock; 0xFFFF goes on in the next word) into a new
// file `path` as a TAP file, a dump or a sound: kOk; kFailed with `error` (the file exists, the
// disk is full, a format's limit); the status of a termination request.
Exit write_words(const std::vector<std::uint8_t>& words, const Written& how,
                 const std::string& path, std::string& error);

}  // namespace tapewren::cli
