// Pavloda, the earliest of its family.
//
// A 0 is one pulse about 0x3F TAP units, a 1 a pulse about 0x1F and one more that the loader
// does not time (it counts its timer down first and only then looks for the next pulse, which
// starts the next bit's count), the threshold at 330 cycles; most significant bit first. Each
// file a block of its own: about 2,000 0 bits, a 1, the load and end address (little-endian,
// the end exclusive), the data, and the sum of the data plus one for each byte. No trailer.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kPavlodaEntry;

namespace {

const LoaderInfo kInfo = {.name = "Pavloda",
                          .machines = kC64,
                          .checksum = true,
                          .sum_adds = true,
                          .encoding = "0 one long pulse, 1 two short, MSB first",
                          .description = "0 bits, a 1; load, end (exclusive), data; sum + 1 a byte",
                          .peers = kTapClean | kWavPrg,
                          .pulses = {0x1F, 0x3F}};
// The bit reader's 0 is the short pulse: the pulses' bits are the bytes' inverted.
constexpr BitFormat kBits = {
    .threshold = 2 * 330, .one_ratio16 = 32, .msb_first = true, .short_pairs = true};
constexpr std::uint32_t kMinRun = 500;  // pulses of the pilot; the loaders' own want about 2,000
constexpr std::size_t kHead = 4;

class Pavloda : public TurboLoader<Pavloda> {
 public:
  Pavloda(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  bool accepts(const Pilot& pilot) {
    // A run of long pulses, each 13/10 of the threshold at least (0x35 TAP units, a deck 15 %
    // fast): the ROM loaders' lead-ins (about 0x30) are not taken for one.
    if (pilot.kind != Pilot::Kind::kRun || pilot.count < kMinRun ||
        pilot.average16 * 10 < kBits.threshold * 16 * 13)
      return false;
    bits_.begin_after_bit(0);  // the short pair that ends it
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t pulses, const PulseBlock&, std::size_t) {
    bytes_.push_back(static_cast<std::uint8_t>(~pulses));
    if (bytes_.size() == kHead && end() <= start()) return false;
    if (bytes_.size() < kHead + size() + 1) return true;
    emit_block(true);
    return expect_end(0xFF);  // the pulses stop, or the next pilot begins
  }

  bool no_bit(std::uint64_t) {
    if (bytes_.size() >= kHead) emit_block(false);  // cut short
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::uint16_t start() const { return static_cast<std::uint16_t>(bytes_[0] | bytes_[1] << 8); }
  std::uint16_t end() const { return static_cast<std::uint16_t>(bytes_[2] | bytes_[3] << 8); }
  std::size_t size() const { return bytes_.size() < kHead ? 0 : end() - start(); }

  void emit_block(bool complete) {
    std::vector<std::uint8_t> data = data_after(bytes_, kHead, size());
    unsigned sum = 0;
    for (const auto b : data) sum += b + 1u;
    CopyReport report{true, 0, false, complete};
    if (complete) {
      report.sum_found = bytes_[kHead + data.size()];
      report.sum_computed = static_cast<std::uint8_t>(sum);
      report.checksum_ok = report.sum_found == report.sum_computed;
    }
    // The 1 after the run and a head whose end lies past its start.
    block_file(start(), size(), std::move(data), report, 3);
    bytes_.clear();
  }

  std::vector<std::uint8_t> bytes_;  // from the head on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Pavloda>(info, sink);
}

}  // namespace

const LoaderEntry kPavlodaEntry = {kInfo, make};

}  // namespace tapewren::tape
