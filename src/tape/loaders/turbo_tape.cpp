// Turbo Tape 250 and its clones (the 9-to-1 countdown).
//
// One pulse is one bit, short = 0 and long = 1 (about 208 and 320 cycles, TAP 0x1A and 0x28,
// the threshold near 0x20), most significant bit first, bytes back to back. Every block: a
// pilot of 0x02 bytes, the countdown 0x09..0x01 and an ID byte. ID 1 (BASIC) or 2 (binary):
// a header, the start and end address (little-endian, the end exclusive), one byte, the
// 16-byte name, then 0x20 filler; headers carry no checksum. ID 0: the data, end - start
// bytes and their XOR, then a trailer of zeros. Blocks are recorded once.
#include <algorithm>
#include <limits>
#include <optional>

#include "tape/machinery/countdown.hpp"

namespace tapewren::tape {

extern const LoaderEntry kTurboTape250Entry;

namespace {

const LoaderInfo kInfo = {
    "Turbo Tape",
    "C64",
    -1,
    true,
    false,
    "one pulse a bit, MSB first; 0x02 pilot, 9..1 countdown, ID; header and data; XOR"};
constexpr CountdownFormat kFormat = {0x02, 9, 32, 0x20 * 16, true};
constexpr std::size_t kHeaderBytes = 21;  // start, end, one byte, the name

struct Block {
  int id = -1;
  std::vector<std::uint8_t> bytes;
  bool complete = false;
  std::uint64_t offset = 0, time = 0, pulses = 0;
};

class TurboTape : public LoaderDecoder {
 public:
  TurboTape(const LoaderInfo& info, FileSink& sink) : info_(info), sink_(sink) {}

  bool engage(const Pilot& pilot, std::size_t from) override {
    if (!reader_.engage(pilot)) return false;
    begin(pilot.offset, pilot.time, pilot.count - (pilot.end - from));
    return true;
  }

  std::size_t take(const PulseBlock& b, std::size_t from) override {
    for (std::size_t i = from; i < b.count; ++i) {
      ++block_.pulses;
      const auto step = reader_.step(b.length[i]);
      if (step == CountdownReader::Step::kMore) continue;
      const std::uint64_t end = b.time[i] + b.length[i];
      if (step == CountdownReader::Step::kEnd) {  // no bit: the block, if any, is over
        if (phase_ == Phase::kHeader || phase_ == Phase::kData)
          end_block(phase_ == Phase::kData && wanted_ == 0, b.time[i]);
        if (phase_ == Phase::kFiller || phase_ == Phase::kTrailer)
          sink_.span(block_.time, b.time[i], block_.pulses);
        phase_ = Phase::kIdle;
        return i;
      }
      const std::uint8_t v = reader_.byte();
      switch (phase_) {
        case Phase::kIdle:
          break;
        case Phase::kId:
          if (v > 2) {
            reader_.stop();
            phase_ = Phase::kIdle;
            return i + 1;
          }
          block_.id = v;
          wanted_ = v == 0 ? next_data_ : kHeaderBytes;
          if (v == 0) next_data_ = 0;
          phase_ = v == 0 ? Phase::kData : Phase::kHeader;
          break;
        case Phase::kHeader:
        case Phase::kData:
          block_.bytes.push_back(v);
          if (wanted_ != 0 && block_.bytes.size() == wanted_) {
            const Phase next = phase_ == Phase::kData ? Phase::kTrailer : Phase::kFiller;
            end_block(true, end);
            begin(b.offset[i], end, 0);
            phase_ = next;
          }
          break;
        case Phase::kTrailer:  // zeros after the data
          last_end_ = end;
          if (v != 0) {
            sink_.span(block_.time, end, block_.pulses);
            reader_.stop();
            phase_ = Phase::kIdle;
            return i + 1;
          }
          break;
        case Phase::kFiller:  // the header's filler, up to the data block's pilot
          if (v == kFormat.pilot) {
            // The next pilot began with this byte, seven pulses back; the filler belongs to
            // the header before it.
            const std::size_t first = i >= 7 ? i - 7 : 0;
            sink_.span(block_.time, b.time[first], block_.pulses);
            begin(b.offset[first], b.time[first], 8);
            reader_.back_to_pilot();
            phase_ = Phase::kId;
          } else if (v != 0x20) {
            reader_.stop();
            phase_ = Phase::kIdle;
            return i + 1;
          }
          break;
      }
    }
    return b.count;
  }

