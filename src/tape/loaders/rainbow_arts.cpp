// Rainbow Arts' loader in its two formats.
//
// One pulse a bit, least significant bit first, 0 about 0x19 and 1 about 0x36 TAP units (the
// threshold at 0x2A, 336 cycles). Each file is a block of its own: a long pilot of 0xA0 bytes
// (800 at least), a countdown to 0x01 (F1 from 0x0A, F2 from 0x0B), the head, the data and
// the XOR of the data. F1's head: the block's number, the start address and the size as
// 0x10000 - size (little-endian); F2's: a name of 3 bytes, the start and the size the same.
// Microload's block is F1's without the number, at about the same speed and with a shorter
// pilot: Rainbow Arts' pilot must be long, and of the two readings of a block the one whose
// XOR verifies stays.
#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

extern const LoaderEntry kRainbowArtsF1Entry;
extern const LoaderEntry kRainbowArtsF2Entry;

namespace {

const LoaderInfo kInfoF1 = {.name = "Rainbow F1",
                            .machines = kC64,
                            .checksum = true,
                            .encoding = "one pulse a bit, LSB first",
                            .description =
                                "Rainbow Arts F1: 0xA0 pilot, 10..1; "
                                "number, start, size; data; XOR",
                            .peers = kTapClean,
                            .pulses = {0x19, 0x36}};
const LoaderInfo kInfoF2 = {.name = "Rainbow F2",
                            .machines = kC64,
                            .checksum = true,
                            .encoding = "one pulse a bit, LSB first",
                            .description =
                                "Rainbow Arts F2: 0xA0 pilot, 11..1; "
                                "name, start, size; data; XOR",
                            .peers = kTapClean,
                            .pulses = {0x19, 0x36}};
constexpr std::uint8_t kSyncF1[] = {10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
constexpr std::uint8_t kSyncF2[] = {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
// Pilot bytes before the countdown: its loader's tapes have 800 or more, Microload's about
// 255; a fifth less is taken, for a dropout early in it.
constexpr int kMinPilot = 640;

// The start and size at `h`; a block that would load past 0xFFFF is no head.
BlockHead start_size(const std::uint8_t* h) {
  BlockHead head;
  head.start = le16(h);
  head.size = 0x10000u - le16(h + 2);
  head.ok = head.start + head.size <= 0x10000u;
  return head;
}
BlockHead read_head_f1(const std::uint8_t* h) {
  return start_size(h + 1);
}
BlockHead read_head_f2(const std::uint8_t* h) {
  BlockHead head = start_size(h + 3);
  head.name = name_of(h, 3);
  return head;
}
constexpr BitFormat kBits = {0x2A * 16, 35, false};
const BlockLayout kLayoutF1 = {kBits,          0xA0, kMinPilot,    kSyncF1,
                               sizeof kSyncF1, 5,    read_head_f1, BlockLayout::Sum::kXorData};
const BlockLayout kLayoutF2 = {kBits,          0xA0, kMinPilot,    kSyncF2,
                               sizeof kSyncF2, 7,    read_head_f2, BlockLayout::Sum::kXorData};

std::unique_ptr<LoaderDecoder> make_f1(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayoutF1);
}
std::unique_ptr<LoaderDecoder> make_f2(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<BlockLoader>(info, sink, kLayoutF2);
}

}  // namespace

const LoaderEntry kRainbowArtsF1Entry = {kInfoF1, make_f1};
const LoaderEntry kRainbowArtsF2Entry = {kInfoF2, make_f2};

}  // namespace tapewren::tape
