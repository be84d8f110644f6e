// Tape pulses as sound: a RIFF/WAVE file of square waves that a real machine, a tape deck or
// an audio tool takes as the tape. Standard library only; the bytes go to a ByteSink.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "io/byte_stream.hpp"

namespace tapewren::audio {

struct WavFormat {
  std::uint32_t rate = 44100;  // samples per second, 22,050 to 192,000
  int bits = 16;               // 8 (unsigned) or 16 (signed), mono
  bool invert = false;         // the low half of each wave first, for adapters that flip
  bool half_waves = false;     // each pulse is half a wave (a recording of both edges)
};

// The RIFF size fields are 32-bit: no more sample bytes than this fit in one file.
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36 - 1;

class WavWriter {
 public:
  // tick_hz: what a pulse's length counts (twice the machine clock for half cycles). The
  // header goes out at once and is finished by finish().
  WavWriter(const WavFormat& format, std::uint64_t tick_hz, io::ByteSink& sink);

  // The samples of one pulse: a full square wave (high, then low), or half a wave, or
  // silence for a pause. Each edge falls on the sample nearest its exact time from the start
  // of the tape, so that rounding never adds up along a side. Written on in pieces, so that
  // memory stays the same however long the pulse; false when the sink failed or the sound
  // would pass what one WAV file holds (then error() says so; it stays empty when the sink
  // failed).
  bool pulse(std::uint64_t ticks, bool pause);
  // The pad byte an odd number of 8-bit samples needs, and the header's sizes.
  bool finish();

  std::uint64_t data_bytes() const {
    return samples_ * static_cast<std::uint64_t>(bytes_per_sample_);
  }
  // The sample bytes a recording of this many ticks makes: too long a one is refused before
  // anything is written.
  std::uint64_t data_bytes_for(std::uint64_t ticks) const {
    return sample_at(2 * ticks) * static_cast<std::uint64_t>(bytes_per_sample_);
  }
  const std::string& error() const { return error_; }

 private:
  // The nearest sample. In doubles: exact to far below a sample over days of tape, and no
  // 64-bit division per edge.
  std::uint64_t sample_at(std::uint64_t half_ticks) const {
    const double at = static_cast<double>(half_ticks) * samples_per_half_tick_;
    const auto below = static_cast<std::uint64_t>(at);
    return below + (at - static_cast<double>(below) >= 0.5 ? 1 : 0);
  }
  bool fill(std::uint64_t until, int level);
  bool flush();
  std::vector<std::uint8_t> header() const;

  static constexpr std::size_t kRun = 64;
  WavFormat format_;
  io::ByteSink& sink_;
  std::array<std::array<std::uint8_t, 2 * kRun>, 3> runs16_{};  // low, silent, high
  double samples_per_half_tick_;
  int bytes_per_sample_;
  std::uint64_t half_ticks_ = 0;  // where the next pulse starts, in half ticks
  std::uint64_t samples_ = 0;     // made so far
  int level_ = 1;                 // of the next half wave: +1 high, -1 low
  std::vector<std::uint8_t> buffer_;
  std::string error_;
};

}  // namespace tapewren::audio
