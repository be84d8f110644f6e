// Turbo Tape 250 and its clones (the 9-to-1 countdown), and Turbotape 526.
//
// One pulse is one bit, short = 0 and long = 1 (about 208 and 320 cycles, TAP 0x1A and 0x28,
// the threshold near 0x20), most significant bit first, bytes back to back. Every block: a
// pilot of 0x02 bytes, the countdown 0x09..0x01 and an ID byte. ID 1 (BASIC) or 2 (binary):
// a header, the start and end address (little-endian, the end exclusive), one byte, the
// 16-byte name, then 0x20 filler; headers carry no checksum. ID 0: the data, end - start
// bytes and their XOR, then a trailer of zeros. Blocks are recorded once. With no checksum, a
// header is one by its filler: 171 bytes of 0x20 (128 at least must be read). Turbotape 526 is
// the same with longer pulses (0x31 and 0x4B, the threshold near 0x42), a 192-byte header
// payload and one byte 0x02 after it.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kTurboTape250Entry;
extern const LoaderEntry kTurbotape526Entry;

namespace {

const LoaderInfo kInfo = {
    .name = "Turbo Tape",
    .machines = kC64,
    .checksum = true,
    .encoding = "one pulse a bit, MSB first",
    .description =
        "Turbo Tape 250 and its clones: 0x02 pilot, 9..1 countdown, header and data; XOR",
    .peers = kTapClean | kWavPrg,
    .recordings = "the C64 turbo test tape",
    .pulses = {0x1A, 0x28}};
const LoaderInfo k526Info = {
    .name = "Turbo 526",
    .machines = kC64,
    .checksum = true,
    .encoding = "one pulse a bit, MSB first, longer pulses",
    .description = "Turbotape 526: Turbo Tape 250 with longer pulses; header and data; XOR",
    .peers = kTapClean,
    .pulses = {0x31, 0x4B}};
constexpr BitFormat kBits = {0x20 * 16, 25, true};
constexpr BitFormat k526Bits = {0x42 * 16, 24, true};
constexpr std::uint8_t kCountdown[] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
constexpr std::size_t kHeaderBytes = 21;  // start, end, one byte, the name

class TurboTape : public TurboLoader<TurboTape> {
 public:
  TurboTape(const LoaderInfo& info, FileSink& sink, const BitFormat& bits)
      : TurboLoader(info, sink, bits, {0x02, 32, kCountdown, sizeof kCountdown}) {}

