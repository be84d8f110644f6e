// Visiload (types 1 to 7, which differ in their pulse lengths).
//
// One pulse a bit, 0 about 0x25 and 1 about 0x48 TAP units on type 1 (the threshold at 438
// cycles); each byte led by a bit of 1; most significant bit first to begin with. A pilot of
// 0x00 bytes and the sync 0x16, then blocks: the end and the start address high byte first
// (the end exclusive; a block of start = end holds one byte), the data. The next block
// follows at once, with no pilot, unless the last one loaded at 0x03BB. Blocks loaded into
// the loader itself change how the next ones are read: at 0x0347 the bit order (0x26, ROL:
// most significant bit first; 0x66, ROR: least), at 0x034B the bits a byte takes (9 or 10:
// one or two lead bits), at 0x03A4 the bytes in front of the addresses (the byte - 3). One at
// 0x03BB is the code that runs after it: either the pilot search again (a pilot of three
// bytes and 0x16 follows at once), or the load's end (the motor stops: a pause; the next load
// comes with a pilot of 256 bytes and 0x16 in the format in force, the loader's code keeping
// what the blocks changed). No checksum: a block checks out by its lead bits. Blocks that
// load back to back are one file, those into the loader files of their own. Addresses of 0
// are the next file's pilot. The boot file, loaded to 0x029F-0x03C0 by the ROM loader, sets
// the threshold at 0x0378 (LDA #lo; STA $DD04; LDA #hi; STA $DD05): a chain is Visiload's
// when that file was read before it. Without it, a load read whole to the end of its last
// block at 0x03BB, the pause right after it, is unverified; anything else is no file.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kVisiloadEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Visiload",
    .machines = kC64,
    .needs_boot = true,
    .boot_code = true,
    .encoding = "one pulse a bit, a lead bit a byte",
    .description =
        "Visiload T1-T7: 0x00 pilot, 0x16; blocks that set how the next ones are read (bit order, "
        "bits a byte, header bytes), and after 0x03BB a short pilot or a load's end; no checksum",
    .peers = kWavPrg,
    .recordings = "six Visiload tapes (Chichen Itza, Cozumel, The Original)",
    .pulses = {0x25, 0x48}};
constexpr BitFormat kBits = {972, 32, true, 1};
constexpr std::uint8_t kSync[] = {0x16};
constexpr std::array<std::int16_t, 10> kTimer = {0xA9, -1, 0x8D, 0x04, 0xDD,
                                                 0xA9, -1, 0x8D, 0x05, 0xDD};
// Pilot bytes taken as a pilot: a chain's first and one after a pause (256 on tape), and one
// right after a block at 0x03BB (3 on tape; the loader needs 8 zero bits and a zero byte).
constexpr int kPilot = 16, kShortPilot = 2;
// The bits within which a pilot must begin after a block at 0x03BB, or after a pause.
constexpr std::uint32_t kWithin = 64;
// The longest pause inside a chain (9.9 s on the tapes seen) before its next pilot.
constexpr double kPauseSeconds = 12;

class Visiload : public TurboLoader<Visiload> {
 public:
  Visiload(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {0x00, kPilot, kSync, sizeof kSync}) {}

  void seen(const TapeFile& f) override {
    constexpr std::size_t kAt = 0x0378 - 0x029F;
    if (f.start != 0x029F || f.data.size() < kAt + kTimer.size()) return;
    const std::vector<std::uint8_t> code(f.data.begin() + kAt,
                                         f.data.begin() + kAt + kTimer.size());
    if (has_code(code, kTimer)) boot_seen();
  }

  bool accepts(const Pilot& pilot) {
    if (!sync_pilot(pilot)) return false;  // bytes of 0 led by a 1
    extra_ = 0;
    lead_ = kBits.lead_bits;
    phase_ = Phase::kPilot;
    framed_ = true;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock& b, std::size_t i) {
    if (phase_ != Phase::kBlocks) return pilot_byte(v, b, i);
    framed_ &= bits_.framed();
    bytes_.push_back(v);
    if (bytes_.size() < extra_ + 4) return true;
    if (bytes_.size() == extra_ + 4 && end() == 0 && start() == 0) {
      // Addresses of 0: the pilot of the next file, with no pause before it.
      end_chain();
      bits_.reset_format();
      extra_ = 0;
      lead_ = kBits.lead_bits;
      resync(4);
      bytes_.clear();
      return true;
    }
    if (bytes_.size() < extra_ + 4 + size()) return true;
    return end_block(true, b.time[i] + b.length[i]) || end_chain();
  }

  bool no_bit(std::uint64_t time) {
    switch (phase_) {
      case Phase::kBlocks:
        if (bytes_.size() >= extra_ + 4) end_block(false, time);
        return end_chain();
      case Phase::kPilot:
        return end_chain();
      case Phase::kNext:
        // The pause right after the block at 0x03BB, before any pilot: the load is over
        // as the format has it (a few bits of slack for the motor stopping).
        if (pilot_ || time > ended_at_ + 16 * std::uint64_t{bits_.threshold()}) return end_chain();
        settle(true);
        new_chain();
        phase_ = Phase::kHeld;
        paused_at_ = time;
        look_for_pilot();
        return true;
      case Phase::kHeld:  // the pause goes on, or what is in it is no pilot
        if (sink_.seconds(time - paused_at_) > kPauseSeconds) return end_chain();
        look_for_pilot();
        return true;
    }
    return false;
  }
  void close() {
    if (phase_ == Phase::kBlocks && bytes_.size() >= extra_ + 4) end_block(false, 0);
    if (phase_ == Phase::kNext && !pilot_) settle(true);  // the recording ends with the load
    end_chain();
  }

