// Super Pavloda (Melbourne House's later Pavloda).
//
// Short, medium and long pulses (0x2E, 0x45, 0x5C TAP units, or 0x3E, 0x5D, 0x7C on other
// tapes) read in two states (StateBits), most significant bit first. A file is a chain of
// sub-blocks, each a run of short pulses (0 bits) ended by a medium (a 1), then 0x66 0x1B,
// the file's block number and the sub-block's number. The first (number 0, after a pilot of
// some 2,000 pulses) goes on: the load address less the load offset (little-endian), the
// number of sub-blocks after it, the load offset (256 less this sub-block's size), a check
// byte (the sum of those six bytes plus one for each), the data and their sum plus one a byte.
// The others (after some 40 pulses), numbered from 1: 256 bytes loading on, then the sum of
// the 258 bytes from the block number on, plus one a byte.
#include "tape/machinery/state_bits.hpp"
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kSuperPavlodaEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Super Pav",
    .machines = kC64,
    .checksum = true,
    .sum_adds = true,
    .encoding = "3 pulse lengths read in 2 states, MSB first",
    .description = "Super Pavloda: 0 bits, a 1, 0x66 0x1B; sub-blocks of 256; sum + 1 a byte",
    .peers = kTapClean | kWavPrg};
constexpr StateBitFormat kBits = {.medium_ratio16 = 24, .long_ratio16 = 32};
// The short pulse of either set, a deck 20 % off (half cycles): 0x25 to 0x4A TAP units.
constexpr std::uint32_t kShortMin = 0x25 * 16, kShortMax = 0x4A * 16;
constexpr std::uint32_t kMinFirstPilot = 500;  // pulses; the loader's own are about 2,000
constexpr std::uint32_t kMaxSkipped = 4;       // 0 bits between the run and its 1
constexpr std::uint8_t kSync[] = {0x66, 0x1B};
constexpr std::size_t kFirstHead = 2 + 7, kHead = 2 + 2;  // sync and head

class SuperPavloda : public TurboLoader<SuperPavloda, StateBits> {
 public:
  SuperPavloda(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  bool accepts(const Pilot& pilot) {
    if (pilot.average16 < kShortMin * 16 || pilot.average16 > kShortMax * 16) return false;
    pilot_ = pilot.count;
    valid_ = false;
    bits_.begin_after_one();
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (bytes_.empty() && bits_.skipped() > kMaxSkipped) return false;
    bytes_.push_back(v);
    const std::size_t n = bytes_.size();
    if (n <= sizeof kSync) return v == kSync[n - 1];
    if (n < kHead) return true;
    if (n == kHead) {
      if (first()) return pilot_ >= kMinFirstPilot;
      // One of the chain the last first sub-block began, the next in turn; else none known.
      if (!chain_ || bytes_[2] != block_ || bytes_[3] != next_) return false;
      size_ = 256;
      return valid_ = true;
    }
    if (first() && n == kFirstHead) {
      unsigned sum = 0;
      for (std::size_t i = 2; i < kFirstHead - 1; ++i) sum += bytes_[i] + 1u;
      if (static_cast<std::uint8_t>(sum) != v) return false;
      chain_ = true;
      block_ = bytes_[2];
      next_ = 1;
      last_ = bytes_[6];
      size_ = 256u - bytes_[7];
      address_ = static_cast<std::uint16_t>((bytes_[4] | bytes_[5] << 8) + bytes_[7]);
      return valid_ = true;
    }
    if (n < head() + size_ + 1) return true;
    end_block(true);
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (valid_) end_block(false);  // cut short
    return false;
  }
  void close() { no_bit(0); }

 private:
  bool first() const { return bytes_[3] == 0; }
  std::size_t head() const { return first() ? kFirstHead : kHead; }

  void end_block(bool complete) {
    std::vector<std::uint8_t> data = data_after(bytes_, head(), size_);
    // The first's sum is over its data, the others' over their numbers too.
    unsigned sum = 0;
    for (std::size_t i = first() ? head() : 2; i < head() + data.size(); ++i) sum += bytes_[i] + 1u;
    CopyReport report{true, 0, false, complete};
    if (complete) {
      report.sum_found = bytes_[head() + data.size()];
      report.sum_computed = static_cast<std::uint8_t>(sum);
      report.checksum_ok = report.sum_found == report.sum_computed;
    }
    const bool last = bytes_[3] == last_;  // the first is the last where none follow
    chain_block(address_, std::move(data), report);
    end_span();
    address_ = static_cast<std::uint16_t>(address_ + size_);
    if (!first()) ++next_;
    // The chain ends with its last sub-block (one cut short before leaves the next in turn);
    // read whole, it makes the chain whole.
    if (last) chain_ = false;
    if (last && complete) flush(true);
    valid_ = false;
  }

  std::vector<std::uint8_t> bytes_;  // from the sync on
  std::uint32_t pilot_ = 0;          // pulses of the run before the sub-block
  bool valid_ = false;               // its head was read and fits
  // The chain the last first sub-block began: its block number, the next sub-block's and
  // the last's number, where the next loads, the size of the sub-block being read.
  bool chain_ = false;
  std::uint8_t block_ = 0, next_ = 0, last_ = 0;
  std::uint16_t address_ = 0;
  std::size_t size_ = 0;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<SuperPavloda>(info, sink);
}

}  // namespace

const LoaderEntry kSuperPavlodaEntry = {kInfo, make};

}  // namespace tapewren::tape
