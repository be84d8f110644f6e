// The recording that the simulator plays when no dump file is given.
#pragma once

#include <cstdint>
#include <vector>

namespace tapewren {

// A stream of 16-bit little-endian pulse words as the device would send them.
std::vector<std::uint8_t> builtin_tape();

}  // namespace tapewren
