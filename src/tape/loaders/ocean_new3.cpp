// Ocean's New 3 loader.
//
// One pulse a bit, 0 about 0x2E and 1 about 0x49 TAP units, most significant bit first. Each
// block is one page: a pilot of 32 or more pulses far longer than either bit (about 0x80 TAP
// units), a 0 bit, a head of four bytes (the second the block's number: it loads at $0D00 + 256
// x number; the fourth the XOR of the data), then 256 bytes. Pages that load on make one file.
// Gremlin GBH has the same pulses and pilots: a pilot-long pulse inside the page cuts it, and
// a page is whole only where the pulses stop or the next pilot begins right after it. No boot
// file of it is recognised, and one check byte of a page holds by chance once in 256: two
// pages in a row, the second loading on from the first, one of them verified, prove the loader
// on the tape; until then a damaged page, or one verified alone, is no file.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kOceanNew3Entry;

namespace {

const LoaderInfo kInfo = {.name = "Ocean N3",
                          .machines = kC64,
                          .checksum = true,
                          .needs_boot = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "0x80 pulses, a 0; number, XOR; a page at $0D00 + 256 x "
                              "number; damaged pages told once two in a row prove it",
                          .peers = kTapClean,
                          .pulses = {0x2E, 0x49, 0x80}};
constexpr std::uint32_t kZero = 0x2E * 16, kOne = 0x49 * 16, kPilot = 0x80 * 16;  // half cycles
constexpr BitFormat kBits = {(kZero + kOne) / 2, kOne * 16 / kZero, true};
constexpr std::uint32_t kMinPilot = 32;  // pulses
constexpr std::size_t kHead = 4, kPage = 256;
constexpr std::size_t kNumber = 1, kCheck = 3;  // in the head
constexpr unsigned kFirstPage = 0x0D;
// A pulse this long (x16 of the bits' threshold) is the pilot's, midway between a 1 and it.
constexpr std::uint32_t kPilotRatio16 = 27;

class OceanNew3 : public TurboLoader<OceanNew3> {
 public:
  OceanNew3(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  bool engage(const Pilot& pilot, std::size_t from) override {
    Pilot bits;
    return run_as_bits(pilot, kMinPilot, kPilot, kZero, kOne, bits) &&
           TurboLoader::engage(bits, from);
  }

  bool accepts(const Pilot&) {
    bits_.begin_after_bit(0);  // the 0 that ends the pilot
    read_ = 0;
    after_ = 0;
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock& b, std::size_t i) {
    const bool pilot = pilot_pulse(b, i, kPilotRatio16);
    if (read_ == kHead + kPage) {
      // The next pilot right after the page, or a trailer's few pulses before it.
      if (pilot) return page_ended();
      if (++after_ < 2) return true;
      read_ = 0;  // bits go on: it was no page
      return false;
    }
    if (pilot) {  // the next pilot inside the page: cut short
      cut();
      return false;
    }
    if (read_ < kHead) {
      head_[read_++] = v;
      return read_ < kHead || head_[kNumber] + kFirstPage <= 0xFF;
    }
    data_[read_++ - kHead] = v;
    return true;
  }

  bool no_bit(std::uint64_t) {
    if (read_ == kHead + kPage) {
      page_ended();
    } else {
      cut();
    }
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::uint16_t start() const {
    return static_cast<std::uint16_t>((kFirstPage + head_[kNumber]) << 8);
  }

  // The page was read whole and ended as the format has it. A page whose XOR holds, loading
  // on from the page before (its head read), or after one whose XOR held, proves the loader on
  // the tape; the pages before the proof are files only with it.
  bool page_ended() {
    std::vector<std::uint8_t> data(data_.begin(), data_.end());
    const CopyReport report = xor_checked(data, head_[kCheck]);
    if (next_ == start() && (ok_ || report.checksum_ok)) boot_seen();
    next_ = static_cast<unsigned>(start() + kPage);
    ok_ = report.checksum_ok;
    chain_block(start(), std::move(data), report);
    end_span();
    read_ = 0;
    return false;
  }

  // The pulses stopped, or a pilot began, before the page's end: what of it was read (a page
  // with its head).
  void cut() {
    next_ = kNone;
    if (read_ > kHead) {
      next_ = static_cast<unsigned>(start() + kPage);
      std::vector<std::uint8_t> data(data_.begin(),
                                     data_.begin() + static_cast<long>(read_ - kHead));
      chain_block(start(), std::move(data), xor_checked({}, -1));
      end_span();
    }
    ok_ = false;
    read_ = 0;
  }

  static constexpr unsigned kNone = 0x10000;
  unsigned next_ = kNone;  // where a page after the last one read would load
  bool ok_ = false;        // that page's XOR held
  std::size_t read_ = 0;   // bytes of the page's head and data read
  std::size_t after_ = 0;  // bytes read past the page's end
  std::array<std::uint8_t, kHead> head_{};
  std::array<std::uint8_t, kPage> data_{};
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<OceanNew3>(info, sink);
}

}  // namespace

const LoaderEntry kOceanNew3Entry = {kInfo, make};

}  // namespace tapewren::tape
