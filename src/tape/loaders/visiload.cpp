// Visiload (types 1 to 7, which differ in their pulse lengths).
//
// One pulse a bit, 0 about 0x25 and 1 about 0x4B TAP units on type 2 (the threshold at 486
// cycles); each byte led by a bit of 1; most significant bit first to begin with. A pilot of
// 0x00 bytes and the sync 0x16, then blocks: the end and the start address high byte first
// (the end exclusive; a block of start = end holds one byte), the data. The next block
// follows at once, with no pilot, unless the last one loaded at 0x03BB. Blocks loaded to
// some addresses change how the next ones are read: at 0x0347 the bit order (0x26 most
// significant bit first, else least), at 0x034B the bits a byte takes, at 0x03A4 the bytes
// in front of the addresses. No checksum: a block checks out by its lead bits. Blocks that
// load back to back are one file. Addresses of 0 are the next file's pilot. The boot file,
// loaded to 0x029F-0x03C0 by the ROM loader, sets the threshold at 0x0378 (LDA #lo; STA
// $DD04; LDA #hi; STA $DD05): a chain is Visiload's when that file was read before it.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kVisiloadEntry;

namespace {

const LoaderInfo kInfo = {
    "Visiload", kC64,
    -1,         false,
    false,      "one pulse a bit, a lead bit a byte; 0x00 pilot, 0x16; blocks that set the next",
    false,      true};
constexpr BitFormat kBits = {972, 32, true, 1};
constexpr std::uint8_t kSync[] = {0x16};
constexpr std::array<std::int16_t, 10> kTimer = {0xA9, -1, 0x8D, 0x04, 0xDD,
                                                 0xA9, -1, 0x8D, 0x05, 0xDD};

// The pattern the search saw is a pilot byte of 0 led by a 1, from any bit.
bool visiload_pilot(const Pilot& p) {
  if (p.kind != Pilot::Kind::kBytes || p.period != 9) return false;
  std::uint32_t v = 0x100;
  for (int k = 0; k < 9; ++k) {
    if (p.pattern == v) return true;
    v = ((v << 1) | (v >> 8)) & 0x1FF;
  }
  return false;
}

class Visiload : public TurboLoader<Visiload> {
 public:
  Visiload(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  void seen(const TapeFile& f) override {
    constexpr std::size_t kAt = 0x0378 - 0x029F;
    if (f.start != 0x029F || f.data.size() < kAt + kTimer.size()) return;
    const std::vector<std::uint8_t> code(f.data.begin() + kAt,
                                         f.data.begin() + kAt + kTimer.size());
    if (has_code(code, kTimer)) boot_seen();
  }

  bool accepts(const Pilot& pilot) {
    if (!visiload_pilot(pilot)) return false;
    extra_ = 0;
    bits_.begin_at(0x00);
    sync_.start(static_cast<int>(pilot.count / 9) - 2);
    synced_ = false;
    framed_ = true;
    blocks_ = 0;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock& b, std::size_t i) {
    if (!synced_) {
      const auto step = sync_.byte(v);
      synced_ = step == PilotSync::Step::kSynced;
      if (step == PilotSync::Step::kFail) return end_chain();
      return true;
    }
    framed_ &= bits_.framed();
    bytes_.push_back(v);
    if (bytes_.size() < extra_ + 4) return true;
    if (bytes_.size() == extra_ + 4 && end() == 0 && start() == 0) {
      // Addresses of 0: the pilot of the next file, with no pause before it.
      end_chain();
      bits_.reset_format();
      extra_ = 0;
      sync_.start(4);
      synced_ = false;
      bytes_.clear();
      return true;
    }
    if (bytes_.size() < extra_ + 4 + size()) return true;
    end_block(true);
    next_offset_ = i + 1 < b.count ? b.offset[i + 1] : here();
    next_time_ = i + 1 < b.count ? b.time[i + 1] : 0;
    return true;
  }

  bool no_bit(std::uint64_t) {
    if (synced_ && bytes_.size() >= extra_ + 4) end_block(false);
    return end_chain();
  }
  void close() { no_bit(0); }

 private:
  std::uint16_t end() const {
    return static_cast<std::uint16_t>(bytes_[extra_] << 8 | bytes_[extra_ + 1]);
  }
  std::uint16_t start() const {
    return static_cast<std::uint16_t>(bytes_[extra_ + 2] << 8 | bytes_[extra_ + 3]);
  }
  std::size_t size() const {
    return end() == start() ? 1 : static_cast<std::uint16_t>(end() - start());
  }

  void end_block(bool complete) {
    TurboBlock block;
    block.start = start();
    block.data.assign(bytes_.begin() + static_cast<long>(extra_ + 4), bytes_.end());
    block.report = {true, 0, complete && framed_, complete};
    block.offset = blocks_ == 0 ? span_offset() : next_offset_;
    block.time = blocks_ == 0 ? span_time() : next_time_;
    block.end_offset = here();
    const std::uint8_t d = block.data.empty() ? 0 : block.data[0];
    // What the block changes for the ones after it.
    if (block.start == 0x0347) bits_.set_msb_first(d == 0x26);
    if (block.start == 0x034B && d >= 8) bits_.set_lead_bits(d - 8);
    if (block.start == 0x03A4 && d >= 3) extra_ = d - 3u;
    if (block.start == 0x03BB) {
      bits_.begin_at(0x00);
      sync_.start(0);
      synced_ = false;
    }
    const bool separate = block.start >= 0x0300 && block.start < 0x0400;
    if (separate) flush();
    chain(std::move(block));
    if (separate) flush();
    ++blocks_;
    bytes_.clear();
    framed_ = true;
  }
  bool end_chain() {
    if (blocks_ > 0) end_span();
    flush();
    blocks_ = 0;
    return false;
  }

  PilotSync sync_{0x00, 16, kSync, sizeof kSync};
  bool synced_ = false, framed_ = true;
  std::size_t extra_ = 0;
  int blocks_ = 0;
  std::vector<std::uint8_t> bytes_;
  std::uint64_t next_offset_ = 0, next_time_ = 0;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Visiload>(info, sink);
}

}  // namespace

const LoaderEntry kVisiloadEntry = {kInfo, make};

}  // namespace tapewren::tape
