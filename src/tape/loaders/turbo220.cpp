// Turbo 220, of the Turbo Tape family.
//
// One pulse a bit, 0 about 0x1A and 1 about 0x28 TAP units (the threshold near 0x20), most
// significant bit first. Each file a single block: a pilot of 0x02 bytes, the countdown
// 0x09..0x01, the load and end address (little-endian, the end exclusive), the execution
// address high byte first, and the data; no checksum.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kTurbo220Entry;

namespace {

const LoaderInfo kInfo = {.name = "Turbo 220",
                          .machines = kC64,
                          .needs_boot = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "the Turbo Tape framing: 50+ bytes of 0x02, 9..1; load, end, exec, "
                              "data; no checksum; no boot known: unverified at best",
                          .peers = kTapClean | kWavPrg,
                          .pulses = {0x1A, 0x28}};
constexpr std::uint8_t kSync[] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
BlockHead read_head(const std::uint8_t* h) {
  BlockHead head = start_end(le16(h), le16(h + 2));
  head.ok = le16(h + 2) > le16(h);
  return head;
}
const BlockLayout kLayout = {{512, 25, true}, 0x02, 50,        kSync,
                             sizeof kSync,    6,    read_head, BlockLayout::Sum::kNone};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kTurbo220Entry = {kInfo, make};

}  // namespace tapewren::tape
