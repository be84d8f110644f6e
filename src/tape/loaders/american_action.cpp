// American Action's loader, of the Turbo Tape family.
//
// One pulse a bit, 0 about 0x1A and 1 about 0x28 TAP units (the threshold near 0x20), most
// significant bit first. A pilot of 0x02 bytes, the countdown 0x09..0x01, a flag, the name,
// whose length is not stored, the size - 1 and the load address high byte first, and the
// data; no checksum. The name ends where a load address of 0x0801 or 0x0820 follows the size,
// as on the tapes known; failing that it is taken as two bytes long.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kAmericanActionEntry;

namespace {

const LoaderInfo kInfo = {.name = "Am. Action",
                          .machines = kC64,
                          .needs_boot = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "American Action: 0x02 pilot, 9..1; flag, name, size, load, data; no "
                              "checksum; no boot known: unverified at best",
                          .peers = kTapClean,
                          .pulses = {0x1A, 0x28}};
constexpr BitFormat kBits = {512, 25, true};
constexpr std::uint8_t kSync[] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
constexpr std::size_t kLongest = 1 + 16 + 4;  // the head with the longest name

class AmericanAction : public TurboLoader<AmericanAction> {
 public:
  AmericanAction(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {0x02, 50, kSync, sizeof kSync}) {}

  bool accepts(const Pilot& pilot) {
    if (!sync_pilot(pilot)) return false;
    bytes_.clear();
    head_ = 0;
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    bytes_.push_back(v);
    if (head_ == 0 && bytes_.size() == kLongest) find_head();
    if (head_ == 0 || bytes_.size() < head_ + size()) return true;
    emit_file(true);
    return expect_end(0x02);
  }

  bool no_bit(std::uint64_t) {
    if (synced() && head_ == 0 && bytes_.size() >= 1 + 2 + 4) find_head();
    if (synced() && head_ != 0 && bytes_.size() >= head_) emit_file(false);
    return false;
  }
  void close() { no_bit(0); }

 private:
  // The name's length: where the load address comes.
  void find_head() {
    std::size_t name = 2;
    for (std::size_t n = 0; n <= 16 && 1 + n + 4 <= bytes_.size(); ++n) {
      const std::uint8_t h = bytes_[1 + n + 2], l = bytes_[1 + n + 3];
      if (h == 0x08 && (l == 0x01 || l == 0x20)) {
        name = n;
        break;
      }
    }
    name_ = name;
    head_ = 1 + name + 4;
  }
  std::size_t size() const { return static_cast<std::size_t>(be16(1 + name_)) + 1; }
  std::uint16_t load() const { return be16(1 + name_ + 2); }
  std::uint16_t be16(std::size_t at) const {
    return static_cast<std::uint16_t>(bytes_[at] << 8 | bytes_[at + 1]);
  }
  void emit_file(bool complete) {
    const std::size_t n = std::min(size(), bytes_.size() - head_);
    const bool whole = complete && n == size();
    TapeFile f = file(
        Kind::kProgram, name_of(bytes_.data() + 1, name_), load(),
        {bytes_.begin() + static_cast<long>(head_), bytes_.begin() + static_cast<long>(head_ + n)},
        {true, 0, whole, whole}, span_offset(), span_time());
    f.end = static_cast<std::uint16_t>(load() + size());
    f.evidence = sizeof kSync + 1;
    end_span();
    emit(std::move(f));
  }

  std::vector<std::uint8_t> bytes_;  // the flag, the name, size, load, data
  std::size_t head_ = 0, name_ = 0;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<AmericanAction>(info, sink);
}

}  // namespace

const LoaderEntry kAmericanActionEntry = {kInfo, make};

}  // namespace tapewren::tape
