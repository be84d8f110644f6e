// Super Tape (Input 64's tapes, Magic Bytes' games).
//
// Bits written as half waves (HalfWaveBits): short, medium and long pulses (0x21, 0x32 and
// 0x43 TAP units), least significant bit first. Every block: a pilot of 0x16 bytes (some 64;
// more than 9), a sync byte that the loader ANDs with 0xEF (0x2A a header, 0xC5 data), the
// block's bytes, then the count of their 1 bits (16 bits, little-endian). A header: 25 bytes,
// the name (16), a byte, the load address and the size (little-endian), four bytes. The data
// block after it: the size it told. The two make one file. Only a header whose count holds
// tells a size; data without one is told (with no address) only where a count holds at its end.
#include <bit>

#include "tape/machinery/half_wave_bits.hpp"
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kSuperTapeEntry;

namespace {

const LoaderInfo kInfo = {.name = "Super Tape",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "half waves: 3 pulse lengths read in 2 states, LSB first",
                          .description =
                              "Super Tape: 0x16 pilot, 0x2A header (name, load, size), 0xC5 data; "
                              "each with its count of 1 bits",
                          .peers = kTapClean,
                          .check = "count of 1 bits",
                          .pulses = {0x21, 0x32, 0x43}};
// Half waves of one length and twice it: pulses of two, three and four of the short ones.
constexpr HalfWaveFormat kBits = {.medium_ratio16 = 24, .long_ratio16 = 32};
constexpr std::uint8_t kPilot = 0x16;
constexpr int kMinPilot = 10;
constexpr std::uint8_t kSyncMask = 0xEF, kHeaderSync = 0x2A, kDataSync = 0xC5;
constexpr std::size_t kHeader = 25, kCount = 2;
constexpr std::size_t kTrailing = 4;  // bytes read after a headerless block's count, at most
// The pilot's 13 pulses (two bytes of 0x16), each as the search tells it (0 short, 1 medium,
// 2 long), the first in time in the highest bits.
constexpr std::uint8_t kPilotPulses[13] = {0, 2, 0, 1, 0, 0, 0, 1, 1, 1, 0, 0, 0};

// Whether the search's pattern is the pilot's, from any of its pulses.
bool pilot_pattern(const Pilot& pilot) {
  if (pilot.kind != Pilot::Kind::kThree || pilot.period != 13) return false;
  for (int from = 0; from < 13; ++from) {
    std::uint32_t pattern = 0;
    for (int k = 0; k < 13; ++k) pattern = pattern << 2 | kPilotPulses[(from + k) % 13];
    if (pattern == pilot.pattern) return true;
  }
  return false;
}

unsigned ones(const std::vector<std::uint8_t>& bytes, std::size_t begin, std::size_t end) {
  unsigned n = 0;
  for (std::size_t i = begin; i < end; ++i) n += static_cast<unsigned>(std::popcount(bytes[i]));
  return n & 0xFFFF;
}

class SuperTape : public TurboLoader<SuperTape, HalfWaveBits> {
 public:
  SuperTape(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  bool accepts(const Pilot& pilot) {
    if (!pilot_pattern(pilot)) return false;
    bits_.begin_at(kPilot);
    // The pilot's bytes before its last four, where reading begins (the bytes read count too).
    pilot_bytes_ = static_cast<int>(pilot.count * 2 / 13) - 4;
    phase_ = Phase::kPilot;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    switch (phase_) {
      case Phase::kPilot: {
        if (v == kPilot) {
          ++pilot_bytes_;
          return true;
        }
        const std::uint8_t sync = v & kSyncMask;
        if (pilot_bytes_ < kMinPilot || (sync != kHeaderSync && sync != kDataSync)) return false;
        phase_ = sync == kHeaderSync ? Phase::kHeader : Phase::kData;
        wanted_ = sync == kHeaderSync ? kHeader + kCount : program_ ? size_ + kCount : 0;
        return true;
      }
      case Phase::kHeader:
      case Phase::kData:
        bytes_.push_back(v);
        // Without a header, the block goes on until the pulses stop (no more than a size tells).
        if (wanted_ > 0 ? bytes_.size() < wanted_ : bytes_.size() < 0x10000 + kCount + kTrailing)
          return true;
        end_block(true);
        return false;
    }
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (phase_ != Phase::kPilot) end_block(false);
    phase_ = Phase::kPilot;
    return false;
  }

  void close() {
    no_bit(0);
    close_program(nullptr);
  }

  // A header still waiting for its data when the recording ends is a file of its own.
  void finish() override {
    TurboLoader::finish();
    close_program(nullptr);
  }

  std::uint64_t holding() const override {
    const std::uint64_t at = TurboLoader::holding();
    return program_ ? std::min(at, header_offset_) : at;
  }

 private:
  enum class Phase { kPilot, kHeader, kData };

  // The count on tape after `n` bytes, -1 where it was not read.
  int count_at(std::size_t n) const {
    return bytes_.size() >= n + kCount ? bytes_[n] | bytes_[n + 1] << 8 : -1;
  }

  CopyReport report(std::size_t n, bool complete) const {
    const int found = complete ? count_at(n) : -1;
    const int computed = static_cast<int>(ones(bytes_, 0, std::min(n, bytes_.size())));
    return {true,       0,     found >= 0 && found == computed,
            found >= 0, found, found >= 0 ? computed : -1};
  }

  void end_block(bool complete) {
    block_offset_ = span_offset();
    block_time_ = span_time();
    if (phase_ == Phase::kHeader) return end_header(complete);
    if (program_) return end_data(complete);
    // Without a header: a block only where its count holds over what comes before it.
    for (std::size_t k = 0; k <= kTrailing && k + kCount < bytes_.size(); ++k) {
      const std::size_t n = bytes_.size() - kCount - k;
      if (count_at(n) != static_cast<int>(ones(bytes_, 0, n))) continue;
      end_span();
      TapeFile f = file(Kind::kDataWithoutHeader, {}, 0,
                        {bytes_.begin(), bytes_.begin() + static_cast<long>(n)}, report(n, true),
                        block_offset_, block_time_);
      f.checks.assign(1, check(n));
      f.verdict = Verdict::kIncomplete;
      f.evidence = 1;
      return emit(std::move(f));
    }
  }

  DataCheck check(std::size_t n) const {
    DataCheck c;
    c.op = DataCheck::Op::kOnes;
    c.end = static_cast<std::uint32_t>(n);
    c.expected = count_at(n);
    return c;
  }

  // A header whose count does not hold tells nothing: the data after it is one without.
  void end_header(bool complete) {
    close_program(nullptr);
    const CopyReport r = report(kHeader, complete);
    if (!r.checksum_ok) return;
    end_span();
    start_ = static_cast<std::uint16_t>(bytes_[17] | bytes_[18] << 8);
    size_ = static_cast<std::size_t>(bytes_[19] | bytes_[20] << 8);
    TapeFile f = file(Kind::kProgram, name_of(bytes_.data(), 16), start_, {}, {}, block_offset_,
                      block_time_);
    f.header_bytes.assign(bytes_.begin(), bytes_.begin() + kHeader);
    f.end = static_cast<std::uint16_t>(start_ + size_);
    f.header.copy[0] = r;
    f.blocks.back().role = "header";
    f.blocks.back().start = -1;
    f.blocks.back().size = kHeader;
    f.blocks.back().state = r;
    f.body = {};
    f.body_blocks = 0;
    f.checks.clear();
    program_ = std::move(f);
    header_offset_ = block_offset_;
  }

  void end_data(bool complete) {
    end_span();
    close_program(&complete);
  }

  void close_program(const bool* data_complete) {
    if (!program_) return;
    TapeFile f = std::move(*program_);
    program_.reset();
    if (!data_complete) {
      f.kind = Kind::kHeaderOnly;
      f.verdict = Verdict::kIncomplete;
      return emit(std::move(f));
    }
    const std::size_t n = std::min(size_, bytes_.size());
    f.body.copy[0] = report(size_, *data_complete);
    f.body_blocks = 1;
    f.data.assign(bytes_.begin(), bytes_.begin() + static_cast<long>(n));
    if (f.body.copy[0].sum_found >= 0) f.checks.assign(1, check(size_));
    f.blocks.push_back(read(start_, n, f.body.copy[0], block_offset_, block_time_));
    f.end_half_cycles = f.blocks.back().end_time;
    f.verdict = !f.body.copy[0].complete     ? Verdict::kIncomplete
                : f.body.copy[0].checksum_ok ? Verdict::kOk
                                             : Verdict::kBad;
    f.end_offset = here();
    f.evidence = static_cast<int>(1 + kHeader + kCount);  // the sync and the header, counted
    emit(std::move(f), true);                             // its header and the data it announced
  }

  Phase phase_ = Phase::kPilot;
  int pilot_bytes_ = 0;
  std::vector<std::uint8_t> bytes_;  // the block's, after its sync
  std::size_t wanted_ = 0;           // its bytes and count; 0: until the pulses stop
  std::optional<TapeFile> program_;  // the last header, waiting for its data
  std::uint16_t start_ = 0;
  std::size_t size_ = 0;
  std::uint64_t header_offset_ = 0, block_offset_ = 0, block_time_ = 0;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<SuperTape>(info, sink);
}

}  // namespace

const LoaderEntry kSuperTapeEntry = {kInfo, make};

}  // namespace tapewren::tape
