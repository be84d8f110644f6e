// Wildload (Wild Save, Interceptor Micros).
//
// One pulse a bit, 0 about 0x30 and 1 about 0x47 TAP units (the threshold at 480 cycles),
// least significant bit first. A pilot of 0xA0 bytes (about 256) and the countdown
// 0x0A..0x01, then sub-blocks end to end with no pilot between them: the address of the last
// byte and the size (little-endian), one byte, the data backwards (the last byte first), each
// byte XORed with the low byte of the address it loads to, and the XOR of the data as it
// loads. A sub-block of end 0 and size 0 stops the chain. Sub-blocks that load back to back
// are one file.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kWildloadEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Wildload",
    .machines = kC64,
    .checksum = true,
    .encoding = "one pulse a bit, LSB first",
    .description =
        "0xA0 pilot, 10..1; sub-blocks loaded backwards, enciphered with their addresses; XOR",
    .peers = kTapClean | kWavPrg,
    .pulses = {0x30, 0x47}};
constexpr BitFormat kBits = {960, 24, false};
constexpr std::uint8_t kSync[] = {10, 9, 8, 7, 6, 5, 4, 3, 2, 1};

class Wildload : public TurboLoader<Wildload> {
 public:
  Wildload(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {0xA0, 32, kSync, sizeof kSync}) {}

  bool accepts(const Pilot& pilot) {
    if (!sync_pilot(pilot)) return false;
    begin_block();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    head_.push_back(v);
    if (head_.size() == 5 && last() == 0 && size() == 0) {  // the stop block: the chain whole
      end_span();
      flush(true);
      settle(true);
      return false;
    }
    if (head_.size() <= 5) return true;
    if (head_.size() <= 5 + size()) {
      const auto address = static_cast<std::uint16_t>(last() - (head_.size() - 6));
      data_.push_back(static_cast<std::uint8_t>(v ^ (address & 0xFF)));
      return true;
    }
    end_block(true, v);  // the check byte
    return true;
  }

  bool no_bit(std::uint64_t) {
    if (synced() && head_.size() >= 5) end_block(false, 0);
    if (synced()) end_span();
    flush();
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::uint16_t last() const { return static_cast<std::uint16_t>(head_[0] | head_[1] << 8); }
  std::size_t size() const { return static_cast<std::size_t>(head_[2] | head_[3] << 8); }
  void begin_block() {
    head_.clear();
    data_.clear();
  }
  void end_block(bool complete, std::uint8_t check) {
    std::uint8_t x = 0;
    for (auto d : data_) x ^= d;
    std::reverse(data_.begin(), data_.end());  // into the order they load
    // Read backwards: what was read of a block cut short is its top.
    const auto start = static_cast<std::uint16_t>(last() - data_.size() + 1);
    CopyReport report{true, 0, complete && x == check, complete};
    if (complete) {
      report.sum_found = check;
      report.sum_computed = x;
    }
    chain_block(start, std::move(data_), report);
    begin_block();
  }

  std::vector<std::uint8_t> head_;  // of the sub-block being read: its header, then its data
  std::vector<std::uint8_t> data_;  // its data deciphered
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Wildload>(info, sink);
}

}  // namespace

const LoaderEntry kWildloadEntry = {kInfo, make};

}  // namespace tapewren::tape
