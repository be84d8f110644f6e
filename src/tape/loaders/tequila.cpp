// Tequila Sunrise's loader, of the Turbo Tape family.
//
// One pulse a bit, 0 about 0x1A and 1 about 0x28 TAP units (the threshold near 0x22). A
// pilot of 0x02 bytes and the countdown 0x09..0x01, most significant bit first; then the
// block's number (not 0), and from there on every byte least significant bit first: the load
// and end address (little-endian, the end exclusive), the data, and the execution address - 1
// high byte first. No checksum.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kTequilaEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Tequila",
    .machines = kC64,
    .needs_boot = true,
    .encoding = "one pulse a bit",
    .description =
        "the Turbo Tape framing: 50+ bytes of 0x02, 9..1; a number, then LSB first: load, end, "
        "data; no checksum; no boot known: unverified at best",
    .peers = kTapClean | kWavPrg,
    .pulses = {0x1A, 0x28}};
constexpr std::uint8_t kSync[] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
BlockHead read_head(const std::uint8_t* h) {
  BlockHead head = start_end(le16(h + 1), le16(h + 3));
  head.ok = h[0] != 0 && le16(h + 3) > le16(h + 1);
  return head;
}
const BlockLayout kLayout = {{544, 25, true},         0x02, 50,  kSync, sizeof kSync, 5, read_head,
                             BlockLayout::Sum::kNone, 2,    true};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kTequilaEntry = {kInfo, make};

}  // namespace tapewren::tape
