// Firebird's loader, at either of its two speeds.
//
// One pulse a bit, least significant bit first. The boot file's header holds the loader,
// which sets the timer its pulses are measured against: LDX #lo; STX $DD06; LDX #hi; STX
// $DD07, 0x0320 cycles (T1: pulses about 0x44 and 0x7E TAP units) or 0x029A (T2: 0x45 and
// 0x65). Each file a block of its own: a pilot of 0x02 bytes, the sync 0x52 0x42, the load and
// end address (little-endian, the end exclusive), the data and the XOR of the data. The
// threshold follows the pilot's pulses, so a block of either speed reads without its boot; a
// boot that sets either speed tells the blocks after it to be this loader's.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kFirebirdEntry;

namespace {

const LoaderInfo kInfo = {.name = "Firebird",
                          .machines = kC64,
                          .checksum = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, LSB first",
                          .description =
                              "T1 and T2 (the speed its boot sets); 0x02 pilot, 0x52 0x42; "
                              "load, end, data; XOR",
                          .peers = kTapClean};
constexpr std::uint8_t kSync[] = {0x52, 0x42};
// The boot's timer code: LDX #lo; STX $DD06; LDX #hi; STX $DD07.
constexpr std::array<std::int16_t, 10> kTimer = {0xA2, -1, 0x8E, 0x06, 0xDD,
                                                 0xA2, -1, 0x8E, 0x07, 0xDD};
bool sets_speed(const std::vector<std::uint8_t>& bytes) {
  const std::size_t at = find_code(bytes, kTimer);
  if (at == bytes.size()) return false;
  const unsigned cycles = bytes[at + 1] | bytes[at + 6] << 8;
  return cycles == 0x0320 || cycles == 0x029A;  // T1, T2
}
bool boot(const TapeFile& f) {
  return sets_speed(f.header_bytes) || sets_speed(f.data);
}
BlockHead read_head(const std::uint8_t* h) {
  BlockHead head = start_end(le16(h), le16(h + 2));
  head.ok = le16(h + 2) > le16(h);
  return head;
}
// Between the pilots of both speeds: T1's timer, which T2's pulses also fit.
const BlockLayout kLayout = {.bits = {2 * 0x0320, 30, false},
                             .pilot = 0x02,
                             .min_pilot = 30,
                             .sync = kSync,
                             .sync_size = sizeof kSync,
                             .head = 4,
                             .read_head = read_head,
                             .sum = BlockLayout::Sum::kXorData,
                             .boot = boot};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayout);
}

}  // namespace

const LoaderEntry kFirebirdEntry = {kInfo, make};

}  // namespace tapewren::tape
