// The files on a T64 archive or a D64 disk image, read back in directory order. Images come
// from anywhere: every offset, track, sector and chain is checked before it is followed.
#include <algorithm>
#include <cstddef>
#include <set>
#include <string>
#include <utility>

#include "image.hpp"

namespace tapewren::image {

namespace {

std::size_t get16(const std::uint8_t* at) {
  return static_cast<std::size_t>(at[0] | at[1] << 8);
}

std::size_t get32(const std::uint8_t* at) {
  return get16(at) | get16(at + 2) << 16;
}

std::string text(const std::uint8_t* at, std::size_t size) {
  return trimmed(std::string(at, at + size));
}

int sectors_of(int track) {
  return track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17;
}

}  // namespace

Contents read_t64(const Bytes& image) {
  Contents out;
  const std::string magic = "C64";
  if (image.size() < 64 || !std::equal(magic.begin(), magic.end(), image.begin())) {
    out.error = "not a T64 archive (no \"C64\" signature)";
    return out;
  }
  const std::size_t slots = get16(&image[34]);
  if (64 + 32 * slots > image.size()) {
    out.error = "a T64 archive cut short: its directory runs past its end";
    return out;
  }
  // Each entry's bytes run from its offset to the next entry's (many archives carry a wrong
  // end address), but never past what the end address says.
  std::vector<std::size_t> offsets;
  for (std::size_t k = 0; k < slots; ++k) {
    const std::uint8_t* e = &image[64 + 32 * k];
    if (e[0] != 0) offsets.push_back(get32(e + 8));
  }
  offsets.push_back(image.size());
  for (std::size_t k = 0; k < slots; ++k) {
    const std::uint8_t* e = &image[64 + 32 * k];
    if (e[0] == 0) continue;  // a free slot
    File f;
    f.name = text(e + 16, 16);
    const std::size_t start = get16(e + 2), end = get16(e + 4), offset = get32(e + 8);
    if (e[0] != 1 || offset > image.size() || offset < 64 + 32 * slots) {
      out.notes.push_back("T64 entry \"" + f.name + "\" left out: not a tape file, or its " +
                          "bytes lie outside the archive");
      continue;
    }
    std::size_t next = image.size();
    for (std::size_t o : offsets)
      if (o > offset && o < next) next = o;
    std::size_t size = next - offset;
    if (end > start && end - start < size) size = end - start;
    if (end > start && end - start > size)
      out.notes.push_back("T64 entry \"" + f.name + "\": its end address says " +
                          std::to_string(end - start) + " bytes, " + std::to_string(size) +
                          " are there");
    // A sequential file keeps its first two bytes in the start address, as a program does.
    f.type = (e[1] & 7) == 1 ? FileType::kSeq : FileType::kPrg;
    f.bytes = {e[2], e[3]};
    f.bytes.insert(f.bytes.end(), image.begin() + static_cast<long>(offset),
                   image.begin() + static_cast<long>(offset + size));
    out.files.push_back(std::move(f));
  }
  return out;
}

Contents read_d64(const Bytes& image) {
  Contents out;
  // 35 or 40 tracks, with or without a byte of error codes a sector.
  int tracks = 0;
  if (image.size() == 174848 || image.size() == 175531) tracks = 35;
  if (image.size() == 196608 || image.size() == 197376) tracks = 40;
  if (tracks == 0) {
    out.error = "not a D64 disk image (its size is none of 35 or 40 tracks')";
    return out;
  }
  const auto sector = [&](int t, int s) -> const std::uint8_t* {
    if (t < 1 || t > tracks || s < 0 || s >= sectors_of(t)) return nullptr;
    std::size_t n = 0;
    for (int k = 1; k < t; ++k) n += static_cast<std::size_t>(sectors_of(k));
    return &image[(n + static_cast<std::size_t>(s)) * 256];
  };
  std::set<std::pair<int, int>> directory;
  for (int t = 18, s = 1; t != 0;) {
    const std::uint8_t* d = sector(t, s);
    if (!d || !directory.insert({t, s}).second) {
      out.notes.push_back("the directory's chain is broken at " + std::to_string(t) + "/" +
                          std::to_string(s) + ": the files listed before it are read");
      break;
    }
    for (int k = 0; k < 8; ++k) {
      const std::uint8_t* e = d + static_cast<std::ptrdiff_t>(32 * k);
      const int type = e[2] & 7;
      if (e[2] == 0) continue;  // deleted, or never used
      File f;
      f.name = text(e + 5, 16);
      if ((e[2] & 0x80) == 0 || (type != 1 && type != 2)) {
        out.notes.push_back("\"" + f.name + "\" left out: " +
                            ((e[2] & 0x80) == 0 ? "never closed" : "not a PRG or SEQ file"));
        continue;
      }
      f.type = type == 1 ? FileType::kSeq : FileType::kPrg;
      std::set<std::pair<int, int>> seen;
      bool whole = true;
      for (int ft = e[3], fs = e[4];;) {
        const std::uint8_t* p = sector(ft, fs);
        if (!p || !seen.insert({ft, fs}).second) {
          whole = false;
          break;
        }
        if (p[0] == 0) {  // the last sector: its second byte is the last byte used
          if (p[1] >= 2) f.bytes.insert(f.bytes.end(), p + 2, p + p[1] + 1);
          break;
        }
        f.bytes.insert(f.bytes.end(), p + 2, p + 256);
        ft = p[0];
        fs = p[1];
      }
      if (!whole) {
        out.notes.push_back("\"" + f.name + "\" left out: its chain of sectors is broken");
        continue;
      }
      out.files.push_back(std::move(f));
    }
    t = d[0];
    s = d[1];
  }
  return out;
}

}  // namespace tapewren::image
