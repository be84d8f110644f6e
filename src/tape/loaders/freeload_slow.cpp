// Freeload Slowload (its T1 kind): Freeload's block at a slower speed of its own.
//
// The block is Freeload's (a pilot of 0x40 bytes, the sync 0x5A, start and end address, the
// end exclusive, the data and the XOR of the data, one pulse a bit, MSB first); only the
// pulses differ: about 0x5A / 0x85 TAP units, the threshold at 0x77 (952 cycles).
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kFreeloadSlowEntry;

namespace {

const LoaderInfo kInfo = {.name = "Free Slow",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "Freeload Slowload T1, 0x5A/0x85: "
                              "0x40 pilot, 0x5A; start, end, data; XOR",
                          .peers = kTapClean};
constexpr std::uint8_t kSync[] = {0x5A};
const BlockLayout kLayout = {{0x77 * 16, 24, true},
                             0x40,
                             32,
                             kSync,
                             sizeof kSync,
                             4,
                             [](const std::uint8_t* h) { return start_end(le16(h), le16(h + 2)); },
                             BlockLayout::Sum::kXorData};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kFreeloadSlowEntry = {kInfo, make};

}  // namespace tapewren::tape
