// Burner (Mastertronic), and the Burner variant.
//
// One pulse a bit, 0 about 0x22 and 1 about 0x42 TAP units (the threshold at 384 cycles).
// The tape's boot file carries the loader in its header (start 0x02A7, end 0x030C), XORed
// with 0x59: the instruction that shifts the bits in (0x26 ROL: most significant bit first;
// 0x66 ROR: least) at header byte 0x83, the pilot byte at 0x88 and the sync byte at 0x93 (the
// variant: 0x84, 0x89 and 0x94). Each block: about 95 pilot bytes, the sync, the start and
// end address (little-endian, the end exclusive) and the data; no checksum. The variant
// follows the data with a marker (0 after the last block) and an execution address.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kBurnerEntry;

namespace {

const LoaderInfo kInfo = {.name = "Burner",
                          .machines = kC64,
                          .needs_boot = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit",
                          .description =
                              "Burner and its variant: pilot, sync and bit order read from the "
                              "boot file's header; start, end, data; no checksum",
                          .peers = kTapClean,
                          .recordings = "Boulder Dash",
                          .pulses = {0x22, 0x42}};
constexpr BitFormat kBits = {768, 31, true};
constexpr std::uint8_t kKey = 0x59;

class Burner : public TurboLoader<Burner> {
 public:
  Burner(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  // The boot file's header tells the tape's pilot, sync and bit order.
  void seen(const TapeFile& f) override {
    if (f.header_bytes.size() != 192 || f.start != 0x02A7 || f.end != 0x030C) return;
    for (const std::size_t at : {std::size_t{0x83}, std::size_t{0x84}}) {
      const auto shift = static_cast<std::uint8_t>(f.header_bytes[at] ^ kKey);
      if (shift != 0x26 && shift != 0x66) continue;
      known_ = true;
      boot_seen();
      variant_ = at == 0x84;
      msb_first_ = shift == 0x26;
      sync_byte_ = static_cast<std::uint8_t>(f.header_bytes[at + 0x10] ^ kKey);
      use_sync({static_cast<std::uint8_t>(f.header_bytes[at + 5] ^ kKey), 16, &sync_byte_, 1});
      return;
    }
  }

  bool accepts(const Pilot& pilot) {
    if (!known_ || !sync_pilot(pilot, msb_first_)) return false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    bytes_.push_back(v);
    if (bytes_.size() < 4 || bytes_.size() < 4 + size() + (variant_ ? 3 : 0)) return true;
    emit_block(true);
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (synced() && bytes_.size() >= 4) emit_block(false);
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::uint16_t start() const { return static_cast<std::uint16_t>(bytes_[0] | bytes_[1] << 8); }
  std::size_t size() const {
    return static_cast<std::uint16_t>((bytes_[2] | bytes_[3] << 8) - start());
  }
  void emit_block(bool complete) {
    std::vector<std::uint8_t> data = data_after(bytes_, 4, size());
    const bool whole = complete && data.size() == size();
    block_file(start(), size(), std::move(data), {true, 0, whole, whole}, 0);
  }

  bool known_ = false, variant_ = false, msb_first_ = true;
  std::uint8_t sync_byte_ = 0;
  std::vector<std::uint8_t> bytes_;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Burner>(info, sink);
}

}  // namespace

const LoaderEntry kBurnerEntry = {kInfo, make};

}  // namespace tapewren::tape
