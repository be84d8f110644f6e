// The Digital Integration loaders, TDI F1 and F2.
//
// One pulse a bit, 0 about 0x44 and 1 about 0x65 TAP units (the threshold halfway, at 676
// cycles), least significant bit first. A pilot of 0xA0 bytes and the countdown 0x0A..0x01,
// then one block. F1: the data's size (little-endian) and the block's number (never 0); no
// load address on tape (the loader knows it: the file is shown at $0000). F2: the size and
// the load address (little-endian) and a name of 4, 2 or 1 bytes. Then the data, each byte
// XORed with its index in the block (from 0, modulo 256), and the XOR of the data as it loads.
// F2 ends with 0x20, a marker that tells where the name ended; F1 with a few pulses.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kTdiF1Entry;
extern const LoaderEntry kTdiF2Entry;

namespace {

const LoaderInfo kF1Info = {
    .name = "TDI F1",
    .machines = kC64,
    .checksum = true,
    .encoding = "one pulse a bit, LSB first",
    .description = "0xA0 pilot, 10..1; size, number; data XORed with their index; XOR",
    .peers = kTapClean,
    .pulses = {0x44, 0x65}};
const LoaderInfo kF2Info = {.name = "TDI F2",
                            .machines = kC64,
                            .checksum = true,
                            .encoding = "one pulse a bit, LSB first",
                            .description =
                                "0xA0 pilot, 10..1; size, load, name; data XORed with their "
                                "index; XOR; 0x20",
                            .peers = kTapClean,
                            .pulses = {0x44, 0x65}};
constexpr BitFormat kBits = {2 * 676, 24, false};
constexpr std::uint8_t kSync[] = {10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
constexpr std::uint8_t kPilot = 0xA0;
constexpr int kMinPilot = 50;                // pilot bytes, as TAPClean wants them
constexpr std::uint8_t kMarker = 0x20;       // F2's last byte
constexpr std::size_t kNames[] = {4, 2, 1};  // F2's name sizes, the longest tried first

class Tdi : public TurboLoader<Tdi> {
 public:
  Tdi(const LoaderInfo& info, FileSink& sink, bool f2)
      : TurboLoader(info, sink, kBits, {kPilot, kMinPilot, kSync, sizeof kSync}), f2_(f2) {}

  bool accepts(const Pilot& pilot) {
    // Wildload's pilot and sync are these, its pulses a third shorter.
    if (!fits(pilot) || !sync_pilot(pilot)) return false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    bytes_.push_back(v);
    const std::size_t n = bytes_.size();
    if (!f2_) {
      if (n == 3 && bytes_[2] == 0) return false;  // F1 numbers its blocks from 1
      if (n < 3 + size() + 1) return true;
      emit_block(3, true, false);
      return expect_end(kPilot);
    }
    // F2: read up to where the longest name's marker would be, then find the marker.
    if (n < 4 + kNames[0] + size() + 2) return true;
    return end_f2();
  }

  bool no_bit(std::uint64_t) {
    if (!synced()) return false;
    if (f2_) return end_f2();
    if (bytes_.size() >= 3) emit_block(3, false, false);
    return false;
  }
  void close() { no_bit(0); }

 private:
  // The pilot's pulses within 15 % of the format's.
  static bool fits(const Pilot& pilot) {
    const std::uint32_t t = (pilot.zero16 + pilot.one16) / 32;
    return t * 100 >= kBits.threshold * 85 && t * 100 <= kBits.threshold * 115;
  }
  std::size_t size() const {
    return bytes_.size() < 2 ? 0x10000 : static_cast<std::size_t>(bytes_[0] | bytes_[1] << 8);
  }

  // F2's block ends at its marker: the longest name that puts one where it should be. A
  // block cut short before it: its name taken as the longest.
  bool end_f2() {
    if (bytes_.size() < 4) return false;
    for (const std::size_t name : kNames) {
      const std::size_t marker = 4 + name + size() + 1;
      if (marker < bytes_.size() && bytes_[marker] == kMarker) {
        emit_block(4 + name, true, true);
        return false;
      }
    }
    // Cut short before its marker: F2's where the load address's low byte is 0 (as on all
    // F2 tapes TAPClean knows; F1's number is never 0), its name taken as the longest.
    const std::size_t n = bytes_.size();
    if (n >= 4 + kNames[0] && n < 4 + kNames[0] + size() + 1 && bytes_[2] == 0)
      emit_block(4 + kNames[0], false, false);
    return false;  // the bytes all read, and no marker: no block of F2
  }

  // The block with its data from `head` on; `whole`: its structure ended as the format has it.
  void emit_block(std::size_t head, bool complete, bool whole) {
    const std::size_t n = std::min(size(), bytes_.size() > head ? bytes_.size() - head : 0);
    std::vector<std::uint8_t> data(n);
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < n; ++i) {
      data[i] = static_cast<std::uint8_t>(bytes_[head + i] ^ (i & 0xFF));
      x ^= data[i];
    }
    complete = complete && n == size() && bytes_.size() > head + n;
    const int found = complete ? bytes_[head + n] : -1;
    const std::uint16_t start = f2_ ? static_cast<std::uint16_t>(bytes_[2] | bytes_[3] << 8) : 0;
    const auto name = f2_ ? name_of(&bytes_[4], head - 4) : std::array<std::uint8_t, 16>{};
    TapeFile f = file(Kind::kProgram, name, start, std::move(data),
                      {true, 0, complete && x == found, complete, found, complete ? x : -1},
                      span_offset(), span_time());
    f.end = static_cast<std::uint16_t>(start + size());
    if (!f2_) f.type = bytes_[2];
    f.evidence = static_cast<int>(sizeof kSync + head);
    bytes_.clear();
    end_span();
    emit(std::move(f), whole);
  }

  bool f2_;
  std::vector<std::uint8_t> bytes_;  // from the sync on
};

std::unique_ptr<LoaderDecoder> make_f1(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Tdi>(info, sink, false);
}
std::unique_ptr<LoaderDecoder> make_f2(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Tdi>(info, sink, true);
}

}  // namespace

const LoaderEntry kTdiF1Entry = {kF1Info, make_f1};
const LoaderEntry kTdiF2Entry = {kF2Info, make_f2};

}  // namespace tapewren::tape
