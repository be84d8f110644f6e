// LK Avalon's loader, of the Turbo Tape family.
//
// One pulse a bit, 0 about 0x1A and 1 about 0x28 TAP units (the threshold near 0x21), most
// significant bit first. Each file a single block: a pilot of 0x02 bytes, the countdown
// 0x09..0x00, the end and load address high byte first (the end exclusive), the data, and
// the XOR of the four address bytes and the data.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kLkAvalonEntry;

namespace {

const LoaderInfo kInfo = {.name = "LK Avalon",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description = "the Turbo Tape framing, 9..0; end, load, data; XOR",
                          .peers = kTapClean,
                          .pulses = {0x1A, 0x28}};
constexpr std::uint8_t kSync[] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
BlockHead read_head(const std::uint8_t* h) {
  BlockHead head = start_end(be16(h + 2), be16(h));
  head.ok = be16(h) > be16(h + 2);
  return head;
}
const BlockLayout kLayout = {{528, 25, true}, 0x02, 32,        kSync,
                             sizeof kSync,    4,    read_head, BlockLayout::Sum::kXorHeadAndData};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kLkAvalonEntry = {kInfo, make};

}  // namespace tapewren::tape
