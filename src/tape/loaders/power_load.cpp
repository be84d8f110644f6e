// Power Load, of the Turbo Tape family.
//
// One pulse a bit, 0 about 0x1C and 1 about 0x29 TAP units (the threshold near 0x20), most
// significant bit first. The tape's boot file holds the addresses in its program: the load
// address's low and high byte at its bytes 1 and 3, the end's at 9 and 11. On tape: a pilot
// of 0x02 bytes, the countdown 0x09..0x00, the data, the XOR of the data and a trailer of
// zeros.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kPowerLoadEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Power Load",
    .machines = kC64,
    .checksum = true,
    .boot_code = true,
    .encoding = "one pulse a bit, MSB first",
    .description = "the Turbo Tape framing, 9..0; the addresses from its boot file; XOR",
    .peers = kTapClean};
constexpr BitFormat kBits = {512, 23, true};
constexpr std::uint8_t kSync[] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};

class PowerLoad : public TurboLoader<PowerLoad> {
 public:
  PowerLoad(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {0x02, 32, kSync, sizeof kSync}) {}

  void seen(const TapeFile& f) override {
    if (f.loader->copies && f.kind == Kind::kProgram && f.data.size() > 11) {
      const auto load = static_cast<std::uint16_t>(f.data[1] | f.data[3] << 8);
      const auto end = static_cast<std::uint16_t>(f.data[9] | f.data[11] << 8);
      if (end > load) {
        load_ = load;
        size_ = static_cast<std::size_t>(end - load);
        boot_seen();
      }
    }
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
    const bool sum = complete && x == bytes_.back();
    CopyReport report{true, 0, sum, complete};
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
  std::size_t size_ = 0;
  std::vector<std::uint8_t> bytes_;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<PowerLoad>(info, sink);
}

}  // namespace

const LoaderEntry kPowerLoadEntry = {kInfo, make};

}  // namespace tapewren::tape
