// Decoder of Turbo Tape 250 and its clones (the 9-to-1 countdown).
//
// Encoding: one pulse is one bit, short = 0 and long = 1 (about 208 and 320 cycles), most
// significant bit first, bytes back to back. Every block: a pilot of 0x02 bytes, the
// countdown 0x09..0x01 and an ID byte. ID 1 or 2: a header (start and end address, one byte
// not used here, the 16-byte name, then filler). ID 0: the data, end - start bytes and their
// XOR. Blocks are recorded once. The threshold between 0 and 1 comes from the pilot itself:
// while searching, a pulse above 5/4 of the running average is a 1; once a pilot is found,
// the averages of its zeros and ones set the threshold and follow drift.
#pragma once

#include <cstdint>
#include <vector>

#include "tape/tape.hpp"

namespace tapewren::tape {

constexpr std::uint8_t kTurboPilotByte = 0x02;
constexpr int kTurboMinPilot = 32;  // pilot bytes before a countdown counts
constexpr int kTurboCountdown = 9;
constexpr std::size_t kTurboHeaderBytes = 21;  // start, end, one byte, the name

struct TurboDecoder {
  enum class State { kSearch, kPilot, kCountdown, kId, kBytes };

  State state = State::kSearch;
  std::uint32_t avg16 = 0, zero16 = 0, one16 = 0;  // running averages, x16
  std::uint32_t threshold = 0, low = 0, high = 0;  // half cycles: the 0/1 bound, no bit outside
  std::uint8_t shift = 0;
  int bits = 0, count = 0;
  std::size_t wanted = 0;     // bytes of the block being read; 0: until the pulses stop
  std::size_t next_data = 0;  // the data length the last header announced (+ checksum)
  std::uint64_t offset = 0;
  std::uint64_t time = 0;  // in half cycles
  Block block;
  std::vector<Block>* out = nullptr;
  double sum_threshold = 0;
  std::uint64_t pilots = 0;

  // While searching, a pulse only moves the averages and the bit register: the short way.
  void step(std::uint32_t p, std::uint64_t offset, std::uint64_t time) {
    if (state != State::kSearch) return step_block(p);
    follow(avg16, p, 3);
    const bool one = (p << 4) * 4 > avg16 * 5;
    follow(one ? one16 : zero16, p, 3);
    shift = static_cast<std::uint8_t>(shift << 1 | (one ? 1 : 0));
    if (shift == kTurboPilotByte) start_pilot(offset, time);
  }
  // The recording ends: data of unknown length ends with it.
  void finish() {
    if (state == State::kBytes) end_block(wanted == 0);
  }

 private:
  // Moves an average (x16) 2^-shift of the way to the pulse.
  static void follow(std::uint32_t& avg16, std::uint32_t p, int shift) {
    avg16 = static_cast<std::uint32_t>(
        static_cast<std::int32_t>(avg16) +
        ((static_cast<std::int32_t>(p << 4) - static_cast<std::int32_t>(avg16)) >> shift));
  }
  void start_pilot(std::uint64_t at, std::uint64_t now);
  void step_block(std::uint32_t p);
  void set_threshold();
  void end_block(bool complete);
};

}  // namespace tapewren::tape
