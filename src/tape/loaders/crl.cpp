// CRL's loader (Tau Ceti, Oink, Pilgrim, Time Fighter, Nato Assault Course).
//
// One pulse a bit, least significant bit first: below 500 cycles a 0, from there to 776 a 1.
// A block: 5 pulses of over 1,536 cycles, 5 of 776 to 1,536, then its bytes, whole pages of
// them; no head, no checksum. The boot, a ROM file, holds the loader in its header: its read
// loop LDA $DD0D; LSR; ROR abs,X; DEC $02; BNE; INX; BNE (the second branch 7 bytes further
// back than the first), the ROR's operand where the first block loads (unless LDA #lo; STA
// and LDA #hi; STA in the header's first 191 bytes put another there), and LDA or LDX #n; STA
// or STX $04, its n pages. The first block holds the loop again and, for each block after
// it, in order: LDA #lo and #hi stored into the ROR's operand, LDA #n; STA $04; a block that
// holds both takes over from it. The loader reads a pulse too long for a 1 as a 1: a block's
// last pulse, often long where the tape stops, counts so. So few pulses make no pilot the
// search finds: after its boot the loader watches the pulses itself until its chain ends.
// Without its boot nothing tells where its blocks load or end: no file.
#include "tape/machinery/watcher.hpp"

namespace tapewren::tape {

extern const LoaderEntry kCrlEntry;

namespace {

const LoaderInfo kInfo = {.name = "CRL",
                          .machines = kC64,
                          .needs_boot = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, LSB first",
                          .description =
                              "5 long and 5 medium pulses; whole pages where its boot and first "
                              "block say; no checksum",
                          .peers = kWavPrg};
// Half cycles: a 0 below kOne, a 1 below kMedium, the sync's pulses up to kLong and beyond.
constexpr std::uint32_t kOne = 2 * 500, kMedium = 2 * 776, kLong = 2 * 1536, kTooLong = 2 * 3584;
constexpr int kSyncPulses = 5;       // of each length
constexpr double kWaitSeconds = 15;  // for the next block
constexpr std::uint16_t kHeaderAt = 0x033C;
constexpr std::size_t kMoveScan = 183;  // header bytes where the first block's start may be set

// The read loop: where its ROR's operand is in `b`, or b.size() when it has none.
std::size_t read_loop(const std::vector<std::uint8_t>& b) {
  constexpr std::array<std::int16_t, 14> kLoop = {0xAD, 0x0D, 0xDD, 0x4A, 0x7E, -1,   -1,
                                                  0xC6, 0x02, 0xD0, -1,   0xE8, 0xD0, -1};
  for (std::size_t at = find_code(b, kLoop); at < b.size(); at = find_code(b, kLoop, at + 1))
    if (b[at + 10] == static_cast<std::uint8_t>(b[at + 13] + 7)) return at + 5;
  return b.size();
}

// Where a block loads and how many pages it has.
struct Next {
  std::uint16_t start = 0;
  unsigned pages = 0;
};

// The boot's header: the first block's address and pages; pages 0 when it is no such boot.
Next from_boot(const std::vector<std::uint8_t>& h) {
  Next n;
  const std::size_t at = read_loop(h);
  if (at >= h.size()) return n;
  for (std::size_t i = 0; i + 3 < h.size(); ++i) {
    if (h[i + 3] == 0x04 &&
        ((h[i] == 0xA9 && h[i + 2] == 0x85) || (h[i] == 0xA2 && h[i + 2] == 0x86))) {
      n.pages = h[i + 1];
      break;
    }
  }
  n.start = static_cast<std::uint16_t>(h[at] | h[at + 1] << 8);
  const unsigned lo = kHeaderAt + at, hi = lo + 1;
  for (std::size_t i = 0; i < kMoveScan && i + 9 < h.size(); ++i) {
    if (h[i] == 0xA9 && h[i + 2] == 0x8D && h[i + 3] == (lo & 0xFF) && h[i + 4] == lo >> 8 &&
        h[i + 5] == 0xA9 && h[i + 7] == 0x8D && h[i + 8] == (hi & 0xFF) && h[i + 9] == hi >> 8) {
      n.start = static_cast<std::uint16_t>(h[i + 1] | h[i + 6] << 8);
      break;
    }
  }
  return n;
}

// The next block a block's code sets up from byte `from` on: the value of the last LDA # stored
// into the ROR's operand at `operand` (low, then high byte), then stored in $04 as its pages.
// `from` goes past it; pages 0 when there is none.
Next from_code(const std::vector<std::uint8_t>& b, std::uint16_t operand, std::size_t& from) {
  int a = -1, lo = -1, hi = -1;
  for (std::size_t i = from; i + 2 < b.size(); ++i) {
    const auto target = static_cast<std::uint16_t>(b[i + 1] | b[i + 2] << 8);
    if (b[i] == 0xA9) {
      a = b[i + 1];
    } else if (a >= 0 && b[i] == 0x8D && target == operand) {
      lo = a;
    } else if (a >= 0 && b[i] == 0x8D && target == static_cast<std::uint16_t>(operand + 1)) {
      hi = a;
    } else if (lo >= 0 && hi >= 0 && b[i] == 0x85 && b[i + 1] == 0x04) {
      from = i + 2;
      return {static_cast<std::uint16_t>(lo | hi << 8), static_cast<unsigned>(a)};
    }
  }
  from = b.size();
  return {};
}

class Crl : public Watcher<Crl> {
 public:
  Crl(const LoaderInfo& info, FileSink& sink) : Watcher(info, sink, {kOne, 27, false}) {}

