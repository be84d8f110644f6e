// Ocean's New 2 loader.
//
// Freeload's block with one byte more in its head: one pulse a bit, 0 about 0x22 and 1 about
// 0x42 TAP units, most significant bit first; a pilot of 0x40 bytes, the sync 0x5A, the load
// and end address (little-endian, the end exclusive), an ID byte, the data and the XOR of the
// data. No boot file of it is recognised, and Freeload reads the same pilot, sync and head:
// only a block whose XOR verifies is its, a damaged one is left to Freeload.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kOceanNew2Entry;

namespace {

const LoaderInfo kInfo = {.name = "Ocean N2",
                          .machines = kC64,
                          .checksum = true,
                          .needs_boot = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "0x40 pilot, 0x5A; load, end, ID; data; XOR; no boot known: a "
                              "damaged block is left to Freeload",
                          .peers = kTapClean,
                          .pulses = {0x22, 0x42}};
constexpr std::uint8_t kSync[] = {0x5A};
BlockHead read_head(const std::uint8_t* h) {
  BlockHead head = start_end(le16(h), le16(h + 2));
  head.ok = le16(h + 2) > le16(h);
  return head;
}
// The threshold at TAPClean's 0x2C TAP units, a little under midway.
const BlockLayout kLayout = {{0x2C * 16, 31, true}, 0x40, 32,        kSync,
                             sizeof kSync,          5,    read_head, BlockLayout::Sum::kXorData};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kOceanNew2Entry = {kInfo, make};

}  // namespace tapewren::tape
