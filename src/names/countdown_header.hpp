// Scanner for the header block of the single-pulse turbo encodings with a 0x02 pilot.
//
// Encoding: every pulse is one bit (long = 1, short = 0), most significant bit first, bytes
// back to back without markers. A block starts with a pilot of at least 959 bytes 0x02, then
// a countdown K..1, a type byte (1 or 2), five bytes not examined and the 16-byte file name.
// Two variants share the machine and differ in constants: the 9-to-1 countdown and the
// 12-to-1 countdown, with slightly different pulse windows. The name is reported on the pulse
// that follows its last byte.
#pragma once

#include <cstdint>

namespace tapewren::names {

struct CountdownEncoding {
  std::uint8_t one_min, one_max;    // a 1 bit, bounds inclusive
  std::uint8_t zero_min, zero_max;  // a 0 bit
  std::int32_t countdown_bytes;     // K: byte n of the countdown is K + 1 - n
  std::int32_t name_first_byte;     // F: bytes F..F+15 are the name; the type byte is K + 1
};

inline constexpr CountdownEncoding kCountdown9{67, 95, 39, 66, 9, 16};
inline constexpr CountdownEncoding kCountdown12{68, 94, 42, 67, 12, 19};

constexpr std::uint8_t kPilotByte = 0x02;
// The byte count (pilot bytes plus the one found by the bit search) must exceed this.
constexpr std::int32_t kPilotMinCount = 959;

struct CountdownState {
  enum class State : std::int32_t { kPilotSearch, kPilot, kHeaderBytes };
  State state = State::kPilotSearch;
  std::uint8_t shift = 0;      // the last eight bits, newest in bit 0
  std::uint8_t bit_count = 0;  // bits of the current byte so far
  std::int32_t byte_count = 0;
};

// One unsigned compare per window, so that classifying a pulse costs no branch.
template <const CountdownEncoding& E>
inline bool countdown_one(std::uint8_t value) {
  return static_cast<std::uint8_t>(value - E.one_min) <= E.one_max - E.one_min;
}
template <const CountdownEncoding& E>
inline bool countdown_bit(std::uint8_t value) {
  static_assert(E.zero_max + 1 == E.one_min, "the 0 and 1 windows meet without a gap");
  return static_cast<std::uint8_t>(value - E.zero_min) <= E.one_max - E.zero_min;
}

// Returns 1 on the pulse after the last name byte of a valid header; else 0.
template <const CountdownEncoding& E>
inline int scan_countdown_header(CountdownState& s, std::uint8_t value, std::uint8_t* name,
                                 int reset) {
  using State = CountdownState::State;
  if (reset) {
    s.state = State::kPilotSearch;
    s.shift = 0;
  }
  const bool one = countdown_one<E>(value);
  const bool bit = countdown_bit<E>(value);
  switch (s.state) {
    case State::kPilotSearch:
      // Bit-level search with no byte alignment; anything outside the 1 window is a 0.
      s.shift = static_cast<std::uint8_t>((s.shift << 1) | (one ? 1 : 0));
      if (s.shift == kPilotByte) {
        s.bit_count = 0;
        s.byte_count = 1;
        s.state = State::kPilot;
      }
      return 0;

    case State::kPilot:
      s.shift = static_cast<std::uint8_t>((s.shift << 1) | (one ? 1 : 0));
      if (!bit) {
        s.state = State::kPilotSearch;
        return 0;
      }
      if (++s.bit_count < 8) return 0;
      s.bit_count = 0;
      ++s.byte_count;
      if (s.shift == kPilotByte) return 0;
      if (s.byte_count > kPilotMinCount) {
        s.byte_count = 1;  // the byte just completed is header byte 1
        s.state = State::kHeaderBytes;
      } else {
        s.state = State::kPilotSearch;
      }
      return 0;

    case State::kHeaderBytes:
      if (s.bit_count == 0) {
        // The byte in the register was completed by the previous pulse: check it first.
        const std::int32_t n = s.byte_count;
        if ((n >= 1 && n <= E.countdown_bytes && s.shift != E.countdown_bytes + 1 - n) ||
            (n == E.countdown_bytes + 1 && s.shift != 1 && s.shift != 2)) {
          s.state = State::kPilotSearch;
          return 0;
        }
        if (n >= E.name_first_byte && n <= E.name_first_byte + 15)
          name[n - E.name_first_byte] = s.shift;
        if (n == E.name_first_byte + 15) {
          s.state = State::kPilotSearch;
          return 1;
        }
      }
      s.shift = static_cast<std::uint8_t>((s.shift << 1) | (one ? 1 : 0));
      if (!bit) {
        s.state = State::kPilotSearch;
        return 0;
      }
      if (++s.bit_count == 8) {
        s.bit_count = 0;
        ++s.byte_count;
      }
      return 0;
  }
  return 0;
}

inline int scan_countdown9_header(CountdownState& s, std::uint8_t value, std::uint8_t* name,
                                  int reset) {
  return scan_countdown_header<kCountdown9>(s, value, name, reset);
}

inline int scan_countdown12_header(CountdownState& s, std::uint8_t value, std::uint8_t* name,
                                   int reset) {
  return scan_countdown_header<kCountdown12>(s, value, name, reset);
}

}  // namespace tapewren::names
