// The recording that the simulator plays when no dump file is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tapewren {

// A stream of 16-bit little-endian pulse words as the device would send it.
std::vector<std::uint8_t> builtin_tape();

// The names of the files on it, in order, as the recorder prints them.
std::vector<std::string> builtin_tape_names();

}  // namespace tapewren
