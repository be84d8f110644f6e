// Rasterload.
//
// One pulse a bit, 0 about 0x26 and 1 about 0x58 TAP units (the threshold at 0x3F), most
// significant bit first. Each file a block of its own: a pilot of 0x80 bytes, the sync 0xFF,
// the load and end address (little-endian, the end inclusive), the data and the XOR of the
// data; then, as a rule, 1 bits (0xFF) up to the end of the tone. No boot code is known: its
// check byte proves a file.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kRasterloadEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Rasterload",
    .machines = kC64,
    .checksum = true,
    .encoding = "one pulse a bit, MSB first",
    .description = "0x80 pilot, 0xFF; load, end (inclusive), data; XOR; 0xFF trailer",
    .peers = kTapClean,
    .pulses = {0x26, 0x58}};
constexpr std::uint8_t kSync[] = {0xFF};
BlockHead read_head(const std::uint8_t* h) {
  BlockHead head;
  head.start = le16(h);
  head.size = static_cast<std::size_t>(le16(h + 2) - head.start) + 1;  // the end inclusive
  head.ok = le16(h + 2) >= head.start;
  return head;
}
// The threshold at 0x3F TAP units (504 cycles): the pilot of 0x01 bytes of a faster loader
// (Creative Sparks') is 0x80 read from another bit, but its longs fall below it.
constexpr std::uint32_t kTimer = 0x3F * 8;
const BlockLayout kLayout = {.bits = {2 * kTimer, 37, true},
                             .pilot = 0x80,
                             .min_pilot = 20,
                             .sync = kSync,
                             .sync_size = sizeof kSync,
                             .head = 4,
                             .read_head = read_head,
                             .sum = BlockLayout::Sum::kXorData,
                             .trailer = 0xFF,
                             .timer = kTimer};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kRasterloadEntry = {kInfo, make};

}  // namespace tapewren::tape
