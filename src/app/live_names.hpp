// Hands every stored chunk to the name interception and prints the names it finds.
#pragma once

#include "capture/capture_loop.hpp"
#include "link/io.hpp"
#include "names/pulse_feed.hpp"

namespace tapewren {

class LiveNames : public ChunkObserver, private names::NameListener {
 public:
  explicit LiveNames(Console& console) : console_(console), feed_(*this) {}

  void on_stored(const std::uint8_t* chunk, std::uint32_t count) override {
    feed_.feed_pulse_words(chunk, count);
  }

 private:
  // Not flushed: the next flushed message, or the end of the run, takes it out.
  void on_name(const char* name, std::uint32_t) override {
    console_.out(names::kInterceptedFormat, name);
  }

  Console& console_;
  names::PulseFeed feed_;
};

}  // namespace tapewren
