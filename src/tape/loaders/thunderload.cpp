// Thunderload.
//
// One pulse a bit, most significant bit first, short 0 and long 1 about the loader's timer:
// 0x1A0 cycles unless its boot sets another. The boot is the ROM data at $02A7-$0316; it
// sets the timer with LDA #lo at $02F4, STA $DC04, LDA #hi at $02F9, STA $DC05. Each block:
// a run of 1 bits, a 0, the bits 101010, then F0 96. The intro block after the boot: a byte
// not used, the load and end address (little-endian, the end exclusive), the data and their
// XOR; its code sets the timer of the blocks after it the same way. Every later block: its
// number, the load address, how many blocks make its part, the end address, the XOR of those
// six bytes from 0xAA ^ F0 ^ 96, then the data and their XOR. Only a boot tells an intro.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kThunderloadEntry;

namespace {

const LoaderInfo kInfo = {.name = "Thunderload",
                          .machines = kC64,
                          .checksum = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "1 bits, a 0, 101010, F0 96; number, load, count, end, XOR; "
                              "data; XOR",
                          .peers = kWavPrg};
constexpr std::uint32_t kTimer = 0x1A0;  // cycles, where no boot told it
// A bit's format at a timer: a 1 about twice a 0, the timer between them.
constexpr BitFormat bits_at(std::uint32_t timer) {
  return {2 * timer, 30, true};
}
constexpr std::uint8_t kSync[] = {0xF0, 0x96};
constexpr std::uint32_t kMarker = 0x2A;  // 101010 before the first sync byte
constexpr std::size_t kIntroHead = 5, kHead = 7;
constexpr std::uint8_t kSeed = 0xAA ^ 0xF0 ^ 0x96;
// LDA #lo; STA $DC04; LDA #hi; STA $DC05: the timer that tells 0 from 1.
constexpr std::array<std::int16_t, 10> kTimerCode = {0xA9, -1, 0x8D, 0x04, 0xDC,
                                                     0xA9, -1, 0x8D, 0x05, 0xDC};

class Thunderload : public TurboLoader<Thunderload> {
 public:
  Thunderload(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, bits_at(kTimer)) {}

  // The boot: its own code (LDA #$51; STA $FFFA; STA $DD04 at $02D4) and its timer.
  void seen(const TapeFile& f) override {
    const auto& d = f.data;
    if (f.start != 0x02A7 || d.size() != 0x0316 - 0x02A7) return;
    const std::array<std::int16_t, 8> own = {0xA9, 0x51, 0x8D, 0xFA, 0xFF, 0x8D, 0x04, 0xDD};
    if (find_code(d, own, 0x2D) != 0x2D || find_code(d, kTimerCode, 0x4D) != 0x4D) return;
    const auto timer = static_cast<std::uint32_t>(d[0x4E] | d[0x53] << 8);
    if (timer == 0) return;
    timer_ = timer;
    intro_due_ = true;
    boot_seen();
  }

  bool engage(const Pilot& pilot, std::size_t from) override {
    if (format_timer_ != timer_) {
      bits_ = BitStream(bits_at(timer_));
      format_timer_ = timer_;
    }
    return TurboLoader::engage(pilot, from);
  }

  bool accepts(const Pilot& pilot) {
    // A run of 1 bits: longer than the timer, shorter than twice it.
    const std::uint32_t t16 = 2 * timer_ * 16;
    if (pilot.kind != Pilot::Kind::kRun || pilot.average16 * 100 < t16 * 108 ||
        pilot.average16 > 2 * t16)
      return false;
    bits_.begin_after_bit(0);
    bits_.set_lead_bits(6);  // the marker, read with the first sync byte
    intro_ = intro_due_;
    matched_ = 0;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (matched_ == 0) {
      if (((bits_.bits() >> 8) & 0x3F) != kMarker) return false;
      bits_.set_lead_bits(0);
    }
    if (matched_ < sizeof kSync) return v == kSync[matched_++];
    bytes_.push_back(v);
    if (bytes_.size() == head() && !head_ok()) return false;
    if (bytes_.size() < head() || bytes_.size() < head() + size() + 1) return true;
    emit_block(true);
    return expect_end(0xFF);  // the pulses stop, or the next block's 1 bits begin
  }

  bool no_bit(std::uint64_t) {
    if (bytes_.size() >= head()) emit_block(false);  // cut short
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::size_t head() const { return intro_ ? kIntroHead : kHead; }
  std::uint16_t start() const { return le(1); }
  std::uint16_t end() const { return le(intro_ ? 3 : 4); }
  std::size_t size() const { return bytes_.size() < head() ? 0 : end() - start(); }
  std::uint16_t le(std::size_t at) const {
    return static_cast<std::uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
  }
  bool head_ok() const {
    if (end() <= start()) return false;
    if (intro_) return true;
    std::uint8_t x = kSeed;
    for (std::size_t i = 0; i + 1 < kHead; ++i) x ^= bytes_[i];
    return x == bytes_[kHead - 1];
  }

  void emit_block(bool complete) {
    std::vector<std::uint8_t> data = data_after(bytes_, head(), size());
    const CopyReport report = xor_checked(data, complete ? bytes_[head() + data.size()] : -1);
    if (intro_) {  // its code tells the timer of the blocks after it
      const std::size_t at = find_code(data, kTimerCode);
      const auto told = at < data.size() ? data[at + 1] | data[at + 6] << 8 : 0;
      if (report.checksum_ok && told != 0) timer_ = static_cast<std::uint32_t>(told);
      intro_due_ = false;
    }
    // The marker, the sync and the head's check byte (an intro's: its boot before it).
    block_file(start(), size(), std::move(data), report, intro_ ? 3 : 4);
    bytes_.clear();
  }

  // Cycles: the timer told, and the one the bits are read with.
  std::uint32_t timer_ = kTimer, format_timer_ = kTimer;
  bool intro_due_ = false;  // a boot was seen, its intro not yet read
  bool intro_ = false;      // the block being read is the intro
  std::size_t matched_ = 0;
  std::vector<std::uint8_t> bytes_;  // from the head on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Thunderload>(info, sink);
}

}  // namespace

const LoaderEntry kThunderloadEntry = {kInfo, make};

}  // namespace tapewren::tape
