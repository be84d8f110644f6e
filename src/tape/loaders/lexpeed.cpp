// Lexpeed, of the Turbo Tape family.
//
// One pulse a bit, 0 about 0x4C and 1 about 0x72 TAP units (the threshold near 0x5E), most
// significant bit first. Each file: a pilot of 0x02 bytes, the countdown 0x09..0x00, the
// data and its XOR, and a trailer of zeros; nothing on tape says where it loads. The first is
// a 256-byte master loader beginning A9 00 85 B4 A9 xx 85 BE A9 yy 85 BF, which loads at
// yy x 256 and holds, from its byte 0xB7, the load, end and execution address of each file
// after it, six bytes a file.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kLexpeedEntry;

namespace {

const LoaderInfo kInfo = {.name = "Lexpeed",
                          .machines = kC64,
                          .checksum = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "the Turbo Tape framing, 9..0; a 256-byte master loader whose table "
                              "gives each file's addresses; XOR",
                          .pulses = {0x4C, 0x72}};
constexpr BitFormat kBits = {0x5E * 16, 24, true};
constexpr std::uint8_t kSync[] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
constexpr std::uint8_t kMaster[] = {0xA9, 0x00, 0x85, 0xB4, 0xA9};
constexpr std::size_t kTable = 0xB7;

class Lexpeed : public TurboLoader<Lexpeed> {
 public:
  Lexpeed(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {0x02, 32, kSync, sizeof kSync}) {}

  bool accepts(const Pilot& pilot) {
    if (!sync_pilot(pilot)) return false;
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
        if (bytes_.size() < sizeof kMaster) return true;  // not yet known which it is
        if (bytes_.size() == sizeof kMaster && !is_master() && master_.empty())
          return false;  // neither the master loader nor a file it knows
        if (bytes_.size() <= wanted()) return true;
        emit_file(true);
        phase_ = Phase::kTrailer;
        return true;
      case Phase::kTrailer:
        return zero_trailer(v);
    }
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (phase_ == Phase::kData && bytes_.size() > sizeof kMaster) emit_file(false);
    if (phase_ == Phase::kTrailer) end_span();
    return false;
  }
  void close() { no_bit(0); }

 private:
  enum class Phase { kSync, kData, kTrailer };
  // A second master loader (a second program on the side) starts the table anew.
  bool is_master() const {
    return bytes_.size() >= sizeof kMaster &&
           std::equal(kMaster, kMaster + sizeof kMaster, bytes_.begin());
  }
  // The bytes this file holds, and where they load.
  std::size_t wanted() const {
    if (is_master() || master_.empty()) return 256;
    const std::size_t at = kTable + 6 * next_;
    if (at + 4 > master_.size()) return 256;
    return static_cast<std::uint16_t>((master_[at + 2] | master_[at + 3] << 8) -
                                      (master_[at] | master_[at + 1] << 8));
  }
  std::uint16_t load() const {
    if (is_master() || master_.empty())
      return static_cast<std::uint16_t>(bytes_.size() > 9 ? bytes_[9] << 8 : 0);
    const std::size_t at = kTable + 6 * next_;
    return at + 2 > master_.size() ? 0
                                   : static_cast<std::uint16_t>(master_[at] | master_[at + 1] << 8);
  }
  void emit_file(bool complete) {
    const std::size_t n = std::min(wanted(), bytes_.size());
    std::vector<std::uint8_t> data(bytes_.begin(), bytes_.begin() + static_cast<long>(n));
    std::uint8_t x = 0;
    for (auto b : data) x ^= b;
    const bool sum = complete && bytes_.size() > n && x == bytes_[n];
    CopyReport report{true, 0, sum, complete};
    if (bytes_.size() > n) {
      report.sum_found = bytes_[n];
      report.sum_computed = x;
    }
    TapeFile f = file(Kind::kProgram, {}, load(), data, report, span_offset(), span_time());
    f.end = static_cast<std::uint16_t>(load() + wanted());
    f.evidence = sizeof kSync + 1;
    if (is_master() && complete) {
      master_ = std::move(data);
      next_ = 0;
    } else if (!master_.empty()) {
      ++next_;
    }
    end_span();
    const bool master = is_master() && complete;
    emit(std::move(f), master);  // the loader's own code, which its files need
    if (master && sum) boot_seen();
  }

  Phase phase_ = Phase::kSync;
  std::vector<std::uint8_t> bytes_, master_;
  std::size_t next_ = 0;  // the master loader's entry for the next file
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Lexpeed>(info, sink);
}

}  // namespace

const LoaderEntry kLexpeedEntry = {kInfo, make};

}  // namespace tapewren::tape
