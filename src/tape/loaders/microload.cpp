// Microload.
//
// One pulse a bit, 0 about 0x1C and 1 about 0x36 TAP units (the threshold at 333 cycles),
// least significant bit first. Each file a block of its own: a pilot of 0xA0 bytes (about
// 255), the countdown 0x0A..0x01, the start address, the size as 0x10000 - size (both
// little-endian), the data and the XOR of the data.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kMicroloadEntry;

namespace {

const LoaderInfo kInfo = {.name = "Microload",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, LSB first",
                          .description = "0xA0 pilot, 10..1; start, size, data; XOR",
                          .peers = kTapClean | kWavPrg,
                          .pulses = {0x1C, 0x36}};
constexpr std::uint8_t kSync[] = {10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
BlockHead read_head(const std::uint8_t* h) {
  BlockHead head;
  head.start = le16(h);
  head.size = 0x10000u - le16(h + 2);
  return head;
}
const BlockLayout kLayout = {{666, 31, false}, 0xA0, 32,        kSync,
                             sizeof kSync,     4,    read_head, BlockLayout::Sum::kXorData};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kMicroloadEntry = {kInfo, make};

}  // namespace tapewren::tape
