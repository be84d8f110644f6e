// The decoder's feed: pulse words become pulses, counted in the histogram and handed to each
// encoding's decoder; the 12-to-1 countdown loader's headers are named as the recorder does.
#include <algorithm>

#include "names/countdown_header.hpp"
#include "names/pulse_feed.hpp"
#include "tape/assembler.hpp"
#include "tape/rom_loader.hpp"
#include "tape/tape.hpp"
#include "tape/turbo_tape.hpp"

namespace tapewren::tape {

struct Decoder::State {
  explicit State(FileListener& listener) : assembler(listener) {}
  double seconds_per_half_cycle = 0;
  Assembler assembler;
  RomDecoder rom;
  TurboDecoder turbo;
  names::CountdownState countdown12;
  std::uint8_t name[17] = {};
  std::vector<Block> blocks;
  Histogram histogram{};
  std::uint64_t pending = 0;         // half cycles of a pulse that goes on
  std::uint64_t pending_offset = 0;  // where it began
  std::uint64_t offset = 0;          // bytes fed so far
  std::uint64_t half_cycles = 0;     // before the pulse being fed
  bool odd_byte = false;
  std::uint8_t low_byte = 0;
  bool half_waves = false;
  std::uint32_t half = 0;  // the first half of a pulse, when half waves are fed

  void pulse_word(std::uint16_t word, std::uint64_t at) {
    // Named as the recorder names them, on every word.
    if (names::scan_countdown12_header(countdown12, names::pulse_value(word), name, 0)) {
      Block named;
      named.loader = Loader::kCountdown12;
      named.bytes.assign(name, name + 16);
      named.offset = at;
      named.half_cycles = half_cycles;
      blocks.push_back(std::move(named));
      pass_on();
    }
    if (pending == 0) pending_offset = at;
    pending += word;
    if (word == 0xFFFF) return;  // the pulse goes on in the next word
    auto p = static_cast<std::uint32_t>(std::min<std::uint64_t>(pending, 0xFFFFFFFF));
    if (half_waves && !whole(p)) return;
    ++histogram[std::min<std::uint32_t>(p >> 4, 255)];
    rom.step(p, pending_offset, half_cycles);
    turbo.step(p, pending_offset, half_cycles);
    half_cycles += pending;
    pending = 0;
    pass_on();
  }

  // A recording of both edges has two half waves a pulse: they are paired up, the pairing
  // put right where two halves do not match (a pulse's halves are about equal).
  bool whole(std::uint32_t& p) {
    if (half == 0) {
      half = p;
      half_cycles += pending;
      pending = 0;
      return false;
    }
    const std::uint32_t first = half, larger = std::max(first, p);
    const bool pair = (first > p ? first - p : p - first) * 4 <= larger;
    half = pair ? 0 : p;
    p = pair ? first + p : 2 * first;
    return true;
  }

  void pass_on() {
    if (blocks.empty()) return;
    for (Block& b : blocks) {
      b.seconds = static_cast<double>(b.half_cycles) * seconds_per_half_cycle;
      assembler.take(std::move(b));
    }
    blocks.clear();
  }
};

Decoder::Decoder(double clock_hz, FileListener& listener, bool half_waves)
    : state_(new State(listener)) {
  state_->seconds_per_half_cycle = 0.5 / clock_hz;
  state_->half_waves = half_waves;
  state_->rom.out = &state_->blocks;
  state_->turbo.out = &state_->blocks;
}

Decoder::~Decoder() {
  delete state_;
}

void Decoder::feed(const std::uint8_t* words, std::size_t count, std::uint64_t offset) {
  State& s = *state_;
  std::size_t i = 0;
  if (s.odd_byte && count > 0) {  // a word split between two calls
    s.pulse_word(static_cast<std::uint16_t>(s.low_byte | words[0] << 8), offset - 1);
    i = 1;
  }
  for (; i + 1 < count; i += 2)
    s.pulse_word(static_cast<std::uint16_t>(words[i] | words[i + 1] << 8), offset + i);
  s.odd_byte = i < count;
  if (s.odd_byte) s.low_byte = words[i];
  s.offset = offset + count;
}

void Decoder::finish() {
  State& s = *state_;
  if (s.pending > 0) s.pulse_word(0, s.offset);  // a pulse going on at the end ends there
  s.rom.finish();
  s.turbo.finish();
  s.pass_on();
  s.assembler.finish();
}

const Histogram& Decoder::histogram() const {
  return state_->histogram;
}

Thresholds Decoder::thresholds() const {
  const State& s = *state_;
  Thresholds t;
  if (s.rom.calibrations > 0) {
    const auto n = static_cast<double>(s.rom.calibrations);
    t.rom_short = s.rom.sum_center[0] / n;
    t.rom_medium = s.rom.sum_center[1] / n;
    t.rom_long = s.rom.sum_center[2] / n;
  }
  if (s.turbo.pilots > 0)
    t.turbo_threshold = s.turbo.sum_threshold / static_cast<double>(s.turbo.pilots);
  return t;
}

}  // namespace tapewren::tape
