// MMS Tape.
//
// One pulse a bit, 0 about 0x1B and 1 about 0x28 TAP units (the threshold at 264 cycles), most
// significant bit first. The turbo file has no head: its boot file's header (from its type
// byte on) holds its addresses, the load address's low byte at 0x6B and high byte at 0x71, the
// end's (exclusive, 0 up to 0xFFFF) low byte at 0x77 and high byte at 0x7B. On tape: a long
// pilot of 0x02 bytes, the countdown 0x07..0x00, the data, the XOR of the data and a trailer
// of 0 bits. Biturbo's pilot and speed, its countdown from 0x10. Without a boot whose
// addresses make sense nothing tells where a file loads: no file.
#include "tape/machinery/boot_addressed.hpp"

namespace tapewren::tape {

extern const LoaderEntry kMmsEntry;

namespace {

const LoaderInfo kInfo = {.name = "MMS",
                          .machines = kC64,
                          .checksum = true,
                          .needs_boot = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "0x02 pilot, 0x07..0x00; the addresses from its boot "
                              "file's header; data; XOR",
                          .peers = kTapClean,
                          .pulses = {0x1B, 0x28}};
constexpr BitFormat kBits = {2 * 264, 24, true};
constexpr std::uint8_t kPilot = 0x02;
constexpr std::uint8_t kSync[] = {0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x00};
constexpr int kMinPilot = 375;  // as TAPClean asks, of some 500
// In the header: the load address's low and high byte, the end's; an end of 0 is 0xFFFF.
constexpr BootAddresses kAt = {0x6B, 0x71, 0x77, 0x7B, true, true};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BootAddressedLoader>(
      info, sink, kBits, PilotSync{kPilot, kMinPilot, kSync, sizeof kSync}, sizeof kSync, kAt);
}

}  // namespace

const LoaderEntry kMmsEntry = {kInfo, make};

}  // namespace tapewren::tape
