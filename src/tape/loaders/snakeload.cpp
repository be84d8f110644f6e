// Steve Snake's loaders: Snakeload 5.0 (at two speeds) and 5.1.
//
// One pulse a bit, most significant bit first; each block after a pilot of 0 bits and a 1.
// 5.0: the sync "eilyK" ("Kylie" backwards), the block's number, the load and end address
// (little-endian, the end exclusive; 0 loads up to 0xFFFF), the data and their sum; a
// trailer of 0 bits. T1's 0 about 0x3F and 1 about 0x5F TAP units, T2's 0x60 and 0xA0. 5.1:
// a sync of 8 bytes its loader sets, of which the first 4 are one of the three known
// (Eldritch's, SWIV's and one more, as TAPClean knows them); the block's number, the end
// (exclusive) and the load address high byte first, the data and their check: their XOR,
// with 1 added after each byte that loads at an address ending in 0xFF; a trailer of 0 bits.
// 0 about 0x28 and 1 about 0x48. Each block is a file of its own; the trailer (or the next
// block's pilot, or the pulses stopping) tells that its check byte ended it.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kSnake50T1Entry;
extern const LoaderEntry kSnake50T2Entry;
extern const LoaderEntry kSnake51Entry;

namespace {

const LoaderInfo kT1Info = {.name = "Snake50 T1",
                            .machines = kC64,
                            .checksum = true,
                            .sum_adds = true,
                            .encoding = "one pulse a bit, MSB first",
                            .description =
                                "Snakeload 5.0: 0 bits, a 1, \"eilyK\"; number, load, end; data; "
                                "sum",
                            .peers = kTapClean,
                            .pulses = {0x3F, 0x5F}};
const LoaderInfo kT2Info = {.name = "Snake50 T2",
                            .machines = kC64,
                            .checksum = true,
                            .sum_adds = true,
                            .encoding = "one pulse a bit, MSB first",
                            .description = "Snakeload 5.0 with longer pulses (0x60 / 0xA0)",
                            .peers = kTapClean,
                            .pulses = {0x60, 0xA0}};
const LoaderInfo kSnake51Info = {.name = "Snake51",
                                 .machines = kC64,
                                 .checksum = true,
                                 .encoding = "one pulse a bit, MSB first",
                                 .description =
                                     "Snakeload 5.1: 0 bits, a 1, a sync of 8; number, end, "
                                     "load high byte first; data; XOR, 1 added at each page's end",
                                 .peers = kTapClean,
                                 .pulses = {0x28, 0x48}};

// Thresholds halfway between a 0 and a 1, in half cycles; a pilot's 0 bits tell the three
// apart (T1's 504 cycles, T2's 768, 5.1's 320): each takes those nearer its own.
constexpr BitFormat kT1Bits = {2 * 632, 24, true}, kT2Bits = {2 * 1024, 27, true},
                    k51Bits = {2 * 448, 29, true};
constexpr std::uint32_t kT1From = 2 * 400, kT2From = 2 * 622;  // a pilot's 0 bits, half cycles
constexpr std::uint32_t kMinPilot = 1024;                      // 0 bits (TAPClean wants 1800)
constexpr std::uint32_t kTrailer = 16;  // 0 bits after a block that tell its end
constexpr std::uint8_t kSync50[] = {'e', 'i', 'l', 'y', 'K'};
constexpr std::uint8_t kSyncs51[][4] = {
    {0xC8, 0xC3, 0xD4, 0xC9}, {0x85, 0x8C, 0x8C, 0x85}, {0xB2, 0xB4, 0xB2, 0xD4}};

class Snakeload : public TurboLoader<Snakeload> {
 public:
  enum class Version { kT1, kT2, k51 };
  Snakeload(const LoaderInfo& info, FileSink& sink, Version version)
      : TurboLoader(info, sink,
                    version == Version::kT1   ? kT1Bits
                    : version == Version::kT2 ? kT2Bits
                                              : k51Bits),
        v51_(version == Version::k51),
        from_(version == Version::kT1   ? kT1From
              : version == Version::kT2 ? kT2From
                                        : 0),
        below_(version == Version::kT1   ? kT2From
               : version == Version::kT2 ? 0xFFFF
                                         : kT1From) {}

