// Bits of three pulse lengths read in two states, for the later Pavloda loaders. After a 1
// (state 1) a short pulse is 1, a medium 00 and a long 01; after a 0 (state 2) a short is 0,
// a medium 1 and a long 00. A medium pulse changes the state. So a pulse is one bit or two,
// and a byte may end with the first of a pulse's two. The classes start from a pilot's short
// pulses in the format's proportions and follow the tape's drift (PulseClasses).
#pragma once

#include <cstdint>

#include "tape/machinery/bitstream.hpp"
#include "tape/machinery/classes.hpp"

namespace tapewren::tape {

struct StateBitFormat {
  std::uint32_t medium_ratio16, long_ratio16;  // a medium and a long pulse x16 of a short
};

class StateBits {
 public:
  using Format = StateBitFormat;
  using Step = BitStream::Step;

  explicit StateBits(const Format& format) : format_(format) {}

  // A run of short pulses: state 2, bytes beginning with the next pulse.
  bool start(const Pilot& pilot) {
    if (pilot.kind != Pilot::Kind::kRun) return false;
    classes_.calibrate(pilot.average16, format_.medium_ratio16, format_.long_ratio16);
    state1_ = false;
    begin_now();
    reg_ = 0;
    return true;
  }
  void begin_now() {
    aligned_ = true;
    bits_ = 0;
    tail_ = 0;
  }
  // Bytes begin after the first 1 bit; the 0 bits before it are counted.
  void begin_after_one() {
    aligned_ = false;
    skipped_ = 0;
  }
  std::uint32_t skipped() const { return skipped_; }

  Step step(std::uint32_t p) {
    const PulseClasses::Class c = classes_.classify(p);
    if (c == PulseClasses::kNone) return Step::kNoBit;
    classes_.track(c, p);
    unsigned n = 1, v = 0;  // the pulse's bits, the first in the higher one
    if (state1_) {
      if (c == PulseClasses::kShort) {
        v = 1;
      } else {
        n = 2;
        v = c == PulseClasses::kLong ? 1 : 0;
        state1_ = c == PulseClasses::kLong;
      }
    } else if (c == PulseClasses::kMedium) {
      v = 1;
      state1_ = true;
    } else if (c == PulseClasses::kLong) {
      n = 2;
    }
    Step out = Step::kMore;
    for (unsigned k = n; k-- > 0;) {
      const unsigned bit = (v >> k) & 1;
      reg_ = reg_ << 1 | bit;
      if (!aligned_) {
        if (bit != 0) {
          begin_now();
        } else {
          ++skipped_;
        }
      } else if (++bits_ == 8) {
        bits_ = 0;
        tail_ = k;  // the pulse's bits after the byte's last: the next byte's
        out = Step::kByte;
      }
    }
    return out;
  }
  std::uint8_t byte() const { return static_cast<std::uint8_t>(reg_ >> tail_); }
  // Between a short and a medium pulse, half cycles.
  std::uint32_t threshold() const {
    return static_cast<std::uint32_t>((classes_.center_half_cycles(PulseClasses::kShort) +
                                       classes_.center_half_cycles(PulseClasses::kMedium)) /
                                      2);
  }

 private:
  Format format_;
  PulseClasses classes_;
  bool state1_ = false;
  bool aligned_ = true;
  std::uint32_t reg_ = 0, skipped_ = 0;
  unsigned bits_ = 0, tail_ = 0;
};

}  // namespace tapewren::tape
