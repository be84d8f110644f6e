// Decoder of the home computer's own tape format, the ROM loader's (C64 and VIC20 alike).
//
// Encoding: pulses are short, medium or long (C64 about 384, 528 and 688 cycles; the VIC20's
// a little longer). A block starts with a lead-in of short pulses. A byte is a marker (long,
// medium), eight bits least significant first (short+medium = 0, medium+short = 1) and an odd
// parity bit; long+short instead of a marker ends the block. Bytes 1-9 count down 0x89..0x81
// in the first copy of a block and 0x09..0x01 in its repeat; then the payload and an XOR
// checksum. The pulse classes come from the tape: each lead-in gives the short pulse, the
// medium and long ones start in fixed proportions to it, and all three track drift.
#pragma once

#include <cstdint>
#include <vector>

#include "tape/tape.hpp"

namespace tapewren::tape {

// Pulse lengths are in half cycles, as the dump's pulse words count them; centers are kept
// in 1/16 of that.
constexpr std::uint32_t kLeadInRun = 32;                    // similar pulses that make a lead-in
constexpr std::uint32_t kShortMin = 240, kShortMax = 1400;  // a plausible short pulse
// Where a lead-in puts the medium and long pulses, x16 of the short one: between the C64's
// (1.375, 1.79) and the VIC20's (1.43, 1.91) proportions; tracking does the rest.
constexpr std::uint32_t kMediumRatio16 = 22, kLongRatio16 = 29;
constexpr int kCountdownBytes = 9;
constexpr int kPulsesPerByte = 20;
constexpr int kResyncLimit = 4 * kPulsesPerByte;  // pulses without a marker end the block

struct RomDecoder {
  enum class State { kSearch, kLeadIn, kMarker, kBits, kAfterByte, kEndOrMarker, kResync };
  enum Class : std::uint8_t { kShort, kMedium, kLong, kNone };

  State state = State::kSearch;
  // The search: a run of pulses within a quarter of their running average.
  std::uint32_t run = 0, run_avg16 = 0;
  std::uint64_t run_offset = 0;
  std::uint64_t run_time = 0;  // in half cycles
  // Pulse class centers (x16) and the bounds between classes, from the last lead-in on.
  std::uint32_t center16[3] = {0, 0, 0};
  std::uint32_t bound[4] = {0, 0, 0, 0};  // below bound[0] and from bound[3] on: no class
  std::uint32_t tracked = 0;
  // The byte being read.
  Class first = kNone;
  int pulses = 0;  // of the current byte's bits and parity
  std::uint8_t value = 0;
  bool byte_bad = false;
  std::uint64_t pulse_no = 0, marker_pulse_no = 0;
  std::size_t marker_index = 0;
  Block block;
  std::vector<Block>* out = nullptr;
  // What the blocks' lead-ins settled on, for the report.
  double sum_center[3] = {0, 0, 0};
  std::uint64_t calibrations = 0;

  // The lead-in's thousands of short pulses take the short way; the rest is in step_slow.
  void step(std::uint32_t p, std::uint64_t offset, std::uint64_t time) {
    ++pulse_no;
    if (state == State::kLeadIn && p >= bound[kShort] && p < bound[kMedium])
      return track(kShort, p);
    step_slow(p, offset, time);
  }
  // The recording ends: a block being read ends with it, incomplete.
  void finish() {
    if (state != State::kSearch && state != State::kLeadIn) end_block(false);
  }

 private:
  Class classify(std::uint32_t p) const {
    return p < bound[0]   ? kNone
           : p < bound[1] ? kShort
           : p < bound[2] ? kMedium
           : p < bound[3] ? kLong
                          : kNone;
  }
  void calibrate(std::uint32_t short16);
  void set_bounds();
  // Moves a center a 32nd of the way to the pulse; the bounds follow every 16 pulses, which
  // is soon enough for drift.
  void track(Class c, std::uint32_t p) {
    center16[c] = static_cast<std::uint32_t>(
        static_cast<std::int32_t>(center16[c]) +
        ((static_cast<std::int32_t>(p << 4) - static_cast<std::int32_t>(center16[c])) >> 5));
    if ((++tracked & 15) == 0) set_bounds();
  }
  void step_slow(std::uint32_t p, std::uint64_t offset, std::uint64_t time);
  void begin_byte();
  void end_byte(bool parity_one);
  void lose_byte();
  void end_block(bool complete);
  void search(std::uint32_t p, std::uint64_t offset, std::uint64_t time);
};

}  // namespace tapewren::tape
