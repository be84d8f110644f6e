// Freeload, Ocean's loader, and its clones (Graftgold, 180, and Invade-a-load with half the
// pilot).
//
// One pulse a bit, 0 about 0x24 and 1 about 0x42 TAP units (the threshold at 360 cycles),
// most significant bit first. Each file is a block of its own: a pilot of 0x40 bytes (128,
// or 64), the sync 0x5A, the start and end address (little-endian, the end exclusive), the
// data and the XOR of the data.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kFreeloadEntry;

namespace {

const LoaderInfo kInfo = {"Freeload", "C64", -1, true, false,
                          "one pulse a bit, MSB first; 0x40 pilot, 0x5A; start, end, data; XOR"};
constexpr BitFormat kBits = {45 * 16, 29, true};
constexpr std::uint8_t kSync[] = {0x5A};

class Freeload : public TurboLoader<Freeload> {
 public:
  Freeload(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  bool accepts(const Pilot& pilot) {
    if (!pilot_of(pilot, 0x40, true)) return false;
    bits_.begin_at(0x40);
    sync_.start(static_cast<int>(pilot.count / 8) - 2);
    synced_ = false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced_) {
      const auto step = sync_.byte(v);
      synced_ = step == PilotSync::Step::kSynced;
      return step != PilotSync::Step::kFail;
    }
    bytes_.push_back(v);
    if (bytes_.size() < 4) return true;
    const std::size_t size = static_cast<std::uint16_t>(end() - start());
    if (bytes_.size() < 4 + size + 1) return true;
    emit_file(true);
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (synced_ && bytes_.size() >= 4) emit_file(false);
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::uint16_t start() const { return static_cast<std::uint16_t>(bytes_[0] | bytes_[1] << 8); }
  std::uint16_t end() const { return static_cast<std::uint16_t>(bytes_[2] | bytes_[3] << 8); }
  void emit_file(bool complete) {
    std::vector<std::uint8_t> data(bytes_.begin() + 4, bytes_.end() - (complete ? 1 : 0));
    std::uint8_t x = 0;
    for (auto b : data) x ^= b;
    const CopyReport report{true, 0, complete && x == bytes_.back(), complete};
    TapeFile f = file(Kind::kProgram, {}, start(), std::move(data), report, span_offset(),
                      span_time());
    f.end = end();
    end_span();
    emit(std::move(f));
  }

  PilotSync sync_{0x40, 32, kSync, sizeof kSync};
  bool synced_ = false;
  std::vector<std::uint8_t> bytes_;  // start, end, data, checksum
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Freeload>(info, sink);
}

}  // namespace

const LoaderEntry kFreeloadEntry = {kInfo, make};

}  // namespace tapewren::tape
