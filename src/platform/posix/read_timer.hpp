// The serial driver time-outs that the recorder's reads rely on, as plain arithmetic over
// millisecond timestamps so that the rules can be checked without waiting:
// a read returns once it has all the bytes asked for, or once more than the interval passes
// after a byte with no further byte, or at the latest multiplier * size + constant after it
// began, with whatever has arrived.
#pragma once

#include <cstdint>

namespace tapewren {

struct ReadTimeouts {
  std::int64_t interval_ms = 250;
  std::int64_t total_multiplier_ms = 1;
  std::int64_t total_constant_ms = 500;
};

class ReadTimer {
 public:
  ReadTimer(std::int64_t start_ms, std::uint32_t requested, ReadTimeouts timeouts = {})
      : interval_ms_(timeouts.interval_ms),
        deadline_ms_(start_ms + timeouts.total_multiplier_ms * requested +
                     timeouts.total_constant_ms) {}

  // Bytes arrived at now_ms: the interval starts again from here.
  void on_bytes(std::int64_t now_ms) {
    has_bytes_ = true;
    last_byte_ms_ = now_ms;
  }

  // How much longer the read may wait for more bytes; 0 means it must return now.
  std::int64_t wait_ms(std::int64_t now_ms) const {
    std::int64_t until = deadline_ms_;
    if (has_bytes_ && last_byte_ms_ + interval_ms_ < until) until = last_byte_ms_ + interval_ms_;
    return until > now_ms ? until - now_ms : 0;
  }

 private:
  std::int64_t interval_ms_;
  std::int64_t deadline_ms_;
  std::int64_t last_byte_ms_ = 0;
  bool has_bytes_ = false;
};

}  // namespace tapewren
