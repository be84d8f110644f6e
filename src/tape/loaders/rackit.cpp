// Rack-It (Hewson), and its variant with a shorter header.
//
// One pulse a bit, 0 about 0x1D and 1 about 0x3D TAP units (its threshold 352 cycles). The
// pilot byte, the sync, the bit order and the rest are each tape's own, set in the loader its
// boot file holds: a ROM file loaded at $0316 that deciphers the loader from $04BD on (LDA
// #key, or LDA from $79 or $7C, whose bytes make 0xB4 and 0x24; then EOR $04BD,X / STA
// $0200,X). Deciphered: LSR $DD0D / LDA #$19 / STA $DD0E / ROL (most significant bit first)
// or ROR (least); CMP #pilot / BEQ / CMP #sync / BNE; DEX / STX $FC where the check byte's
// XOR starts at 0 (else 0x80); STA $F3,X where the header has 7 bytes. Each block: the pilot,
// the sync, the header (an XOR key for the data, unless the header has 7 bytes; the value for
// $01; the check byte; the end, exclusive, and the load address, both high byte first; the
// block's number), the data XORed with the key, a few bits of 1. A game is several blocks,
// each loaded where its header says (the last, at $FFFC, the execution address): a file each.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kRackItEntry;

namespace {

const LoaderInfo kInfo = {.name = "Rack-It",
                          .machines = kC64,
                          .checksum = true,
                          .needs_boot = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit",
                          .description =
                              "Rack-It (Hewson): pilot, sync, bit order, header size and check "
                              "seed read from the boot's enciphered loader; key, $01, check, "
                              "end, load, number; data XORed with the key; XOR",
                          .peers = kTapClean,
                          .pulses = {0x1D, 0x3D}};
constexpr BitFormat kBits = {2 * 352, 34, true};
constexpr int kMinPilot = 32;  // bytes (TAPClean wants 50)

// The boot's decipher loop (the key's load, EOR $04BD,X / STA $0200,X), and what the
// deciphered loader is recognised by.
constexpr std::array<std::int16_t, 8> kDecipherZp = {0xA5, -1, 0x5D, -1, 0x04, 0x9D, 0x00, 0x02},
                                      kDecipherImm = {0xA9, -1, 0x5D, -1, 0x04, 0x9D, 0x00, 0x02};
constexpr std::array<std::int16_t, 9> kShift = {0x4E, 0x0D, 0xDD, 0xA9, 0x19, 0x8D, 0x0E, 0xDD, -1};
constexpr std::array<std::int16_t, 8> kCompare = {0xC9, -1, 0xF0, -1, 0xC9, -1, 0xD0, -1};
constexpr std::array<std::int16_t, 3> kCheckFrom0 = {0xCA, 0x86, 0xFC};
constexpr std::array<std::int16_t, 2> kShortStore = {0x95, 0xF3};

// The key the boot deciphers its loader with; -1 where none is known.
int cipher_of(const std::vector<std::uint8_t>& d) {
  int key = -1;
  const std::size_t zp = find_code(d, kDecipherZp);
  if (zp < d.size()) key = d[zp + 1] == 0x79 ? 0xB4 : d[zp + 1] == 0x7C ? 0x24 : -1;
  const std::size_t imm = find_code(d, kDecipherImm);
  return imm < d.size() ? d[imm + 1] : key;
}

class RackIt : public TurboLoader<RackIt> {
 public:
  RackIt(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  // The boot file's loader, deciphered, tells the tape's parameters.
  void seen(const TapeFile& f) override {
    if (f.start != 0x0316 || f.kind != Kind::kProgram) return;
    const int cipher = cipher_of(f.data);
    if (cipher < 0) return;
    std::vector<std::uint8_t> d = f.data;
    for (auto& b : d) b = static_cast<std::uint8_t>(b ^ cipher);
    const std::size_t shift = find_code(d, kShift), compare = find_code(d, kCompare);
    if (shift == d.size() || compare == d.size()) return;
    known_ = true;
    boot_seen();
    msb_first_ = d[shift + 8] == 0x26;  // ROL
    sync_byte_ = d[compare + 5];
    use_sync({d[compare + 1], kMinPilot, &sync_byte_, 1});
    seed_ = has_code(d, kCheckFrom0) ? 0 : 0x80;
    head_ = has_code(d, kShortStore) ? 7 : 8;
  }

  bool accepts(const Pilot& pilot) {
    if (!known_ || !sync_pilot(pilot, msb_first_)) return false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    bytes_.push_back(v);
    if (bytes_.size() == head_ && end() != 0 && end() <= start()) return false;  // no header
    if (bytes_.size() < head_ || bytes_.size() < head_ + size()) return true;
    emit_block(true);
    return false;  // a few bits of 1 follow
  }

  bool no_bit(std::uint64_t) {
    if (synced() && bytes_.size() >= head_) emit_block(false);  // cut short
    return false;
  }
  void close() { no_bit(0); }

 private:
  // The header's fields, the key (8 bytes) first.
  std::size_t at(std::size_t field) const { return field + head_ - 7; }
  std::uint16_t start() const {
    return static_cast<std::uint16_t>(bytes_[at(4)] << 8 | bytes_[at(5)]);
  }
  std::uint16_t end() const {
    return static_cast<std::uint16_t>(bytes_[at(2)] << 8 | bytes_[at(3)]);
  }
  std::size_t size() const {
    return end() == 0 ? 0x10000 - start() : static_cast<std::size_t>(end() - start());
  }

  void emit_block(bool complete) {
    const std::uint8_t key = head_ == 8 ? bytes_[0] : 0;
    const std::size_t n = std::min(size(), bytes_.size() - head_);
    std::vector<std::uint8_t> data(n);
    std::uint8_t x = seed_;
    for (std::size_t k = 0; k < n; ++k) {
      data[k] = static_cast<std::uint8_t>(bytes_[head_ + k] ^ key);
      x ^= data[k];
    }
    const int found = bytes_[at(1)];
    const CopyReport report{true, 0, complete && x == found, complete, found, complete ? x : -1};
    block_file(start(), size(), std::move(data), report, 2);  // the sync, and a sound head
    bytes_.clear();
  }

  bool known_ = false, msb_first_ = true;
  std::uint8_t sync_byte_ = 0, seed_ = 0x80;
  std::size_t head_ = 8;
  std::vector<std::uint8_t> bytes_;  // from the header on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<RackIt>(info, sink);
}

}  // namespace

const LoaderEntry kRackItEntry = {kInfo, make};

}  // namespace tapewren::tape
