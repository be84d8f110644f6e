// The Commodore ROM loaders' blocks, shared by the C64/VIC20 loader and the C16/Plus4 one,
// which write bytes alike and differ in their pulses' proportions and in how a block ends.
//
// A block: a lead-in of short pulses, then bytes. A byte is a marker (long, medium), eight
// bits least significant first (short+medium = 0, medium+short = 1) and an odd parity bit.
// Bytes 1-9 count down 0x89..0x81 in the first copy of a block and 0x09..0x01 in its repeat;
// then the payload and an XOR checksum. Every block is recorded twice. The machine's loader
// reads the first copy, notes the bytes that failed, and takes them from the repeat: so do
// these files, pairing copies by what they are (countdown, length, place) and never by order
// alone. A header (192 bytes: type, start, end, name, filler) goes with the data block after
// it; a data file (type 4) with the 192-byte records (type 2) after it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tape/machinery/classes.hpp"
#include "tape/machinery/loader.hpp"

namespace tapewren::tape {

struct RomTiming {
  std::uint32_t medium_ratio16, long_ratio16;  // where a lead-in puts them, x16 of the short
  bool ends_with_medium;  // a block ends with a medium pulse (C16), not long+short (C64)
};

// One copy of a block as it was read: the payload and its checksum byte (not the countdown);
// `bad` flags the bytes that failed parity or whose pulses were no valid bits.
struct RomCopy {
  int copy = 1;  // 1 (countdown 0x89..) or 2 (the repeat, 0x09..)
  std::vector<std::uint8_t> bytes;
  std::vector<bool> bad;
  int bad_bytes = 0;
  bool complete = false;  // it ended with its end mark
  std::uint64_t offset = 0, time = 0, end_time = 0;
  std::uint64_t end_offset = 0;  // where its last pulse ends in the input
};

// A block as its copies make it: payload and checksum byte, and how it was come by.
struct MergedBlock {
  std::vector<std::uint8_t> bytes;
  BlockReport report;
  bool recovered = true, complete = false, sum_ok = false;
  std::uint64_t offset = 0, time = 0;
  std::vector<BlockRead> reads;     // its copies as read
  std::vector<std::uint32_t> lost;  // the bytes neither copy read
  bool sum_read() const {
    return complete && !bytes.empty() && (lost.empty() || lost.back() + 1 < bytes.size());
  }
  std::vector<std::uint8_t> payload() const {
    return {bytes.begin(), bytes.end() - (bytes.empty() ? 0 : 1)};
  }
  int type() const { return bytes.empty() ? -1 : bytes[0]; }
  // 192 bytes of payload, a header's type: a header, or a data file's record.
  bool header_like() const { return bytes.size() == 193 && type() >= 1 && type() <= 5; }
};

// Copies in, files out.
class RomFiles {
 public:
  RomFiles(const LoaderInfo& info, FileSink& sink) : info_(info), sink_(sink) {}
  void take(RomCopy&& copy);
  void finish();
  std::uint64_t holding() const;
  using Merged = MergedBlock;

 private:
  void add(const Merged& m);
  void close_program(const Merged* data);
  void close_data_file();
  void without_header(const Merged& m);
  TapeFile from_header(const Merged& m, Kind kind) const;
  bool pairs(const RomCopy& first, const RomCopy& repeat) const;

  const LoaderInfo& info_;
  FileSink& sink_;
  std::optional<RomCopy> held_;  // a first copy, until it is clear whether its repeat follows
  std::optional<TapeFile> program_, data_file_;
  std::vector<Merged> header_, body_;  // of the open program or data file
};

class RomLoader : public LoaderDecoder {
 public:
  RomLoader(const LoaderInfo& info, FileSink& sink, const RomTiming& timing)
      : info_(info), sink_(sink), timing_(timing), files_(info, sink) {}
  bool engage(const Pilot& pilot, std::size_t from) override;
  std::size_t take(const PulseBlock& block, std::size_t from) override;
  bool engaged() const override { return state_ != State::kIdle; }
  std::uint64_t holding() const override;
  void finish() override;
  void marks(std::vector<Mark>& out) const override;

 private:
  enum class State { kIdle, kLeadIn, kMarker, kBits, kAfterByte, kEndOrMarker, kResync };
  using Class = PulseClasses::Class;
  void begin_byte();
  void end_byte(bool parity_one);
  void lose_byte();
  // Ends the block being read; false when it was none (no countdown).
  void end_block(bool complete, std::uint64_t end_time);

  const LoaderInfo& info_;
  FileSink& sink_;
  RomTiming timing_;
  RomFiles files_;
  State state_ = State::kIdle;
  PulseClasses classes_;
  Class first_ = PulseClasses::kNone;
  int pulses_ = 0;  // of the current byte's bits and parity
  std::uint8_t value_ = 0;
  bool byte_bad_ = false;
  std::uint64_t pulse_no_ = 0, marker_pulse_no_ = 0;
  std::uint64_t block_before_ = 0;  // the pulses counted before the block's (its own since)
  std::size_t marker_index_ = 0;
  std::uint64_t last_time_ = 0;    // when the last pulse of the block (or the last block) ended
  std::uint64_t last_offset_ = 0;  // where the last pulse read ends in the input
  bool trailer_ = false;           // the lead-in being read follows a block
  RomCopy block_;
  // What the blocks' lead-ins settled on, for the histogram.
  double sum_center_[3] = {0, 0, 0};
  std::uint64_t calibrations_ = 0;
};

}  // namespace tapewren::tape
