// Throughput of the name interception: pulse words per second through the three-scanner
// feed over a 64 MiB synthetic tape, beside a plain pass that only sums the same words; and of
// the tape decoder (tapewren-scan --files) in pulses per second over the real test tapes,
// concatenated 100 times, as a dump and as a TAP file.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "names/pulse_feed.hpp"
#include "recording/recording.hpp"
#include "synth/tape_synth.hpp"
#include "tape/tape.hpp"

namespace {

constexpr std::size_t kTapeBytes = 64u << 20;

// Files in all three encodings, repeated until the tape is 64 MiB.
const std::vector<std::uint8_t>& tape() {
  static const std::vector<std::uint8_t> bytes = [] {
    using tapewren::synth::Encoding;
    std::vector<std::uint8_t> data(2000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31);
    const auto one =
        tapewren::synth::synthesize({{Encoding::kStandard, 1, "BENCH STD", data},
                                     {Encoding::kCountdown9, 1, "BENCH NINE", data},
                                     {Encoding::kCountdown12, 2, "BENCH TWELVE", data}});
    std::vector<std::uint8_t> out;
    out.reserve(kTapeBytes);
    while (out.size() + one.size() <= kTapeBytes) out.insert(out.end(), one.begin(), one.end());
    out.resize(kTapeBytes, 0);
    return out;
  }();
  return bytes;
}

struct Counter : tapewren::names::NameListener {
  void on_name(const char*, std::uint32_t) override { ++names; }
  std::size_t names = 0;
};

// The feed as tapewren-scan drives it: large blocks.
void BM_FeedLargeBlocks(benchmark::State& state) {
  const auto& t = tape();
  Counter counter;
  for (auto _ : state) {
    tapewren::names::PulseFeed feed(counter);
    for (std::size_t at = 0; at < t.size(); at += 1 << 20)
      feed.feed_pulse_words(t.data() + at, 1 << 20);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * (t.size() / 2)));
  state.counters["names"] =
      static_cast<double>(counter.names) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FeedLargeBlocks)->Unit(benchmark::kMillisecond);

// The feed as the recorder drives it: one call per 64-byte chunk.
void BM_FeedRecorderChunks(benchmark::State& state) {
  const auto& t = tape();
  Counter counter;
  for (auto _ : state) {
    tapewren::names::PulseFeed feed(counter);
    for (std::size_t at = 0; at < t.size(); at += 64) feed.feed_pulse_words(t.data() + at, 64);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * (t.size() / 2)));
}
BENCHMARK(BM_FeedRecorderChunks)->Unit(benchmark::kMillisecond);

// The floor: read every word and add it up.
void BM_SumWords(benchmark::State& state) {
  const auto& t = tape();
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < t.size(); i += 2)
      sum += static_cast<std::uint16_t>(t[i] | (t[i + 1] << 8));
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * (t.size() / 2)));
}
BENCHMARK(BM_SumWords)->Unit(benchmark::kMillisecond);

// The real test tapes one after the other, 100 times over: as one dump, and as one TAP file.
const std::vector<std::uint8_t>& real_tapes(bool as_tap) {
  static const std::vector<std::uint8_t> dump = [] {
    std::vector<std::uint8_t> once, out;
    for (const char* name : {"c64-pal-normal", "c64-ntsc-normal", "c64-pal-normal-errors",
                             "c64-pal-turbo", "vic20-pal", "vic20-ntsc", "plus4-pal"}) {
      std::ifstream in(std::string(TAPEWREN_TAPES_DIR) + "/testtape-" + name + ".tap",
                       std::ios::binary);
      const auto one = tapewren::recording::dump_of(
          std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
      once.insert(once.end(), one.begin(), one.end());
    }
    for (int i = 0; i < 100; ++i) out.insert(out.end(), once.begin(), once.end());
    return out;
  }();
  static const std::vector<std::uint8_t> tap = tapewren::recording::tap_of(dump, {});
  return as_tap ? tap : dump;
}

// Every file decoded, verified and repaired, as tapewren-scan --files -m c64 reads a
// recording (told the machine, so that the C16 tape among them does not stop the C64's loaders
// for the rest); the pulses per second.
// The loaders of the first wave, the registered ones up to Cyberload F4: beside all of them,
// what the loaders added since cost a pulse.
constexpr std::size_t kFirstWave = 27;
enum class Loaders { kAll, kRomOnly, kFirstWave };
void decode(benchmark::State& state, bool as_tap, Loaders which = Loaders::kAll) {
  const auto& t = real_tapes(as_tap);
  if (t.empty()) {
    state.SkipWithError(TAPEWREN_TAPES_DIR " is absent: no real tapes to decode");
    return;
  }
  struct Count : tapewren::tape::FileListener {
    void on_file(const tapewren::tape::TapeFile&) override { ++files; }
    std::size_t files = 0;
  } count;
  std::uint64_t pulses = 0;
  for (auto _ : state) {
    count.files = 0;
    tapewren::tape::DecoderSettings settings;
    settings.machine = 0;
    if (which == Loaders::kRomOnly) settings.loaders = {"ROM"};
    if (which == Loaders::kFirstWave) {
      const auto all = tapewren::tape::registered_loaders();
      for (std::size_t i = 0; i < kFirstWave && i < all.size(); ++i)
        settings.loaders.emplace_back(all[i]->name);
    }
    tapewren::tape::Decoder decoder(settings, count);
    tapewren::io::MemorySource source(t);
    tapewren::recording::Reader reader(source);
    reader.open();
    auto block = std::make_unique<tapewren::recording::Pulses>();
    while (reader.next(*block)) {
      pulses += block->count;
      decoder.feed(*block);
    }
    decoder.finish();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(pulses));
  state.counters["files"] = static_cast<double>(count.files);
}
void BM_DecodeRealTapes(benchmark::State& state) {
  decode(state, false);
}
BENCHMARK(BM_DecodeRealTapes)->Unit(benchmark::kMillisecond);
void BM_DecodeRealTapesFromTap(benchmark::State& state) {
  decode(state, true);
}
BENCHMARK(BM_DecodeRealTapesFromTap)->Unit(benchmark::kMillisecond);
// The same with only the ROM loaders: what every other loader costs.
void BM_DecodeRealTapesRomOnly(benchmark::State& state) {
  decode(state, false, Loaders::kRomOnly);
}
BENCHMARK(BM_DecodeRealTapesRomOnly)->Unit(benchmark::kMillisecond);
void BM_DecodeRealTapesFirstWave(benchmark::State& state) {
  decode(state, false, Loaders::kFirstWave);
}
BENCHMARK(BM_DecodeRealTapesFirstWave)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
