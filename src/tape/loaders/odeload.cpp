// ODEload: Freeload's blocks at a speed of their own, the pilot and sync told by its boot.
//
// One pulse a bit, 0 about 0x25 and 1 about 0x50 TAP units (the threshold at 432 cycles),
// most significant bit first. Each file a block of its own: pilot bytes, the sync, the load
// and end address (little-endian, the end exclusive, 0 up to 0xFFFF), the data and the XOR
// of the data. The loader sits in the boot file's header (type 3, $02AB-$0304), which
// compares with the pilot byte at 0x0368 and 0x037C (CMP #) and with the sync at 0x0380: the
// tape's own, 0x20 and 0xDB unless that header says otherwise.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kOdeloadEntry;

namespace {

const LoaderInfo kInfo = {.name = "ODEload",
                          .machines = kC64,
                          .checksum = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "0x20 pilot, 0xDB (or as its boot header says); load, "
                              "end, data; XOR",
                          .peers = kTapClean,
                          .pulses = {0x25, 0x50}};
constexpr std::uint8_t kSync[] = {0xDB};
BlockHead read_head(const std::uint8_t* h) {
  return start_end_to_top(le16(h), le16(h + 2));
}
// The boot header's bytes from 0x033C (its type) on.
bool boot_sync(const TapeFile& f, std::uint8_t& pilot, std::uint8_t& sync) {
  const auto& h = f.header_bytes;
  constexpr std::size_t kCmp1 = 0x0368 - 0x033C, kCmp2 = 0x037C - 0x033C, kCmp3 = 0x0380 - 0x033C;
  if (h.size() != 192 || f.start != 0x02AB || f.end != 0x0304 || h[kCmp1] != 0xC9 ||
      h[kCmp2] != 0xC9 || h[kCmp3] != 0xC9 || h[kCmp1 + 1] != h[kCmp2 + 1])
    return false;
  pilot = h[kCmp1 + 1];
  sync = h[kCmp3 + 1];
  return true;
}
const BlockLayout kLayout = {.bits = {2 * 432, 35, true},
                             .pilot = 0x20,
                             .min_pilot = 32,
                             .sync = kSync,
                             .sync_size = sizeof kSync,
                             .head = 4,
                             .read_head = read_head,
                             .sum = BlockLayout::Sum::kXorData,
                             .boot_sync = boot_sync};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kOdeloadEntry = {kInfo, make};

}  // namespace tapewren::tape
