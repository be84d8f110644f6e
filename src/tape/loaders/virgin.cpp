// Virgin's loader and Hi-Tec's, Binary Design's one format at two speeds.
//
// One pulse a bit, most significant bit first: Virgin's 0 about 0x21 and 1 about 0x3B TAP
// units (its loader's threshold 350 cycles), Hi-Tec's 0x25 and 0x45 (382 cycles); the
// threshold is taken from the pilot, so one loader reads both. Each block: 256 pilot bytes
// of 0xAA, the sync 0xA0, the block's number (from 0, the order its loader takes them in), a
// screen flag (0x00 or 0x10: shown while loading), the load, end (exclusive) and execution
// address (0: none; else the loader calls it and then loads on), little-endian; the data and
// the XOR of the data. An end of 0 loads up to 0xFFFF; an end below the load address is no
// head (its loader would go on over its own pointers in zero page). A game is several blocks, each
// loaded where its head says: a file each. 0xAA read from any even bit is 0xAA again, so bytes
// begin at the sync, wherever it comes.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kVirginEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Virgin",
    .machines = kC64,
    .checksum = true,
    .encoding = "one pulse a bit, MSB first",
    .description =
        "Virgin's and Hi-Tec's (Binary Design): 0xAA pilot, 0xA0; number, screen flag, "
        "load, end, execution address; data; XOR",
    .peers = kTapClean,
    .recordings = "3D Pinball",
    .pulses = {0x21, 0x3B}};
// Between Virgin's 368 cycles (halfway from a 0 to a 1) and Hi-Tec's 424: the pilot of
// either is taken on a deck 20 % off.
constexpr BitFormat kBits = {2 * 392, 29, true};
constexpr std::uint8_t kPilot = 0xAA, kSync = 0xA0;
constexpr std::uint32_t kMinPilot = 16;    // bytes, as its loader counts them
constexpr std::uint32_t kSyncWithin = 32;  // bits from where reading starts, two pilot bytes back
constexpr std::size_t kHead = 8;

class Virgin : public TurboLoader<Virgin> {
 public:
  Virgin(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  bool accepts(const Pilot& pilot) {
    if (!pilot_of(pilot, kPilot, true) || pilot.count < 8 * kMinPilot) return false;
    bits_.begin_at(kSync, kSyncWithin);
    sync_read_ = false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!sync_read_) {  // the sync
      sync_read_ = true;
      return true;
    }
    bytes_.push_back(v);
    if (bytes_.size() == kHead && end() != 0 && end() <= start()) return false;
    if (bytes_.size() < kHead || bytes_.size() < kHead + size() + 1) return true;
    emit_block(true);
    return expect_end(kPilot);
  }

  bool no_bit(std::uint64_t) {
    if (bytes_.size() >= kHead) emit_block(false);  // cut short
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::uint16_t start() const { return static_cast<std::uint16_t>(bytes_[2] | bytes_[3] << 8); }
  std::uint16_t end() const { return static_cast<std::uint16_t>(bytes_[4] | bytes_[5] << 8); }
  std::size_t size() const { return static_cast<std::uint16_t>(end() - start()); }

  void emit_block(bool complete) {
    std::vector<std::uint8_t> data = data_after(bytes_, kHead, size());
    const CopyReport report = xor_checked(data, complete ? bytes_[kHead + data.size()] : -1);
    block_file(start(), size(), std::move(data), report, 2);  // the sync, and a sound head
    bytes_.clear();
  }

  bool sync_read_ = false;
  std::vector<std::uint8_t> bytes_;  // from the head on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Virgin>(info, sink);
}

}  // namespace

const LoaderEntry kVirginEntry = {kInfo, make};

}  // namespace tapewren::tape
