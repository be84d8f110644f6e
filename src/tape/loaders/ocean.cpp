// Ocean/Imagine (F1, F2, F3).
//
// One pulse a bit, 0 about 0x24 and 1 about 0x56 TAP units (the threshold at 480 cycles),
// least significant bit first. A pilot of about 3,000 0 bits and a 1; F2 and F3 then 0xAA.
// Then sub-blocks with no gap: a flag (0 or 1), the high byte of the page they load to, 256
// bytes. No checksum: a sub-block checks out by its flag. F1 and F2 end with a page of 0,
// F3 with a page of 2 followed by a trailer of 0x02 bytes. Sub-blocks that load back to back
// are one file.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kOceanEntry;

namespace {

const LoaderInfo kInfo = {
    "Ocean", "C64", -1,
    false,   false, "one pulse a bit, LSB first; 0 bits, a 1, (0xAA); flag, page, 256 bytes"};
constexpr BitFormat kBits = {960, 38, false};

class Ocean : public TurboLoader<Ocean> {
 public:
  Ocean(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  bool accepts(const Pilot& pilot) {
    if (pilot.kind != Pilot::Kind::kRun || pilot.count < 256) return false;
    bits_.begin_after_bit(1);
    bytes_.clear();
    blocks_ = 0;
    started_ = false;
    trailing_ = false;
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock& b, std::size_t i) {
    if (!started_) {  // F2 and F3: 0xAA first
      started_ = true;
      if (trailing_ && bits_.skipped() < 256) return end_chain();  // not a trailer and pilot
      if (v == 0xAA) return true;
    }
    if (bytes_.empty() && v > 1) return end_chain();  // no flag: not a sub-block
    trailing_ = false;
    bytes_.push_back(v);
    if (bytes_.size() == 2 && v == 0) {      // F1 and F2: a page of 0 ends it, then 0 bits
      if (blocks_ == 0) return end_chain();  // an end with nothing before it: not a chain
      end_chain();
      bits_.begin_after_bit(1);  // which may run into the next file's pilot
      started_ = false;
      trailing_ = true;
      return true;
    }
    if (bytes_.size() < 258) return true;
    if (bytes_[1] == 2 &&
        std::all_of(bytes_.begin() + 2, bytes_.end(), [](std::uint8_t x) { return x == 2; }))
      return end_chain();  // F3: a page of 2 and its trailer
    TurboBlock block;
    block.start = static_cast<std::uint16_t>(bytes_[1] << 8);
    block.data.assign(bytes_.begin() + 2, bytes_.end());
    block.report = {true, 0, true, true};
    block.offset = blocks_ == 0 ? span_offset() : next_offset_;
    block.time = blocks_ == 0 ? span_time() : next_time_;
    block.end_offset = here();
    chain(std::move(block));
    ++blocks_;
    bytes_.clear();
    next_offset_ = i + 1 < b.count ? b.offset[i + 1] : here();
    next_time_ = i + 1 < b.count ? b.time[i + 1] : 0;
    return true;
  }

  bool no_bit(std::uint64_t) {
    if (bytes_.size() >= 2) {  // a sub-block cut short
      TurboBlock block;
      block.start = static_cast<std::uint16_t>(bytes_[1] << 8);
      block.data.assign(bytes_.begin() + 2, bytes_.end());
      block.report = {true, 0, false, false};
      block.offset = blocks_ == 0 ? span_offset() : next_offset_;
      block.time = blocks_ == 0 ? span_time() : next_time_;
      block.end_offset = here();
      chain(std::move(block));
    }
    end_chain();
    return false;
  }
  void close() { no_bit(0); }

 private:
  bool end_chain() {
    if (blocks_ > 0 || trailing_) end_span();
    trailing_ = false;
    flush();
    blocks_ = 0;
    bytes_.clear();
    return false;
  }

  std::vector<std::uint8_t> bytes_;  // the sub-block being read
  int blocks_ = 0;
  bool started_ = false, trailing_ = false;
  std::uint64_t next_offset_ = 0, next_time_ = 0;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Ocean>(info, sink);
}

}  // namespace

const LoaderEntry kOceanEntry = {kInfo, make};

}  // namespace tapewren::tape
