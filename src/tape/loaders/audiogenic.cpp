// Audiogenic.
//
// One pulse a bit, 0 about 0x1A and 1 about 0x36 TAP units (the threshold at 0x28), most
// significant bit first. A file is a chain of 256-byte blocks: a pilot of only a few 0xF0
// bytes, the sync 0xAA, the block's page (its load address's high byte; 0, 1 and 2 tell the
// loader to run or sync again), 256 bytes and their XOR, then 0x01 when another block follows,
// or only that byte's 0 bits after the last. Its pilots are too short for the search's usual
// pilot; its sync, check bytes and that last byte prove a chain.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kAudiogenicEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Audiogenic",
    .machines = kC64,
    .checksum = true,
    .short_pilot = true,
    .encoding = "one pulse a bit, MSB first",
    .description = "0xF0 pilot (a few), 0xAA; page, 256 bytes; XOR; 0x01 if more",
    .peers = kTapClean | kWavPrg,
    .pulses = {0x1A, 0x36}};
constexpr std::uint32_t kTimer = 0x28 * 8;  // cycles
constexpr BitFormat kBits = {2 * kTimer, 33, true};
constexpr std::uint8_t kSync[] = {0xAA};
constexpr std::size_t kBlock = 1 + 256 + 1;  // page, data, check byte
constexpr std::uint8_t kMore = 0x01;

class Audiogenic : public TurboLoader<Audiogenic> {
 public:
  // The search tells a brief pilot of three bytes or more; two of them counted here (it
  // counts none of the two it may have begun within).
  Audiogenic(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {0xF0, 2, kSync, sizeof kSync}) {}

  bool accepts(const Pilot& pilot) {
    if (!fits_threshold(pilot, kTimer) || !sync_pilot(pilot)) return false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    if (bytes_.size() < kBlock) {
      bytes_.push_back(v);
      return true;
    }
    // The byte after the block: another follows, or the 0 bits the last one leaves before
    // the tone ends (a pause's run-in); anything else: it was no block.
    if (v == kMore) {
      end_block(true);
      more_ = true;
    } else if (v == 0) {
      last_block();
    }
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (!synced() || bytes_.empty()) {
      flush();
    } else if (bytes_.size() < kBlock) {
      end_block(false);  // cut short
      flush();
    } else if (bits_.zeros_since_byte()) {
      last_block();
    }
    return false;
  }
  void close() { no_bit(0); }

 private:
  void end_block(bool complete) {
    const std::size_t n = complete ? 256 : bytes_.size() - 1;
    std::vector<std::uint8_t> data(bytes_.begin() + 1, bytes_.begin() + 1 + static_cast<long>(n));
    const CopyReport report = xor_checked(data, complete ? bytes_[kBlock - 1] : -1);
    // A block after a 0x01 that does not load on from the chain: the chain was whole (the
    // blocks that tell the loader to run or sync again follow the last so).
    if (more_ && report.checksum_ok && bytes_[0] != next_page_) flush(true);
    more_ = false;
    next_page_ = static_cast<std::uint8_t>(bytes_[0] + 1);
    chain_block(static_cast<std::uint16_t>(bytes_[0] << 8), std::move(data), report);
    end_span();
  }
  // The chain's last block: the chain is whole.
  void last_block() {
    end_block(true);
    flush(true);
  }

  std::vector<std::uint8_t> bytes_;  // from the page on
  bool more_ = false;                // the last block read said another follows
  std::uint8_t next_page_ = 0;       // where the chain loads on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Audiogenic>(info, sink);
}

}  // namespace

const LoaderEntry kAudiogenicEntry = {kInfo, make};

}  // namespace tapewren::tape
