// Biturbo.
//
// One pulse a bit, 0 about 0x1B and 1 about 0x27 TAP units (the threshold at 264 cycles), most
// significant bit first. The turbo file has no head: its boot file, the ROM program before
// it, holds its addresses, the load address's low byte at 0x4B and high byte at 0x5D, the
// end's (exclusive, 0 up to 0xFFFF) low byte at 0x59 and high byte at 0x52. A tape may hold
// several, each after its own boot. On tape: a long pilot of 0x02 bytes, the countdown
// 0x10..0x00, the data, the XOR of the data and a trailer of 0 bits. Without a boot whose
// addresses make sense nothing tells where a file loads: no file.
#include "tape/machinery/boot_addressed.hpp"

namespace tapewren::tape {

extern const LoaderEntry kBiturboEntry;

namespace {

const LoaderInfo kInfo = {.name = "Biturbo",
                          .machines = kC64,
                          .checksum = true,
                          .needs_boot = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "0x02 pilot, 0x10..0x00; the addresses from its boot "
                              "file; data; XOR",
                          .peers = kTapClean,
                          .pulses = {0x1B, 0x27}};
constexpr BitFormat kBits = {2 * 264, 23, true};
constexpr std::uint8_t kPilot = 0x02;
constexpr std::uint8_t kSync[] = {0x10, 0x0F, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0x09, 0x08,
                                  0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x00};
constexpr int kMinPilot = 256;  // of some 500 and more
// The load address's low and high byte, the end's; an end of 0 is 0xFFFF.
constexpr BootAddresses kAt = {0x4B, 0x5D, 0x59, 0x52, true};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BootAddressedLoader>(
      info, sink, kBits, PilotSync{kPilot, kMinPilot, kSync, sizeof kSync}, sizeof kSync, kAt);
}

}  // namespace

const LoaderEntry kBiturboEntry = {kInfo, make};

}  // namespace tapewren::tape
