// Anirog's loader, of the Turbo Tape family.
//
// One pulse a bit, 0 about 0x1A and 1 about 0x28 TAP units (the threshold near 0x20), most
// significant bit first. Each file a single block: a pilot of 0x02 bytes, the countdown
// 0x09..0x01, a flag 1, the load and end address (little-endian, the end exclusive) and the
// data; no checksum. The loader sits in the boot file's ROM header, whose code reads the
// load and end address from the tape (JSR to read a byte, STA $C1, $C2, $2D, $2E): a file is
// Anirog's when that header was read before it; a pilot of 50 bytes at least.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kAnirogEntry;

namespace {

const LoaderInfo kInfo = {.name = "Anirog",
                          .machines = kC64,
                          .needs_boot = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "the Turbo Tape framing: 50+ bytes of 0x02, 9..1; flag, load, end, "
                              "data; no checksum; its boot header's code recognised",
                          .peers = kTapClean | kWavPrg,
                          .pulses = {0x1A, 0x28}};
constexpr std::uint8_t kSync[] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
BlockHead read_head(const std::uint8_t* h) {
  BlockHead head = start_end(le16(h + 1), le16(h + 3));
  head.ok = h[0] == 1 && le16(h + 3) > le16(h + 1);
  return head;
}
// In the header after the name: JSR $039E; CMP #0; BEQ; then JSR $03D4 and a store, four times.
constexpr std::array<std::int16_t, 27> kCode = {
    0x20, 0x9E, 0x03, 0xC9, 0x00, 0xF0, 0xF9, 0x20, 0xD4, 0x03, 0x85, 0xC1, 0x20, 0xD4,
    0x03, 0x85, 0xC2, 0x20, 0xD4, 0x03, 0x85, 0x2D, 0x20, 0xD4, 0x03, 0x85, 0x2E};
bool boot(const TapeFile& f) {
  return f.header_bytes.size() == 192 && has_code(f.header_bytes, kCode);
}
const BlockLayout kLayout = {
    {512, 25, true},         0x02, 50,    kSync,   sizeof kSync, 5, read_head,
    BlockLayout::Sum::kNone, 0,    false, nullptr, boot};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kAnirogEntry = {kInfo, make};

}  // namespace tapewren::tape
