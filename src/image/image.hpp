// Files put into the images that emulators and disk drives use, and read back from them: a
// 35-track D64 disk image laid out as a 1541 drive writes one, and a T64 tape archive. Needs
// nothing but the standard library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tapewren::image {

using Bytes = std::vector<std::uint8_t>;

enum class FileType { kPrg, kSeq };

struct File {
  std::string name;  // PETSCII, as on tape: its padding (spaces, 0x00, 0xA0) is dropped here
  FileType type = FileType::kPrg;
  Bytes bytes;  // a program: its load address (low byte first), then its data
};

// What was built: the image, and the files (their indexes, in order) that did not go in.
struct Built {
  Bytes image;
  std::vector<std::size_t> left_out;
};

// A name without its padding: trailing spaces, 0x00 and shifted spaces (0xA0), at most 16.
std::string trimmed(const std::string& name);

// The files' names made unique, in order: a name met again gets "~2" at its end ("~3" the
// next time, and so on), cut before the suffix where it would pass 16 characters, so that
// LOAD finds every file and extraction gives none the name of another. Padding dropped.
std::vector<std::string> unique_names(const std::vector<File>& files);

// The sectors (blocks) a file of `size` bytes takes on a disk: 254 bytes each, at least one.
int blocks(std::size_t size);

constexpr std::size_t kD64Size = 174848;  // 683 sectors of 256 bytes, no error bytes
constexpr int kD64Blocks = 664;           // free on an empty disk: all but the directory track
constexpr int kD64Entries = 144;          // the directory track's 18 sectors of 8 entries

struct DiskLabel {
  std::string name;        // PETSCII, up to 16 characters
  std::array<char, 2> id;  // the disk ID
};

// A D64 holding the files in order, under their unique names: each that still finds room on
// the disk and in the directory goes in; the others are left out (a later, smaller file may
// still fit).
Built d64(const std::vector<File>& files, const DiskLabel& label);

// A T64 archive of the files in order, under their unique names, its directory sized to them.
// Each entry keeps the file's first two bytes as its start address, as readers rebuild the
// file from it: a file of fewer than 2 bytes, or of more than 65537, is left out.
Built t64(const std::vector<File>& files, const std::string& tape_name);

// The files read back from an image, in directory order; what was left out, and why, in notes;
// `error` when it is no such image at all.
struct Contents {
  std::vector<File> files;
  std::vector<std::string> notes;
  std::string error;
};

// A T64 archive's files: each entry's bytes up to the next entry's or the archive's end (many
// archives carry a wrong end address), at most as many as its end address says.
Contents read_t64(const Bytes& image);

// A D64 image's PRG and SEQ files (35 or 40 tracks, error bytes or not), following each chain
// of sectors; a file whose chain leaves the disk or loops is left out.
Contents read_d64(const Bytes& image);

}  // namespace tapewren::image
