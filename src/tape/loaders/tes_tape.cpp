// TES Tape, of the "Special Program" magazine tapes (named after their files' "TES " names).
//
// One pulse a bit, 0 about 0x1D and 1 about 0x44 TAP units (the threshold at 384 cycles),
// least significant bit first. Each file a block of its own: a pilot of 0x02 bytes, the sync
// 0x52 0x42, the load and end address low byte first (the end exclusive, 0 up to 0xFFFF), the
// data, the XOR of the data and a few 0 bits. Atlantis's pilot, sync and speed: its head of
// six bytes, high bytes first, tells the two apart, read as this one's it announces a block
// that ends elsewhere. No boot file is known here: the check byte and the block's end prove it.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kTesTapeEntry;

namespace {

const LoaderInfo kInfo = {.name = "TES Tape",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, LSB first",
                          .description =
                              "Special Program tapes: 0x02 pilot, 0x52 0x42; load, end "
                              "(low byte first), data; XOR",
                          .peers = kTapClean,
                          .pulses = {0x1D, 0x44}};
constexpr std::uint8_t kSync[] = {0x52, 0x42};
BlockHead read_head(const std::uint8_t* h) {
  return start_end_to_top(le16(h), le16(h + 2));
}
// Between 0x1D and 0x44 (384 cycles); TAPClean asks for 100 pilot bytes.
const BlockLayout kLayout = {{2 * 384, 38, false}, 0x02, 100,       kSync,
                             sizeof kSync,         4,    read_head, BlockLayout::Sum::kXorData};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kTesTapeEntry = {kInfo, make};

}  // namespace tapewren::tape
