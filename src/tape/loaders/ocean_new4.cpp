// Ocean's New 4 loader.
//
// One pulse a bit, 0 about 0x24 and 1 about 0x44 TAP units, most significant bit first, and
// Freeload's pilot and sync: 0x40 bytes, then 0x5A. A head of six bytes: the block's number,
// the XOR of the data, the load and end address (little-endian, the end exclusive, 0 for the
// top of memory); the data, then filler up to a whole number of pages (or none, bits that
// stop right after the data). No boot file of it is recognised: only a block whose XOR
// verifies and that ends where it says is its, a damaged one is left to Freeload.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kOceanNew4Entry;

namespace {

const LoaderInfo kInfo = {.name = "Ocean N4",
                          .machines = kC64,
                          .checksum = true,
                          .needs_boot = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "0x40 pilot, 0x5A; number, XOR, load, end; data; filler to a page; "
                              "no boot known: a damaged block is left to Freeload",
                          .peers = kTapClean,
                          .pulses = {0x24, 0x44}};
constexpr std::uint8_t kSync[] = {0x5A};
BlockHead read_head(const std::uint8_t* h) {
  return start_end_to_top(le16(h + 2), le16(h + 4));
}
// The threshold at TAPClean's 0x2D TAP units, a little under midway.
const BlockLayout kLayout = {.bits = {0x2D * 16, 30, true},
                             .pilot = 0x40,
                             .min_pilot = 32,
                             .sync = kSync,
                             .sync_size = sizeof kSync,
                             .head = 6,
                             .read_head = read_head,
                             .sum = BlockLayout::Sum::kXorData,
                             .sum_in_head = 1,
                             .page_filler = true};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kOceanNew4Entry = {kInfo, make};

}  // namespace tapewren::tape
