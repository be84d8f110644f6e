// Turbo Tape 250's bits, pilot, countdown and blocks, one pulse at a time.
#include "tape/turbo_tape.hpp"

namespace tapewren::tape {

void TurboDecoder::set_threshold() {
  threshold = (zero16 + one16) / 32;
  low = zero16 / 32;
  high = one16 / 8;
}

void TurboDecoder::end_block(bool complete) {
  state = State::kSearch;
  shift = 0;
  block.complete = complete;
  if (block.id != 0 && complete) {  // a header announces the data block's length
    const auto& b = block.bytes;
    next_data =
        static_cast<std::uint16_t>((b[2] | b[3] << 8) - (b[0] | b[1] << 8)) + std::size_t{1};
  }
  sum_threshold += threshold / 2.0;  // in cycles
  ++pilots;
  out->push_back(std::move(block));
  block = Block{};
}

void TurboDecoder::start_pilot(std::uint64_t at, std::uint64_t now) {
  state = State::kPilot;
  bits = 0;
  count = 1;
  offset = at >= 14 ? at - 14 : 0;  // where this byte's first pulse was
  time = now;
  set_threshold();
}

void TurboDecoder::step_block(std::uint32_t p) {
  if (p < low || p > high) {  // no bit: the block is over
    if (state == State::kBytes) end_block(wanted == 0);
    state = State::kSearch;
    return;
  }
  const bool one = p >= threshold;
  follow(one ? one16 : zero16, p, 4);
  shift = static_cast<std::uint8_t>(shift << 1 | (one ? 1 : 0));
  if (++bits < 8) return;
  bits = 0;
  set_threshold();  // a byte at a time follows drift soon enough
  switch (state) {
    case State::kSearch:
      break;
    case State::kPilot:
      if (shift == kTurboPilotByte) {
        ++count;
      } else if (shift == kTurboCountdown && count >= kTurboMinPilot) {
        count = kTurboCountdown - 1;
        state = State::kCountdown;
      } else {
        state = State::kSearch;
      }
      break;
    case State::kCountdown:
      state = shift != count ? State::kSearch : --count == 0 ? State::kId : State::kCountdown;
      break;
    case State::kId:
      if (shift > 2) {
        state = State::kSearch;
        break;
      }
      block = Block{};
      block.loader = Loader::kTurbo;
      block.id = shift;
      block.offset = offset;
      block.half_cycles = time;
      wanted = shift == 0 ? next_data : kTurboHeaderBytes;
      if (shift == 0) next_data = 0;
      state = State::kBytes;
      break;
    case State::kBytes:
      block.bytes.push_back(shift);
      block.bad.push_back(false);
      if (block.bytes.size() == wanted) end_block(true);
      break;
  }
}

}  // namespace tapewren::tape
