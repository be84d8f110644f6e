// Power Load, of the Turbo Tape family.
//
// One pulse a bit, 0 about 0x1C and 1 about 0x29 TAP units (the threshold near 0x20), most
// significant bit first. The tape's boot file holds the addresses in its program: the load
// address's low and high byte at its bytes 1 and 3, the end's at 9 and 11. On tape: a pilot
// of 0x02 bytes, the countdown 0x09..0x00, the data, the XOR of the data and a trailer of
// zeros.
#include "tape/machinery/boot_addressed.hpp"

namespace tapewren::tape {

extern const LoaderEntry kPowerLoadEntry;

namespace {

const LoaderInfo kInfo = {
    .name = "Power Load",
    .machines = kC64,
    .checksum = true,
    .boot_code = true,
    .encoding = "one pulse a bit, MSB first",
    .description = "the Turbo Tape framing, 9..0; the addresses from its boot file; XOR",
    .peers = kTapClean,
    .pulses = {0x1C, 0x29}};
constexpr BitFormat kBits = {512, 23, true};
constexpr std::uint8_t kSync[] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};

// The load address's low and high byte at 1 and 3 of the boot program, the end's at 9 and 11.
constexpr BootAddresses kAt = {1, 3, 9, 11, false};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BootAddressedLoader>(
      info, sink, kBits, PilotSync{0x02, 32, kSync, sizeof kSync}, sizeof kSync, kAt);
}

}  // namespace

const LoaderEntry kPowerLoadEntry = {kInfo, make};

}  // namespace tapewren::tape