  bool accepts(const Pilot& pilot) {
    if (!sync_pilot(pilot)) return false;
    phase_ = Phase::kSync;
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock& b, std::size_t i) {
    switch (phase_) {
      case Phase::kSync:
        return sync_then(v, phase_, Phase::kId);
      case Phase::kId:
        if (v > 2) return false;
        id_ = v;
        bytes_.clear();
        wanted_ = v == 0 ? next_data_ : kHeaderBytes;
        if (v == 0) next_data_ = 0;
        phase_ = v == 0 ? Phase::kData : Phase::kHeader;
        return true;
      case Phase::kHeader:
      case Phase::kData:
        bytes_.push_back(v);
        if (wanted_ == 0 || bytes_.size() < wanted_) return true;
        end_block(true);
        phase_ = id_ == 0 ? Phase::kTrailer : Phase::kFiller;
        fillers_ = 0;
        return true;
      case Phase::kFiller:  // the header's filler, up to the data block's pilot
        if (v == 0x20) {
          ++fillers_;
          return true;
        }
        end_filler();
        if (v == 0x02) {
          // The next pilot began with this byte, seven pulses back: the filler was the header's.
          const std::size_t first = i >= 7 ? i - 7 : 0;
          end_span();
          begin_span(b.offset[first], b.time[first], 8);
          resync(1);
          phase_ = Phase::kSync;
          return true;
        }
        end_span();
        return false;
      case Phase::kTrailer:  // zeros after the data
        return zero_trailer(v);
    }
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (phase_ == Phase::kHeader || phase_ == Phase::kData) {
      end_block(id_ == 0 && wanted_ == 0);  // data of unknown length ends when the bits do
    } else if (phase_ == Phase::kFiller || phase_ == Phase::kTrailer) {
      if (phase_ == Phase::kFiller) end_filler();
      end_span();
    }
    phase_ = Phase::kSync;
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
  enum class Phase { kSync, kId, kHeader, kFiller, kData, kTrailer };
  static constexpr int kMinFiller = 128;

  // A header without its filler was another loader's block read as one: no header.
  void end_filler() {
    if (fillers_ < kMinFiller) program_.reset();
  }

  void end_block(bool complete) {
    block_offset_ = span_offset();
    block_time_ = span_time();
    end_span();
    if (id_ != 0) {  // a header
      close_program(nullptr);
      if (!complete || bytes_.size() < kHeaderBytes) return without_header(complete);
      next_data_ =
          static_cast<std::uint16_t>((bytes_[2] | bytes_[3] << 8) - (bytes_[0] | bytes_[1] << 8)) +
          std::size_t{1};
      TapeFile f = file(Kind::kProgram, name_of(bytes_.data() + 5, 16),
                        static_cast<std::uint16_t>(bytes_[0] | bytes_[1] << 8), {}, {},
                        block_offset_, block_time_);
      f.type = id_;
      f.end = static_cast<std::uint16_t>(bytes_[2] | bytes_[3] << 8);
      f.header.copy[0] = {true, 0, true, true};  // no checksum: complete is all
      f.blocks.back().role = "header";
      f.blocks.back().start = -1;
      f.blocks.back().size = bytes_.size();
      f.blocks.back().state = f.header.copy[0];
      f.body = {};
      f.body_blocks = 0;
      program_ = std::move(f);
      header_offset_ = block_offset_;
      return;
    }
    if (program_) return close_program(&complete);
    without_header(complete);
  }

  CopyReport data_report(bool complete) const {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i + 1 < bytes_.size(); ++i) x ^= bytes_[i];
    CopyReport r{true, 0, complete && !bytes_.empty() && x == bytes_.back(), complete};
    if (complete && !bytes_.empty()) {
      r.sum_found = bytes_.back();
      r.sum_computed = x;
    }
    return r;
  }
  // The data without its check byte; a block cut short has none.
  std::vector<std::uint8_t> payload(bool complete) const {
    return {bytes_.begin(), bytes_.end() - (complete && !bytes_.empty() ? 1 : 0)};
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
    f.body.copy[0] = data_report(*data_complete);
    f.body_blocks = 1;
    f.data = payload(*data_complete);
    if (f.body.copy[0].sum_found >= 0)
      f.checks.push_back(data_check(DataCheck::Op::kXor, f.data, 0, f.data.size(),
                                    f.body.copy[0].sum_found, f.body.copy[0].sum_computed));
    f.blocks.push_back(read(f.start, f.data.size(), f.body.copy[0], block_offset_, block_time_));
    f.end_half_cycles = f.blocks.back().end_time;
    f.verdict = !*data_complete              ? Verdict::kIncomplete
                : f.body.copy[0].checksum_ok ? Verdict::kOk
                                             : Verdict::kBad;
    f.end_offset = here();
    f.evidence = sizeof kCountdown + 1;  // and the ID byte
    emit(std::move(f), true);            // its header, filler and all, and the data it announced
  }

  void without_header(bool complete) {
    TapeFile f = file(Kind::kDataWithoutHeader, {}, 0, payload(complete), data_report(complete),
                      block_offset_, block_time_);
    f.verdict = Verdict::kIncomplete;
    f.evidence = sizeof kCountdown + 1;
    emit(std::move(f));
  }

  Phase phase_ = Phase::kSync;
  int id_ = -1;
  std::vector<std::uint8_t> bytes_;
  std::size_t wanted_ = 0;     // bytes of the block being read; 0: until the pulses stop
  int fillers_ = 0;            // 0x20 bytes after the header
  std::size_t next_data_ = 0;  // the data length the last header announced (+ checksum)
  std::optional<TapeFile> program_;
  std::uint64_t header_offset_ = 0, block_offset_ = 0, block_time_ = 0;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<TurboTape>(info, sink, kBits);
}
std::unique_ptr<LoaderDecoder> make_526(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<TurboTape>(info, sink, k526Bits);
}

}  // namespace

const LoaderEntry kTurboTape250Entry = {kInfo, make};
const LoaderEntry kTurbotape526Entry = {k526Info, make_526};

}  // namespace tapewren::tape
