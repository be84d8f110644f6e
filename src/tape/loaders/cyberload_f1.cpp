// Cyberload's first stage (F1): the loader that the boot file's ROM header holds.
//
// The header holds it enciphered: the boot deciphers it from $0350 + $AB down to $0351, each
// byte XORed with the one deciphered before it (the first with 3). Deciphered, it sets the
// timer with LDY #lo / STY $DC04 / LDY #hi / STY $DC05 (the threshold in cycles: a longer
// pulse is a 1), compares CMP #pilot / BEQ / CMP #sync / BNE, and keeps its load pointer in
// the operand of its store instruction, moved by CLC / ADC ptr / STA ptr (its first value,
// $FFD5 on 3D Pool, is in the header). One pulse a bit, most significant bit first: pilot
// bytes, the sync, then files one after the other, each a load offset added to the pointer
// (the end of the file before), then frames of a byte and a bit: 1, the byte is stored and
// the pointer moves on; 0, the byte goes on the stack and the file ends. Then a bit: 1, the
// next file's offset follows; 0, one more byte and the chain is over. No checksum: the files
// are known by their boot, and only once the chain has ended so (the pulses stop after that
// byte, or go on as a lead-in of 0 bits); the boot's loader reads one chain.
#include "tape/loaders/cyberload.hpp"
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kCyberloadF1Entry;

namespace {

const LoaderInfo kInfo = {
    .name = "Cyber F1",
    .machines = kC64,
    .needs_boot = true,
    .boot_code = true,
    .encoding = "one pulse a bit, MSB first",
    .description =
        "Cyberload's first stage: pilot, sync and key from the enciphered loader in the boot's "
        "header; files chained by load offsets in 9-bit frames; no checksum",
    .recordings = "3D Pool"};
constexpr BitFormat kBits = {1104, 30, true};
constexpr unsigned kBuffer = 0x033C;  // where the ROM header loads
constexpr std::size_t kHeader = 192;

constexpr std::array<std::int16_t, 10> kTimer = {0xA0, -1, 0x8C, 0x04, 0xDC,
                                                 0xA0, -1, 0x8C, 0x05, 0xDC};
constexpr std::array<std::int16_t, 7> kCompare = {0xC9, -1, 0xF0, -1, 0xC9, -1, 0xD0};
constexpr std::array<std::int16_t, 7> kPointer = {0x18, 0x6D, -1, -1, 0x8D, -1, -1};

class CyberloadF1 : public TurboLoader<CyberloadF1> {
 public:
  CyberloadF1(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  // A boot file: its header deciphered tells the timer, the pilot, the sync and the pointer.
  void seen(const TapeFile& f) override {
    if (f.header_bytes.size() != kHeader || !is_good(f)) return;
    std::vector<std::uint8_t> h = f.header_bytes;
    std::uint8_t a = 3;
    for (unsigned y = 0xAB; y > 0; --y) {
      std::uint8_t& b = h[0x0350 - kBuffer + y];
      a ^= b;
      b = a;
    }
    const std::size_t t = find_code(h, kTimer), c = find_code(h, kCompare),
                      at = find_code(h, kPointer);
    if (t == kHeader || c == kHeader || at == kHeader) return;
    const unsigned ptr = h[at + 2] | h[at + 3] << 8;  // the pointer: the store's operand
    if (h[at + 5] != h[at + 2] || h[at + 6] != h[at + 3] || ptr < kBuffer ||
        ptr + 2 > kBuffer + kHeader)
      return;
    threshold_ = static_cast<std::uint32_t>(h[t + 6] << 8 | h[t + 1]);
    nominal_pulses(cyberload_pulses(threshold_));
    pilot_ = h[c + 1];
    sync_byte_ = h[c + 5];
    use_sync({pilot_, 2, &sync_byte_, 1});
    first_ = static_cast<std::uint16_t>(h[ptr - kBuffer] | h[ptr + 1 - kBuffer] << 8);
    armed_ = true;
    after_ = f.end_offset;
    boot_seen();
  }

  bool accepts(const Pilot& pilot) {
    if (!armed_ || pilot.offset < after_ || !fits_threshold(pilot, threshold_)) return false;
    if (!sync_pilot(pilot, 1)) return false;  // its loader counts from the byte found
    at_ = At::kPilot;
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    switch (at_) {
      case At::kPilot:
        if (!sync_on(v)) return false;
        if (!synced()) return true;
        armed_ = false;  // the boot's loader reads one chain
        pointer_ = first_;
        at_ = At::kOffset;
        return true;
      case At::kOffset:
        open(v);
        return true;
      case At::kData: {
        const std::uint32_t frame = bits_.bits();  // the byte, then its bit
        if (frame & 1) {
          data_.push_back(static_cast<std::uint8_t>(frame >> 1));
          return true;
        }
        close_file(true);
        at_ = At::kNext;
        return true;
      }
      case At::kNext:  // a bit, then a byte: the next file's offset, or the last byte
        if (bits_.framed()) {
          open(v);
          return true;
        }
        // The last byte: then two bytes of 0 bits (the next block's lead-in), its pilot, or
        // silence; bits that go on otherwise were no chain of F1's.
        bits_.set_lead_bits(0);
        at_ = At::kIdle;
        return expect_end(pilot_, 0x00, 2);
      case At::kIdle:
        break;
    }
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (at_ == At::kData && !data_.empty()) close_file(false);  // cut inside a file
    if (at_ == At::kData || at_ == At::kNext) release();
    at_ = At::kIdle;
    return false;
  }
  void close() { no_bit(0); }

 private:
  enum class At { kIdle, kPilot, kOffset, kData, kNext };

  void open(std::uint8_t offset) {
    pointer_ = static_cast<std::uint16_t>(pointer_ + offset);
    data_.clear();
    bits_.set_lead_bits(1);  // nine bits a frame from here on
    at_ = At::kData;
  }
  void close_file(bool whole) {
    const std::uint16_t start = pointer_;
    pointer_ = static_cast<std::uint16_t>(start + data_.size());
    hold(file(Kind::kProgram, {}, start, std::move(data_), {true, 0, whole, whole}, span_offset(),
              span_time()));
    data_.clear();
    end_span();
  }
  // The chain ended: its files go to the sink.
  void release() {
    settle(true);
    at_ = At::kIdle;
  }

  bool armed_ = false;
  std::uint64_t after_ = 0;  // where the boot ends: no pilot before it is its chain's
  std::uint8_t pilot_ = 0, sync_byte_ = 0;
  std::uint32_t threshold_ = 0;  // cycles
  std::uint16_t first_ = 0, pointer_ = 0;
  At at_ = At::kIdle;
  std::vector<std::uint8_t> data_;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<CyberloadF1>(info, sink);
}

}  // namespace

const LoaderEntry kCyberloadF1Entry = {kInfo, make};

}  // namespace tapewren::tape
