// Bits of three pulse lengths read in two states, for the later Pavloda loaders. After a 1
// (state 1) a short pulse is 1, a medium 00 and a long 01; after a 0 (state 2) a short is 0,
// a medium 1 and a long 00 (Penetrator's loader: a long is 1 there, as a medium). A medium
// pulse (and there Penetrator's long) changes the state. So a pulse is one bit or two, and a
// byte may end with the first of a pulse's two. The classes start from a pilot's short pulses
// in the format's proportions and follow the tape's drift (PulseClasses).
#pragma once

#include <cstdint>

#include "tape/machinery/bitstream.hpp"
#include "tape/machinery/classes.hpp"

namespace tapewren::tape {

struct StateBitFormat {
  std::uint32_t medium_ratio16, long_ratio16;  // a medium and a long pulse x16 of a short
  bool long_one_after_zero = false;            // in state 2 a long pulse is 1, as a medium
  // The pilot it starts from: a run of short pulses, or a cycle of seven.
  Pilot::Kind pilot = Pilot::Kind::kRun;
};

class StateBits {
 public:
  using Format = StateBitFormat;
  // A byte's last pulse ends it (each pulse's bits are whole): blocks can be pieced together at a
  // byte.
  static constexpr bool kBytesEndOnPulses = true;
  using Step = BitStream::Step;

  explicit StateBits(const Format& format) : format_(format) {}

  // The format's pilot (its short pulses the run's, or the cycle's shorter): state 2, bytes
  // beginning with the next pulse.
  bool start(const Pilot& pilot) {
    if (pilot.kind != format_.pilot) return false;
    classes_.calibrate(pilot.kind == Pilot::Kind::kRun ? pilot.average16 : pilot.zero16,
                       format_.medium_ratio16, format_.long_ratio16);
    state1_ = false;
    begin_now();
    reg_ = 0;
    return true;
  }
  void begin_now() {
    align_ = Align::kNow;
    bits_ = 0;
    tail_ = 0;
  }
  // Bytes begin after the first 1 bit; the 0 bits before it are counted.
  void begin_after_one() {
    align_ = Align::kAfterOne;
    skipped_ = 0;
  }
  std::uint32_t skipped() const { return skipped_; }
  // Bytes begin with the first that reads `value`, at whatever bit; before it, eight bits that
  // read `reset` put the reader in state 2 (a loader that finds its state in its lead-in so).
  void begin_at(std::uint8_t value, std::uint8_t reset) {
    align_ = Align::kAtValue;
    target_ = value;
    reset_ = reset;
  }

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
    } else if (c == PulseClasses::kMedium ||
               (c == PulseClasses::kLong && format_.long_one_after_zero)) {
      v = 1;
      state1_ = true;
    } else if (c == PulseClasses::kLong) {
      n = 2;
    }
    Step out = Step::kMore;
    bool reset = false;
    for (unsigned k = n; k-- > 0;) {
      const unsigned bit = (v >> k) & 1;
      reg_ = reg_ << 1 | bit;
      switch (align_) {
        case Align::kAfterOne:
          if (bit != 0) {
            begin_now();
          } else {
            ++skipped_;
          }
          break;
        case Align::kAtValue:
          if ((reg_ & 0xFF) == target_) {
            begin_now();
            tail_ = k;
            out = Step::kByte;
          } else if ((reg_ & 0xFF) == reset_) {
            reset = true;  // once the pulse is read
          }
          break;
        case Align::kNow:
          if (++bits_ == 8) {
            bits_ = 0;
            tail_ = k;  // the pulse's bits after the byte's last: the next byte's
            out = Step::kByte;
          }
          break;
      }
    }
    if (reset) state1_ = false;
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
  enum class Align { kNow, kAfterOne, kAtValue };
  Format format_;
  PulseClasses classes_;
  bool state1_ = false;
  Align align_ = Align::kNow;
  std::uint32_t reg_ = 0, skipped_ = 0;
  unsigned bits_ = 0, tail_ = 0;
  std::uint8_t target_ = 0, reset_ = 0;
};

}  // namespace tapewren::tape
