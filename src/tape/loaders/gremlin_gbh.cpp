// Gremlin GBH.
//
// One pulse a bit, 0 about 0x2F and 1 about 0x49 TAP units, most significant bit first; its
// pilots are of pulses longer than either, about 0x80 TAP units, well over a thousand of them,
// and a 0 bit ends each. A file is two blocks: a head of 48 bytes whose first four are the
// load and end address (little-endian, the end exclusive; 0 for the top of memory), then the
// data after a pilot of its own; no checksum. No boot file of it is known: a file whose head
// and data were read whole to their end is unverified at best.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kGremlinGbhEntry;

namespace {

const LoaderInfo kInfo = {.name = "Gremlin GBH",
                          .machines = kC64,
                          .needs_boot = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "0x80 pulses, a 0; 48-byte head: load, end; then 0x80 pulses, a "
                              "0, data; no checksum; no boot known: unverified at best",
                          .peers = kTapClean,
                          .pulses = {0x2F, 0x49, 0x80}};
constexpr std::uint32_t kZero = 0x2F * 16, kOne = 0x49 * 16, kPilot = 0x80 * 16;  // half cycles
constexpr BitFormat kBits = {(kZero + kOne) / 2, kOne * 16 / kZero, true};
constexpr std::uint32_t kMinPilot = 512;  // pulses
constexpr std::size_t kHead = 48;
// A pulse this long (x16 of the bits' threshold) is the pilot's, midway between a 1 and it.
constexpr std::uint32_t kPilotRatio16 = 27;

class GremlinGbh : public TurboLoader<GremlinGbh> {
 public:
  GremlinGbh(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  bool engage(const Pilot& pilot, std::size_t from) override {
    Pilot bits;
    if (!run_as_bits(pilot, kMinPilot, kPilot, kZero, kOne, bits)) return false;
    const bool data = data_ && pilot.time - head_end_ < kDataWithin;
    if (!TurboLoader::engage(bits, from)) return false;
    data_ = data;
    if (data_) begin_span(head_offset_, head_time_, head_pulses_ + pilot.count);
    return true;
  }

  bool accepts(const Pilot&) {
    bits_.begin_after_bit(0);  // the 0 that ends the pilot
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock& b, std::size_t i) {
    // The pulses of a pilot (read as 1s) before the block's end: it was cut short.
    if (pilot_pulse(b, i, kPilotRatio16)) return no_bit(0);
    bytes_.push_back(v);
    if (!data_) {
      if (bytes_.size() < kHead) return true;
      start_ = static_cast<std::uint16_t>(bytes_[0] | bytes_[1] << 8);
      const unsigned end = bytes_[2] | bytes_[3] << 8;
      size_ = (end == 0 ? 0x10000u : end) - start_;
      if (end != 0 && end <= start_) return false;
      // The data's pilot follows: the file begins here.
      data_ = true;
      head_offset_ = span_offset();
      head_time_ = span_time();
      head_pulses_ = 8 * kHead;
      head_end_ = b.time[i];
      return false;
    }
    if (bytes_.size() < size_) return true;
    emit_block(true);
    return expect_end(0xFF);  // its pilot read as bits: the next file's head
  }

  bool no_bit(std::uint64_t) {
    if (data_ && !bytes_.empty()) emit_block(false);  // cut short
    return false;
  }
  void close() { no_bit(0); }

 private:
  // The data's pilot comes within this many half cycles of the head's end.
  static constexpr std::uint64_t kDataWithin = 2ULL * 985248 * 2;

  void emit_block(bool complete) {
    data_ = false;
    // The sync bits, and a head that checked out.
    block_file(start_, size_, std::move(bytes_), {true, 0, complete, complete}, 3);
    bytes_.clear();
  }

  bool data_ = false;  // a head was read: the data block comes next
  std::uint16_t start_ = 0;
  std::size_t size_ = 0;
  std::uint64_t head_offset_ = 0, head_time_ = 0, head_pulses_ = 0, head_end_ = 0;
  std::vector<std::uint8_t> bytes_;  // of the block being read
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<GremlinGbh>(info, sink);
}

}  // namespace

const LoaderEntry kGremlinGbhEntry = {kInfo, make};

}  // namespace tapewren::tape
