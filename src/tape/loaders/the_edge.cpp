// The Edge's loader (Firequest, Almazz, Quo Vadis).
//
// One pulse a bit, the threshold at 469 cycles, most significant bit first. Each file a block
// of its own, in two parts: 1,000 0 bits at least, then 0xAA (whose first bit is the 1 that
// ends them) and 0x00; 256 bytes its loader passes over; the load and end address
// (little-endian, the end exclusive); then the same pilot and sync again, right after; the
// data. No checksum, and no boot file of it is known: a block read whole to its end is
// unverified at best.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kTheEdgeEntry;

namespace {

const LoaderInfo kInfo = {.name = "The Edge",
                          .machines = kC64,
                          .needs_boot = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "1,000+ 0 bits, 0xAA 0x00; 256 passed over, load, end; the pilot "
                              "and sync again, data; no checksum; no boot known: unverified at "
                              "best",
                          .peers = kWavPrg,
                          .pulses = {0x2B, 0x4A}};
constexpr BitFormat kBits = {2 * 469, 27, true};
constexpr std::uint8_t kSync = 0xAA;
constexpr std::uint32_t kMinZeros = 1000;  // 0 bits of each pilot
constexpr std::uint32_t kSyncWithin = 9;   // bits from the run's end
constexpr std::size_t kPassed = 256;
constexpr std::size_t kHead = 4;

class TheEdge : public TurboLoader<TheEdge> {
 public:
  TheEdge(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  bool accepts(const Pilot& pilot) {
    if (pilot.kind != Pilot::Kind::kRun || pilot.count < kMinZeros ||
        pilot.average16 > kBits.threshold * 16)  // a run of 1 bits
      return false;
    bits_.begin_at(kSync, kSyncWithin);
    phase_ = Phase::kSync;
    second_ = false;
    passed_ = zeros_ = 0;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    switch (phase_) {
      case Phase::kSync:  // 0xAA: the bits found it
        phase_ = Phase::kZero;
        return true;
      case Phase::kZero:
        if (v != 0) return false;
        phase_ = second_ ? Phase::kData : Phase::kPassed;
        return true;
      case Phase::kPassed:
        if (++passed_ == kPassed) phase_ = Phase::kHead;
        return true;
      case Phase::kHead:
        bytes_.push_back(v);
        if (bytes_.size() < kHead) return true;
        if (end() <= start()) return false;
        phase_ = Phase::kPilot;
        return true;
      case Phase::kPilot:
        return second_pilot(v);
      case Phase::kData:
        bytes_.push_back(v);
        if (bytes_.size() < kHead + size()) return true;
        emit_block(true);
        return expect_end(0x00);
    }
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (phase_ == Phase::kData) emit_block(false);  // cut short
    return false;
  }
  void close() { no_bit(0); }

 private:
  enum class Phase { kSync, kZero, kPassed, kHead, kPilot, kData };

  // The second pilot, read as bytes from the head's end: 0x00 while it lasts, then the byte
  // with its closing 1, the first bits of 0xAA after as many 0 bits as it is shifted by.
  bool second_pilot(std::uint8_t v) {
    if (v == 0) {
      zeros_ += 8;
      return true;
    }
    std::uint32_t shift = 0;
    while (shift < 8 && (kSync >> shift) != v) ++shift;
    if (shift == 8 || zeros_ + shift < kMinZeros) return false;
    second_ = true;
    if (shift == 0) {
      phase_ = Phase::kZero;
      return true;
    }
    bits_.begin_at(kSync, shift);  // the rest of it in the next `shift` bits
    phase_ = Phase::kSync;
    return true;
  }

  std::uint16_t start() const { return static_cast<std::uint16_t>(bytes_[0] | bytes_[1] << 8); }
  std::uint16_t end() const { return static_cast<std::uint16_t>(bytes_[2] | bytes_[3] << 8); }
  std::size_t size() const { return static_cast<std::size_t>(end() - start()); }

  void emit_block(bool complete) {
    // Both syncs and a head that checked out.
    block_file(start(), size(), data_after(bytes_, kHead, size()), {true, 0, complete, complete},
               5);
    bytes_.clear();
  }

  Phase phase_ = Phase::kSync;
  bool second_ = false;  // the second pilot and sync read
  std::size_t passed_ = 0;
  std::uint32_t zeros_ = 0;          // of the second pilot
  std::vector<std::uint8_t> bytes_;  // the head, then the data
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<TheEdge>(info, sink);
}

}  // namespace

const LoaderEntry kTheEdgeEntry = {kInfo, make};

}  // namespace tapewren::tape
