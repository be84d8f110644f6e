// Jiffy Load (type 1).
//
// One pulse a bit, 0 about 0x17 and 1 about 0x21 TAP units (the threshold near 0x1D), most
// significant bit first. Each file a single block: about 3,000 pilot bytes of 0x10, the sync
// 0x20, the load and end address (the end exclusive, 0 for up to 0xFFFF) and two bytes more,
// each word high byte first; the data; then 256 bytes counting down from 0 (0x00, 0xFF, 0xFE
// ... 0x01). No checksum: the block is whole when those 256 bytes all came. The boot file is
// known to the field only by its CRC: no file of it is more than unverified.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kJiffyLoadEntry;

namespace {

const LoaderInfo kInfo = {.name = "Jiffy Load",
                          .machines = kC64,
                          .needs_boot = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "200+ bytes of 0x10, 0x20; load, end, two bytes (high byte first); "
                              "data; 256 bytes 0x00, 0xFF .. 0x01; no checksum; no boot known: "
                              "unverified at best",
                          .peers = kTapClean,
                          .pulses = {0x17, 0x21}};
constexpr std::uint8_t kSync[] = {0x20};
BlockHead read_head(const std::uint8_t* h) {
  return start_end_to_top(be16(h), be16(h + 2));
}
std::uint8_t post_byte(std::size_t i) {
  return static_cast<std::uint8_t>(-static_cast<int>(i));
}
// Between 0x17 and 0x21 (224 cycles).
const BlockLayout kLayout = {.bits = {448, 23, true},
                             .pilot = 0x10,
                             .min_pilot = 200,
                             .sync = kSync,
                             .sync_size = sizeof kSync,
                             .head = 6,
                             .read_head = read_head,
                             .sum = BlockLayout::Sum::kNone,
                             .post = 256,
                             .post_byte = post_byte};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kJiffyLoadEntry = {kInfo, make};

}  // namespace tapewren::tape
