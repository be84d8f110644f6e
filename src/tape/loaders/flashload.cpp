// Flashload.
//
// One pulse a bit, 0 about 0x1F and 1 about 0x31 TAP units, most significant bit first. Each
// file a block of its own: a run of 1 bits, a 0, the sync (0x33 as a rule), the load and end
// address (little-endian, the end inclusive), the data and the XOR of the data. The boot file
// (at $CE00-$CFFF, each byte b stored as 0x20 - b) sets the loader's timer (LDA #; STA $DD04;
// LDA #; STA $DD05 at 0x18) and compares with the sync at 0x3C (CMP #; BNE): the tape's own.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kFlashloadEntry;

namespace {

const LoaderInfo kInfo = {.name = "Flashload",
                          .machines = kC64,
                          .checksum = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "1 bits, a 0, 0x33 (or as its boot says); load, end "
                              "(inclusive), data; XOR",
                          .peers = kTapClean,
                          .pulses = {0x1F, 0x31}};
constexpr BitFormat kBits = {2 * 320, 25, true};
constexpr std::uint8_t kSync = 0x33;
constexpr std::uint32_t kMinRun = 64;  // 1 bits
constexpr std::size_t kHead = 4;

std::uint8_t plain(std::uint8_t stored) {
  return static_cast<std::uint8_t>(0x20 - stored);
}

class Flashload : public TurboLoader<Flashload> {
 public:
  Flashload(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  // The boot file: its timer code and its compare with the sync.
  void seen(const TapeFile& f) override {
    const auto& d = f.data;
    if (f.start != 0xCE00 || f.end != 0xCFFF || d.size() != 0x01FF) return;
    const auto at = [&](std::size_t i, std::uint8_t v) { return plain(d[i]) == v; };
    if (!at(0x18, 0xA9) || !at(0x1A, 0x8D) || !at(0x1B, 0x04) || !at(0x1C, 0xDD) ||
        !at(0x1D, 0xA9) || !at(0x1F, 0x8D) || !at(0x20, 0x05) || !at(0x21, 0xDD) ||
        !at(0x3C, 0xC9) || !at(0x3E, 0xD0))
      return;
    sync_ = plain(d[0x3D]);
    boot_seen();
  }

  bool accepts(const Pilot& pilot) {
    if (pilot.kind != Pilot::Kind::kRun || pilot.count < kMinRun ||
        pilot.average16 < kBits.threshold * 16)  // a run of 0 bits
      return false;
    bits_.begin_after_bit(0);
    synced_ = false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced_) return synced_ = v == sync_;
    bytes_.push_back(v);
    if (bytes_.size() == kHead && end() < start()) return false;
    if (bytes_.size() < kHead || bytes_.size() < kHead + size() + 1) return true;
    emit_block(true);
    return expect_end(0xFF);
  }

  bool no_bit(std::uint64_t) {
    if (bytes_.size() >= kHead) emit_block(false);  // cut short
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::uint16_t start() const { return static_cast<std::uint16_t>(bytes_[0] | bytes_[1] << 8); }
  std::uint16_t end() const { return static_cast<std::uint16_t>(bytes_[2] | bytes_[3] << 8); }
  std::size_t size() const { return static_cast<std::size_t>(end() - start()) + 1; }

  void emit_block(bool complete) {
    std::vector<std::uint8_t> data = data_after(bytes_, kHead, size());
    const CopyReport report = xor_checked(data, complete ? bytes_[kHead + data.size()] : -1);
    // The 0 after the run, the sync, and a head that checked out.
    block_file(start(), size(), std::move(data), report, 3);
    bytes_.clear();
  }

  std::uint8_t sync_ = kSync;  // the tape's own, where its boot told it
  bool synced_ = false;
  std::vector<std::uint8_t> bytes_;  // from the head on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Flashload>(info, sink);
}

}  // namespace

const LoaderEntry kFlashloadEntry = {kInfo, make};

}  // namespace tapewren::tape
