// Creative Sparks' loader (WAV-PRG's Mad Doctor is of its kind).
//
// One pulse a bit, 0 about 0x22 and 1 about 0x33 TAP units, most significant bit first. The
// turbo file has no head: its load address and size come from the boot file's header (loaded
// at 0x033C), whose code from byte 0x23 on stores them: LDA #pages; STA $FD; LDA #lo; STA $FB;
// LDA #hi; STA $FC. On tape: 64 pilot bytes of 0x01 at least, 0xFF 0xAA 0xFF, then the data in
// pages of 256 bytes, each followed by its XOR; a trailer of 0 bits. Without that header
// nothing tells where the file loads: no file.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kCreativeSparksEntry;

namespace {

const LoaderInfo kInfo = {.name = "Cr. Sparks",
                          .machines = kC64,
                          .checksum = true,
                          .needs_boot = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "Creative Sparks: load address and pages read from the boot "
                              "file's header; 64+ bytes of 0x01, 0xFF 0xAA 0xFF; pages, each "
                              "with its XOR",
                          .peers = kTapClean | kWavPrg,
                          .pulses = {0x22, 0x33}};
// Between 0x22 and 0x33 (340 cycles).
constexpr BitFormat kBits = {680, 24, true};
constexpr std::uint8_t kPilot = 0x01;
constexpr std::uint8_t kSync[] = {0xFF, 0xAA, 0xFF};
constexpr int kMinPilot = 64;
constexpr std::size_t kPage = 256;
// In the boot's header, from byte 0x23: LDA #pages; STA $FD; LDA #lo; STA $FB; LDA #hi; STA $FC.
constexpr std::size_t kCodeAt = 0x23;
constexpr std::array<std::int16_t, 12> kCode = {0xA9, -1,   0x85, 0xFD, 0xA9, -1,
                                                0x85, 0xFB, 0xA9, -1,   0x85, 0xFC};

class CreativeSparks : public TurboLoader<CreativeSparks> {
 public:
  CreativeSparks(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {kPilot, kMinPilot, kSync, sizeof kSync}) {}

  void seen(const TapeFile& f) override {
    if (f.header_bytes.size() != 192) return;
    const std::vector<std::uint8_t> code(f.header_bytes.begin() + kCodeAt,
                                         f.header_bytes.begin() + kCodeAt + kCode.size());
    if (find_code(code, kCode) != 0) return;
    const std::size_t pages = code[1];
    const unsigned start = code[5] | code[9] << 8;
    if (pages == 0 || start + pages * kPage > 0x10000) return;  // no file of it
    start_ = static_cast<std::uint16_t>(start);
    size_ = pages * kPage;
    boot_seen();
  }

  bool accepts(const Pilot& pilot) {
    if (size_ == 0 || !sync_pilot(pilot)) return false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    bytes_.push_back(v);
    if (bytes_.size() < size_ / kPage * (kPage + 1)) return true;
    emit_file(true);
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (synced() && !bytes_.empty()) emit_file(false);
    return false;
  }
  void close() { no_bit(0); }

 private:
  void emit_file(bool complete) {
    std::vector<std::uint8_t> data;
    std::vector<DataCheck> checks;
    bool sums = true;
    for (std::size_t at = 0; at < bytes_.size(); at += kPage + 1) {
      const std::size_t n = std::min(kPage, bytes_.size() - at), begin = data.size();
      std::uint8_t x = 0;
      for (std::size_t k = at; k < at + n; ++k) x ^= bytes_[k];
      data.insert(data.end(), bytes_.begin() + static_cast<long>(at),
                  bytes_.begin() + static_cast<long>(at + n));
      const bool has_sum = at + n < bytes_.size();
      if (has_sum)
        checks.push_back(
            data_check(DataCheck::Op::kXor, data, begin, data.size(), bytes_[at + n], x));
      sums &= has_sum && bytes_[at + n] == x;
    }
    TapeFile f = file(Kind::kProgram, {}, start_, std::move(data),
                      {true, 0, complete && sums, complete}, span_offset(), span_time());
    f.checks = std::move(checks);
    f.end = static_cast<std::uint16_t>(start_ + size_);
    f.evidence = static_cast<int>(sizeof kSync);
    bytes_.clear();
    end_span();
    emit(std::move(f));
  }

  std::uint16_t start_ = 0;
  std::size_t size_ = 0;  // 0: no boot seen
  std::vector<std::uint8_t> bytes_;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<CreativeSparks>(info, sink);
}

}  // namespace

const LoaderEntry kCreativeSparksEntry = {kInfo, make};

}  // namespace tapewren::tape
