// Fuzzes the reading path and the decoder: arbitrary bytes as a dump, as a TAP file of any
// version, whole pulses or half waves. Nothing may read or write out of bounds or be
// undefined (the build has AddressSanitizer and UBSan), and what comes out must make sense:
// files in tape order, inside the input, shares of the recording no larger than the whole.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "recording/recording.hpp"
#include "tape/tape.hpp"

namespace {

using namespace tapewren;

struct Check : tape::FileListener {
  std::uint64_t size = 0, last = 0;
  void on_file(const tape::TapeFile& f) override {
    if (f.offset >= size || f.offset < last || !std::isfinite(f.seconds) || f.seconds < 0 ||
        f.loader == nullptr || f.data.size() > size)
      __builtin_trap();
    last = f.offset;
  }
};

}  // namespace

// The first byte: bit 0 a TAP header in front (its version from bits 1-2), bit 3 half
// waves, bits 4-5 the machine.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  std::vector<std::uint8_t> input;
  if (mode & 1) {
    recording::TapHeader h;
    h.version = static_cast<std::uint8_t>((mode >> 1) & 3);
    h.length = static_cast<std::uint32_t>(size - 1);
    input = recording::make_tap_header(h);
  }
  input.insert(input.end(), data + 1, data + size);
  io::MemorySource source(input);
  recording::Reader reader(source);
  if (!reader.open()) return 0;
  Check check;
  check.size = input.size();
  tape::DecoderSettings settings;
  settings.half_waves = (mode & 8) != 0 || reader.half_waves();
  settings.machine = (mode >> 4) & 3 ? ((mode >> 4) & 3) - 1 : -1;
  tape::Decoder decoder(settings, check);
  auto pulses = std::make_unique<recording::Pulses>();
  while (reader.next(*pulses)) {
    for (std::size_t i = 0; i < pulses->count; ++i)
      if (pulses->offset[i] >= input.size() || (i > 0 && pulses->offset[i] <= pulses->offset[i - 1]))
        __builtin_trap();  // every pulse in the input, in order
    decoder.feed(*pulses);
  }
  decoder.finish();
  const tape::Summary s = decoder.summary();
  if (s.block_seconds > s.seconds + 1e-9 || s.block_pulses > s.pulses ||
      s.pause_pulses > s.pulses)
    __builtin_trap();
  return 0;
}
