// One pulse a bit, for the turbo loaders: a short pulse is 0, a long one 1, the threshold
// between the running averages of the two (taken from the pilot, following the tape's drift),
// and no bit at all below half a 0 or above twice a 1 (a pause, a dropout, the end of a
// block). Bits make bytes most or least significant first, each framed by lead bits of 1
// where a loader has them; both can change between bytes. Bytes begin where the loader says:
// at once, after one bit of a value, or at the first byte of a value seen at any bit.
// Where a loader times a bit from the end of its short pulse's timer, the pulse after a short
// one only starts the next bit's timing: it is passed over (two pulses for that bit).
#pragma once

#include <cstdint>

#include "tape/machinery/loader.hpp"

namespace tapewren::tape {

struct BitFormat {
  std::uint32_t threshold;    // between a 0 and a 1 at the right speed, half cycles
  std::uint32_t one_ratio16;  // a 1's length x16 of a 0's, for pilots of one kind of bit
  bool msb_first;
  int lead_bits = 0;         // bits of 1 in front of each byte
  bool short_pairs = false;  // a short pulse comes with one more, passed over
};

class BitStream {
 public:
  using Format = BitFormat;
  // A byte's last pulse ends it (a pulse is a bit): blocks can be pieced together at a byte.
  static constexpr bool kBytesEndOnPulses = true;
  explicit BitStream(const BitFormat& format) : format_(format) { reset_format(); }

  // The pilot at about the right speed (a deck 35 % off is still taken): the classes start
  // from its averages, or from its run of one kind of bit and the format's proportion.
  bool start(const Pilot& pilot) {
    // Its pulses are no bit each: a cycle of seven, or three lengths.
    if (pilot.kind == Pilot::Kind::kCycle || pilot.kind == Pilot::Kind::kThree) return false;
    std::uint32_t zero16 = pilot.zero16, one16 = pilot.one16;
    if (pilot.kind == Pilot::Kind::kRun) {
      const bool ones = pilot.average16 > format_.threshold * 16;
      zero16 = ones ? pilot.average16 * 16 / format_.one_ratio16 : pilot.average16;
      one16 = ones ? pilot.average16 : pilot.average16 * format_.one_ratio16 / 16;
    }
    const std::uint32_t threshold = (zero16 + one16) / 32;
    if (threshold * 20 < format_.threshold * 13 || threshold * 20 > format_.threshold * 27)
      return false;
    zero16_ = zero16;
    one16_ = one16;
    set();
    reset_format();
    reg_ = 0;
    bits_ = 0;
    pass_ = false;
    align_ = Align::kNow;
    return true;
  }

  // Where bytes begin: with the next pulse; after one bit of `bit`; with the first byte
  // (its lead bits included) that reads `value`, at whatever bit it comes.
  void begin_now() { align_ = Align::kNow, bits_ = 0; }
  void begin_after_bit(int bit) {
    align_ = bit ? Align::kAfterOne : Align::kAfterZero;
    skipped_ = 0;
  }
  // The bits passed over before that one bit.
  std::uint32_t skipped() const { return skipped_; }
  // Within `within` bits, if not 0: past them the pulses count as no bit, for a loader that
  // looks for a pilot only where one must begin.
  void begin_at(std::uint8_t value, std::uint32_t within = 0) {
    align_ = Align::kAtValue;
    target_ = value;
    within_ = within;
  }
  // With the last byte of a sync of pilot byte, pilot byte, its inverse, pilot byte, for a
  // pilot byte not known in advance (no lead bits).
  void begin_at_inverted_sync() { align_ = Align::kAtInvertedSync; }
  void set_msb_first(bool msb_first) { msb_first_ = msb_first; }
  void set_lead_bits(int n) { lead_ = n; }
  bool msb_first() const { return msb_first_; }
  int lead_bits() const { return lead_; }
  void reset_format() {
    msb_first_ = format_.msb_first;
    lead_ = format_.lead_bits;
  }

