// Pavloda Penetrator (Melbourne House's Pavloda of Penetrator).
//
// Short, medium and long pulses (0x2C, 0x41, 0x57 TAP units) read in two states (StateBits),
// most significant bit first; after a 0 a long pulse is a 1, as a medium is. Each file a block
// of its own: a lead-in of 0x08 bytes (255 at least, 1,280 as a rule: seven pulses a byte,
// medium, medium and five short), where a byte 0x3F (the lead-in read in the wrong state)
// puts the loader in state 2; the sync 0x55, the load and end address (little-endian, the end
// exclusive), the data, and the sum of the data plus one for each byte.
#include "tape/machinery/state_bits.hpp"
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kPavlodaPenetratorEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Pav. Penet.",
    .machines = kC64,
    .checksum = true,
    .sum_adds = true,
    .encoding = "3 pulse lengths read in 2 states, MSB first",
    .description =
        "Pavloda Penetrator: 0x08 bytes, 0x55; load, end (exclusive), data; sum + 1 a byte",
    .peers = kWavPrg,
    .pulses = {0x2C, 0x41, 0x57}};
constexpr StateBitFormat kBits = {.medium_ratio16 = 24,
                                  .long_ratio16 = 32,
                                  .long_one_after_zero = true,
                                  .pilot = Pilot::Kind::kCycle};
constexpr std::uint8_t kPilot = 0x08, kWrongState = 0x3F;
constexpr std::uint8_t kSync[] = {0x55};
// The lead-in's pulses, medium medium short short short short short, newest in bit 0.
constexpr std::uint32_t kCycle = 0b1100000;
// Its short pulse a deck 20 % off (half cycles): 0x23 to 0x35 TAP units.
constexpr std::uint32_t kShortMin = 0x23 * 16, kShortMax = 0x35 * 16;
constexpr std::uint32_t kMinPilot = 7 * 128;  // pulses: half the loader's least lead-in
constexpr std::size_t kHead = 4;

class PavlodaPenetrator : public TurboLoader<PavlodaPenetrator, StateBits> {
 public:
  PavlodaPenetrator(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, PilotSync(kPilot, 1, kSync, sizeof kSync)) {}

  bool accepts(const Pilot& pilot) {
    if (!is_lead_in(pilot)) return false;
    bits_.begin_at(kPilot, kWrongState);
    resync(0);
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    bytes_.push_back(v);
    if (bytes_.size() == kHead && end() <= start()) return false;
    if (bytes_.size() < kHead + size() + 1) return true;
    emit_block(true);
    return expect_end(kPilot);  // the pulses stop, or the next lead-in begins
  }

  bool no_bit(std::uint64_t) {
    if (bytes_.size() >= kHead) emit_block(false);  // cut short
    return false;
  }
  void close() { no_bit(0); }

 private:
  // The lead-in's cycle of pulses from any of them, long enough, at the loader's speed (the
  // medium pulses' proportion to the short ones' the bits' classes tell).
  static bool is_lead_in(const Pilot& pilot) {
    bool cycle = false;
    for (std::uint32_t k = 0, at = kCycle; k < 7; ++k, at = (at << 1 | at >> 6) & 0x7F)
      cycle = cycle || pilot.pattern == at;
    return cycle && pilot.count >= kMinPilot && pilot.zero16 >= kShortMin * 16 &&
           pilot.zero16 <= kShortMax * 16;
  }
  std::uint16_t start() const { return static_cast<std::uint16_t>(bytes_[0] | bytes_[1] << 8); }
  std::uint16_t end() const { return static_cast<std::uint16_t>(bytes_[2] | bytes_[3] << 8); }
  std::size_t size() const { return bytes_.size() < kHead ? 0 : end() - start(); }

  void emit_block(bool complete) {
    std::vector<std::uint8_t> data = data_after(bytes_, kHead, size());
    unsigned sum = 0;
    for (const auto b : data) sum += b + 1u;
    CopyReport report{true, 0, false, complete};
    if (complete) {
      report.sum_found = bytes_[kHead + data.size()];
      report.sum_computed = static_cast<std::uint8_t>(sum);
      report.checksum_ok = report.sum_found == report.sum_computed;
    }
    block_file(start(), size(), std::move(data), report, 2);  // the sync, and a sound head
    bytes_.clear();
  }

  std::vector<std::uint8_t> bytes_;  // from the head on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<PavlodaPenetrator>(info, sink);
}

}  // namespace

const LoaderEntry kPavlodaPenetratorEntry = {kInfo, make};

}  // namespace tapewren::tape
