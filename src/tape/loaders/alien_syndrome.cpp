// Alien Syndrome's loader (ACE's).
//
// One pulse a bit, 0 about 0x20 and 1 about 0x43 TAP units (the threshold at 352 cycles),
// most significant bit first. Each file a block of its own: a short pilot of 0xE3 bytes, the
// sync 0xED, a head of the XOR of the data, the end and load address (high byte first, the
// end exclusive and above the load address) and the file's number; the data; a few 0 bits.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kAlienSyndromeEntry;

namespace {

const LoaderInfo kInfo = {.name = "Alien Syn.",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "0xE3 pilot, 0xED; XOR, end, load (high byte first), "
                              "number; data",
                          .peers = kTapClean,
                          .pulses = {0x20, 0x43}};
constexpr BitFormat kBits = {2 * 352, 33, true};
constexpr std::uint8_t kPilot = 0xE3;
constexpr std::uint8_t kSync[] = {0xED};
constexpr int kMinPilot = 4;
constexpr std::size_t kHead = 6;

class AlienSyndrome : public TurboLoader<AlienSyndrome> {
 public:
  AlienSyndrome(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {kPilot, kMinPilot, kSync, sizeof kSync}) {}

  bool accepts(const Pilot& pilot) {
    if (!sync_pilot(pilot)) return false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    bytes_.push_back(v);
    if (bytes_.size() == kHead && end() <= start()) return false;
    if (bytes_.size() < kHead || bytes_.size() < kHead + size()) return true;
    emit_file(true);
    return expect_end(kPilot, 0x00);
  }

  bool no_bit(std::uint64_t) {
    if (synced() && bytes_.size() >= kHead) emit_file(false);
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::uint16_t end() const { return static_cast<std::uint16_t>(bytes_[1] << 8 | bytes_[2]); }
  std::uint16_t start() const { return static_cast<std::uint16_t>(bytes_[3] << 8 | bytes_[4]); }
  std::size_t size() const { return static_cast<std::size_t>(end() - start()); }

  void emit_file(bool complete) {
    std::vector<std::uint8_t> data = data_after(bytes_, kHead, size());
    const CopyReport report = xor_checked(data, complete ? bytes_[0] : -1);  // the head's first
    // The sync, and a head that checked out.
    block_file(start(), size(), std::move(data), report, static_cast<int>(sizeof kSync) + 1);
    bytes_.clear();
  }

  std::vector<std::uint8_t> bytes_;  // from the head on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<AlienSyndrome>(info, sink);
}

}  // namespace

const LoaderEntry kAlienSyndromeEntry = {kInfo, make};

}  // namespace tapewren::tape
