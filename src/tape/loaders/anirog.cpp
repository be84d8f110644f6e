// Anirog's loader, of the Turbo Tape family.
//
// One pulse a bit, 0 about 0x1A and 1 about 0x28 TAP units (the threshold near 0x20), most
// significant bit first. Each file a single block: a pilot of 0x02 bytes, the countdown
// 0x09..0x01, a flag 1, the load and end address (little-endian, the end exclusive) and the
// data; no checksum.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kAnirogEntry;

namespace {

const LoaderInfo kInfo = {"Anirog", "C64", -1, false, false,
                          "one pulse a bit, MSB first; 0x02 pilot, 9..1; flag, load, end, data"};
constexpr std::uint8_t kSync[] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
BlockHead read_head(const std::uint8_t* h) {
  BlockHead head = start_end(le16(h + 1), le16(h + 3));
  head.ok = h[0] == 1 && le16(h + 3) > le16(h + 1);
  return head;
}
const BlockLayout kLayout = {{512, 25, true}, 0x02, 32, kSync, sizeof kSync, 5, read_head,
                             BlockLayout::Sum::kNone};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kAnirogEntry = {kInfo, make};

}  // namespace tapewren::tape
