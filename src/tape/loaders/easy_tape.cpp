// Easy-Tape System C's loader.
//
// One pulse a bit, 0 about 0x1D and 1 about 0x40 TAP units (the threshold at 384 cycles),
// least significant bit first. Each file a block of its own: a pilot of 0x02 bytes, the sync
// 0x52 0x4D, the load and end address (little-endian, the end exclusive, 0 up to 0xFFFF), the
// data, the XOR of the data and a few 0 bits. Atlantis's pilot is the same, its sync's
// second byte 0x42.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kEasyTapeEntry;

namespace {

const LoaderInfo kInfo = {.name = "Easy-Tape",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, LSB first",
                          .description =
                              "Easy-Tape System C: 0x02 pilot, 0x52 0x4D; load, end, "
                              "data; XOR",
                          .peers = kTapClean,
                          .pulses = {0x1D, 0x40}};
constexpr std::uint8_t kSync[] = {0x52, 0x4D};
BlockHead read_head(const std::uint8_t* h) {
  return start_end_to_top(le16(h), le16(h + 2));
}
const BlockLayout kLayout = {.bits = {2 * 384, 35, false},
                             .pilot = 0x02,
                             .min_pilot = 32,
                             .sync = kSync,
                             .sync_size = sizeof kSync,
                             .head = 4,
                             .read_head = read_head,
                             .sum = BlockLayout::Sum::kXorData};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kEasyTapeEntry = {kInfo, make};

}  // namespace tapewren::tape
