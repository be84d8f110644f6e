// Ocean/Imagine (F1, F2, F3).
//
// One pulse a bit, 0 about 0x24 and 1 about 0x56 TAP units (the threshold at 480 cycles),
// least significant bit first. A pilot of 3,000 to 13,000 0 bits (4,112 on Arkanoid) and a
// 1; F2 and F3 then 0xAA. Then sub-blocks with no gap: a flag byte (the loader's options for
// that page: which RAM to switch in, colour RAM; any value), the high byte of the page they
// load to, 256 bytes. No checksum. F1 and F2 end with a page of 0 and a trailer of 0 bits,
// F3 with a page of 2 and a trailer of 0x02 bytes. Sub-blocks that load back to back are one
// file. The boot file, loaded at 0x0316 by the ROM loader, holds the loader's byte handler:
// with no checksum, that and the end of the chain are what show a chain to be Ocean's.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kOceanEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Ocean",
    .machines = kC64,
    .needs_boot = true,
    .boot_code = true,
    .encoding = "one pulse a bit, LSB first",
    .description =
        "Ocean/Imagine F1-F3: 3,000+ 0 bits, a 1; flag (the loader's options), page, 256 bytes; "
        "page 0 and 0 bits end it; no checksum; its boot's byte handler recognised",
    .peers = kTapClean,
    .recordings = "Arkanoid",
    .pulses = {0x24, 0x56}};
constexpr BitFormat kBits = {960, 38, false};
constexpr std::uint32_t kMinPilot = 3000;    // 0 bits
constexpr std::uint32_t kMinTrailer = 1024;  // 0 bits after a page of 0 (2,047 on Arkanoid)
// The byte handler of the boot file (BCC; LDY #$80; LDA $02; STY $02; LDY $03; BEQ; STA
// $000A,Y; DEC $03; BNE; ORA #0; BNE; INC $04), and the start of the variant with a byte
// before the sub-blocks (BNE; SEI; LDA #1; STA ...; LDA #$EA; STA).
constexpr std::array<std::int16_t, 25> kHandler = {
    0x90, -1,   0xA0, 0x80, 0xA5, 0x02, 0x84, 0x02, 0xA4, 0x03, 0xF0, -1,  0x99,
    0x0A, 0x00, 0xC6, 0x03, 0xD0, -1,   0x09, 0x00, 0xD0, -1,   0xE6, 0x04};
constexpr std::array<std::int16_t, 21> kVariant = {0xD0, 0x09, 0x78, 0xA9, 0x01, 0x8D, -1,
                                                   -1,   -1,   -1,   -1,   -1,   -1,   -1,
                                                   -1,   -1,   -1,   -1,   0xA9, 0xEA, 0x8D};
constexpr std::array<std::int16_t, 20> kVariantZp = {0xD0, 0x08, 0x78, 0xA9, 0x01, 0x85, -1,
                                                     -1,   -1,   -1,   -1,   -1,   -1,   -1,
                                                     -1,   -1,   -1,   0xA9, 0xEA, 0x8D};

class Ocean : public TurboLoader<Ocean> {
 public:
  Ocean(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  void seen(const TapeFile& f) override {
    if (f.start == 0x0316 &&
        (has_code(f.data, kHandler) || has_code(f.data, kVariant) || has_code(f.data, kVariantZp)))
      boot_seen();
  }

  bool accepts(const Pilot& pilot) {
    // A run of 0 bits: of the documented length, and short pulses.
    if (pilot.kind != Pilot::Kind::kRun || pilot.count < kMinPilot ||
        pilot.average16 >= kBits.threshold * 16)
      return false;
    bits_.begin_after_bit(1);
    bytes_.clear();
    started_ = false;
    trailing_ = false;
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!started_) {  // F2 and F3: 0xAA first
      started_ = true;
      if (trailing_) {  // the trailer ran into a pilot with no pause between
        const std::uint32_t zeros = bits_.skipped();
        end_trailer(zeros);
        if (zeros < kMinPilot + kMinTrailer) return false;
      }
      if (v == 0xAA) return true;
    }
    bytes_.push_back(v);
    if (bytes_.size() == 2 && v == 0) {        // F1 and F2: a page of 0 ends it, then 0 bits
      if (chained() == 0) return end_chain();  // an end with nothing before it: not a chain
      flush();
      bits_.begin_after_bit(1);  // which may run into the next file's pilot
      started_ = false;
      trailing_ = true;
      return true;
    }
    if (bytes_.size() < 258) return true;
    if (bytes_[1] == 2 &&
        std::all_of(bytes_.begin() + 2, bytes_.end(), [](std::uint8_t x) { return x == 2; })) {
      return end_chain(chained() > 0);  // F3: a page of 2 and its trailer
    }
    add_block(true);
    return true;
  }

  bool no_bit(std::uint64_t) {
    if (trailing_) {
      end_trailer(bits_.skipped());
      return false;
    }
    if (bytes_.size() >= 2) add_block(false);  // a sub-block cut short
    end_chain();
    return false;
  }
  void close() { no_bit(0); }

 private:
  void add_block(bool complete) {
    chain_block(static_cast<std::uint16_t>(bytes_[1] << 8), {bytes_.begin() + 2, bytes_.end()},
                {true, 0, complete, complete});
    bytes_.clear();
  }
  // The 0 bits after a page of 0: the chain's end, when there are enough of them.
  void end_trailer(std::uint32_t zeros) {
    end_span();
    trailing_ = false;
    new_chain();
    bytes_.clear();
    settle(zeros >= kMinTrailer);
  }
  // The chain ends; `whole`: on its end mark, which proves the structure.
  bool end_chain(bool whole = false) {
    if (chained() > 0 || trailing_) end_span();
    trailing_ = false;
    flush();
    settle(whole);
    new_chain();
    bytes_.clear();
    return false;
  }

  std::vector<std::uint8_t> bytes_;  // the sub-block being read
  bool started_ = false, trailing_ = false;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Ocean>(info, sink);
}

}  // namespace

const LoaderEntry kOceanEntry = {kInfo, make};

}  // namespace tapewren::tape
