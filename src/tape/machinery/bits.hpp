// One pulse a bit: a short pulse is 0, a long one 1. The threshold lies between the running
// averages of the two, taken from the pilot and following the tape's drift; a pulse below
// half a 0 or above twice a 1 is no bit at all (a pause, a dropout, the end of a block).
#pragma once

#include <cstdint>

namespace tapewren::tape {

class BitReader {
 public:
  void start(std::uint32_t zero16, std::uint32_t one16) {
    zero16_ = zero16;
    one16_ = one16;
    set();
  }
  // 0 or 1, or -1 for no bit. The averages move a 16th of the way; the threshold follows a
  // byte at a time, soon enough for drift.
  int bit(std::uint32_t p) {
    if (p < low_ || p > high_) return -1;
    const bool one = p >= threshold_;
    std::uint32_t& avg16 = one ? one16_ : zero16_;
    avg16 = static_cast<std::uint32_t>(
        static_cast<std::int32_t>(avg16) +
        ((static_cast<std::int32_t>(p << 4) - static_cast<std::int32_t>(avg16)) >> 4));
    if ((++bits_ & 7) == 0) set();
    return one ? 1 : 0;
  }
  std::uint32_t threshold() const { return threshold_; }  // half cycles

 private:
  void set() {
    threshold_ = (zero16_ + one16_) / 32;
    low_ = zero16_ / 32;
    high_ = one16_ / 8;
  }
  std::uint32_t zero16_ = 0, one16_ = 0;
  std::uint32_t threshold_ = 0, low_ = 0, high_ = 0;
  std::uint32_t bits_ = 0;
};

// Bits into bytes, most or least significant bit first.
class ByteAssembler {
 public:
  explicit ByteAssembler(bool msb_first) : msb_first_(msb_first) {}
  // True when the bit completed a byte (value()).
  bool add(int bit) {
    shift_ = msb_first_ ? static_cast<std::uint8_t>(shift_ << 1 | bit)
                        : static_cast<std::uint8_t>(shift_ >> 1 | bit << 7);
    if (++bits_ < 8) return false;
    bits_ = 0;
    return true;
  }
  // The last eight bits as a byte, whether or not aligned yet.
  std::uint8_t value() const { return shift_; }
  void align() { bits_ = 0; }  // the byte just seen ends a byte

 private:
  bool msb_first_;
  std::uint8_t shift_ = 0;
  int bits_ = 0;
};

}  // namespace tapewren::tape
