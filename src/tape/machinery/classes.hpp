// Three pulse classes (short, medium, long) for the encodings that write a bit as a pair of
// pulses: the centers start from a lead-in's short pulse in the loader's proportions and
// follow the tape's drift; the bounds lie halfway between them.
#pragma once

#include <cstdint>

namespace tapewren::tape {

class PulseClasses {
 public:
  enum Class : std::uint8_t { kShort, kMedium, kLong, kNone };

  // short16: the lead-in's pulse (x16); the others at ratio16 / 16 of it.
  void calibrate(std::uint32_t short16, std::uint32_t medium_ratio16, std::uint32_t long_ratio16) {
    center16_[kShort] = short16;
    center16_[kMedium] = short16 * medium_ratio16 / 16;
    center16_[kLong] = short16 * long_ratio16 / 16;
    set_bounds();
  }
  Class classify(std::uint32_t p) const {
    return p < bound_[0]   ? kNone
           : p < bound_[1] ? kShort
           : p < bound_[2] ? kMedium
           : p < bound_[3] ? kLong
                           : kNone;
  }
  // A lead-in's pulse: a short one no further below its center than the pilot search lets a
  // run's pulses stray (a quarter). A shorter one ends the lead-in: another loader's 0 bit
  // after a pilot of ROM-like pulses (Flashload's), which the lead-in must not run through.
  bool is_lead_in(std::uint32_t p) const {
    return p * 64 >= center16_[kShort] * 3 && p < bound_[1];
  }
  // Above every class: a pause, or a gap.
  bool above(std::uint32_t p) const { return p >= bound_[3]; }
  // Moves a center a 32nd of the way to the pulse; the bounds follow every 16 pulses, which
  // is soon enough for drift.
  void track(Class c, std::uint32_t p) {
    center16_[c] = static_cast<std::uint32_t>(
        static_cast<std::int32_t>(center16_[c]) +
        ((static_cast<std::int32_t>(p << 4) - static_cast<std::int32_t>(center16_[c])) >> 5));
    if ((++tracked_ & 15) == 0) set_bounds();
  }
  double center_half_cycles(Class c) const { return center16_[c] / 16.0; }

 private:
  // Halfway between neighbouring centers; half a short pulse at the bottom, one and a half
  // long ones at the top.
  void set_bounds() {
    bound_[0] = center16_[kShort] / 32;
    bound_[1] = (center16_[kShort] + center16_[kMedium]) / 32;
    bound_[2] = (center16_[kMedium] + center16_[kLong]) / 32;
    bound_[3] = center16_[kLong] * 3 / 32;
  }
  std::uint32_t center16_[3] = {0, 0, 0};
  std::uint32_t bound_[4] = {0, 0, 0, 0};
  std::uint32_t tracked_ = 0;
};

}  // namespace tapewren::tape
