// Novaload and Novaload Special.
//
// One pulse a bit, 0 about 0x24 and 1 about 0x56 TAP units (the threshold at 500 cycles),
// least significant bit first. A pilot of about 2,000 0 bits, a 1, and 0xAA. Novaload: the
// name's length (up to 16) and the name, start - 256, end and size + 256 (little-endian, the
// end exclusive), then the data in 256-byte sub-blocks, each after a check byte and the last
// followed by one: each check byte is the sum, mod 256, of everything from the name's length
// on, the earlier check bytes included. Special: 0xAA 0x55, then sub-blocks of the high byte
// of the page they load to, 256 bytes, and the sum of those 257; a high byte of 0 ends them,
// and sub-blocks that load back to back are one file. A trailer of 0 bits.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kNovaloadEntry;
extern const LoaderEntry kNovaloadSpecialEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Novaload",
    .machines = kC64,
    .checksum = true,
    .sum_adds = true,
    .encoding = "one pulse a bit, LSB first",
    .description =
        "a pilot of 0 bits, a 1, 0xAA; name, addresses, 256-byte sub-blocks; running sums",
    .peers = kTapClean | kWavPrg,
    .pulses = {0x24, 0x56}};
const LoaderInfo kSpecialInfo = {.name = "Novaload S",
                                 .machines = kC64,
                                 .checksum = true,
                                 .sum_adds = true,
                                 .encoding = "one pulse a bit, LSB first",
                                 .description =
                                     "Novaload Special: 0 bits, a 1, 0xAA 0x55; 256-byte blocks "
                                     "chained by their page, each with its sum",
                                 .peers = kTapClean | kWavPrg,
                                 .recordings = "Dig Dug",
                                 .pulses = {0x24, 0x56}};
constexpr BitFormat kBits = {1000, 38, false};

class Novaload : public TurboLoader<Novaload> {
 public:
  Novaload(const LoaderInfo& info, FileSink& sink, bool special)
      : TurboLoader(info, sink, kBits), special_(special) {}

  bool accepts(const Pilot& pilot) {
    if (pilot.kind != Pilot::Kind::kRun || pilot.count < 256) return false;
    restart();
    after_file_ = false;
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    switch (phase_) {
      case Phase::kSync:
        if (bytes_.empty()) {
          bytes_.push_back(v);
          return v == 0xAA ? true : fail();
        }
        if (special_) {
          if (v != 0x55) return fail();
          after_file_ = false;
          phase_ = Phase::kPage;
          bytes_.clear();
          return true;
        }
        if (v > 16 || v == 0x55) return fail();  // the name's length
        after_file_ = false;
        phase_ = Phase::kHeader;
        bytes_ = {v};
        sum_ = v;
        return true;
      case Phase::kHeader: {
        bytes_.push_back(v);
        sum_ += v;
        const std::size_t n = bytes_[0];
        if (bytes_.size() < 1 + n + 6) return true;
        name_ = name_of(bytes_.data() + 1, n);
        start_ = static_cast<std::uint16_t>(le16(n + 1) + 256);
        size_ = static_cast<std::uint16_t>(le16(n + 3) - start_);
        data_.clear();
        checks_.clear();
        data_sum_ = 0;
        sums_ok_ = true;
        phase_ = Phase::kCheck;
        return true;
      }
      case Phase::kCheck: {
        // Each sum covers the data so far, and the head and check bytes before it.
        DataCheck check;
        check.op = DataCheck::Op::kSum;
        check.end = static_cast<std::uint32_t>(data_.size());
        check.seed = static_cast<std::uint8_t>(sum_ - data_sum_);
        check.expected = v;
        checks_.push_back(check);
        sums_ok_ &= v == static_cast<std::uint8_t>(sum_);
        sum_ += v;
        if (data_.size() >= size_) {  // the last check byte
          emit_file(true);
          trailer();
          return true;
        }
        phase_ = Phase::kData;
        return true;
      }
      case Phase::kData:
        data_.push_back(v);
        sum_ += v;
        data_sum_ += v;
        if (data_.size() == size_ || data_.size() % 256 == 0) phase_ = Phase::kCheck;
        return true;
      case Phase::kPage:
        bytes_.push_back(v);
        if (bytes_.size() == 1 && v == 0) {  // the end of the chain: the structure whole
          end_span();
          flush(true);
          settle(true);
          trailer();
          return true;
        }
        if (bytes_.size() < 258) return true;
        {
          unsigned sum = 0;
          for (std::size_t k = 0; k + 1 < bytes_.size(); ++k) sum += bytes_[k];
          chain_block(page(), {bytes_.begin() + 1, bytes_.end() - 1},
                      {true, 0, static_cast<std::uint8_t>(sum) == v, true, v,
                       static_cast<std::uint8_t>(sum)});
        }
        bytes_.clear();
        return true;
    }
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (phase_ == Phase::kData || phase_ == Phase::kCheck) emit_file(false);
    if (phase_ == Phase::kPage && !bytes_.empty())
      chain_block(page(), {bytes_.begin() + 1, bytes_.end()}, {true, 0, false, false});
    if (phase_ != Phase::kSync || after_file_) end_span();
    flush();
    return false;
  }
  void close() { no_bit(0); }

 private:
  enum class Phase { kSync, kHeader, kCheck, kData, kPage };
  void restart() {
    bits_.begin_after_bit(1);
    bytes_.clear();
    new_chain();
    phase_ = Phase::kSync;
  }
  // The trailer's 0 bits may run into the next file's pilot with no pause between: read on
  // as a pilot, counting them as read whatever follows.
  void trailer() {
    restart();
    after_file_ = true;
  }
  bool fail() {
    if (after_file_) end_span();
    return false;
  }
  std::uint16_t le16(std::size_t at) const {
    return static_cast<std::uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
  }
  std::uint16_t page() const { return static_cast<std::uint16_t>(bytes_[0] << 8); }
  void emit_file(bool complete) {
    TapeFile f = file(Kind::kProgram, name_, start_, data_,
                      {true, 0, complete && sums_ok_, complete}, span_offset(), span_time());
    f.end = static_cast<std::uint16_t>(start_ + size_);
    f.checks = checks_;
    end_span();
    emit(std::move(f));
  }

  bool special_;
  Phase phase_ = Phase::kSync;
  std::vector<std::uint8_t> bytes_, data_;
  unsigned sum_ = 0, data_sum_ = 0;
  std::vector<DataCheck> checks_;
  bool sums_ok_ = true;
  std::array<std::uint8_t, 16> name_{};
  std::uint16_t start_ = 0;
  std::size_t size_ = 0;
  bool after_file_ = false;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Novaload>(info, sink, false);
}
std::unique_ptr<LoaderDecoder> make_special(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Novaload>(info, sink, true);
}

}  // namespace

const LoaderEntry kNovaloadEntry = {kInfo, make};
const LoaderEntry kNovaloadSpecialEntry = {kSpecialInfo, make_special};

}  // namespace tapewren::tape
