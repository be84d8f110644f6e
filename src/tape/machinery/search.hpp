// The search for pilots, once for all loaders: every pulse of the recording passes through it.
//
// Three kinds of pilot are found. A run: pulses of one length, each within a quarter of the
// running average (the ROM loaders' lead-ins, the bit pilots of many turbo loaders). Bytes:
// one byte over and over, a pulse a bit, short and long told apart halfway between the recent
// shortest and longest pulse (a 0x02 pilot: seven short pulses and a long one, again and
// again). A cycle: the same of seven pulses, for the codes that read a byte from seven
// pulses in states (Pavloda Penetrator's lead-in). Pauses and
// spikes outside a bit's plausible length end a pilot and move no average. A byte pilot that
// the next byte breaks before it was long enough to be found is still told as a brief one, for
// the few loaders whose pilots are that short (their sync and check byte prove a block).
// Three: pulses of three lengths (a code of half waves: two short ones a 0, a long one a 1,
// a pulse two half waves in a row), short, medium and long split at a quarter and three
// quarters of the way between the same extremes, one pattern of 13 pulses over and over (two
// bytes of Super Tape's 0x16).
#pragma once

#include <cstdint>
#include <vector>

#include "tape/machinery/loader.hpp"

namespace tapewren::tape {

// Half cycles of a run's pulse: up to Gremlin's pilot pulses of 0x80 TAP units, a fifth slow.
constexpr std::uint32_t kRunMin = 240, kRunMax = 2600;
// Half cycles of any turbo bit: up to Freeload Slowload T2's 1s of 0xCD TAP units, a fifth slow.
constexpr std::uint32_t kBitMin = 200, kBitMax = 4000;
constexpr std::uint32_t kRunFound = 32;    // pulses that make a run
constexpr std::uint32_t kBytesFound = 40;  // periodic pulses that make a pilot (five bytes)
constexpr std::uint32_t kBytesBrief = 8;   // periodic pulses of a brief one (three bytes)
// The averages settle within this many pulses of a pilot that follows a pause or starts the
// recording: such a pilot begins right after the pause.
constexpr std::uint32_t kSettle = 96;

class PilotSearch {
 public:
  // Looks at every new pulse of the block; pilots found, and the pulse that ended each, go to
  // `out` (the pilots still going on at the end carry over into the next block).
  void scan(const PulseBlock& block, std::vector<Pilot>& out);
  // Pilots found so far, brief ones not counted.
  std::uint64_t found() const { return found_; }

 private:
  // What each pulse moves, copied into locals for a block so that it stays in registers.
  struct State {
    // The run.
    std::uint32_t run = 0, run_avg16 = 0;
    bool run_open = false;  // found, not yet ended
    // The bytes: the recent extremes, the bits (newest in bit 0), how long each period has
    // repeated, bit-long pulses since the last pulse that was none.
    std::uint32_t min16 = 0, max16 = 0;
    std::uint32_t reg = 0, periodic7 = 0, periodic8 = 0, periodic9 = 0, bytes_pulses = 0;
    std::uint32_t bits = 0;
    bool bytes_open = false;
    // The three lengths: two bits a pulse, the newest in the lowest.
    std::uint64_t reg3 = 0;
    std::uint32_t periodic13 = 0, three_pulses = 0;
    bool three_open = false;
  };
  State state_;
  std::uint64_t next_id_ = 1, found_ = 0;
  Pilot run_pilot_, bytes_pilot_, three_pilot_;
  // Where the pulses before the block began.
  static constexpr std::size_t kTail = 256;
  std::uint64_t tail_offset_[kTail] = {}, tail_time_[kTail] = {};
};

}  // namespace tapewren::tape
