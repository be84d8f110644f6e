// Special Agent: Audiogenic's loader of Special Agent and Strike Force Cobra.
//
// One pulse a bit, most significant bit first, measured against the two timers its boot sets:
// below timer A a 0, below timer B a 1, above it the pilot's pulse. The boot is a ROM program
// at $02A7-$0314 whose header holds the loader; from byte 0x1F ($035B) on it sets timer A
// (LDA or LDX #lo, STA or STX $DD04; #hi, $DD05) and timer B ($DD06, $DD07). A block: five
// long pulses or more (some 30), three bits of either value, the block's page (its load
// address's high byte), 256 bytes and their XOR; blocks follow back to back, and those that
// load on make one file. So few and so long pulses make no pilot the search finds: after its
// boot the loader watches the pulses itself, as the boot's code does, until none of its
// blocks has come for a while. Without its boot nothing tells its pulses: no file.
#include "tape/machinery/watcher.hpp"

namespace tapewren::tape {

extern const LoaderEntry kSpecialAgentEntry;

namespace {

const LoaderInfo kInfo = {.name = "Sp. Agent",
                          .machines = kC64,
                          .checksum = true,
                          .needs_boot = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, MSB first; a third pulse for the pilot",
                          .description =
                              "Special Agent, Strike Force Cobra: the speeds its boot's timers "
                              "set; 5+ long pulses, 3 bits; page, 256 bytes; XOR",
                          .peers = kWavPrg};
constexpr std::uint16_t kBootStart = 0x02A7, kBootEnd = 0x0314;
constexpr std::size_t kCode = 0x1F;  // where the header's code sets the timers
constexpr int kMinPilot = 5;         // long pulses
constexpr int kLeadBits = 3;
constexpr std::size_t kBlock = 1 + 256 + 1;  // page, data, check byte
constexpr double kWaitSeconds = 15;          // for a next block, after the boot or a block

// The timers the boot's header sets, in cycles: timer A between a 0 and a 1, timer B between
// a 1 and the pilot's pulse. False when it is no such boot.
bool boot_timers(const TapeFile& f, std::uint32_t& a_cycles, std::uint32_t& b_cycles) {
  const auto& h = f.header_bytes;
  if (!f.loader->copies || f.kind != Kind::kProgram || f.type != 3 || f.start != kBootStart ||
      f.end != kBootEnd || h.size() < 192)
    return false;
  int a = -1, x = -1;               // the registers' values loaded so far
  int timer[4] = {-1, -1, -1, -1};  // $DD04..$DD07
  for (std::size_t i = kCode; i + 2 < h.size();) {
    const std::uint8_t op = h[i];
    if (op == 0xA9 || op == 0xA2) {  // LDA #, LDX #
      (op == 0xA9 ? a : x) = h[i + 1];
      i += 2;
      continue;
    }
    const int held = op == 0x8D ? a : op == 0x8E ? x : -1;  // STA, STX
    if (held >= 0 && h[i + 2] == 0xDD && h[i + 1] >= 4 && h[i + 1] <= 7) {
      timer[h[i + 1] - 4] = held;
      i += 3;
      continue;
    }
    ++i;
  }
  if (timer[0] < 0 || timer[1] < 0 || timer[2] < 0 || timer[3] < 0) return false;
  a_cycles = static_cast<std::uint32_t>(timer[0] | timer[1] << 8);
  b_cycles = static_cast<std::uint32_t>(timer[2] | timer[3] << 8);
  return a_cycles > 0 && a_cycles < b_cycles;
}

class SpecialAgent : public Watcher<SpecialAgent> {
 public:
  SpecialAgent(const LoaderInfo& info, FileSink& sink) : Watcher(info, sink, {0, 32, true}) {}

  // Its boot: the pulses after it are watched for the loader's blocks.
  void seen(const TapeFile& f) override {
    std::uint32_t a = 0, b = 0;
    if (reading_ || !boot_timers(f, a, b)) return;
    a_ = 2 * a;
    b_ = 2 * b;
    bits_ = BitStream({a_, 32, true});
    watch_after(f, kWaitSeconds);
  }

  std::size_t watch(const PulseBlock& b, std::size_t i) {
    const std::uint32_t p = b.length[i++];
    if (p >= b_ && p < 2 * b_) {  // the pilot's pulse: after bits, a pilot anew
      if (lead_ > 0) longs_ = 0;
      if (longs_++ == 0) {
        pilot_offset_ = b.offset[i - 1];
        pilot_time_ = b.time[i - 1];
      }
      lead_ = 0;
    } else if (p >= a_ / 2 && p < b_ && longs_ >= kMinPilot) {
      if (++lead_ == kLeadBits) start(pilot(i), i);
    } else {
      longs_ = lead_ = 0;
    }
    return i;
  }
  void watch_again() { longs_ = lead_ = 0; }
  void block_begins() { bytes_.clear(); }
  bool block_over(const PulseBlock&, std::size_t&) { return true; }  // until none comes

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    bytes_.push_back(v);
    if (bytes_.size() < kBlock) return true;
    end_block(true);
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (bytes_.size() > 1) end_block(false);  // cut short
    return false;
  }
  void close() {
    if (reading_) no_bit(0);
    reading_ = false;
  }

 private:
  // The pilot and its bits, over before pulse `end`.
  Pilot pilot(std::size_t end) const {
    Pilot p;
    p.kind = Pilot::Kind::kBytes;
    p.offset = pilot_offset_;
    p.time = pilot_time_;
    p.count = static_cast<std::uint32_t>(longs_ + kLeadBits);
    p.end = end;
    p.zero16 = 16 * a_ * 2 / 3;  // about where a 0 and a 1 lie either side of timer A
    p.one16 = 16 * a_ * 4 / 3;
    return p;
  }

  void end_block(bool complete) {
    const std::size_t n = complete ? 256 : bytes_.size() - 1;
    std::vector<std::uint8_t> data(bytes_.begin() + 1, bytes_.begin() + 1 + static_cast<long>(n));
    const CopyReport report = xor_checked(data, complete ? bytes_[kBlock - 1] : -1);
    chain_block(static_cast<std::uint16_t>(bytes_[0] << 8), std::move(data), report);
    end_span();
    if (!complete) flush();
    bytes_.clear();
  }

  std::uint32_t a_ = 0, b_ = 0;  // the timers, half cycles
  int longs_ = 0, lead_ = 0;
  std::uint64_t pilot_offset_ = 0, pilot_time_ = 0;
  std::vector<std::uint8_t> bytes_;  // from the page on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<SpecialAgent>(info, sink);
}

}  // namespace

const LoaderEntry kSpecialAgentEntry = {kInfo, make};

}  // namespace tapewren::tape
