// Recordings of tapes in the forms they come in, read as one stream of pulses and written back.
//
// Every tool reads through Reader: a dump file (the device's 16-bit little-endian pulse words,
// a pulse longer than one word as a run of 0xFFFF words and the word with the rest) or a TAP
// file of version 0, 1 or 2 (a 20-byte header, then a byte per pulse counting 8 machine cycles;
// from version 1 on a zero byte is followed by the exact length, 24-bit little-endian; in
// version 0 it stands for an overlong pulse; version 2 holds half waves), or a WAV file made
// with a sound card (its edges, read in src/audio). The format follows from the content,
// never from the name. Pulses come out as lengths in half machine cycles
// (what a dump's word counts; a TAP file's cycles doubled) with the offset of their first byte
// in the input. Standard library only: the bytes come from a ByteSource and go to a ByteSink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/wav_in.hpp"
#include "io/byte_stream.hpp"

namespace tapewren::recording {

using io::ByteSink;
using io::ByteSource;

// The machine's clock in Hz (machine 0 C64, 1 VIC20, 2 C16; video 0 PAL, 1 NTSC).
double machine_clock_hz(int machine, int video);

enum class Format { kDump, kTap, kWav };

constexpr std::size_t kTapHeaderSize = 20;
constexpr std::uint64_t kMaxTapData = 0xFFFFFFFFull;  // the header's length field is 32-bit
constexpr std::uint16_t kContinues = 0xFFFF;          // a dump word: the pulse goes on

struct TapHeader {
  std::uint8_t version = 1;
  std::uint8_t platform = 0;  // 0 C64, 1 VIC20, 2 C16
  std::uint8_t video = 0;     // 0 PAL, 1 NTSC
  std::uint32_t length = 0;   // bytes after the header
  bool c16_signature = false;
};

// True when the bytes start with a TAP signature.
bool is_tap(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> make_tap_header(const TapHeader& header);

// A block of pulses as read.
struct Pulses {
  static constexpr std::size_t kCapacity = 4096;
  std::size_t count = 0;
  std::uint64_t end = 0;            // where the last pulse ends in the input
  std::uint64_t length[kCapacity];  // half machine cycles
  std::uint64_t offset[kCapacity];  // of the pulse's first byte in the input
};

struct ReadSettings {
  // A dump's words count ticks of this many Hz (0: half cycles of the machine's clock).
  double tick_hz = 0;
  double clock_hz = 985248;  // the machine's, for tick_hz and for a WAV file's times
  audio::EdgeSettings wav;   // a WAV file: the channel, the polarity, half waves
  // The input is still being written: pulses are given as each read of it brings them, not
  // held until a block's worth has come.
  bool live = false;
};

class Reader {
 public:
  explicit Reader(ByteSource& source, const ReadSettings& settings = {});
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Reads the start and tells the format; false when the input cannot be read as a recording
  // (error() says why).
  bool open();
  Format format() const { return format_; }
  const TapHeader& tap_header() const { return header_; }  // for a TAP file
  // A TAP file of version 2 holds half waves; a dump says nothing of it.
  bool half_waves() const {
    return format_ == Format::kTap ? header_.version == 2
                                   : format_ == Format::kWav && settings_.wav.half_waves;
  }
  const audio::WavInput& wav() const { return wav_; }  // for a WAV file

  // The next pulses, at most a block's worth; false when there are none left or reading
  // failed (then error() is not empty).
  bool next(Pulses& out);
  const std::string& error() const { return error_; }
  // Where the data was cut or disagrees with itself, as read; for a person.
  const std::vector<std::string>& notes() const { return notes_; }
  std::uint64_t bytes_read() const { return consumed_; }

 private:
  bool fill();
  void emit(Pulses& out, std::uint64_t length, std::uint64_t offset);
  void dump_pulses(Pulses& out);
  void tap_pulses(Pulses& out);
  bool open_wav();
  void wav_pulses(Pulses& out);
  void at_end();

  ByteSource& source_;
  ReadSettings settings_;
  Format format_ = Format::kDump;
  TapHeader header_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t have_ = 0, at_ = 0;  // bytes in the buffer, and taken from it
  std::uint64_t consumed_ = 0;     // offset of buffer_[at_] in the input
  bool eof_ = false, ended_ = false;
  std::string error_;
  std::vector<std::string> notes_;
  // A pulse being read: its offset, what it holds so far (dump words or long-entry bytes).
  std::uint64_t pending_ = 0, pending_offset_ = 0;
  bool going_on_ = false;  // dump: inside a run of 0xFFFF words
  int long_have_ = -1;     // TAP: bytes of a long entry's length read, -1 outside one
  std::uint64_t unknown_lengths_ = 0;
  // A dump in ticks: the time so far in ticks and in half cycles, so that rounding never adds up.
  bool ticks_to_half_cycles_ = false;
  double ticks_ = 0;
  std::uint64_t half_cycles_ = 0;
  // A WAV file: its format, the edges' pulses not yet handed out, the time so far.
  audio::WavInput wav_;
  std::unique_ptr<audio::EdgeReader> edges_;
  std::vector<audio::EdgePulse> wav_out_;
  std::size_t wav_at_ = 0;
  double wav_samples_ = 0;
  std::uint64_t wav_end_ = 0;  // where the samples end in the file (0: at its end)
  bool wav_finished_ = false;
};

// Every block of pulses of an opened reader to `use`, one buffer for all, until the end or
// until `use` returns false; false when `use` stopped it.
template <typename Use>
bool each_block(Reader& reader, Use use) {
  auto pulses = std::make_unique<Pulses>();  // 64 KiB: not on the stack
  while (reader.next(*pulses))
    if (!use(static_cast<const Pulses&>(*pulses))) return false;
  return true;
}

// Pulses as TAP bytes: a byte per pulse, or long entries with the exact length; the header's
// length is filled in by finish(). Bounded memory: written on in pieces.
class TapWriter {
 public:
  TapWriter(ByteSink& sink, const TapHeader& header);
  // False when the sink failed or the data would pass what one TAP file holds (error()).
  bool pulse(std::uint64_t half_cycles);
  bool finish();
  std::uint64_t data_bytes() const { return data_; }
  const std::string& error() const { return error_; }

 private:
  bool put(std::uint8_t b);
  bool flush();
  ByteSink& sink_;
  TapHeader header_;
  std::vector<std::uint8_t> buffer_;
  std::size_t used_ = 0;
  std::uint64_t data_ = 0;  // bytes after the header
  std::string error_;
};

// Pulses as dump words: counting half cycles, or ticks of a fixed rate.
class DumpWriter {
 public:
  explicit DumpWriter(ByteSink& sink, double tick_hz = 0, double clock_hz = 985248);
  bool pulse(std::uint64_t half_cycles);
  bool finish();

 private:
  bool word(std::uint16_t w);
  bool flush();
  ByteSink& sink_;
  double ticks_per_half_cycle_;  // 0: half cycles as they are
  std::uint64_t half_cycles_ = 0, ticks_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::size_t used_ = 0;
};

// Whole recordings in memory, for the tests and the simulator: any recording's pulses as a
// dump (in half cycles, or ticks of tick_hz), or as a TAP file with the given header. Empty,
// with the reason in `error`, when the input cannot be read.
std::vector<std::uint8_t> dump_of(const std::vector<std::uint8_t>& recording,
                                  const ReadSettings& in = {}, double tick_hz = 0,
                                  double clock_hz = 985248, std::string* error = nullptr);
std::vector<std::uint8_t> tap_of(const std::vector<std::uint8_t>& recording,
                                 const TapHeader& header, const ReadSettings& in = {});

}  // namespace tapewren::recording
