// Biturbo.
//
// One pulse a bit, 0 about 0x1B and 1 about 0x27 TAP units (the threshold at 264 cycles), most
// significant bit first. The turbo file has no head: its boot file, the ROM program before
// it, holds its addresses, the load address's low byte at 0x4B and high byte at 0x5D, the
// end's (exclusive, 0 up to 0xFFFF) low byte at 0x59 and high byte at 0x52. A tape may hold
// several, each after its own boot. On tape: a long pilot of 0x02 bytes, the countdown
// 0x10..0x00, the data, the XOR of the data and a trailer of 0 bits. Without a boot whose
// addresses make sense nothing tells where a file loads: no file.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kBiturboEntry;

namespace {

const LoaderInfo kInfo = {.name = "Biturbo",
                          .machines = kC64,
                          .checksum = true,
                          .needs_boot = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "0x02 pilot, 0x10..0x00; the addresses from its boot "
                              "file; data; XOR",
                          .peers = kTapClean};
constexpr BitFormat kBits = {2 * 264, 23, true};
constexpr std::uint8_t kPilot = 0x02;
constexpr std::uint8_t kSync[] = {0x10, 0x0F, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0x09, 0x08,
                                  0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x00};
constexpr int kMinPilot = 256;  // of some 500 and more
constexpr std::size_t kLoadLo = 0x4B, kLoadHi = 0x5D, kEndLo = 0x59, kEndHi = 0x52;

class Biturbo : public TurboLoader<Biturbo> {
 public:
  Biturbo(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {kPilot, kMinPilot, kSync, sizeof kSync}) {}

  // A ROM program long enough to hold the addresses: the last before the pilot counts.
  void seen(const TapeFile& f) override {
    if (!f.loader->copies || f.kind != Kind::kProgram || f.data.size() <= kLoadHi) return;
    const auto load = static_cast<std::uint16_t>(f.data[kLoadLo] | f.data[kLoadHi] << 8);
    const auto end = static_cast<std::uint16_t>(f.data[kEndLo] | f.data[kEndHi] << 8);
    if (end == 0 ? load == 0 : end <= load) return;
    load_ = load;
    size_ = static_cast<std::uint16_t>(end - load);
    boot_seen();
  }

  bool accepts(const Pilot& pilot) {
    if (size_ == 0 || !sync_pilot(pilot)) return false;
    phase_ = Phase::kSync;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    switch (phase_) {
      case Phase::kSync:
        return sync_then(v, phase_, Phase::kData);
      case Phase::kData:
        bytes_.push_back(v);
        if (bytes_.size() <= size_) return true;
        emit_file(true);
        phase_ = Phase::kTrailer;
        return true;
      case Phase::kTrailer:
        return zero_trailer(v);
    }
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (phase_ == Phase::kData) emit_file(false);
    if (phase_ == Phase::kTrailer) end_span();
    return false;
  }
  void close() { no_bit(0); }

 private:
  enum class Phase { kSync, kData, kTrailer };
  void emit_file(bool complete) {
    std::vector<std::uint8_t> data(
        bytes_.begin(), bytes_.begin() + static_cast<long>(std::min(size_, bytes_.size())));
    std::uint8_t x = 0;
    for (auto b : data) x ^= b;
    CopyReport report{true, 0, complete && x == bytes_.back(), complete};
    if (complete) {
      report.sum_found = bytes_.back();
      report.sum_computed = x;
    }
    TapeFile f =
        file(Kind::kProgram, {}, load_, std::move(data), report, span_offset(), span_time());
    f.end = static_cast<std::uint16_t>(load_ + size_);
    f.evidence = sizeof kSync;
    end_span();
    emit(std::move(f));
  }

  Phase phase_ = Phase::kSync;
  std::uint16_t load_ = 0;
  std::size_t size_ = 0;  // 0: no boot seen
  std::vector<std::uint8_t> bytes_;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Biturbo>(info, sink);
}

}  // namespace

const LoaderEntry kBiturboEntry = {kInfo, make};

}  // namespace tapewren::tape
