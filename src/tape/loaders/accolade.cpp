// Accolade's loader (and Electronic Arts' clone of it).
//
// One pulse a bit, 0 about 0x29 and 1 about 0x4A TAP units (the threshold at 490 cycles),
// most significant bit first. Each file a block of its own: a pilot of eight 0x0F bytes, the
// sync 0xAA, a head of the 16-byte name, the load address and the size (little-endian) and
// the XOR of those 20 bytes; then the data in sub-blocks of 256 bytes (the last one shorter),
// each followed by its XOR; a trailer of eight 0 bits and a longer pulse. A head whose XOR
// fails tells nothing sure of where the file loads: no file.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kAccoladeEntry;

namespace {

const LoaderInfo kInfo = {.name = "Accolade",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "Accolade/EA: 0x0F pilot, 0xAA; name, load, size; XOR; "
                              "256-byte sub-blocks, each with its XOR",
                          .peers = kTapClean,
                          .pulses = {0x29, 0x4A}};
constexpr BitFormat kBits = {2 * 490, 29, true};
constexpr std::uint8_t kPilot = 0x0F;
constexpr std::uint8_t kSync[] = {0xAA};
constexpr int kMinPilot = 4;  // of its eight, the search sees a few
constexpr std::size_t kHead = 21, kSubBlock = 256;

class Accolade : public TurboLoader<Accolade> {
 public:
  Accolade(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {kPilot, kMinPilot, kSync, sizeof kSync}) {}

  bool accepts(const Pilot& pilot) {
    if (!sync_pilot(pilot)) return false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    bytes_.push_back(v);
    if (bytes_.size() == kHead && !head_ok()) return false;
    if (bytes_.size() < kHead || bytes_.size() < kHead + on_tape()) return true;
    emit_file(true);
    return expect_end(kPilot, 0x00);
  }

  bool no_bit(std::uint64_t) {
    if (synced() && bytes_.size() >= kHead) emit_file(false);
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::uint16_t start() const { return static_cast<std::uint16_t>(bytes_[16] | bytes_[17] << 8); }
  std::size_t size() const { return static_cast<std::size_t>(bytes_[18] | bytes_[19] << 8); }
  // The data and a check byte after every sub-block.
  std::size_t on_tape() const { return size() + (size() + kSubBlock - 1) / kSubBlock; }
  bool head_ok() const {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i + 1 < kHead; ++i) x ^= bytes_[i];
    return x == bytes_[kHead - 1] && size() > 0 && start() + size() <= 0x10000;
  }

  void emit_file(bool complete) {
    std::vector<std::uint8_t> data;
    std::vector<DataCheck> checks;
    bool sums = true;
    for (std::size_t at = kHead; at < bytes_.size() && data.size() < size(); at += kSubBlock + 1) {
      const std::size_t n = std::min({kSubBlock, size() - data.size(), bytes_.size() - at}),
                        begin = data.size();
      std::uint8_t x = 0;
      for (std::size_t k = at; k < at + n; ++k) x ^= bytes_[k];
      data.insert(data.end(), bytes_.begin() + static_cast<long>(at),
                  bytes_.begin() + static_cast<long>(at + n));
      const bool has_sum = at + n < bytes_.size();
      if (has_sum)
        checks.push_back(
            data_check(DataCheck::Op::kXor, data, begin, data.size(), bytes_[at + n], x));
      sums &= has_sum && bytes_[at + n] == x;
    }
    TapeFile f = file(Kind::kProgram, name_of(bytes_.data(), 16), start(), std::move(data),
                      {true, 0, complete && sums, complete}, span_offset(), span_time());
    f.checks = std::move(checks);
    f.end = static_cast<std::uint16_t>(start() + size());
    f.evidence = static_cast<int>(sizeof kSync) + 1;  // and a head whose XOR held
    bytes_.clear();
    end_span();
    emit(std::move(f));
  }

  std::vector<std::uint8_t> bytes_;  // from the head on
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Accolade>(info, sink);
}

}  // namespace

const LoaderEntry kAccoladeEntry = {kInfo, make};

}  // namespace tapewren::tape
