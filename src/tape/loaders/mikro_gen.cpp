// Mikro-Gen: the loaders of Mikro-Gen's tapes, the old (Pyjamarama, Automania) and the new
// (Everyone's a Wally, Equinox).
//
// One pulse a bit, 0 about 0x38 and 1 about 0x66 TAP units, least significant bit first; a
// pulse of 1,441 cycles or more is a pilot's. The blocks have no head: the boot file, the ROM
// program before them, holds in its code where they load, and the last byte a block loads is
// its check byte, which makes the sum of all its bytes 0. Old: one block, after a pilot of 256
// pilot pulses or more (some 1,024) and a 0; its start from LDA #lo, STA $FD, LDA #hi, STA $FE,
// LDA $DC0E, AND #$FE, STA $DC0E, its end from INC $FE, LDA $FE, CMP #page, BNE after it: it
// loads up to the last byte before that page. New: a block for each LDA #lo, STA $FD, LDA #hi,
// STA $FE, LDA #lo, STA $F8, LDA #hi, STA $F9, LDA $DC0E in the code, in that order (a loading
// screen, then the game), from $FD/$FE up to $F8/$F9 (exclusive); each after 256 1s or more
// (some 2,048) and a 0. So long a pilot of so long pulses, and a sync of one bit, make no pilot
// the search finds: after its boot the loader watches the pulses itself, as the boot's code
// does, until its blocks have come or none has for a while. Without its boot nothing tells
// where its blocks load: no file.
#include "tape/machinery/watcher.hpp"

namespace tapewren::tape {

extern const LoaderEntry kMikroGenOldEntry;
extern const LoaderEntry kMikroGenNewEntry;

namespace {

const LoaderInfo kOldInfo = {.name = "Mikro-Gen 1",
                             .machines = kC64,
                             .checksum = true,
                             .sum_adds = true,
                             .needs_boot = true,
                             .boot_code = true,
                             .encoding = "one pulse a bit, LSB first; a third pulse for the pilot",
                             .description =
                                 "256+ long pulses, a 0; one block, the addresses "
                                 "from its boot's code; data; sum to 0",
                             .peers = kWavPrg};
const LoaderInfo kNewInfo = {.name = "Mikro-Gen 2",
                             .machines = kC64,
                             .checksum = true,
                             .sum_adds = true,
                             .needs_boot = true,
                             .boot_code = true,
                             .encoding = "one pulse a bit, LSB first",
                             .description =
                                 "256+ 1s, a 0; blocks, their addresses from its "
                                 "boot's code; data; sum to 0",
                             .peers = kWavPrg};

// Half cycles: below a 0's limit a 0, from the pilot's limit on a pilot's pulse, a 1 between.
constexpr std::uint32_t kZeroBelow = 2 * 544, kPilotFrom = 2 * 1441;
constexpr std::uint32_t kPilotBelow = 2 * 2600;  // past it none (a pause, a dropout)
constexpr std::uint32_t kZero = 2 * 8 * 0x38;    // nominal, half cycles
constexpr std::uint32_t kOne = 2 * 8 * 0x66;
constexpr std::uint32_t kPulseFrom = kZero / 2;  // shorter: a spike, no bit
constexpr BitFormat kBits = {kZero / 2 + kOne / 2, 16 * 0x66 / 0x38, false};
constexpr int kMinPilot = 256;
constexpr std::size_t kMaxBlocks = 4;
constexpr double kWaitSeconds = 15;  // for a next block, after the boot or a block

using Code = std::array<std::int16_t, 16>;
constexpr Code kOldStart = {0xA9, -1,   0x85, 0xFD, 0xA9, -1,   0x85, 0xFE,
                            0xAD, 0x0E, 0xDC, 0x29, 0xFE, 0x8D, 0x0E, 0xDC};
constexpr std::array<std::int16_t, 7> kOldEnd = {0xE6, 0xFE, 0xA5, 0xFE, 0xC9, -1, 0xD0};
constexpr std::array<std::int16_t, 18> kNewBlock = {0xA9, -1,   0x85, 0xFD, 0xA9, -1,
                                                    0x85, 0xFE, 0xA9, -1,   0x85, 0xF8,
                                                    0xA9, -1,   0x85, 0xF9, 0xAD, 0x0E};

// A block: its data from `start`, the check byte at `stop`.
struct Block {
  std::uint16_t start;
  std::uint32_t stop;
};

class MikroGen : public Watcher<MikroGen> {
 public:
  MikroGen(const LoaderInfo& info, FileSink& sink, bool old)
      : Watcher(info, sink, kBits), old_(old) {}

  // Its boot: the pulses after it are watched for the blocks its code tells.
  void seen(const TapeFile& f) override {
    if (reading_ || !f.loader->copies || f.kind != Kind::kProgram) return;
    const std::size_t n = old_ ? old_blocks(f.data) : new_blocks(f.data);
    if (n == 0) return;
    count_ = n;
    next_ = 0;
    watch_after(f, kWaitSeconds);
  }

