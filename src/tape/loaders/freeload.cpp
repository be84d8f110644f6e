// Freeload, Ocean's loader, and its clones (Graftgold, 180, and Invade-a-load with half the
// pilot).
//
// One pulse a bit, 0 about 0x24 and 1 about 0x42 TAP units (the threshold at 360 cycles),
// most significant bit first. Each file is a block of its own: a pilot of 0x40 bytes (128,
// or 64), the sync 0x5A, the start and end address (little-endian, the end exclusive), the
// data and the XOR of the data. Freeload Slowload is the same block at slower pulses of its
// own, in two kinds: T1 about 0x5A / 0x85 TAP units (the threshold at 0x77, 952 cycles), T2
// about 0x66 / 0xCD (at 0x9A, 1,232 cycles). Their thresholds are near enough for each to take
// the other's pilot at a deck's speed off; the proportion of a 1 to a 0, which no deck's
// speed changes, tells them apart: half again for T1, twice for T2.
#include "tape/loaders/freeload.hpp"

namespace tapewren::tape {

extern const LoaderEntry kFreeloadEntry;
extern const LoaderEntry kFreeloadSlowEntry;
extern const LoaderEntry kFreeloadSlowT2Entry;

namespace {

const LoaderInfo kInfo = {.name = "Freeload",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "Ocean's Freeload and its clones (Graftgold, 180, Invade-a-load): "
                              "0x40 pilot, 0x5A; start, end, data; XOR",
                          .peers = kTapClean | kWavPrg,
                          .pulses = {0x24, 0x42}};
const LoaderInfo kSlowInfo = {.name = "FreeSlow T1",
                              .machines = kC64,
                              .checksum = true,
                              .encoding = "one pulse a bit, MSB first",
                              .description =
                                  "Freeload Slowload T1, 0x5A/0x85: "
                                  "0x40 pilot, 0x5A; start, end, data; XOR",
                              .peers = kTapClean,
                              .pulses = {0x5A, 0x85}};
const LoaderInfo kSlowT2Info = {.name = "FreeSlow T2",
                                .machines = kC64,
                                .checksum = true,
                                .encoding = "one pulse a bit, MSB first",
                                .description =
                                    "Freeload Slowload T2, 0x66/0xCD: "
                                    "0x40 pilot, 0x5A; start, end, data; XOR",
                                .peers = kTapClean,
                                .pulses = {0x66, 0xCD}};
// Slowload's kinds part at a 1 seven quarters of a 0 (x16: 28). Hitload's block, its 1s twice
// its 0s, is kept from T1 by that proportion and from T2 by its speed.
constexpr BlockLayout slow(BitFormat bits, std::uint32_t min_one_ratio16,
                           std::uint32_t max_one_ratio16) {
  BlockLayout layout = freeload_block(bits);
  layout.min_one_ratio16 = min_one_ratio16;
  layout.max_one_ratio16 = max_one_ratio16;
  return layout;
}
const BlockLayout kLayout = freeload_block({45 * 16, 29, true});
const BlockLayout kSlowLayout = slow({0x77 * 16, 24, true}, 0, 28);
const BlockLayout kSlowT2Layout = slow({0x9A * 16, 32, true}, 28, 0);

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}
std::unique_ptr<LoaderDecoder> make_slow(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kSlowLayout);
}
std::unique_ptr<LoaderDecoder> make_slow_t2(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kSlowT2Layout);
}

}  // namespace

const LoaderEntry kFreeloadEntry = {kInfo, make};
const LoaderEntry kFreeloadSlowEntry = {kSlowInfo, make_slow};
const LoaderEntry kFreeloadSlowT2Entry = {kSlowT2Info, make_slow_t2};

}  // namespace tapewren::tape
