// Pulses written back as TAP bytes or dump words, a buffer at a time.
#include <algorithm>
#include <cmath>

#include "recording/recording.hpp"

namespace tapewren::recording {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;
constexpr double kCyclesPerUnit = 8;  // a TAP byte counts eight cycles
constexpr double kMaxLongCycles = 0xFFFFFF;

}  // namespace

TapWriter::TapWriter(ByteSink& sink, const TapHeader& header)
    : sink_(sink), header_(header), buffer_(kBufferSize) {
  const auto h = make_tap_header(header_);
  std::copy(h.begin(), h.end(), buffer_.begin());
  used_ = h.size();
}

bool TapWriter::flush() {
  const bool ok = used_ == 0 || sink_.write(buffer_.data(), used_);
  used_ = 0;
  return ok;
}

bool TapWriter::put(std::uint8_t b) {
  if (data_ >= kMaxTapData) {
    error_ = "the recording is too long for one TAP file (over 4 GiB of pulses)";
    return false;
  }
  ++data_;
  buffer_[used_++] = b;
  return used_ < buffer_.size() || flush();
}

bool TapWriter::pulse(std::uint64_t half_cycles) {
  double cycles = static_cast<double>(half_cycles) / 2;
  const long long value = std::llround(cycles / kCyclesPerUnit);
  if (value >= 1 && value <= 255) return put(static_cast<std::uint8_t>(value));
  // Zero or too long for one byte: the exact length, in as many long entries as it takes.
  do {
    const auto part =
        static_cast<std::uint32_t>(std::min<double>(std::llround(cycles), kMaxLongCycles));
    if (!put(0) || !put(static_cast<std::uint8_t>(part)) ||
        !put(static_cast<std::uint8_t>(part >> 8)) || !put(static_cast<std::uint8_t>(part >> 16)))
      return false;
    cycles -= part;
  } while (cycles >= 0.5);
  return true;
}

bool TapWriter::finish() {
  header_.length = static_cast<std::uint32_t>(data_);
  const auto h = make_tap_header(header_);
  return flush() && sink_.write_at(0, h.data(), h.size());
}

DumpWriter::DumpWriter(ByteSink& sink, double tick_hz, double clock_hz)
    : sink_(sink),
      ticks_per_half_cycle_(tick_hz > 0 ? tick_hz / (2 * clock_hz) : 0),
      buffer_(kBufferSize) {}

bool DumpWriter::flush() {
  const bool ok = used_ == 0 || sink_.write(buffer_.data(), used_);
  used_ = 0;
  return ok;
}

bool DumpWriter::word(std::uint16_t w) {
  buffer_[used_++] = static_cast<std::uint8_t>(w & 0xFF);
  buffer_[used_++] = static_cast<std::uint8_t>(w >> 8);
  return used_ < buffer_.size() || flush();
}

bool DumpWriter::pulse(std::uint64_t half_cycles) {
  std::uint64_t words = half_cycles;
  if (ticks_per_half_cycle_ > 0) {  // the rounding carried along, so that it never adds up
    half_cycles_ += half_cycles;
    const auto now = static_cast<std::uint64_t>(
        std::llround(static_cast<double>(half_cycles_) * ticks_per_half_cycle_));
    words = now - ticks_;
    ticks_ = now;
  }
  for (; words >= kContinues; words -= kContinues)
    if (!word(kContinues)) return false;
  return word(static_cast<std::uint16_t>(words));
}

bool DumpWriter::finish() {
  return flush();
}

}  // namespace tapewren::recording
