// The framing Turbo Tape 250 and its family share: one pulse a bit, a pilot of one byte
// value over and over, a countdown K, K-1 .. 1, then the block's bytes, back to back with no
// markers, until the pulses stop being bits.
#pragma once

#include <algorithm>
#include <cstdint>

#include "tape/machinery/bits.hpp"
#include "tape/machinery/loader.hpp"

namespace tapewren::tape {

struct CountdownFormat {
  std::uint8_t pilot;       // the pilot's byte
  int countdown;            // K
  int min_pilot;            // pilot bytes before a countdown counts
  std::uint32_t threshold;  // between a 0 and a 1 on a deck at the right speed, half cycles
  bool msb_first;
};

class CountdownReader {
 public:
  explicit CountdownReader(const CountdownFormat& format)
      : format_(format), bytes_(format.msb_first) {}

  // A pilot of the right byte, at about the right speed (a deck 35 % off is still taken).
  bool engage(const Pilot& pilot) {
    if (pilot.kind != Pilot::Kind::kBytes || !rotation_of_pilot(pilot.pattern)) return false;
    const std::uint32_t threshold = (pilot.zero16 + pilot.one16) / 32;
    if (threshold * 20 < format_.threshold * 13 || threshold * 20 > format_.threshold * 27)
      return false;
    bits_.start(pilot.zero16, pilot.one16);
    bytes_ = ByteAssembler(format_.msb_first);
    state_ = State::kAlign;
    pilot_before_ = static_cast<int>(pilot.count / 8) - 2;  // read before: two bytes are read again
    return true;
  }

  enum class Step { kMore, kByte, kEnd };
  // One pulse: kByte when it completed a byte of the block (byte()); kEnd when it was no
  // bit, or the pilot or countdown went wrong: the block, if any, is over.
  Step step(std::uint32_t p) {
    const int bit = bits_.bit(p);
    if (bit < 0) return end();
    const bool whole = bytes_.add(bit);
    const std::uint8_t v = bytes_.value();
    switch (state_) {
      case State::kIdle:
        return Step::kEnd;
      case State::kAlign:  // the first pilot byte sets where bytes begin
        if (v == format_.pilot) {
          bytes_.align();
          count_ = std::max(pilot_before_, 1);
          state_ = State::kPilot;
        }
        return Step::kMore;
      case State::kPilot:
        if (!whole) return Step::kMore;
        if (v == format_.pilot) {
          ++count_;
        } else if (v == format_.countdown && count_ >= format_.min_pilot) {
          count_ = format_.countdown - 1;
          state_ = count_ == 0 ? State::kBlock : State::kCountdown;
        } else {
          return end();
        }
        return Step::kMore;
      case State::kCountdown:
        if (!whole) return Step::kMore;
        if (v != count_) return end();
        if (--count_ == 0) state_ = State::kBlock;
        return Step::kMore;
      case State::kBlock:
        return whole ? Step::kByte : Step::kMore;
    }
    return Step::kMore;
  }
  std::uint8_t byte() const { return bytes_.value(); }
  bool in_block() const { return state_ == State::kBlock; }
  // The loader saw the next pilot begin in what it read: count it from this byte.
  void back_to_pilot() {
    state_ = State::kPilot;
    count_ = 1;
  }
  bool engaged() const { return state_ != State::kIdle; }
  void stop() { state_ = State::kIdle; }
  std::uint32_t threshold() const { return bits_.threshold(); }

 private:
  enum class State { kIdle, kAlign, kPilot, kCountdown, kBlock };
  Step end() {
    state_ = State::kIdle;
    return Step::kEnd;
  }
  // The pattern the search saw: the pilot byte's bits in the order they come, at any start.
  bool rotation_of_pilot(std::uint8_t pattern) const {
    std::uint8_t in_time_order = format_.pilot;
    if (!format_.msb_first) {
      std::uint8_t r = 0;
      for (int b = 0; b < 8; ++b)
        r = static_cast<std::uint8_t>(r << 1 | ((in_time_order >> b) & 1));
      in_time_order = r;
    }
    for (int k = 0; k < 8; ++k) {
      if (pattern == in_time_order) return true;
      in_time_order = static_cast<std::uint8_t>(in_time_order << 1 | in_time_order >> 7);
    }
    return false;
  }

  CountdownFormat format_;
  BitReader bits_;
  ByteAssembler bytes_;
  State state_ = State::kIdle;
  int count_ = 0;
  int pilot_before_ = 0;  // pilot bytes the search saw
};

}  // namespace tapewren::tape