  bool engaged() const override { return reader_.engaged(); }
  std::uint64_t holding() const override {
    std::uint64_t at = std::numeric_limits<std::uint64_t>::max();
    if (program_) at = program_->offset;
    if (reader_.engaged()) at = std::min(at, block_.offset);
    return at;
  }
  void finish() override {
    if (reader_.engaged() && (phase_ == Phase::kHeader || phase_ == Phase::kData))
      end_block(phase_ == Phase::kData && wanted_ == 0, 0);
    if (reader_.engaged() && phase_ == Phase::kTrailer)
      sink_.span(block_.time, last_end_, block_.pulses);
    reader_.stop();
    phase_ = Phase::kIdle;
    close_program(nullptr);
  }
  void marks(std::vector<Mark>& out) const override {
    if (blocks_ > 0)
      out.push_back(
          {std::string(info_.name) + " 0|1", sum_threshold_ / static_cast<double>(blocks_)});
  }

 private:
  enum class Phase { kIdle, kId, kHeader, kFiller, kData, kTrailer };

  void begin(std::uint64_t offset, std::uint64_t time, std::uint64_t pulses) {
    block_ = Block{};
    block_.offset = offset;
    block_.time = time;
    block_.pulses = pulses;
    phase_ = Phase::kId;
  }

  void end_block(bool complete, std::uint64_t end) {
    Block b = std::move(block_);
    block_ = Block{};
    b.complete = complete;
    sink_.span(b.time, std::max(end, b.time), b.pulses);
    sum_threshold_ += reader_.threshold() / 2.0;  // in cycles
    ++blocks_;
    if (b.id != 0) {  // a header
      close_program(nullptr);
      if (b.bytes.size() < kHeaderBytes) return without_header(b);
      next_data_ = static_cast<std::uint16_t>((b.bytes[2] | b.bytes[3] << 8) -
                                              (b.bytes[0] | b.bytes[1] << 8)) +
                   std::size_t{1};
      program_ = from_header(b);
    } else if (program_) {
      close_program(&b);
    } else {
      without_header(b);
    }
  }

  static CopyReport data_report(const Block& b) {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i + 1 < b.bytes.size(); ++i) x ^= b.bytes[i];
    const bool sum = b.complete && !b.bytes.empty() && x == b.bytes.back();
    return {true, 0, sum, b.complete};
  }

  TapeFile from_header(const Block& b) const {
    TapeFile f;
    f.loader = &info_;
    f.kind = Kind::kProgram;
    f.type = b.id;
    f.start = static_cast<std::uint16_t>(b.bytes[0] | b.bytes[1] << 8);
    f.end = static_cast<std::uint16_t>(b.bytes[2] | b.bytes[3] << 8);
    std::copy_n(b.bytes.begin() + 5, 16, f.name.begin());
    f.header.copy[0] = {true, 0, b.complete, b.complete};  // no checksum: complete is all
    f.offset = b.offset;
    f.half_cycles = b.time;
    f.seconds = sink_.seconds(b.time);
    return f;
  }

  void close_program(const Block* data) {
    if (!program_) return;
    TapeFile f = std::move(*program_);
    program_.reset();
    if (!data) {
      f.kind = Kind::kHeaderOnly;
      f.verdict = Verdict::kIncomplete;
      return sink_.file(std::move(f));
    }
    f.body.copy[0] = data_report(*data);
    f.body_blocks = 1;
    f.data.assign(data->bytes.begin(), data->bytes.end() - (data->bytes.empty() ? 0 : 1));
    f.verdict = !data->complete              ? Verdict::kIncomplete
                : f.body.copy[0].checksum_ok ? Verdict::kOk
                                             : Verdict::kBad;
    sink_.file(std::move(f));
  }

  void without_header(const Block& b) {
    TapeFile f;
    f.loader = &info_;
    f.kind = Kind::kDataWithoutHeader;
    f.body.copy[0] = data_report(b);
    f.body_blocks = 1;
    f.data.assign(b.bytes.begin(), b.bytes.end() - (b.bytes.empty() ? 0 : 1));
    f.verdict = Verdict::kIncomplete;
    f.offset = b.offset;
    f.half_cycles = b.time;
    f.seconds = sink_.seconds(b.time);
    sink_.file(std::move(f));
  }

  const LoaderInfo& info_;
  FileSink& sink_;
  CountdownReader reader_{kFormat};
  Phase phase_ = Phase::kIdle;
  Block block_;
  std::size_t wanted_ = 0;      // bytes of the block being read; 0: until the pulses stop
  std::uint64_t last_end_ = 0;  // of the trailer's last byte
  std::size_t next_data_ = 0;   // the data length the last header announced (+ checksum)
  std::optional<TapeFile> program_;
  double sum_threshold_ = 0;
  std::uint64_t blocks_ = 0;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<TurboTape>(info, sink);
}

}  // namespace

const LoaderEntry kTurboTape250Entry = {kInfo, make};

}  // namespace tapewren::tape
