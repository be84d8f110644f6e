// U.S. Gold's loader.
//
// One pulse a bit, 0 about 0x24 and 1 about 0x42 TAP units (the threshold at 360 cycles),
// most significant bit first. Each file a block of its own: a pilot of 0x20 bytes (about 64),
// the sync 0xFF, the 16-byte name, the start and end address (little-endian, the end
// exclusive), the data and the XOR of the data. Some tapes were mastered with a wrong check
// byte on purpose, to fool crackers: such a file is bad, with a note that says so.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kUsGoldEntry;

namespace {

const LoaderInfo kInfo = {.name = "U.S. Gold",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description = "0x20 pilot, 0xFF; name, start, end, data; XOR",
                          .peers = kTapClean | kWavPrg,
                          .pulses = {0x24, 0x42}};
constexpr std::uint8_t kSync[] = {0xFF};
BlockHead read_head(const std::uint8_t* h) {
  BlockHead head = start_end(le16(h + 16), le16(h + 18));
  head.name = name_of(h, 16);
  return head;
}
const BlockLayout kLayout = {{45 * 16, 29, true},
                             0x20,
                             32,
                             kSync,
                             sizeof kSync,
                             20,
                             read_head,
                             BlockLayout::Sum::kXorData,
                             0,
                             false,
                             "U.S. Gold put wrong check bytes on some tapes on purpose"};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kUsGoldEntry = {kInfo, make};

}  // namespace tapewren::tape
