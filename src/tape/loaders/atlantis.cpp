// Atlantis's loader.
//
// One pulse a bit, 0 about 0x1D and 1 about 0x42 TAP units (the threshold at 376 cycles),
// least significant bit first. Each file a block of its own: a pilot of 0x02 bytes, the sync
// 0x52 0x42, the execution, end and load address high byte first (the end exclusive, 0 up to
// 0xFFFF; an execution address of 0x036F returns to the loader), the data, the XOR of the
// data, one byte more, and a trailer of 0 bits.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kAtlantisEntry;

namespace {

const LoaderInfo kInfo = {.name = "Atlantis",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, LSB first",
                          .description =
                              "0x02 pilot, 0x52 0x42; exec, end, load (high byte "
                              "first), data; XOR; a byte more",
                          .peers = kTapClean,
                          .pulses = {0x1D, 0x42}};
constexpr std::uint8_t kSync[] = {0x52, 0x42};
BlockHead read_head(const std::uint8_t* h) {
  return start_end_to_top(be16(h + 4), be16(h + 2));
}
const BlockLayout kLayout = {
    {2 * 376, 36, false},       0x02, 32, kSync, sizeof kSync, 6, read_head,
    BlockLayout::Sum::kXorData, 1};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kAtlantisEntry = {kInfo, make};

}  // namespace tapewren::tape
