// Square waves at exact edge times, and the RIFF/WAVE header around them.
#include "audio/wav.hpp"

#include <algorithm>

namespace tapewren::audio {

namespace {

// Four fifths of full scale: loud enough for any cassette-port adapter, never clipping.
constexpr int kAmplitude16 = 26214;
constexpr int kAmplitude8 = 102;
constexpr std::size_t kBufferSize = 1 << 16;

void put(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

WavWriter::WavWriter(const WavFormat& format, std::uint64_t tick_hz, io::ByteSink& sink)
    : format_(format),
      sink_(sink),
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
  buffer_.reserve(kBufferSize + 2 * kRun);
  buffer_ = header();
}

bool WavWriter::flush() {
  const bool ok = buffer_.empty() || sink_.write(buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok;
}

bool WavWriter::fill(std::uint64_t until, int level) {
  if (until <= samples_) return true;
  if (until * static_cast<std::uint64_t>(bytes_per_sample_) > kMaxDataBytes) {
    error_ = "the sound would be over 4 GiB, more than one WAV file holds";
    return false;
  }
  auto n = until - samples_;
  samples_ = until;
  const std::uint8_t* run = runs16_[level + 1].data();
  const auto sample8 = static_cast<std::uint8_t>(128 + level * kAmplitude8);
  while (n > 0) {
    // A few dozen samples at a time: 16-bit ones copied from a run of the level's samples.
    const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(n, kRun));
    if (bytes_per_sample_ == 1) {
      buffer_.insert(buffer_.end(), k, sample8);
    } else {
      buffer_.insert(buffer_.end(), run, run + 2 * k);
    }
    n -= k;
    if (buffer_.size() >= kBufferSize && !flush()) return false;
  }
  return true;
}

bool WavWriter::pulse(std::uint64_t ticks, bool pause) {
  const std::uint64_t start = half_ticks_;
  half_ticks_ += 2 * ticks;
  if (pause) return fill(sample_at(half_ticks_), 0);
  if (format_.half_waves) {
    const int level = level_;
    level_ = -level_;
    return fill(sample_at(half_ticks_), level);
  }
  return fill(sample_at(start + ticks), level_) && fill(sample_at(half_ticks_), -level_);
}

bool WavWriter::finish() {
  if (data_bytes() % 2 != 0) buffer_.push_back(0);  // RIFF chunks are padded to even sizes
  if (!flush()) return false;
  const auto h = header();
  return sink_.write_at(0, h.data(), h.size());
}

std::vector<std::uint8_t> WavWriter::header() const {
  const auto data = static_cast<std::uint32_t>(std::min(data_bytes(), kMaxDataBytes));
  std::vector<std::uint8_t> h;
  h.reserve(44);  // the header's size; also spares GCC 12 a false overflow warning on the inserts
  const auto text = [&](const char* s) { h.insert(h.end(), s, s + 4); };
  text("RIFF");
  put(h, 36 + data + data % 2, 4);  // the pad byte counts in the RIFF size, not in the data's
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
