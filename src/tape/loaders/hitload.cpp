// Hitload: Freeload's block at pulses of its own.
//
// One pulse a bit, most significant bit first, 0 about 0x34 and 1 about 0x66 TAP units (the
// threshold at 0x4E, 624 cycles). Each file is a block of its own: a pilot of 0x40 bytes,
// the sync 0x5A, the start and end address (little-endian, the end exclusive), the data and
// the XOR of the data. Freeload's pilot is faster and Freeload Slowload's slower: the pilot's
// threshold tells them apart. Ocean New 1 T2 is at this speed, its head a number longer: of
// the two readings of a block, the one whose XOR verifies stays.
#include "tape/loaders/freeload.hpp"

namespace tapewren::tape {

extern const LoaderEntry kHitloadEntry;

namespace {

const LoaderInfo kInfo = {.name = "Hitload",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "Freeload's block at 0x34/0x66: "
                              "0x40 pilot, 0x5A; start, end, data; XOR",
                          .peers = kTapClean,
                          .pulses = {0x34, 0x66}};
// Above Freeload's pilot 35 % slow, below Freeload Slowload's 17 % fast.
const BlockLayout kLayout = freeload_block({0x4E * 16, 31, true}, 490, 740);

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kHitloadEntry = {kInfo, make};

}  // namespace tapewren::tape
