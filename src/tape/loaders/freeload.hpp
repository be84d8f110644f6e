// Freeload's block, which loaders of other speeds share: a pilot of 0x40 bytes, the sync
// 0x5A, the start and end address (little-endian, the end exclusive), the data and the XOR
// of the data.
#pragma once

#include "tape/machinery/block_loader.hpp"

namespace tapewren::tape {

inline constexpr std::uint8_t kFreeloadSync[] = {0x5A};

// The block at a speed, its pilot's threshold from `from_cycles` up to below `below_cycles`
// (0: any) where a neighbour's speed is near.
constexpr BlockLayout freeload_block(BitFormat bits, std::uint32_t from_cycles = 0,
                                     std::uint32_t below_cycles = 0) {
  BlockLayout layout = {bits,
                        0x40,
                        32,
                        kFreeloadSync,
                        sizeof kFreeloadSync,
                        4,
                        [](const std::uint8_t* h) { return start_end(le16(h), le16(h + 2)); },
                        BlockLayout::Sum::kXorData};
  layout.from_cycles = from_cycles;
  layout.below_cycles = below_cycles;
  return layout;
}

}  // namespace tapewren::tape
