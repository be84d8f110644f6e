// The ROM loader's pulse pairs, markers and blocks, one pulse at a time.
#include "tape/rom_loader.hpp"

#include <cmath>

namespace tapewren::tape {

void RomDecoder::calibrate(std::uint32_t short16) {
  center16[kShort] = short16;
  center16[kMedium] = short16 * kMediumRatio16 / 16;
  center16[kLong] = short16 * kLongRatio16 / 16;
  set_bounds();
}

// Halfway between neighbouring centers; half a short pulse at the bottom, one and a half long
// ones at the top.
void RomDecoder::set_bounds() {
  bound[0] = center16[kShort] / 32;
  bound[1] = (center16[kShort] + center16[kMedium]) / 32;
  bound[2] = (center16[kMedium] + center16[kLong]) / 32;
  bound[3] = center16[kLong] * 3 / 32;
}

void RomDecoder::search(std::uint32_t p, std::uint64_t offset, std::uint64_t time) {
  const std::uint32_t p16 = p << 4;
  const std::uint32_t diff = p16 > run_avg16 ? p16 - run_avg16 : run_avg16 - p16;
  if (run > 0 && p >= kShortMin && p <= kShortMax && diff * 4 <= run_avg16) {
    ++run;
    run_avg16 = static_cast<std::uint32_t>(static_cast<std::int32_t>(run_avg16) +
                                           (static_cast<std::int32_t>(p16 - run_avg16) >> 3));
  } else {
    run = p >= kShortMin && p <= kShortMax ? 1 : 0;
    run_avg16 = p16;
    run_offset = offset;
    run_time = time;
  }
  if (run >= kLeadInRun) {
    calibrate(run_avg16);
    state = State::kLeadIn;
  }
}

void RomDecoder::begin_byte() {
  marker_index = block.bytes.size();
  value = 0;
  pulses = 0;
  byte_bad = false;
  first = kNone;
  state = State::kBits;
}

void RomDecoder::end_byte(bool parity_one) {
  int ones = parity_one ? 1 : 0;
  for (int bit = 0; bit < 8; ++bit) ones += (value >> bit) & 1;
  block.bytes.push_back(value);
  block.bad.push_back(byte_bad || ones % 2 == 0);  // odd parity over the bits and the parity
  state = State::kAfterByte;
}

// The pulses stopped making sense inside a byte: it is lost, the next marker is looked for.
void RomDecoder::lose_byte() {
  if (state == State::kMarker && block.bytes.empty()) {
    state = State::kSearch;
    run = 0;
    return;
  }
  if (state == State::kBits) {
    block.bytes.push_back(0);
    block.bad.push_back(true);
  }
  first = kNone;
  state = State::kResync;
}

void RomDecoder::end_block(bool complete) {
  state = State::kSearch;
  run = 0;
  if (block.bytes.size() <= static_cast<std::size_t>(kCountdownBytes)) return;
  int first_copy = 0, repeat = 0;
  for (int i = 0; i < kCountdownBytes; ++i) {
    if (block.bad[i]) continue;
    first_copy += block.bytes[i] == 0x89 - i;
    repeat += block.bytes[i] == 0x09 - i;
  }
  if (first_copy == 0 && repeat == 0) return;  // not a block: something else that had markers
  block.copy = repeat > first_copy ? 2 : 1;
  block.bytes.erase(block.bytes.begin(), block.bytes.begin() + kCountdownBytes);
  block.bad.erase(block.bad.begin(), block.bad.begin() + kCountdownBytes);
  block.bad_bytes = 0;
  for (bool b : block.bad) block.bad_bytes += b;
  block.complete = complete;
  for (int c = 0; c < 3; ++c) sum_center[c] += center16[c] / 32.0;  // in cycles
  ++calibrations;
  out->push_back(std::move(block));
  block = Block{};
}

void RomDecoder::step_slow(std::uint32_t p, std::uint64_t offset, std::uint64_t time) {
  if (state == State::kSearch) {
    search(p, offset, time);
    return;
  }
  const Class c = classify(p);
  if (c != kNone) track(c, p);
  switch (state) {
    case State::kSearch:
      break;
    case State::kLeadIn:
      if (c == kShort) return;
      if (c == kLong) {
        block = Block{};
        block.offset = run_offset;
        block.half_cycles = run_time;
        marker_pulse_no = pulse_no;
        state = State::kMarker;
        return;
      }
      state = State::kSearch;
      run = 0;
      search(p, offset, time);
      return;
    case State::kMarker:
    case State::kEndOrMarker:
      if (c == kMedium) return begin_byte();
      if (c == kShort && state == State::kEndOrMarker) {
        end_block(true);
        search(p, offset, time);
        return;
      }
      return lose_byte();
    case State::kBits: {
      if (c != kShort && c != kMedium) return lose_byte();
      if (pulses++ % 2 == 0) {
        first = c;
        return;
      }
      byte_bad |= first == c;  // two shorts or two mediums are no bit
      const bool one = first == kMedium;
      if (pulses < 18) {
        value = static_cast<std::uint8_t>(value | (one ? 1 : 0) << (pulses / 2 - 1));
      } else {
        end_byte(one);
      }
      return;
    }
    case State::kAfterByte:
      if (c != kLong) return lose_byte();
      marker_pulse_no = pulse_no;
      marker_index = block.bytes.size();
      state = State::kEndOrMarker;
      return;
    case State::kResync:
      if (c == kNone && p >= bound[3]) {  // a pause: the block is over
        end_block(false);
        search(p, offset, time);
        return;
      }
      if (first == kLong && c == kMedium) {
        // A marker again: the bytes lost in between follow from the pulses counted.
        const auto lost = static_cast<std::size_t>(
            std::lround(static_cast<double>(pulse_no - 1 - marker_pulse_no) / kPulsesPerByte));
        while (block.bytes.size() < marker_index + lost) {
          block.bytes.push_back(0);
          block.bad.push_back(true);
        }
        marker_pulse_no = pulse_no - 1;
        return begin_byte();
      }
      if (first == kLong && c == kShort) {
        end_block(true);
        search(p, offset, time);
        return;
      }
      first = c;
      if (pulse_no - marker_pulse_no > kResyncLimit) end_block(false);
      return;
  }
}

}  // namespace tapewren::tape
