// The C16's and Plus/4's own tape format, the ROM loader's (TED clock, 886,724 Hz PAL).
//
// Full waves of three lengths, in the proportions 1 : 2 : 4 (about 406, 812 and 1,633 us;
// TAP about 45, 90 and 181, some recordings 1.2 x longer): the classes come from each
// lead-in's short wave. Bytes as on the C64: a marker (long, medium), eight bits least
// significant first (short+medium = 0, medium+short = 1), an odd parity bit; two copies
// counting down 0x89..0x81 and 0x09..0x01; a 192-byte header or the data, and an XOR
// checksum. There is no long+short end mark: a block ends with one medium wave followed by
// short ones (about 450 after the first copy, which are the repeat's lead-in).
#include "tape/machinery/cbm_rom.hpp"

namespace tapewren::tape {

extern const LoaderEntry kRomC16Entry;

namespace {

const LoaderInfo kInfo = {.name = "C16 ROM",
                          .machines = kC16,
                          .machine = 2,
                          .checksum = true,
                          .copies = true,
                          .encoding = "full waves of 3 lengths (1:2:4), markers, odd parity",
                          .description =
                              "the C16's and Plus/4's own loader: the C64's blocks in full waves; "
                              "a block ends with one medium wave",
                          .peers = kWavPrg,
                          .recordings = "the Plus/4 test tapes",
                          .pulses = {0x35, 0x6A, 0xD4}};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<RomLoader>(info, sink, RomTiming{32, 64, true});
}

}  // namespace

const LoaderEntry kRomC16Entry = {kInfo, make};

}  // namespace tapewren::tape
