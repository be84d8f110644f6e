// Dumps and TAP files as one stream of pulses, a buffer at a time, with the offset of every
// pulse in the input's own bytes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "recording/recording.hpp"

namespace tapewren::recording {

namespace {

constexpr char kC64Signature[] = "C64-TAPE-RAW";
constexpr char kC16Signature[] = "C16-TAPE-RAW";
constexpr std::size_t kSignatureSize = 12;
constexpr std::size_t kBufferSize = 1 << 17;
constexpr std::uint64_t kUnknownLength = 2048;  // TAP version 0's overlong pulse, in cycles

// A start that a TAP header's signature begins with, however little of it there is.
bool tap_signature_start(const std::uint8_t* data, std::size_t size) {
  const std::size_t n = size < kSignatureSize ? size : kSignatureSize;
  return n >= 4 &&
         (std::memcmp(data, kC64Signature, n) == 0 || std::memcmp(data, kC16Signature, n) == 0);
}

}  // namespace

double machine_clock_hz(int machine, int video) {
  static const double kClocks[3][2] = {
      {985248, 1022727},   // C64
      {1108405, 1022727},  // VIC20
      {886724, 894886},    // C16
  };
  return kClocks[machine < 0 || machine > 2 ? 0 : machine][video == 1 ? 1 : 0];
}

bool is_tap(const std::uint8_t* data, std::size_t size) {
  return size >= kSignatureSize && tap_signature_start(data, size);
}

std::vector<std::uint8_t> make_tap_header(const TapHeader& header) {
  std::vector<std::uint8_t> out(kTapHeaderSize, 0);
  std::memcpy(out.data(), header.c16_signature ? kC16Signature : kC64Signature, kSignatureSize);
  out[0x0C] = header.version;
  out[0x0D] = header.platform;
  out[0x0E] = header.video;
  for (int i = 0; i < 4; ++i) out[0x10 + i] = static_cast<std::uint8_t>(header.length >> (8 * i));
  return out;
}

Reader::Reader(ByteSource& source, const ReadSettings& settings)
    : source_(source), settings_(settings), buffer_(new std::uint8_t[kBufferSize]) {}

Reader::~Reader() = default;

bool Reader::fill() {
  if (eof_) return false;
  std::memmove(buffer_.get(), buffer_.get() + at_, have_ - at_);
  consumed_ += at_;
  have_ -= at_;
  at_ = 0;
  const long long n = source_.read(buffer_.get() + have_, kBufferSize - have_);
  if (n <= 0) {
    eof_ = true;
    if (n < 0) error_ = source_.error();
    return false;
  }
  have_ += static_cast<std::size_t>(n);
  return true;
}

bool Reader::open() {
  while (have_ < kTapHeaderSize && fill()) {
  }
  ticks_to_half_cycles_ = settings_.tick_hz > 0;
  if (!error_.empty()) return false;
  if (have_ >= 4 && std::memcmp(buffer_.get(), "RIFF", 4) == 0) {
    while (have_ < kBufferSize && fill()) {
    }
    if (!error_.empty()) return false;
    if (audio::is_wav(buffer_.get(), have_)) return open_wav();
  }
  if (!tap_signature_start(buffer_.get(), have_)) return true;  // a dump
  if (have_ < kTapHeaderSize) {
    error_ = "the TAP header is cut short (" + std::to_string(have_) + " of 20 bytes)";
    return false;
  }
  const std::uint8_t* h = buffer_.get();
  format_ = Format::kTap;
  ticks_to_half_cycles_ = false;  // a TAP file counts cycles
  header_.c16_signature = std::memcmp(h, kC16Signature, kSignatureSize) == 0;
  header_.version = h[0x0C];
  header_.platform = h[0x0D];
  header_.video = h[0x0E];
  header_.length = static_cast<std::uint32_t>(h[0x10] | h[0x11] << 8 | h[0x12] << 16 |
                                              static_cast<std::uint32_t>(h[0x13]) << 24);
  if (header_.version > 2) {
    error_ = "unknown TAP version " + std::to_string(header_.version);
    return false;
  }
  at_ = kTapHeaderSize;
  return true;
}

inline void Reader::emit(Pulses& out, std::uint64_t length, std::uint64_t offset) {
  if (ticks_to_half_cycles_) {  // the rounding carried along
    ticks_ += static_cast<double>(length);
    const auto now = static_cast<std::uint64_t>(
        std::llround(ticks_ * 2 * settings_.clock_hz / settings_.tick_hz));
    length = now - half_cycles_;
    half_cycles_ = now;
  }
  out.length[out.count] = length;
  out.offset[out.count] = offset;
  ++out.count;
}

void Reader::dump_pulses(Pulses& out) {
  if (ticks_to_half_cycles_) {
    for (const std::uint8_t* b = buffer_.get(); at_ + 1 < have_ && out.count < Pulses::kCapacity;
         at_ += 2) {
      const auto word = static_cast<std::uint16_t>(b[at_] | b[at_ + 1] << 8);
      if (!going_on_) {
        pending_offset_ = consumed_ + at_;
        pending_ = 0;
      }
      pending_ += word;
      going_on_ = word == kContinues;  // the pulse goes on in the next word
      if (!going_on_) emit(out, pending_, pending_offset_);
    }
    return;
  }
  // The hot loop, on locals: the stores into `out` cannot then touch what the loop keeps.
  const std::uint8_t* b = buffer_.get();
  const std::uint64_t base = consumed_;
  std::uint64_t* length = out.length;
  std::uint64_t* offset = out.offset;
  std::size_t at = at_, count = out.count;
  std::uint64_t pending = pending_, pending_offset = pending_offset_;
  bool going_on = going_on_;
  for (; at + 1 < have_ && count < Pulses::kCapacity; at += 2) {
    const auto word = static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
    if (!going_on) {
      pending_offset = base + at;
      pending = 0;
    }
    pending += word;
    going_on = word == kContinues;  // the pulse goes on in the next word
    length[count] = pending;        // kept only when the pulse has ended
    offset[count] = pending_offset;
    count += going_on ? 0 : 1;
  }
  at_ = at;
  out.count = count;
  pending_ = pending;
  pending_offset_ = pending_offset;
  going_on_ = going_on;
}

void Reader::tap_pulses(Pulses& out) {
  const std::uint8_t* b = buffer_.get();
  for (; at_ < have_ && out.count < Pulses::kCapacity; ++at_) {
    const std::uint8_t v = b[at_];
    if (long_have_ >= 0) {
      pending_ |= static_cast<std::uint64_t>(v) << (8 * long_have_);
      if (++long_have_ == 3) {
        emit(out, 2 * pending_, pending_offset_);
        long_have_ = -1;
      }
    } else if (v == 0 && header_.version == 0) {
      ++unknown_lengths_;
      emit(out, 2 * kUnknownLength, consumed_ + at_);
    } else if (v == 0) {
      long_have_ = 0;
      pending_ = 0;
      pending_offset_ = consumed_ + at_;
    } else {
      // The bytes of single pulses, the short way, on locals.
      std::size_t at = at_, count = out.count;
      const std::uint64_t base = consumed_;
      for (; at < have_ && count < Pulses::kCapacity && b[at] != 0; ++at, ++count) {
        out.length[count] = 16 * std::uint64_t{b[at]};
        out.offset[count] = base + at;
      }
      at_ = at - 1;  // the loop's ++at_ takes the last one
      out.count = count;
    }
  }
}

bool Reader::open_wav() {
  if (!audio::parse_wav(buffer_.get(), have_, wav_, error_)) return false;
  format_ = Format::kWav;
  ticks_to_half_cycles_ = false;
  at_ = static_cast<std::size_t>(wav_.data_offset);
  wav_end_ = wav_.data_size > 0 ? wav_.data_offset + wav_.data_size : 0;
  edges_ = std::make_unique<audio::EdgeReader>(wav_, settings_.wav);
  wav_out_.reserve(Pulses::kCapacity);
  return true;
}

// Whole frames of samples to the edge reader; its pulses, in samples, out in half cycles, the
// rounding carried along.
void Reader::wav_pulses(Pulses& out) {
  const double half_cycles_per_sample = 2 * settings_.clock_hz / wav_.rate;
  for (;;) {
    for (; wav_at_ < wav_out_.size() && out.count < Pulses::kCapacity; ++wav_at_) {
      wav_samples_ += wav_out_[wav_at_].samples;
      // Rounded to the nearest, halves up (the sum is never negative): a call to llround would
      // cost as much as the rest of the loop.
      const double exact = std::max(wav_samples_ * half_cycles_per_sample, 0.0);
      auto now = static_cast<std::uint64_t>(exact);
      if (exact - static_cast<double>(now) >= 0.5) ++now;
      out.length[out.count] = now > half_cycles_ ? now - half_cycles_ : 0;
      out.offset[out.count] = wav_out_[wav_at_].offset;
      half_cycles_ = std::max(half_cycles_, now);
      ++out.count;
    }
    if (out.count == Pulses::kCapacity) return;
    wav_out_.clear();
    wav_at_ = 0;
    const auto fb = static_cast<std::size_t>(wav_.frame_bytes());
    std::size_t n = (have_ - at_) / fb * fb;
    if (wav_end_ > 0) {
      const std::uint64_t left = wav_end_ > consumed_ + at_ ? wav_end_ - (consumed_ + at_) : 0;
      n = static_cast<std::size_t>(std::min<std::uint64_t>(n, left / fb * fb));
    }
    if (n == 0) return;  // more bytes needed, or the samples have ended
    edges_->feed(buffer_.get() + at_, n, wav_out_);
    at_ += n;
  }
}

void Reader::at_end() {
  ended_ = true;
  const std::uint64_t size = consumed_ + have_;
  if (format_ == Format::kWav) {
    if (wav_end_ > size)
      notes_.push_back("the WAV header gives " + std::to_string(wav_.data_size) +
                       " bytes of samples, the file has " +
                       std::to_string(size - wav_.data_offset) + ": all of them are read");
    return;
  }
  if (format_ == Format::kDump) {
    if (have_ - at_ == 1)
      notes_.push_back("the last byte (at offset " + std::to_string(size - 1) +
                       ") is half a pulse word: left out");
    return;
  }
  if (long_have_ >= 0)
    notes_.push_back("the TAP data ends inside a long pulse (at offset " +
                     std::to_string(pending_offset_) + "): that pulse is left out");
  if (size - kTapHeaderSize != header_.length)
    notes_.push_back("the TAP header gives " + std::to_string(header_.length) +
                     " bytes of pulses, the file has " + std::to_string(size - kTapHeaderSize) +
                     ": all of them are read");
  if (unknown_lengths_ > 0)
    notes_.push_back(std::to_string(unknown_lengths_) +
                     " overlong pulses of unknown length (TAP version 0) read as 2048 cycles");
}

bool Reader::next(Pulses& out) {
  out.count = 0;
  if (ended_) return false;
  for (;;) {
    if (format_ == Format::kDump) {
      dump_pulses(out);
    } else if (format_ == Format::kTap) {
      tap_pulses(out);
    } else {
      wav_pulses(out);
    }
    if (out.count == Pulses::kCapacity || (settings_.live && out.count > 0)) {
      out.end = going_on_ || long_have_ >= 0 ? pending_offset_ : consumed_ + at_;
      return true;
    }
    if (!fill()) break;
  }
  if (!error_.empty()) return false;
  if (format_ == Format::kWav && !wav_finished_) {  // the last wave, and what was held
    wav_finished_ = true;
    edges_->finish(wav_out_);
    wav_pulses(out);
    if (out.count == Pulses::kCapacity) {
      out.end = consumed_ + at_;
      return true;
    }
  }
  if (format_ == Format::kWav && wav_at_ < wav_out_.size()) {
    wav_pulses(out);
    out.end = consumed_ + at_;
    return true;
  }
  // The end: a dump's pulse going on to the end of the recording ends there.
  if (going_on_) emit(out, pending_, pending_offset_);
  out.end = long_have_ >= 0 ? pending_offset_ : consumed_ + at_;
  at_end();
  return out.count > 0;
}

}  // namespace tapewren::recording
