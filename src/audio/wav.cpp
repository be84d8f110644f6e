// Square waves at exact edge times, and the RIFF/WAVE header around them.
#include "audio/wav.hpp"

#include <algorithm>

namespace tapewren::audio {

namespace {

// Four fifths of full scale: loud enough for any cassette-port adapter, never clipping.
constexpr int kAmplitude16 = 26214;
constexpr int kAmplitude8 = 102;

void put(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

WavWriter::WavWriter(const WavFormat& format, std::uint64_t tick_hz)
    : format_(format),
      samples_per_half_tick_(format.rate / (2.0 * static_cast<double>(tick_hz))),
      bytes_per_sample_(format.bits / 8) {
  if (format_.invert) level_ = -1;
  for (int level = -1; level <= 1; ++level) {
    const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(level * kAmplitude16));
    for (std::size_t i = 0; i < kRun; ++i) {
      runs16_[level + 1][2 * i] = static_cast<std::uint8_t>(v);
      runs16_[level + 1][2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
  }
}

void WavWriter::fill(std::uint64_t until, int level, std::vector<std::uint8_t>& out) {
  if (until <= samples_) return;
  auto n = static_cast<std::size_t>(until - samples_);
  samples_ = until;
  if (bytes_per_sample_ == 1) {
    out.insert(out.end(), n, static_cast<std::uint8_t>(128 + level * kAmplitude8));
    return;
  }
  // 16 bits: copied from a run of the level's samples, little-endian, a few dozen at a time.
  const std::uint8_t* run = runs16_[level + 1].data();
  for (; n > 0; n -= std::min<std::size_t>(n, kRun)) {
    out.insert(out.end(), run, run + 2 * std::min<std::size_t>(n, kRun));
  }
}

void WavWriter::pulse(std::uint64_t ticks, bool pause, std::vector<std::uint8_t>& out) {
  const std::uint64_t start = half_ticks_;
  half_ticks_ += 2 * ticks;
  if (pause) return fill(sample_at(half_ticks_), 0, out);
  if (format_.half_waves) {
    fill(sample_at(half_ticks_), level_, out);
    level_ = -level_;
    return;
  }
  fill(sample_at(start + ticks), level_, out);  // the first half wave
  fill(sample_at(half_ticks_), -level_, out);
}

std::vector<std::uint8_t> WavWriter::header() const {
  const auto data = static_cast<std::uint32_t>(std::min(data_bytes(), kMaxDataBytes));
  std::vector<std::uint8_t> h;
  const auto text = [&](const char* s) { h.insert(h.end(), s, s + 4); };
  text("RIFF");
  put(h, 36 + data, 4);
  text("WAVE");
  text("fmt ");
  put(h, 16, 4);  // the size of this chunk
  put(h, 1, 2);   // PCM
  put(h, 1, 2);   // mono
  put(h, format_.rate, 4);
  put(h, format_.rate * static_cast<std::uint32_t>(bytes_per_sample_), 4);  // bytes per second
  put(h, static_cast<std::uint32_t>(bytes_per_sample_), 2);                 // block alignment
  put(h, static_cast<std::uint32_t>(format_.bits), 2);
  text("data");
  put(h, data, 4);
  return h;
}

}  // namespace tapewren::audio
