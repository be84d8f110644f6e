// The C64's and VIC20's own tape format, the ROM loader's.
//
// Pulses are short, medium or long (C64 about 384, 528 and 688 cycles, TAP 0x30, 0x42,
// 0x56; the VIC20's a little longer, 352/504/672 of its faster clock). A byte is a marker
// (long, medium), eight bits least significant first (short+medium = 0, medium+short = 1) and
// an odd parity bit; long+short instead of a marker ends the block. Each lead-in gives the
// short pulse; the medium and long ones start at 22/16 and 29/16 of it (between the C64's
// 1.375 and 1.79 and the VIC20's 1.43 and 1.91) and follow the tape.
#include "tape/machinery/cbm_rom.hpp"

namespace tapewren::tape {

extern const LoaderEntry kRomC64Entry;

namespace {

const LoaderInfo kInfo = {
    .name = "ROM",
    .machines = kC64 | kVic20,
    .checksum = true,
    .copies = true,
    .encoding = "pulse pairs of 3 lengths, markers, odd parity",
    .description =
        "the machine's own loader (C64, VIC20, C128): a header and the data, each block twice; XOR "
        "checksum",
    .peers = kTapClean | kWavPrg,
    .recordings = "the C64, VIC20 and C128 test tapes; the boot files of twelve commercial tapes",
    .pulses = {0x30, 0x42, 0x56},
    .vic20_pulses = {0x2B, 0x3F, 0x53}};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<RomLoader>(info, sink, RomTiming{22, 29, false});
}

}  // namespace

const LoaderEntry kRomC64Entry = {kInfo, make};

}  // namespace tapewren::tape
