// Empire's loader (Cool Croc Twins, Volfied).
//
// One pulse a bit, the threshold at 360 cycles, most significant bit first. Each file a block
// of its own: 127 pilot bytes of 0x80 at least, the sync 0x40, the load and end address
// (little-endian, the end exclusive) and the data; no checksum. The boot file, a ROM program
// at $0801-$08E8, sets the loader's timer (LDA #; STA $DC04; LDA #; STA $DC05 at $081E) and
// compares each byte read (CMP # at $0880, $088C with the same operand, and $0890): with it
// read before, a block is Empire's; without, one read whole to its end is unverified.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kEmpireEntry;

namespace {

const LoaderInfo kInfo = {.name = "Empire",
                          .machines = kC64,
                          .needs_boot = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "127+ bytes of 0x80, 0x40; load, end, data; no checksum; its "
                              "boot's code recognised",
                          .peers = kWavPrg,
                          .pulses = {0x1E, 0x3C}};
constexpr std::uint8_t kSync[] = {0x40};
BlockHead read_head(const std::uint8_t* h) {
  BlockHead head = start_end(le16(h), le16(h + 2));
  head.ok = le16(h + 2) > le16(h);
  return head;
}
// The ROM program at $0801-$08E8 that holds the loader: its timer code and its compares.
bool boot(const TapeFile& f) {
  constexpr std::uint16_t kStart = 0x0801, kEnd = 0x08E8;
  const auto& d = f.data;
  if (!f.loader->copies || f.kind != Kind::kProgram || f.start != kStart || f.end != kEnd ||
      d.size() != kEnd - kStart)
    return false;
  const auto at = [&](unsigned address) { return d[address - kStart]; };
  const auto code = [&](unsigned address, std::initializer_list<std::uint8_t> bytes) {
    for (const auto b : bytes)
      if (at(address++) != b) return false;
    return true;
  };
  return at(0x081E) == 0xA9 && code(0x0820, {0x8D, 0x04, 0xDC}) && at(0x0823) == 0xA9 &&
         code(0x0825, {0x8D, 0x05, 0xDC}) && at(0x0880) == 0xC9 && at(0x088C) == 0xC9 &&
         at(0x0881) == at(0x088D) && at(0x0890) == 0xC9;
}
const BlockLayout kLayout = {.bits = {2 * 360, 32, true},
                             .pilot = 0x80,
                             .min_pilot = 125,  // its loader's 127, less the two the search may cut
                             .sync = kSync,
                             .sync_size = sizeof kSync,
                             .head = 4,
                             .read_head = read_head,
                             .sum = BlockLayout::Sum::kNone,
                             .boot = boot};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kEmpireEntry = {kInfo, make};

}  // namespace tapewren::tape
