// Bleepload and Bleepload Special (Firebird).
//
// One pulse a bit, 0 about 0x30 and 1 about 0x5A TAP units (the threshold at 562 cycles),
// most significant bit first. A chain begins with about 2,000 1 bits. Each block: its pilot
// byte ten times or so, that byte inverted and itself again. Bleepload: the next block's
// pilot byte (the first block's is 0x0F), the block's number from 0, the load address, the
// data (64 bytes in block 0, 256 after), a count of bytes to skip and those bytes, the XOR of
// the data and an execution address; after the last block an 8-byte trigger (its first byte
// 0) and 1 bits. Special: one pilot byte for all blocks; the number, the load address, the
// chain's end and the execution address, then 256 bytes and their XOR; the block whose end -
// load is 256 is the last. Blocks come after short pauses; those that load back to back are
// one file.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kBleeploadEntry;
extern const LoaderEntry kBleeploadSpecialEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Bleepload",
    .machines = kC64,
    .checksum = true,
    .encoding = "one pulse a bit, MSB first",
    .description = "a pilot byte, its complement and itself; numbered blocks; XOR",
    .peers = kTapClean,
    .pulses = {0x30, 0x5A}};
const LoaderInfo kSpecialInfo = {
    .name = "Bleepload S",
    .machines = kC64,
    .checksum = true,
    .encoding = "one pulse a bit, MSB first",
    .description = "Bleepload Special: as Bleepload, with 256-byte numbered blocks; XOR",
    .peers = kTapClean,
    .pulses = {0x30, 0x5A}};
constexpr BitFormat kBits = {1124, 30, true};

class Bleepload : public TurboLoader<Bleepload> {
 public:
  Bleepload(const LoaderInfo& info, FileSink& sink, bool special)
      : TurboLoader(info, sink, kBits), special_(special) {}

  bool accepts(const Pilot& pilot) {
    // The chain's leader: a run of 1 bits.
    if (pilot.kind != Pilot::Kind::kRun || pilot.count < 256 ||
        pilot.average16 < kBits.threshold * 16)
      return false;
    restart();
    trailing_ = false;
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    switch (phase_) {
      case Phase::kSync:  // the pilot byte that ends the sync
        if (!special_ && v != pilot_) return end_chain();
        if (special_ && number_ == 0) pilot_ = v;
        if (special_ && v != pilot_) return end_chain();
        bytes_.clear();
        phase_ = Phase::kBlock;
        trailing_ = false;
        return true;
      case Phase::kBlock: {
        bytes_.push_back(v);
        const std::size_t head = special_ ? 7 : 4;
        if (bytes_.size() < head) return true;
        const std::size_t n = special_ || number_ > 0 ? 256 : 64;
        const std::size_t skip = special_ ? 0 : bytes_.size() > head + n ? bytes_[head + n] + 1 : 1;
        const std::size_t whole = head + n + skip + 1 + (special_ ? 0 : 2);
        if (bytes_.size() < whole) return true;
        end_block(true);
        return true;
      }
      case Phase::kAfter:  // no pause: Bleepload's trigger, then its 1 bits
        bytes_.push_back(v);
        if (bytes_.size() == 1 && v != 0) return end_chain();
        if (bytes_.size() == 8) trailer();
        return true;
    }
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (phase_ == Phase::kBlock) {
      cut_block();
      return end_chain();
    }
    if (phase_ == Phase::kAfter && bytes_.empty()) {  // a pause: the next block's pilot
      bits_.begin_at_inverted_sync();
      phase_ = Phase::kSync;
      next_block_ = true;
      return true;
    }
    if (phase_ == Phase::kSync && next_block_) return true;  // noise before a pilot
    end_chain();
    return false;
  }
  void close() {
    if (phase_ == Phase::kBlock) cut_block();
    end_chain();
  }

 private:
  enum class Phase { kSync, kBlock, kAfter };

  std::uint16_t load() const {
    const std::size_t at = special_ ? 1 : 2;
    return static_cast<std::uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
  }

  void end_block(bool complete) {
    const std::size_t head = special_ ? 7 : 4, n = special_ || number_ > 0 ? 256 : 64;
    std::vector<std::uint8_t> data(bytes_.begin() + static_cast<long>(head),
                                   bytes_.begin() + static_cast<long>(head + n));
    std::uint8_t x = 0;
    for (auto d : data) x ^= d;
    const std::size_t sum_at = special_ ? head + n : head + n + bytes_[head + n] + 1;
    const int number = special_ ? bytes_[0] : bytes_[1];
    CopyReport report{true, 0, complete && x == bytes_[sum_at] && number == number_, complete};
    if (complete) {
      report.sum_found = bytes_[sum_at];
      report.sum_computed = x;
    }
    const bool last = special_ && le16(3) - load() == 0x100;
    if (!special_) pilot_ = bytes_[0];
    chain_block(load(), std::move(data), report);
    ++number_;
    end_span();
    bytes_.clear();
    phase_ = Phase::kAfter;
    next_block_ = false;
    if (special_ && last) trailer();
  }
  std::uint16_t le16(std::size_t at) const {
    return static_cast<std::uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
  }
  void cut_block() {
    const std::size_t head = special_ ? 7 : 4;
    if (bytes_.size() <= head) return;
    chain_block(load(), {bytes_.begin() + static_cast<long>(head), bytes_.end()},
                {true, 0, false, false});
  }
  void restart() {
    bits_.begin_at_inverted_sync();
    pilot_ = 0x0F;
    number_ = 0;
    new_chain();
    phase_ = Phase::kSync;
  }
  // The chain's closing 1 bits may run into the next chain's with no pause between: read on
  // as its leader, counting them as read whatever follows.
  void trailer() {
    flush(true);  // the chain ended on its mark: whole
    settle(true);
    restart();
    trailing_ = true;
  }
  bool end_chain() {
    if ((chained() > 0 && phase_ == Phase::kAfter) || trailing_) end_span();
    trailing_ = false;
    flush();
    new_chain();
    return false;
  }

  bool special_;
  Phase phase_ = Phase::kSync;
  std::uint8_t pilot_ = 0x0F;
  int number_ = 0;
  bool next_block_ = false, trailing_ = false;
  std::vector<std::uint8_t> bytes_;  // the block being read, after its sync
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Bleepload>(info, sink, false);
}
std::unique_ptr<LoaderDecoder> make_special(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Bleepload>(info, sink, true);
}

}  // namespace

const LoaderEntry kBleeploadEntry = {kInfo, make};
const LoaderEntry kBleeploadSpecialEntry = {kSpecialInfo, make_special};

}  // namespace tapewren::tape
