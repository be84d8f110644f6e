// Scanner for the header of a file saved with the home computer's standard tape loader.
//
// Encoding: every pulse is short, medium or long. A header starts with a lead-in of more than
// 5000 short pulses. Each byte is a marker (long, medium), eight bit pairs least significant
// bit first (medium-short = 1, short-medium = 0) and a parity pair that is not examined.
// Bytes 1-9 count down 0x89..0x81, byte 10 is the header type (1 or 3), bytes 15-30 are the
// 16-byte file name. The name is reported on the long pulse that follows byte 30.
#pragma once

#include <cstdint>

namespace tapewren::names {

// Pulse value windows, bounds inclusive. 113 is both short and medium; 152 is in no class.
constexpr std::uint8_t kShortMin = 75, kShortMax = 113;
constexpr std::uint8_t kMediumMin = 113, kMediumMax = 151;
constexpr std::uint8_t kLongMin = 153, kLongMax = 191;
// The lead-in must be longer than this many short pulses.
constexpr std::uint32_t kLeadInPulses = 5000;
constexpr std::uint8_t kCountdownFirst = 0x89;  // byte n of the countdown is 0x8A - n
constexpr std::int32_t kCountdownBytes = 9;
constexpr std::int32_t kTypeByte = 10;
constexpr std::int32_t kNameFirstByte = 15;
constexpr std::int32_t kNameLastByte = 30;

struct StdHeaderState {
  enum class State : std::uint32_t {
    kLeadInSearch,
    kLeadIn,
    kMarker,
    kDataBits,
    kParity,
    kByteEnd
  };
  State state = State::kLeadInSearch;
  std::uint32_t lead_in = 0;    // consecutive short pulses in the first two states
  std::int32_t byte_count = 0;  // bytes completed since the lead-in ended
  std::uint8_t pair_phase = 0;  // 0: first pulse of a pair expected, 1: second
  std::uint8_t bit_count = 0;
  std::uint8_t first_pulse = 0;
  std::uint8_t second_pulse = 0;
  std::uint8_t data_byte = 0;  // bits enter at the top
};

// One unsigned compare per window: v - min wraps above max - min when v is below min.
inline bool in_window(std::uint8_t v, std::uint8_t min, std::uint8_t max) {
  return static_cast<std::uint8_t>(v - min) <= max - min;
}
inline bool is_short(std::uint8_t v) {
  return in_window(v, kShortMin, kShortMax);
}
inline bool is_medium(std::uint8_t v) {
  return in_window(v, kMediumMin, kMediumMax);
}
inline bool is_long(std::uint8_t v) {
  return in_window(v, kLongMin, kLongMax);
}

// Keeps one pulse of a bit or parity pair; true when it was the second of the pair.
inline bool take_pair_pulse(StdHeaderState& s, std::uint8_t value) {
  if (s.pair_phase == 0) {
    s.first_pulse = value;
    s.pair_phase = 1;
    return false;
  }
  s.second_pulse = value;
  s.pair_phase = 0;
  return true;
}

// Returns 1 on the pulse that completes a header, with the name in name[0..15]; else 0.
inline int scan_std_header(StdHeaderState& s, std::uint8_t value, std::uint8_t* name, int reset) {
  using State = StdHeaderState::State;
  if (reset) {
    s.state = State::kLeadInSearch;
    s.lead_in = 0;
  }
  switch (s.state) {
    case State::kLeadInSearch:
      // Written without a branch on the pulse: data pulses are short or not at random.
      s.lead_in = is_short(value) ? s.lead_in + 1 : 0;
      if (s.lead_in > kLeadInPulses) s.state = State::kLeadIn;
      return 0;

    case State::kLeadIn:
      if (is_short(value)) {
        ++s.lead_in;
      } else if (is_long(value)) {
        s.lead_in = 0;
        s.byte_count = 0;
        s.state = State::kMarker;
      } else {
        s.lead_in = 0;
        s.state = State::kLeadInSearch;
      }
      return 0;

    case State::kMarker:
      if (is_medium(value)) {
        s.pair_phase = 0;
        s.bit_count = 0;
        s.state = State::kDataBits;
      } else {
        s.state = State::kLeadInSearch;
      }
      return 0;

    case State::kDataBits:
      if (!take_pair_pulse(s, value)) return 0;
      s.data_byte = static_cast<std::uint8_t>(s.data_byte >> 1);
      // The test for 1 comes first: a pair of two 113s is a 1.
      if (is_medium(s.first_pulse) && is_short(s.second_pulse)) {
        s.data_byte |= 0x80;
      } else if (!(is_short(s.first_pulse) && is_medium(s.second_pulse))) {
        s.state = State::kLeadInSearch;
        return 0;
      }
      if (++s.bit_count == 8) {
        s.bit_count = 0;
        s.state = State::kParity;
      }
      return 0;

    case State::kParity:  // the parity pulses are never looked at
      if (take_pair_pulse(s, value)) {
        ++s.byte_count;
        s.state = State::kByteEnd;
      }
      return 0;

    case State::kByteEnd: {
      if (!is_long(value)) {
        s.state = State::kLeadInSearch;
        return 0;
      }
      const std::int32_t n = s.byte_count;
      if ((n >= 1 && n <= kCountdownBytes && s.data_byte != kCountdownFirst + 1 - n) ||
          (n == kTypeByte && s.data_byte != 1 && s.data_byte != 3)) {
        s.state = State::kLeadInSearch;
        return 0;
      }
      if (n >= kNameFirstByte && n <= kNameLastByte) name[n - kNameFirstByte] = s.data_byte;
      if (n == kNameLastByte) {
        s.state = State::kLeadInSearch;
        return 1;
      }
      s.state = State::kMarker;  // this long pulse opened the next byte's marker
      return 0;
    }
  }
  return 0;
}

}  // namespace tapewren::names
