// Palace Software's loaders, F1 and F2, one loader: they differ by a byte between blocks.
//
// One pulse a bit, 0 about 0x30 and 1 about 0x57 TAP units (the threshold halfway, at 540
// cycles), most significant bit first. A pilot of 0x01 bytes, the file's sync "JPG)" (0x4A
// 0x50 0x47 0x29), then blocks end to end: the block's sync "JPG" 0x10, its number, 256
// bytes and their XOR; F1 puts one byte more after each block, F2 none (a block cut short
// tells neither, so both are this one loader). The tape tells no load address (the loader
// knows it): a file's blocks count from $0000, a page each. The blocks go on while a block's
// sync follows; the pulses stopping there, or the next pilot, end the file as the format
// has it.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kPalaceEntry;

namespace {

const LoaderInfo kInfo = {.name = "Palace",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "F1, F2: 0x01 pilot, \"JPG)\"; blocks of \"JPG\" 0x10, number, "
                              "256 bytes, XOR (F1: a byte more)",
                          .peers = kTapClean,
                          .pulses = {0x30, 0x57}};
constexpr BitFormat kBits = {2 * 540, 29, true};
constexpr std::uint8_t kPilot = 0x01;
constexpr int kMinPilot = 50;  // pilot bytes, as TAPClean wants them
constexpr std::uint8_t kFileSync[] = {0x4A, 0x50, 0x47, 0x29};
constexpr std::uint8_t kBlockSync[] = {0x4A, 0x50, 0x47, 0x10};
constexpr std::size_t kHead = sizeof kBlockSync + 1;  // the sync and the block's number
constexpr std::size_t kPage = 256;
constexpr int kEndPilot = 8;  // pilot bytes after a block that tell the next file begins

class Palace : public TurboLoader<Palace> {
 public:
  Palace(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {kPilot, kMinPilot, kFileSync, sizeof kFileSync}) {}

  bool accepts(const Pilot& pilot) {
    if (!sync_pilot(pilot)) return false;
    bytes_.clear();
    pilot_run_ = 0;
    skipped_ = false;
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    if (bytes_.size() >= sizeof kBlockSync) {
      bytes_.push_back(v);
      if (bytes_.size() == kHead + kPage + 1) end_block(true);
      return true;
    }
    // Between blocks: F1's byte, the next block's sync, or the next file's pilot.
    if (bytes_.empty() && rotation_of(v, kPilot)) {
      return ++pilot_run_ < kEndPilot || end_file(true);
    }
    if (pilot_run_ > 0) {  // a pilot byte alone: F1's byte after a block, if any
      if (pilot_run_ > 1 || skipped_ || chained() == 0) return end_file(false);
      pilot_run_ = 0;
      skipped_ = true;
    }
    bytes_.push_back(v);
    if (v == kBlockSync[bytes_.size() - 1]) return true;
    // F1's byte after a block is the one byte that may come before the sync.
    if (skipped_ || chained() == 0 || bytes_.size() > 1) return end_file(false);
    skipped_ = true;
    bytes_.clear();
    return true;
  }

  bool no_bit(std::uint64_t) {
    if (!synced()) return false;
    const std::size_t n = bytes_.size();
    if (n >= kHead) end_block(false);
    end_file(n == 0);  // the pulses stopped between blocks: where the format lets them
    return false;
  }
  void close() { no_bit(0); }

 private:
  void end_block(bool complete) {
    const auto data_end = std::min(bytes_.size(), kHead + kPage);
    std::vector<std::uint8_t> data(bytes_.begin() + kHead,
                                   bytes_.begin() + static_cast<long>(data_end));
    std::uint8_t x = 0;
    for (auto b : data) x ^= b;
    CopyReport report{true, 0, complete && x == bytes_[kHead + kPage], complete};
    if (complete) {
      report.sum_found = bytes_[kHead + kPage];
      report.sum_computed = x;
    }
    chain_block(static_cast<std::uint16_t>(chained() * kPage), std::move(data), report);
    bytes_.clear();
    skipped_ = false;
  }
  bool end_file(bool whole) {
    end_span();
    flush(whole);
    settle(whole);
    bytes_.clear();
    pilot_run_ = 0;
    return false;
  }

  int pilot_run_ = 0;                // pilot bytes after a block
  bool skipped_ = false;             // a byte came between the last block and this one (F1)
  std::vector<std::uint8_t> bytes_;  // of the block being read, from its sync on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Palace>(info, sink);
}

}  // namespace

const LoaderEntry kPalaceEntry = {kInfo, make};

}  // namespace tapewren::tape
