// Tapes made from programs: PRG and SEQ files, or every file of a T64 or D64 image, written
// with the machine's own loader or in Turbo Tape 250, every pulse at its nominal length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/image.hpp"

namespace tapewren::convert {

enum class ProgramKind { kNone, kPrg, kSeq, kT64, kD64 };

// What a file's name says it holds (.prg, .seq, .t64, .d64, in any case); kNone for any other.
ProgramKind program_kind(const std::string& path);

// A tape file's name from a PRG or SEQ file's name: its folders and extension dropped, letters
// as the machine shows them (a–z as A–Z), characters PETSCII has not as '?', at most 16.
std::string tape_name(const std::string& path);

// The files named, in order (an image's in its directory order); false with `error` naming the
// file that could not be read or holds nothing to put on a tape. `notes`: an image's entries
// left out, and why.
bool read_programs(const std::vector<std::string>& paths, std::vector<image::File>& files,
                   std::vector<std::string>& notes, std::string& error);

struct MadeTape {
  int machine = 0;     // 0 C64, 1 VIC20, 2 C16
  bool turbo = false;  // Turbo Tape 250 (C64) instead of the machine's own loader
};

// The tape as dump words (half cycles of the machine's clock; 0xFFFF goes on in the next
// word): the machine's loader writes each program as a header and its data, each block twice,
// a SEQ file as a header and records of 191 bytes; Turbo Tape a header and a data block. False
// with `error` for a file that cannot be put on such a tape.
bool program_tape(const std::vector<image::File>& files, const MadeTape& how,
                  std::vector<std::uint8_t>& words, std::string& error);

}  // namespace tapewren::convert
