// The pulse word feed: the per-pulse hot path of the recorder.
#include "names/pulse_feed.hpp"

namespace tapewren::names {

void clean_intercepted_name(std::uint8_t* name, char out[17]) {
  for (int i = 15; i >= 0 && name[i] == 0x20; --i) name[i] = 0;
  int n = 0;
  for (int i = 0; name[i] != 0; ++i) {
    if (name[i] >= 0x20 && name[i] <= 0x5D) out[n++] = static_cast<char>(name[i]);
  }
  out[n] = '\0';
}

void PulseFeed::print_intercepted_name(std::uint32_t word_index) {
  char text[17];
  clean_intercepted_name(name_, text);
  listener_.on_name(text, word_index);
}

namespace {

struct Scanners {
  StdHeaderState std_header;
  CountdownState countdown9;
  CountdownState countdown12;

  bool all_searching() const {
    return std_header.state == StdHeaderState::State::kLeadInSearch &&
           countdown9.state == CountdownState::State::kPilotSearch &&
           countdown12.state == CountdownState::State::kPilotSearch;
  }
};

// The value of pulse i: from a chunk of dump words, or from values already taken.
struct FromWords {
  const std::uint8_t* chunk;
  std::uint8_t operator()(std::uint32_t i) const {
    const std::size_t at = 2 * static_cast<std::size_t>(i);
    return pulse_value(static_cast<std::uint16_t>(chunk[at] | (chunk[at + 1] << 8)));
  }
};
struct FromValues {
  const std::uint8_t* values;
  std::uint8_t operator()(std::uint32_t i) const { return values[i]; }
};

// While all three scanners search for the start of a header, a pulse only moves the lead-in
// count and the two bit registers, and no scanner can report. This loop does exactly that
// for as long as it can and stops in front of the first pulse that would change a scanner's
// state, which the scanners then take themselves. Returns the index of that pulse.
template <typename Value>
std::uint32_t skim_searching(Scanners& s, Value value_at, std::uint32_t i, std::uint32_t words) {
  std::uint32_t lead_in = s.std_header.lead_in;
  std::uint8_t shift9 = s.countdown9.shift;
  std::uint8_t shift12 = s.countdown12.shift;
  for (; i < words; ++i) {
    const std::uint8_t value = value_at(i);
    const std::uint32_t next_lead_in = is_short(value) ? lead_in + 1 : 0;
    const auto next9 = static_cast<std::uint8_t>((shift9 << 1) | countdown_one<kCountdown9>(value));
    const auto next12 =
        static_cast<std::uint8_t>((shift12 << 1) | countdown_one<kCountdown12>(value));
    if ((next_lead_in > kLeadInPulses) | (next9 == kPilotByte) | (next12 == kPilotByte)) break;
    lead_in = next_lead_in;
    shift9 = next9;
    shift12 = next12;
  }
  s.std_header.lead_in = lead_in;
  s.countdown9.shift = shift9;
  s.countdown12.shift = shift12;
  return i;
}

}  // namespace

void PulseFeed::feed_pulse_words(const std::uint8_t* chunk, std::uint32_t count) {
  feed(FromWords{chunk}, count / 2);
}

void PulseFeed::feed_values(const std::uint8_t* values, std::uint32_t count) {
  feed(FromValues{values}, count);
}

template <typename Value>
void PulseFeed::feed(Value value_at, std::uint32_t words) {
  // The scanners work on local copies, which the compiler can keep in registers: the name
  // buffer's byte stores could otherwise alias the members and force reloads every pulse.
  Scanners s{std_, countdown9_, countdown12_};
  int reset = reset_;
  std::uint32_t i = 0;
  while (i < words) {
    if (reset == 0 && s.all_searching()) {
      i = skim_searching(s, value_at, i, words);
      if (i == words) break;
    }
    const std::uint8_t value = value_at(i);
    // Short-circuit: a scanner after the one that reported does not see this pulse.
    if (scan_std_header(s.std_header, value, name_, reset) ||
        scan_countdown9_header(s.countdown9, value, name_, reset) ||
        scan_countdown12_header(s.countdown12, value, name_, reset)) {
      name_[16] = 0;
      print_intercepted_name(i);
      reset = 1;
    } else {
      reset = 0;
    }
    ++i;
  }
  std_ = s.std_header;
  countdown9_ = s.countdown9;
  countdown12_ = s.countdown12;
  reset_ = reset;
}

}  // namespace tapewren::names
