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

void PulseFeed::feed_pulse_words(const std::uint8_t* chunk, std::uint32_t count) {
  const std::uint32_t words = count / 2;
  for (std::uint32_t i = 0; i < words; ++i) {
    const auto word = static_cast<std::uint16_t>(chunk[2 * i] | (chunk[2 * i + 1] << 8));
    const std::uint8_t value = pulse_value(word);
    // Short-circuit: a scanner after the one that reported does not see this pulse.
    if (scan_std_header(std_, value, name_, reset_) ||
        scan_countdown9_header(countdown9_, value, name_, reset_) ||
        scan_countdown12_header(countdown12_, value, name_, reset_)) {
      name_[16] = 0;
      print_intercepted_name(i);
      reset_ = 1;
    } else {
      reset_ = 0;
    }
  }
}

}  // namespace tapewren::names