  enum class Step { kMore, kByte, kNoBit };
  Step step(std::uint32_t p) {
    if (pass_) {  // of any length below a pause: the loader does not time it
      pass_ = false;
      return p > high_ ? Step::kNoBit : Step::kMore;
    }
    if (p < low_ || p > high_) return Step::kNoBit;
    const bool one = p >= threshold_;
    pass_ = format_.short_pairs && !one;
    std::uint32_t& avg16 = one ? one16_ : zero16_;
    avg16 = static_cast<std::uint32_t>(
        static_cast<std::int32_t>(avg16) +
        ((static_cast<std::int32_t>(p << 4) - static_cast<std::int32_t>(avg16)) >> 4));
    if ((++seen_ & 7) == 0) set();
    reg_ = reg_ << 1 | (one ? 1u : 0u);
    switch (align_) {
      case Align::kAfterOne:
      case Align::kAfterZero:
        if (one == (align_ == Align::kAfterOne)) {
          begin_now();
        } else {
          ++skipped_;
        }
        return Step::kMore;
      case Align::kAtValue:
        if ((reg_ & frame_mask()) != frame_of(target_))
          return within_ != 0 && --within_ == 0 ? Step::kNoBit : Step::kMore;
        align_ = Align::kNow;
        bits_ = 0;
        return Step::kByte;
      case Align::kAtInvertedSync: {
        const std::uint32_t a = (reg_ >> 16) & 0xFF;
        if (((reg_ >> 24) & 0xFF) != a || (reg_ & 0xFF) != a || ((reg_ >> 8) & 0xFF) != (a ^ 0xFF))
          return Step::kMore;
        align_ = Align::kNow;
        bits_ = 0;
        return Step::kByte;
      }
      case Align::kNow:
        if (++bits_ < 8 + lead_) return Step::kMore;
        bits_ = 0;
        return Step::kByte;
    }
    return Step::kMore;
  }
  // The byte just completed, and whether its lead bits were all 1.
  std::uint8_t byte() const {
    const auto v = static_cast<std::uint8_t>(reg_);
    return msb_first_ ? v : reverse(v);
  }
  bool framed() const {
    const std::uint32_t lead = (reg_ >> 8) & ((1u << lead_) - 1);
    return lead == (1u << lead_) - 1;
  }
  // The last bits read, the newest in bit 0 (1 long): for frames whose extra bit comes after
  // the byte.
  std::uint32_t bits() const { return reg_; }
  // The bits read since the last byte.
  int bits_in_byte() const { return bits_; }
  // Whether the bits read since the last byte, if any, are all 0.
  bool zeros_since_byte() const { return (reg_ & ((1u << bits_) - 1)) == 0; }
  std::uint32_t threshold() const { return threshold_; }  // half cycles

  static std::uint8_t reverse(std::uint8_t v) {
    std::uint8_t r = 0;
    for (int b = 0; b < 8; ++b) r = static_cast<std::uint8_t>(r << 1 | ((v >> b) & 1));
    return r;
  }

 private:
  enum class Align { kNow, kAfterOne, kAfterZero, kAtValue, kAtInvertedSync };
  void set() {
    threshold_ = (zero16_ + one16_) / 32;
    low_ = zero16_ / 32;
    high_ = one16_ / 8;
  }
  std::uint32_t frame_mask() const { return (1u << (8 + lead_)) - 1; }
  std::uint32_t frame_of(std::uint8_t value) const {
    return ((1u << lead_) - 1) << 8 | (msb_first_ ? value : reverse(value));
  }

  BitFormat format_;
  bool msb_first_ = true;
  int lead_ = 0;
  std::uint32_t zero16_ = 0, one16_ = 0;
  std::uint32_t threshold_ = 0, low_ = 0, high_ = 0;
  std::uint32_t seen_ = 0, reg_ = 0, skipped_ = 0, within_ = 0;
  int bits_ = 0;
  bool pass_ = false;  // the next pulse is the second of a short pair
  Align align_ = Align::kNow;
  std::uint8_t target_ = 0;
};

// A pilot of one byte value, then a sync: the bytes that follow it in order. Fed every byte
// from where bytes begin.
class PilotSync {
 public:
  PilotSync() = default;  // none: a loader whose blocks begin otherwise
  PilotSync(std::uint8_t pilot, int min_pilot, const std::uint8_t* sync, std::size_t sync_size)
      : pilot_(pilot), min_(min_pilot), sync_(sync), size_(sync_size) {}
  void start(int pilot_bytes_seen) {
    count_ = pilot_bytes_seen;
    matched_ = 0;
  }
  enum class Step { kMore, kSynced, kFail };
  Step byte(std::uint8_t v) {
    if (matched_ == 0 && v == pilot_) {
      ++count_;
      return Step::kMore;
    }
    if (matched_ == 0 && count_ < min_) return Step::kFail;
    if (v != sync_[matched_]) return Step::kFail;
    return ++matched_ == size_ ? Step::kSynced : Step::kMore;
  }
  int pilot_bytes() const { return count_; }
  std::uint8_t pilot() const { return pilot_; }

 private:
  std::uint8_t pilot_ = 0;
  int min_ = 0;
  const std::uint8_t* sync_ = nullptr;
  std::size_t size_ = 0;
  int count_ = 0;
  std::size_t matched_ = 0;
};

}  // namespace tapewren::tape
