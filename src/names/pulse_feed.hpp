// Turns stored chunks of the device stream into pulse values, runs the three header scanners
// over them in a fixed order and reports every file name they decode.
#pragma once

#include <cstdint>

#include "names/countdown_header.hpp"
#include "names/std_header.hpp"

namespace tapewren::names {

// How an intercepted name is shown, by the recorder and by the dump scanner alike.
constexpr const char* kInterceptedFormat = "Filename intercepted: %s\n";

// Reduces a pulse word to the value the scanners judge: bits 3..10, wrapping above 2047.
constexpr std::uint8_t pulse_value(std::uint16_t word) {
  return static_cast<std::uint8_t>((word >> 3) & 0xFF);
}

// Trims trailing spaces from name[0..15] in place (name[16] must be NUL), then copies the
// bytes from space to ']' up to the first NUL into out, NUL-terminated.
void clean_intercepted_name(std::uint8_t* name, char out[17]);

class NameListener {
 public:
  virtual ~NameListener() = default;
  // A header ended with pulse `word_index` (0-based) of the chunk being fed.
  virtual void on_name(const char* name, std::uint32_t word_index) = 0;
};

class PulseFeed {
 public:
  explicit PulseFeed(NameListener& listener) : listener_(listener) {}

  // Feeds count / 2 pulse words, paired from chunk[0]; an odd last byte is not fed.
  void feed_pulse_words(const std::uint8_t* chunk, std::uint32_t count);
  // Feeds `count` pulses given as their values (pulse_value of each dump word): what a reader
  // of any recording hands on, without making dump words of its pulses again.
  void feed_values(const std::uint8_t* values, std::uint32_t count);

 private:
  template <typename Value>
  void feed(Value value_at, std::uint32_t words);
  void print_intercepted_name(std::uint32_t word_index);

  NameListener& listener_;
  StdHeaderState std_;
  CountdownState countdown9_;
  CountdownState countdown12_;
  std::uint8_t name_[17] = {};  // shared by the scanners, not cleared between reports
  int reset_ = 0;               // 1 for the one pulse word after a report
};

}  // namespace tapewren::names
