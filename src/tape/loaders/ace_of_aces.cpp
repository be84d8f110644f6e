// Ace of Aces's loader (U.S. Gold's Ace of Aces and its kin).
//
// One pulse a bit, 0 about 0x22 and 1 about 0x47 TAP units (the threshold at 352 cycles),
// most significant bit first. Each file a block of its own: a pilot of 0x80 bytes, the sync
// 0xFF, the load and end address (little-endian, the end exclusive, 0 up to 0xFFFF), the
// 16-byte name, the data and the XOR of the data; no trailer. Its pilot reads as U.S. Gold's
// from another bit, at much the same speed: the sync after it tells them apart.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kAceOfAcesEntry;

namespace {

const LoaderInfo kInfo = {.name = "Ace of Aces",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description = "0x80 pilot, 0xFF; load, end, name, data; XOR",
                          .peers = kTapClean,
                          .pulses = {0x22, 0x47}};
constexpr std::uint8_t kSync[] = {0xFF};
BlockHead read_head(const std::uint8_t* h) {
  const std::uint16_t start = le16(h), end = le16(h + 2);
  BlockHead head = start_end_to_top(start, end);
  head.name = name_of(h + 4, 16);
  return head;
}
// Creative Sparks' pilot of 0x01 bytes and its sync 0xFF 0xAA 0xFF read as this pilot and
// sync from one bit on; its 1s are half again its 0s, this loader's twice (0x22 / 0x47).
const BlockLayout kLayout = {.bits = {2 * 352, 33, true},
                             .pilot = 0x80,
                             .min_pilot = 32,
                             .sync = kSync,
                             .sync_size = sizeof kSync,
                             .head = 20,
                             .read_head = read_head,
                             .sum = BlockLayout::Sum::kXorData,
                             .min_one_ratio16 = 28};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kAceOfAcesEntry = {kInfo, make};

}  // namespace tapewren::tape