  // Its boot: the pulses after it are watched for the loader's blocks.
  void seen(const TapeFile& f) override {
    if (reading_ || !f.loader->copies || f.kind != Kind::kProgram) return;
    const Next n = from_boot(f.header_bytes);
    if (n.pages == 0 || n.start + 256u * n.pages > 0x10000) return;
    next_ = n;
    script_.clear();
    watch_after(f, kWaitSeconds);
  }

  std::size_t watch(const PulseBlock& b, std::size_t i) {
    const std::uint32_t p = b.length[i];
    if (p >= kLong && p < kTooLong) {
      if (mediums_ > 0) longs_ = 0;
      if (longs_++ == 0) {
        sync_offset_ = b.offset[i];
        sync_time_ = b.time[i];
      }
      mediums_ = 0;
    } else if (p >= kMedium && p < kLong && longs_ >= kSyncPulses && mediums_ < kSyncPulses) {
      ++mediums_;
    } else if (p < kMedium && mediums_ == kSyncPulses) {
      start(sync(i), i);
      return i;  // its first bit
    } else {
      longs_ = mediums_ = 0;
    }
    return i + 1;
  }
  void watch_again() { longs_ = mediums_ = 0; }
  void block_begins() {
    last_bit_ = false;
    bytes_.clear();
  }
  // The chain goes on while the code read sets up another block.
  bool block_over(const PulseBlock& b, std::size_t& i) {
    if (last_bit_) i = last_pulse(b, i);
    return next_.pages != 0;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    bytes_.push_back(v);
    if (bytes_.size() < size()) return true;
    end_block(true);
    return false;
  }

  bool no_bit(std::uint64_t) {
    // The last bit's pulse too long for a bit: the caller sees it.
    last_bit_ = bytes_.size() + 1 == size() && bits_.bits_in_byte() == 7;
    if (!last_bit_ && !bytes_.empty()) end_block(false);  // cut short
    return false;
  }
  void close() {
    if (reading_ && !bytes_.empty()) end_block(false);
    reading_ = false;
  }

 private:
  std::size_t size() const { return std::size_t{256} * next_.pages; }
  // The sync, over before pulse `end`.
  Pilot sync(std::size_t end) const {
    Pilot p;
    p.kind = Pilot::Kind::kBytes;
    p.offset = sync_offset_;
    p.time = sync_time_;
    p.count = 2 * kSyncPulses;
    p.end = end;
    p.zero16 = 16 * kOne * 3 / 4;  // about where a 0 and a 1 lie either side of the threshold
    p.one16 = 16 * kOne * 5 / 4;
    return p;
  }
  // The block's last pulse, `at`, too long for a bit: a 1 if no shorter than one, as the loader
  // reads it; else the block ends a byte short.
  std::size_t last_pulse(const PulseBlock& b, std::size_t at) {
    last_bit_ = false;
    if (at >= b.count || b.length[at] < kOne) {
      end_block(false);
      return at;
    }
    bytes_.push_back(BitStream::reverse(static_cast<std::uint8_t>(bits_.bits() << 1 | 1)));
    end_block(true);
    return at + 1;
  }

  void end_block(bool complete) {
    const std::uint16_t start = next_.start;
    const std::size_t size = this->size();
    const CopyReport report{true, 0, complete, complete, -1, -1};
    block_file(start, size, data_after(bytes_, 0, size), report, 2 * kSyncPulses);
    if (!complete) {
      next_ = {};
      return;
    }
    // The block's own code sets up the next when it holds the loop; else the code before.
    const std::size_t at = read_loop(bytes_);
    std::size_t from = 0;
    const auto operand = static_cast<std::uint16_t>(start + at);
    if (at < bytes_.size() && from_code(bytes_, operand, from).pages > 0) {
      script_ = std::move(bytes_);
      operand_ = operand;
      script_at_ = 0;
    }
    next_ = from_code(script_, operand_, script_at_);
    if (next_.start + size_t{256} * next_.pages > 0x10000) next_ = {};
    bytes_.clear();
  }

  Next next_;                         // the block to come
  std::vector<std::uint8_t> script_;  // the block whose code sets up the next ones
  std::uint16_t operand_ = 0;         // where in memory its loop's ROR's operand is
  std::size_t script_at_ = 0;         // its code from here on sets up the next
  bool last_bit_ = false;             // the last bit's pulse is to be seen
  int longs_ = 0, mediums_ = 0;
  std::uint64_t sync_offset_ = 0, sync_time_ = 0;
  std::vector<std::uint8_t> bytes_;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Crl>(info, sink);
}

}  // namespace

const LoaderEntry kCrlEntry = {kInfo, make};

}  // namespace tapewren::tape
