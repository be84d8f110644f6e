// Cauldron's loader, Hewson's and Rainbird's: one format, WAV-PRG's "Cauldron/Hewson/Rainbird".
//
// Turbo Tape's pulses (the threshold at 263 cycles), most significant bit first. Each block:
// a pilot of 0x63 bytes, then every byte from 0x64 to 0xFF in turn as its sync; a marker byte
// that is never 0, the load and end address (little-endian, the end exclusive), six bytes
// its loader keeps (whether another block follows, how it starts), the data and their XOR.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kCauldronEntry;

namespace {

const LoaderInfo kInfo = {.name = "Cauldron",
                          .machines = kC64,
                          .checksum = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description = "0x63 pilot, 0x64..0xFF; marker, load, end, 6; XOR",
                          .peers = kWavPrg,
                          .pulses = {0x1A, 0x28}};
// The sync counts up from one above the pilot byte to 0xFF.
constexpr auto kSync = [] {
  std::array<std::uint8_t, 0x100 - 0x64> s{};
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(0x64 + i);
  return s;
}();
BlockHead read_head(const std::uint8_t* h) {
  const std::uint16_t start = le16(h + 1), end = le16(h + 3);
  BlockHead head = start_end_to_top(start, end);
  head.ok = head.ok && h[0] != 0;
  return head;
}
const BlockLayout kLayout = {.bits = {2 * 263, 25, true},
                             .pilot = 0x63,
                             .min_pilot = 8,
                             .sync = kSync.data(),
                             .sync_size = kSync.size(),
                             .head = 11,
                             .read_head = read_head,
                             .sum = BlockLayout::Sum::kXorData};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kCauldronEntry = {kInfo, make};

}  // namespace tapewren::tape
