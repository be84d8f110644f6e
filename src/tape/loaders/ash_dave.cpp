// Ash & Dave's loader.
//
// One pulse a bit, 0 about 0x22 and 1 about 0x44 TAP units, most significant bit first. A
// tape holds several blocks, each a file: 100 pilot bytes of 0x80 at least, the sync 0x40,
// the block's number, the load and end address (little-endian, the end exclusive, 0 for up to
// 0xFFFF), the data, then the bytes 0x00 0x01 0x02 0x04 ... 0x80 0x11 0x22 ... 0x66 (and 0x77,
// whose last pulse tapes often lose). No checksum: the block is whole when those 15 bytes all
// came. No boot file is known: no file of it is more than unverified.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kAshDaveEntry;

namespace {

const LoaderInfo kInfo = {.name = "Ash & Dave",
                          .machines = kC64,
                          .needs_boot = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "100+ bytes of 0x80, 0x40; number, load, end; data; 0x00 0x01 0x02 "
                              "0x04 .. 0x80 0x11 0x22 .. 0x66; no checksum; no boot known: "
                              "unverified at best",
                          .peers = kTapClean | kWavPrg,
                          .pulses = {0x22, 0x44}};
constexpr std::uint8_t kSync[] = {0x40};
BlockHead read_head(const std::uint8_t* h) {
  return start_end_to_top(le16(h + 1), le16(h + 3));
}
constexpr std::uint8_t kPost[] = {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40,
                                  0x80, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
std::uint8_t post_byte(std::size_t i) {
  return kPost[i];
}
// Between 0x22 and 0x44 (408 cycles).
const BlockLayout kLayout = {.bits = {816, 32, true},
                             .pilot = 0x80,
                             .min_pilot = 100,
                             .sync = kSync,
                             .sync_size = sizeof kSync,
                             .head = 5,
                             .read_head = read_head,
                             .sum = BlockLayout::Sum::kNone,
                             .post = sizeof kPost,
                             .post_byte = post_byte};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kAshDaveEntry = {kInfo, make};

}  // namespace tapewren::tape
