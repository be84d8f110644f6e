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
  std::uint64_t half_cycles = 0;  // before the pulse being fed
  bool half_waves = false;
  std::uint32_t half = 0;  // the first half of a pulse, when half waves are fed
  std::uint64_t half_offset = 0;

  void pulse(std::uint64_t length, std::uint64_t at) {
    // The 12-to-1 loader's headers, named as the recorder names them from the words a dump
    // holds; past a few 0xFFFF words more of them change nothing.
    for (std::uint64_t rest = length, words = 0; words < 16; rest -= 0xFFFF, ++words) {
      const auto word = static_cast<std::uint16_t>(std::min<std::uint64_t>(rest, 0xFFFF));
      if (names::scan_countdown12_header(countdown12, names::pulse_value(word), name, 0)) {
        Block named;
        named.loader = Loader::kCountdown12;
        named.bytes.assign(name, name + 16);
        named.offset = at;
        named.half_cycles = half_cycles;
        blocks.push_back(std::move(named));
      }
      if (rest < 0xFFFF) break;
    }
    auto p = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, 0xFFFFFFFF));
    if (half_waves && !whole(p, length, at)) return;
    ++histogram[std::min<std::uint32_t>(p >> 4, 255)];
    rom.step(p, at, half_cycles);
    turbo.step(p, at, half_cycles);
    half_cycles += length;
    pass_on();
  }

  // A recording of both edges has two half waves a pulse: they are paired up, the pairing
  // put right where two halves do not match (a pulse's halves are about equal).
  // The pulse starts where its first half does.
  bool whole(std::uint32_t& p, std::uint64_t length, std::uint64_t& at) {
    if (half == 0) {
      half = p;
      half_offset = at;
      half_cycles += length;
      return false;
    }
    const std::uint32_t first = half, larger = std::max(first, p);
    const bool pair = (first > p ? first - p : p - first) * 4 <= larger;
    std::swap(at, half_offset);
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

void Decoder::feed(const recording::Pulses& pulses) {
  State& s = *state_;
  for (std::size_t i = 0; i < pulses.count; ++i) s.pulse(pulses.length[i], pulses.offset[i]);
}

void Decoder::finish() {
  State& s = *state_;
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
