// The name interception written the plain way, one scanner call after another for every
// pulse word: the reference that the feed fuzzer holds the feed's shortcuts to.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "names/pulse_feed.hpp"

namespace tapewren::names {

using Reports = std::vector<std::pair<std::string, std::uint32_t>>;

struct PlainChain {
  StdHeaderState a;
  CountdownState b, c;
  std::uint8_t name[17] = {};
  int reset = 0;
  Reports out;  // name and word index in its chunk

  void feed(const std::uint8_t* p, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n / 2; ++i) {
      const std::uint8_t v = pulse_value(static_cast<std::uint16_t>(p[2 * i] | p[2 * i + 1] << 8));
      if (scan_std_header(a, v, name, reset) || scan_countdown9_header(b, v, name, reset) ||
          scan_countdown12_header(c, v, name, reset)) {
        name[16] = 0;
        char text[17];
        clean_intercepted_name(name, text);
        out.emplace_back(text, i);
        reset = 1;
      } else {
        reset = 0;
      }
    }
  }
};

// Collects what the feed reports, in the same form.
struct CollectedReports : NameListener {
  void on_name(const char* name, std::uint32_t word) override { out.emplace_back(name, word); }
  Reports out;
};

}  // namespace tapewren::names
