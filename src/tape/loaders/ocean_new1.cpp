// Ocean's later loader, New 1, in its two speeds.
//
// One pulse a bit, most significant bit first: 0 about 0x22 and 1 about 0x42 TAP units (T1),
// or 0x35 and 0x65 (T2). Each block: a pilot of 0x40 bytes, the sync 0x5A, the block's
// number, the load and end address low byte first (the end exclusive, 0 up to 0xFFFF), the
// data and the XOR of the data. Freeload's pilot, sync and T1's pulses are the same, its head
// without the number: of the two readings of a block, the one whose XOR verifies stays.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kOceanNew1T1Entry;
extern const LoaderEntry kOceanNew1T2Entry;

namespace {

const LoaderInfo kInfo = {.name = "Ocean N1 T1",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description = "0x40 pilot, 0x5A; number, load, end; data; XOR",
                          .peers = kTapClean,
                          .pulses = {0x22, 0x42}};
const LoaderInfo kInfoT2 = {.name = "Ocean N1 T2",
                            .machines = kC64,
                            .checksum = true,
                            .encoding = "one pulse a bit, MSB first, slower",
                            .description = "T1's blocks with longer pulses",
                            .peers = kTapClean,
                            .pulses = {0x35, 0x65}};
constexpr std::uint8_t kSync[] = {0x5A};
BlockHead read_head(const std::uint8_t* h) {
  return start_end_to_top(le16(h + 1), le16(h + 3));
}
// Thresholds midway between the short and long pulse (half cycles).
const BlockLayout kLayout = {{2 * 400, 31, true}, 0x40, 32,        kSync,
                             sizeof kSync,        5,    read_head, BlockLayout::Sum::kXorData};
const BlockLayout kLayoutT2 = {{2 * 616, 30, true}, 0x40, 32,        kSync,
                               sizeof kSync,        5,    read_head, BlockLayout::Sum::kXorData};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}
std::unique_ptr<LoaderDecoder> make_t2(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayoutT2);
}

}  // namespace

const LoaderEntry kOceanNew1T1Entry = {kInfo, make};
const LoaderEntry kOceanNew1T2Entry = {kInfoT2, make_t2};

}  // namespace tapewren::tape
