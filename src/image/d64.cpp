// The D64 disk image: the BAM and the directory on track 18, the files' sectors chained 254
// bytes at a time, placed as the 1541 drive places them.
#include <algorithm>

#include "image.hpp"

namespace tapewren::image {

namespace {

constexpr int kTracks = 35;
constexpr int kDirTrack = 18;
constexpr int kFileInterleave = 10;  // the 1541's, for the C64 to read a file at full speed
constexpr int kDirInterleave = 3;

int sectors_of(int track) {
  return track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17;
}

std::size_t offset_of(int track, int sector) {
  std::size_t sectors = 0;
  for (int t = 1; t < track; ++t) sectors += static_cast<std::size_t>(sectors_of(t));
  return (sectors + static_cast<std::size_t>(sector)) * 256;
}

// Which sectors are taken.
class Bam {
 public:
  bool used(int t, int s) const { return used_[t][s]; }
  int free_on(int t) const {
    int n = 0;
    for (int s = 0; s < sectors_of(t); ++s) n += used_[t][s] ? 0 : 1;
    return n;
  }
  int free_blocks() const {  // outside the directory track, as the drive counts them
    int n = 0;
    for (int t = 1; t <= kTracks; ++t) n += t == kDirTrack ? 0 : free_on(t);
    return n;
  }
  void take(int t, int s) { used_[t][s] = true; }

  // The sector after (t, s) `interleave` on, as the drive steps: past the track's end it goes
  // round and one back; then the first free one from there. -1 when the track is full.
  int step(int t, int s, int interleave) const {
    if (free_on(t) == 0) return -1;
    const int n = sectors_of(t);
    int next = s + interleave;
    if (next >= n) {
      next -= n;
      if (next > 0) --next;
    }
    while (used_[t][next]) next = (next + 1) % n;
    return next;
  }

 private:
  std::array<std::array<bool, 21>, kTracks + 1> used_{};
};

// A file's first sector: on the track nearest the directory with room, below it first.
void first_sector(const Bam& bam, int& t, int& s) {
  for (int d = 1; d < kTracks; ++d)
    for (int candidate : {kDirTrack - d, kDirTrack + d}) {
      if (candidate < 1 || candidate > kTracks || bam.free_on(candidate) == 0) continue;
      t = candidate;
      s = bam.step(t, 0, 0);
      return;
    }
}

// The next sector of a file: on its track while it has room, then on the tracks further from
// the directory, then on the other side of it.
void next_sector(const Bam& bam, int& t, int& s) {
  const int found = bam.step(t, s, kFileInterleave);
  if (found >= 0) {
    s = found;
    return;
  }
  for (int tries = 0; tries < kTracks; ++tries) {
    t += t < kDirTrack ? -1 : 1;
    if (t < 1) t = kDirTrack + 1;
    if (t > kTracks) t = kDirTrack - 1;
    if (bam.free_on(t) > 0) {
      s = bam.step(t, 0, 0);
      return;
    }
  }
}

void put_name(std::uint8_t* at, const std::string& name) {
  std::fill(at, at + 16, 0xA0);
  std::copy(name.begin(), name.begin() + static_cast<long>(std::min<std::size_t>(16, name.size())),
            at);
}

}  // namespace

Built d64(const std::vector<File>& files, const DiskLabel& label) {
  Built out;
  out.image.assign(kD64Size, 0);
  Bytes& disk = out.image;
  Bam bam;
  bam.take(kDirTrack, 0);  // the BAM itself
  const std::vector<std::string> names = unique_names(files);
  struct Entry {
    std::size_t file;
    int track, sector, blocks;
  };
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const Bytes& bytes = files[i].bytes;
    const int need = blocks(bytes.size());
    if (need > bam.free_blocks() || entries.size() >= kD64Entries) {
      out.left_out.push_back(i);
      continue;
    }
    int t = 0, s = 0;
    first_sector(bam, t, s);
    entries.push_back({i, t, s, need});
    for (int b = 0; b < need; ++b) {
      bam.take(t, s);
      std::uint8_t* sector = &disk[offset_of(t, s)];
      const std::size_t from = static_cast<std::size_t>(b) * 254;
      const std::size_t count = std::min<std::size_t>(254, bytes.size() - from);
      std::copy(bytes.begin() + static_cast<long>(from),
                bytes.begin() + static_cast<long>(from + count), sector + 2);
      if (b + 1 == need) {  // the last: no next sector, and the index of its last byte
        sector[0] = 0;
        sector[1] = static_cast<std::uint8_t>(count + 1);
      } else {
        next_sector(bam, t, s);
        sector[0] = static_cast<std::uint8_t>(t);
        sector[1] = static_cast<std::uint8_t>(s);
      }
    }
  }
  // The directory: eight entries a sector, from 18/1 on, three sectors apart.
  int s = 1;
  for (std::size_t first = 0; first == 0 || first < entries.size(); first += 8) {
    bam.take(kDirTrack, s);
    std::uint8_t* sector = &disk[offset_of(kDirTrack, s)];
    const bool last = first + 8 >= entries.size();
    const int next = last ? 0 : bam.step(kDirTrack, s, kDirInterleave);
    sector[0] = last ? 0 : kDirTrack;
    sector[1] = static_cast<std::uint8_t>(last ? 0xFF : next);
    for (std::size_t k = first; k < std::min(first + 8, entries.size()); ++k) {
      const Entry& e = entries[k];
      std::uint8_t* entry = sector + (k - first) * 32;
      entry[2] = files[e.file].type == FileType::kPrg ? 0x82 : 0x81;  // closed PRG, SEQ
      entry[3] = static_cast<std::uint8_t>(e.track);
      entry[4] = static_cast<std::uint8_t>(e.sector);
      put_name(entry + 5, names[e.file]);
      entry[30] = static_cast<std::uint8_t>(e.blocks);
      entry[31] = static_cast<std::uint8_t>(e.blocks >> 8);
    }
    s = next;
  }
  // The BAM: where the directory starts, the DOS version, each track's free sectors (a count,
  // then a bit a sector, set when free), the disk's name and ID, the DOS type.
  std::uint8_t* b = &disk[offset_of(kDirTrack, 0)];
  b[0] = kDirTrack;
  b[1] = 1;
  b[2] = 0x41;  // 'A'
  for (int t = 1; t <= kTracks; ++t) {
    std::uint8_t* track = b + 4 * static_cast<std::size_t>(t);
    track[0] = static_cast<std::uint8_t>(bam.free_on(t));
    for (int sec = 0; sec < sectors_of(t); ++sec)
      if (!bam.used(t, sec)) track[1 + sec / 8] |= static_cast<std::uint8_t>(1u << (sec % 8));
  }
  put_name(b + 0x90, label.name);
  std::fill(b + 0xA0, b + 0xAB, 0xA0);
  b[0xA2] = static_cast<std::uint8_t>(label.id[0]);
  b[0xA3] = static_cast<std::uint8_t>(label.id[1]);
  b[0xA5] = '2';
  b[0xA6] = 'A';
  return out;
}

}  // namespace tapewren::image
