// Freeload, Ocean's loader, and its clones (Graftgold, 180, and Invade-a-load with half the
// pilot).
//
// One pulse a bit, 0 about 0x24 and 1 about 0x42 TAP units (the threshold at 360 cycles),
// most significant bit first. Each file is a block of its own: a pilot of 0x40 bytes (128,
// or 64), the sync 0x5A, the start and end address (little-endian, the end exclusive), the
// data and the XOR of the data. Freeload Slowload (its T1 kind) is the same block at slower
// pulses of its own: about 0x5A / 0x85 TAP units, the threshold at 0x77 (952 cycles).
#include "tape/loaders/freeload.hpp"

namespace tapewren::tape {

extern const LoaderEntry kFreeloadEntry;
extern const LoaderEntry kFreeloadSlowEntry;

namespace {

const LoaderInfo kInfo = {.name = "Freeload",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "Ocean's Freeload and its clones (Graftgold, 180, Invade-a-load): "
                              "0x40 pilot, 0x5A; start, end, data; XOR",
                          .peers = kTapClean | kWavPrg};
const LoaderInfo kSlowInfo = {.name = "Free Slow",
                              .machines = kC64,
                              .checksum = true,
                              .encoding = "one pulse a bit, MSB first",
                              .description =
                                  "Freeload Slowload T1, 0x5A/0x85: "
                                  "0x40 pilot, 0x5A; start, end, data; XOR",
                              .peers = kTapClean};
const BlockLayout kLayout = freeload_block({45 * 16, 29, true});
// Not below Hitload's pilot 20 % slow: of one block, one speed's loader reads it.
const BlockLayout kSlowLayout = freeload_block({0x77 * 16, 24, true}, 740);

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}
std::unique_ptr<LoaderDecoder> make_slow(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kSlowLayout);
}

}  // namespace

const LoaderEntry kFreeloadEntry = {kInfo, make};
const LoaderEntry kFreeloadSlowEntry = {kSlowInfo, make_slow};

}  // namespace tapewren::tape
