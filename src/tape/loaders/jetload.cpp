// Jetload.
//
// One pulse a bit, 0 about 0x33 and 1 about 0x58 TAP units (the threshold at 480 cycles),
// least significant bit first. Each file a block of its own: a run of 0 bits, then 0xD1
// (whose first bit is the 1 that ends the run) and 0x2E, the start and end address
// (little-endian, the end exclusive), and the data; no checksum. No boot file of it is known:
// a block read whole to its end is unverified at best.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kJetloadEntry;

namespace {

const LoaderInfo kInfo = {.name = "Jetload",
                          .machines = kC64,
                          .needs_boot = true,
                          .encoding = "one pulse a bit, LSB first",
                          .description =
                              "0 bits, 0xD1 0x2E; start, end, data; no checksum; no "
                              "boot known: unverified at best",
                          .peers = kTapClean,
                          .pulses = {0x33, 0x58}};
constexpr BitFormat kBits = {2 * 480, 28, false};
constexpr std::uint8_t kFirst = 0xD1, kSync = 0x2E;
constexpr std::uint32_t kMinRun = 64;       // 0 bits (its loader wants 8)
constexpr std::uint32_t kFirstWithin = 16;  // bits from the run's end
constexpr std::size_t kHead = 4;

class Jetload : public TurboLoader<Jetload> {
 public:
  Jetload(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  bool accepts(const Pilot& pilot) {
    if (pilot.kind != Pilot::Kind::kRun || pilot.count < kMinRun ||
        pilot.average16 > kBits.threshold * 16)  // a run of 1 bits
      return false;
    bits_.begin_at(kFirst, kFirstWithin);
    sync_bytes_ = 0;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (sync_bytes_ < 2) return (sync_bytes_++ == 0 ? kFirst : kSync) == v;
    bytes_.push_back(v);
    if (bytes_.size() == kHead && end() <= start()) return false;
    if (bytes_.size() < kHead || bytes_.size() < kHead + size()) return true;
    emit_block(true);
    return expect_end(0x00);
  }

  bool no_bit(std::uint64_t) {
    if (bytes_.size() >= kHead) emit_block(false);  // cut short
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::uint16_t start() const { return static_cast<std::uint16_t>(bytes_[0] | bytes_[1] << 8); }
  std::uint16_t end() const { return static_cast<std::uint16_t>(bytes_[2] | bytes_[3] << 8); }
  std::size_t size() const { return static_cast<std::size_t>(end() - start()); }

  void emit_block(bool complete) {
    // 0xD1, 0x2E, and a head that checked out.
    block_file(start(), size(), data_after(bytes_, kHead, size()), {true, 0, complete, complete},
               3);
    bytes_.clear();
  }

  int sync_bytes_ = 0;               // of 0xD1 and 0x2E, read
  std::vector<std::uint8_t> bytes_;  // from the head on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Jetload>(info, sink);
}

}  // namespace

const LoaderEntry kJetloadEntry = {kInfo, make};

}  // namespace tapewren::tape
