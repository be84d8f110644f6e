// The loaders whose pilots the search cannot find (too few pulses, or too odd): after their
// boot they watch the pulses themselves, as the boot's code does, until none of their blocks
// has come for a while. Without the boot nothing tells their pulses. The loader is the
// Derived class, besides what TurboLoader asks of it:
//   std::size_t watch(const PulseBlock&, std::size_t i)   pulse i while watching: calls
//                                      start() where a block's data begin; the pulse to go on at
//   void watch_again()                 forget what was watched: no pilot begun
//   void block_begins()                a block's bytes come from here on
//   bool block_over(const PulseBlock&, std::size_t& i)    a block was read (its bytes end before
//                                      pulse i, which it may move on); false: no more come
#pragma once

#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

template <typename Derived, typename Bits = BitStream>
class Watcher : public TurboLoader<Derived, Bits> {
  using Base = TurboLoader<Derived, Bits>;

 public:
  using Base::Base;

  // Only the pilots it finds itself.
  bool accepts(const Pilot&) {
    if (!starting_) return false;
    reading_ = true;
    this->self().block_begins();
    return true;
  }

  std::size_t take(const PulseBlock& b, std::size_t from) override {
    std::size_t i = from;
    while (this->engaged_ && i < b.count) {  // until it stops watching
      if (reading_) {
        i = Base::take(b, i);
        if (this->engaged_) return i;
        reading_ = false;
        if (!this->self().block_over(b, i)) {  // the last of its blocks
          this->flush(true);
          return i;
        }
        this->engaged_ = true;  // the next block's pilot may follow at once
        watch_from(i < b.count ? b.time[i] : b.end_time);
        continue;
      }
      if (b.time[i] < since_) {  // the boot's own pulses
        ++i;
        continue;
      }
      if (b.time[i] - since_ > wait_) {
        this->engaged_ = false;  // no more of its blocks: what it read is whole
        this->flush(true);
        return i;
      }
      i = this->self().watch(b, i);
    }
    return i;
  }

 protected:
  // Its boot `boot` was seen: the pulses after it are watched, for `seconds` at most until a
  // block comes, and as long again after each.
  void watch_after(const TapeFile& boot, double seconds) {
    this->flush(true);
    this->boot_seen();
    // The wait in half cycles, worked out here: no call to the sink for every pulse.
    constexpr std::uint64_t kScale = 1 << 20;
    wait_ = static_cast<std::uint64_t>(seconds / this->sink_.seconds(kScale) * kScale);
    this->engaged_ = true;
    this->begin_span(boot.end_offset, boot.end_half_cycles, 0);  // what it holds back begins here
    watch_from(boot.end_half_cycles);
  }

  // The pilot `p` the loader watched is over: its block's data begin with pulse `from`; where
  // the bits do not fit it, the watch goes on.
  void start(const Pilot& p, std::size_t from) {
    this->engaged_ = false;
    starting_ = true;
    if (!Base::engage(p, from)) {
      this->engaged_ = true;
      this->self().watch_again();
    }
    starting_ = false;
  }

  bool reading_ = false;  // a block's bytes (else watching for its pilot)

 private:
  void watch_from(std::uint64_t time) {
    since_ = time;
    this->self().watch_again();
  }

  bool starting_ = false;
  std::uint64_t since_ = 0;  // watching since
  std::uint64_t wait_ = 0;   // half cycles: how long it watches for a block
};

}  // namespace tapewren::tape