  bool accepts(const Pilot& pilot) {
    if (pilot.kind != Pilot::Kind::kRun || pilot.count < kMinPilot) return false;
    const std::uint32_t zero = pilot.average16 / 16;
    if (zero < from_ || zero >= below_) return false;  // another speed's pilot
    bits_.begin_after_bit(1);
    bytes_.clear();
    after_file_ = false;
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    // The first byte after the block before: its trailer of 0 bits ran into this block's
    // pilot (a block's end as the format has it), or other bits came at once (none).
    if (after_file_ && bytes_.empty()) settle(bits_.skipped() >= kTrailer);
    bytes_.push_back(v);
    const std::size_t n = bytes_.size();
    if (n <= sync_size()) {
      if (!sync_matches()) {
        if (after_file_) end_span();  // the trailer
        return false;
      }
      after_file_ &= n < sync_size();
      return true;
    }
    if (n == head_size() && end() != 0 && end() <= start()) return false;  // no header
    if (n < head_size() || n < head_size() + size() + 1) return true;
    emit_block(true);
    // The trailer's 0 bits, read as the next block's pilot: they may run into it.
    bits_.begin_after_bit(1);
    after_file_ = true;
    return true;
  }

  bool no_bit(std::uint64_t) {
    if (after_file_) {  // the pulses stopped in the trailer: the block ended where it said
      if (bytes_.empty()) settle(true);
      end_span();
    } else if (bytes_.size() >= head_size()) {
      emit_block(false);  // cut short
    }
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::size_t sync_size() const { return v51_ ? 8 : sizeof kSync50; }
  std::size_t head_size() const { return sync_size() + 5; }
  // The sync so far is the format's (5.1: its first 4 bytes one of those known, the rest any).
  bool sync_matches() const {
    const std::size_t n = bytes_.size();
    if (!v51_) return bytes_[n - 1] == kSync50[n - 1];
    return n > 4 || std::any_of(std::begin(kSyncs51), std::end(kSyncs51), [&](const auto& sync) {
             return std::equal(bytes_.begin(), bytes_.end(), sync);
           });
  }
  std::uint16_t word(std::size_t at) const {  // the head's address at `at`, in its byte order
    const std::size_t h = sync_size() + 1 + at;
    return static_cast<std::uint16_t>(v51_ ? bytes_[h] << 8 | bytes_[h + 1]
                                           : bytes_[h] | bytes_[h + 1] << 8);
  }
  std::uint16_t start() const { return word(v51_ ? 2 : 0); }
  std::uint16_t end() const { return word(v51_ ? 0 : 2); }
  std::size_t size() const {
    return end() == 0 ? 0x10000 - start() : static_cast<std::size_t>(end() - start());
  }

  void emit_block(bool complete) {
    const std::size_t n = std::min(size(), bytes_.size() - head_size());
    const auto from = bytes_.begin() + static_cast<long>(head_size());
    std::vector<std::uint8_t> data(from, from + static_cast<long>(n));
    const bool whole = complete && n == size();
    std::uint8_t x = 0;  // 5.0: the sum; 5.1: the XOR, 1 added at each page's end
    for (std::size_t k = 0; k < n; ++k) {
      x = v51_ ? static_cast<std::uint8_t>(x ^ data[k]) : static_cast<std::uint8_t>(x + data[k]);
      if (v51_ && static_cast<std::uint8_t>(start() + k) == 0xFF) ++x;
    }
    DataCheck check;
    check.op = v51_ ? DataCheck::Op::kXorStep : DataCheck::Op::kSum;
    check.end = static_cast<std::uint32_t>(n);
    check.address = static_cast<std::uint8_t>(start());
    check.expected = whole ? bytes_[head_size() + n] : -1;
    TapeFile f =
        file(Kind::kProgram, {}, start(), std::move(data),
             {true, 0, whole && x == check.expected, whole, check.expected, whole ? x : -1},
             span_offset(), span_time());
    if (whole) f.checks = {check};  // 5.1's check is no plain XOR
    f.end = end();
    f.evidence = static_cast<int>(sync_size()) + 1;  // the sync, and a head that checked out
    bytes_.clear();
    end_span();
    emit(std::move(f));
  }

  bool v51_;
  bool after_file_ = false;          // a block was read: its trailer, or the next block's pilot
  std::uint32_t from_, below_;       // the pilot's 0 bits this version takes
  std::vector<std::uint8_t> bytes_;  // from the sync on
};

std::unique_ptr<LoaderDecoder> make_t1(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Snakeload>(info, sink, Snakeload::Version::kT1);
}
std::unique_ptr<LoaderDecoder> make_t2(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Snakeload>(info, sink, Snakeload::Version::kT2);
}
std::unique_ptr<LoaderDecoder> make_51(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Snakeload>(info, sink, Snakeload::Version::k51);
}

}  // namespace

const LoaderEntry kSnake50T1Entry = {kT1Info, make_t1};
const LoaderEntry kSnake50T2Entry = {kT2Info, make_t2};
const LoaderEntry kSnake51Entry = {kSnake51Info, make_51};

}  // namespace tapewren::tape