 private:
  // kPilot: a chain's first pilot and sync; kBlocks: blocks back to back; kNext: after a
  // block at 0x03BB, a short pilot or a pause; kHeld: in that pause, the next load's pilot.
  enum class Phase { kPilot, kBlocks, kNext, kHeld };

  std::uint16_t end() const {
    return static_cast<std::uint16_t>(bytes_[extra_] << 8 | bytes_[extra_ + 1]);
  }
  std::uint16_t start() const {
    return static_cast<std::uint16_t>(bytes_[extra_ + 2] << 8 | bytes_[extra_ + 3]);
  }
  std::size_t size() const {
    return end() == start() ? 1 : static_cast<std::uint16_t>(end() - start());
  }

  // A pilot byte, or the sync: every one framed by its lead bits.
  bool pilot_byte(std::uint8_t v, const PulseBlock& b, std::size_t i) {
    if (phase_ == Phase::kHeld && sink_.seconds(b.time[i] - paused_at_) > kPauseSeconds)
      return end_chain();
    if (!pilot_) {  // where the pilot begins: the next load's, after a pause
      const std::size_t bits = 8 + static_cast<std::size_t>(lead_);
      const std::size_t first = i + 1 >= bits ? i + 1 - bits : 0;
      pilot_offset_ = b.offset[first];
      pilot_time_ = b.time[first];
      pilot_ = true;
    }
    const auto step = bits_.framed() ? sync(v) : PilotSync::Step::kFail;
    if (step == PilotSync::Step::kMore) return true;
    if (step == PilotSync::Step::kFail) {
      if (phase_ != Phase::kHeld) return end_chain();
      look_for_pilot();  // noise in the pause: the pilot may still come
      return true;
    }
    if (phase_ == Phase::kHeld) begin_span(pilot_offset_, pilot_time_, 0);
    phase_ = Phase::kBlocks;
    framed_ = true;
    bytes_.clear();
    return true;
  }
  // In a pause inside a chain: the pilot of the next load, in the format in force.
  void look_for_pilot() {
    bits_.begin_at(0x00, kWithin);
    resync(0);
    pilot_ = false;
  }

  // The block read (or cut short), `done` when its last bit ended; false when what it holds
  // is no setting the loader can take: the chain ends.
  bool end_block(bool complete, std::uint64_t done) {
    const std::uint16_t at = start();
    const auto first = bytes_.begin() + static_cast<long>(extra_ + 4);
    const std::uint8_t d = first == bytes_.end() ? 0 : *first;
    const bool separate = at >= 0x0300 && at < 0x0400;
    if (separate) flush();
    chain_block(at, {first, bytes_.end()}, {true, 0, complete && framed_, complete});
    if (separate) flush();
    end_span();  // what came before it can be handed on: a chain may last minutes
    bytes_.clear();
    framed_ = true;
    return complete && changes(at, d, done);
  }
  // What a block loaded at `at` changes for the ones after it: the loader's own code.
  bool changes(std::uint16_t at, std::uint8_t d, std::uint64_t done) {
    switch (at) {
      case 0x0347:  // the instruction that shifts each bit in
        if (d != 0x26 && d != 0x66) return false;
        bits_.set_msb_first(d == 0x26);
        return true;
      case 0x034B:  // the bits a byte takes, its lead bits first
        if (d < 8 || d > 10) return false;
        lead_ = d - 8;
        bits_.set_lead_bits(lead_);
        return true;
      case 0x03A4:  // the header's bytes - 1
        if (d < 3 || d > 10) return false;
        extra_ = d - 3u;
        return true;
      case 0x03BB:  // the code run after it: a short pilot follows, or a pause
        phase_ = Phase::kNext;
        ended_at_ = done;
        bits_.begin_at(0x00, kWithin);
        resync(kPilot - kShortPilot);
        pilot_ = false;
        return true;
      default:
        return true;
    }
  }
  bool end_chain() {
    if (chained() > 0) end_span();
    flush();
    settle(false);  // files read since the last load's end: the chain broke off
    new_chain();
    phase_ = Phase::kPilot;
    return false;
  }

  Phase phase_ = Phase::kPilot;
  bool framed_ = true, pilot_ = false;
  std::size_t extra_ = 0;
  int lead_ = kBits.lead_bits;
  std::vector<std::uint8_t> bytes_;
  std::uint64_t ended_at_ = 0, paused_at_ = 0;  // half cycles
  std::uint64_t pilot_offset_ = 0, pilot_time_ = 0;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Visiload>(info, sink);
}

}  // namespace

const LoaderEntry kVisiloadEntry = {kInfo, make};

}  // namespace tapewren::tape