  std::size_t watch(const PulseBlock& b, std::size_t i) {
    const std::uint32_t p = b.length[i++];
    // The old pilot's pulses are longer than any bit, the new one's are 1s.
    if (old_ ? p >= kPilotFrom && p < kPilotBelow : p >= kZeroBelow && p < kPilotFrom) {
      if (pilot_++ == 0) {
        pilot_offset_ = b.offset[i - 1];
        pilot_time_ = b.time[i - 1];
        pilot_sum_ = 0;
      }
      pilot_sum_ += p;
    } else if (p >= kPulseFrom && p < kZeroBelow && pilot_ >= kMinPilot) {
      start(pilot(i), i);
      pilot_ = 0;
    } else {
      pilot_ = 0;
    }
    return i;
  }
  void watch_again() { pilot_ = 0; }
  void block_begins() { bytes_.clear(); }
  bool block_over(const PulseBlock&, std::size_t&) { return ++next_ != count_; }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    bytes_.push_back(v);
    if (bytes_.size() <= size()) return true;  // and the check byte
    end_block(true);
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (!bytes_.empty()) end_block(false);  // cut short
    return false;
  }
  void close() {
    if (reading_) no_bit(0);
    reading_ = false;
  }

 private:
  // The blocks the boot's code tells, into blocks_; how many.
  std::size_t old_blocks(const std::vector<std::uint8_t>& code) {
    const std::size_t at = find_code(code, kOldStart);
    if (at == code.size()) return 0;
    const std::size_t end = find_code(code, kOldEnd, at + kOldStart.size());
    if (end == code.size()) return 0;
    const unsigned page = code[end + 5] == 0 ? 0x100 : code[end + 5];
    return add(0, {static_cast<std::uint16_t>(code[at + 1] | code[at + 5] << 8), page * 256 - 1});
  }
  std::size_t new_blocks(const std::vector<std::uint8_t>& code) {
    std::size_t n = 0;
    for (std::size_t at = find_code(code, kNewBlock); at < code.size() && n < kMaxBlocks;
         at = find_code(code, kNewBlock, at + kNewBlock.size())) {
      const unsigned end = code[at + 9] | code[at + 13] << 8;
      n = add(n, {static_cast<std::uint16_t>(code[at + 1] | code[at + 5] << 8),
                  (end == 0 ? 0x10000 : end) - 1});
      if (n == 0) return 0;
    }
    return n;
  }
  // Block `n`: how many there are with it, none where it ends before it starts.
  std::size_t add(std::size_t n, const Block& block) {
    if (block.stop <= block.start) return 0;
    blocks_[n] = block;
    return n + 1;
  }
  std::size_t size() const { return blocks_[next_].stop - blocks_[next_].start; }

  // The pilot and its 0, over before pulse `end`.
  Pilot pilot(std::size_t end) const {
    Pilot p;
    p.kind = Pilot::Kind::kBytes;
    p.offset = pilot_offset_;
    p.time = pilot_time_;
    p.count = static_cast<std::uint32_t>(pilot_ + 1);
    p.end = end;
    // The new pilot's 1s tell the tape's speed; the old one's pulses do not.
    p.one16 = old_ ? 16 * kOne : static_cast<std::uint32_t>(16 * pilot_sum_ / pilot_);
    p.zero16 = p.one16 * 0x38 / 0x66;
    return p;
  }

  void end_block(bool complete) {
    const Block& block = blocks_[next_];
    std::vector<std::uint8_t> data = data_after(bytes_, 0, size());
    unsigned sum = 0;
    for (const auto v : data) sum += v;
    CopyReport report{true, 0, false, complete};
    if (complete) {
      // What the check byte says the data's sum is: its complement to 0.
      report.sum_found = static_cast<std::uint8_t>(0 - bytes_.back());
      report.sum_computed = static_cast<std::uint8_t>(sum);
      report.checksum_ok = report.sum_found == report.sum_computed;
    }
    block_file(block.start, size(), std::move(data), report, 1);
    bytes_.clear();
  }

  bool old_;
  std::array<Block, kMaxBlocks> blocks_{};
  std::size_t count_ = 0, next_ = 0;  // the blocks its boot told, the one to come
  int pilot_ = 0;                     // its pulses so far
  std::uint64_t pilot_offset_ = 0, pilot_time_ = 0, pilot_sum_ = 0;
  std::vector<std::uint8_t> bytes_;
};

std::unique_ptr<LoaderDecoder> make_old(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<MikroGen>(info, sink, true);
}
std::unique_ptr<LoaderDecoder> make_new(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<MikroGen>(info, sink, false);
}

}  // namespace

const LoaderEntry kMikroGenOldEntry = {kOldInfo, make_old};
const LoaderEntry kMikroGenNewEntry = {kNewInfo, make_new};

}  // namespace tapewren::tape
