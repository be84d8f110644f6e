// Bits written as half waves, least significant bit first: a 0 two short half waves, a 1 one
// twice as long. A pulse is two half waves in a row: short (the two of a 0), medium (a 1 and
// half of a 0) or long (two 1s). At a bit's start (state 1) a short pulse is 0, a medium 1 then
// 0 with that 0's second half left over (state 2), a long 11. With half a 0 left over, a short
// pulse is 0 (its first half left over again), a medium 1 (back at a bit's start). A long pulse
// reads 11 and state 1 in either state, so the state is known from the first long pulse on;
// the bits left over after a byte begin the next.
#pragma once

#include <cstdint>

#include "tape/machinery/bitstream.hpp"
#include "tape/machinery/classes.hpp"

namespace tapewren::tape {

struct HalfWaveFormat {
  std::uint32_t medium_ratio16, long_ratio16;  // a medium and a long pulse x16 of a short
};

class HalfWaveBits {
 public:
  using Format = HalfWaveFormat;
  // A pulse's half waves may be two bytes' bits: a block cannot be cut between its bytes.
  static constexpr bool kBytesEndOnPulses = false;
  using Step = BitStream::Step;

  explicit HalfWaveBits(const Format& format) : format_(format) {}

  // A pilot of the three lengths: the classes from its short pulses; the state not yet known.
  bool start(const Pilot& pilot) {
    if (pilot.kind != Pilot::Kind::kThree) return false;
    classes_.calibrate(pilot.zero16, format_.medium_ratio16, format_.long_ratio16);
    known_ = false;
    state1_ = true;
    aligned_ = false;
    target_ = 0;
    reg_ = 0;
    bits_ = 0;
    return true;
  }
  // Bytes begin with the first whole byte of `value` read once the state is known.
  void begin_at(std::uint8_t value) {
    aligned_ = false;
    target_ = value;
  }

  Step step(std::uint32_t p) {
    const PulseClasses::Class c = classes_.classify(p);
    if (c == PulseClasses::kNone) return Step::kNoBit;
    classes_.track(c, p);
    unsigned n = 1, v = 0;  // the pulse's bits, the first in time in bit 0
    if (c == PulseClasses::kLong) {
      n = 2;
      v = 3;
      state1_ = true;
      known_ = true;
    } else if (c == PulseClasses::kMedium) {
      v = 1;
      n = state1_ ? 2 : 1;
      state1_ = !state1_;
    }
    Step out = Step::kMore;
    for (unsigned k = 0; k < n; ++k) {
      reg_ = reg_ >> 1 | ((v >> k) & 1u) << 7;
      if (!aligned_) {
        if (!known_ || reg_ != target_) continue;
        aligned_ = true;
        bits_ = 8;
      } else {
        ++bits_;
      }
      if (bits_ == 8) {
        bits_ = 0;
        byte_ = static_cast<std::uint8_t>(reg_);
        out = Step::kByte;
      }
    }
    return out;
  }
  std::uint8_t byte() const { return byte_; }
  // Between a short and a medium pulse, half cycles.
  std::uint32_t threshold() const {
    return static_cast<std::uint32_t>((classes_.center_half_cycles(PulseClasses::kShort) +
                                       classes_.center_half_cycles(PulseClasses::kMedium)) /
                                      2);
  }

 private:
  Format format_;
  PulseClasses classes_;
  bool known_ = false, state1_ = true, aligned_ = false;
  std::uint8_t target_ = 0, byte_ = 0;
  std::uint32_t reg_ = 0;  // the last eight bits, the newest in bit 7
  unsigned bits_ = 0;
};

}  // namespace tapewren::tape
