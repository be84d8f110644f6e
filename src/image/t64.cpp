// The T64 tape archive: a header, a directory entry per file, then the files' bytes.
#include <algorithm>

#include "image.hpp"

namespace tapewren::image {

namespace {

void put16(std::uint8_t* at, std::size_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* at, std::size_t v) {
  put16(at, v & 0xFFFF);
  put16(at + 2, v >> 16);
}

// Padded with spaces, as emulators look files up by name.
void put_text(std::uint8_t* at, const std::string& text, std::size_t size) {
  std::fill(at, at + size, ' ');
  std::copy(text.begin(), text.begin() + static_cast<long>(std::min(size, text.size())), at);
}

}  // namespace

Built t64(const std::vector<File>& files, const std::string& tape_name) {
  Built out;
  const std::vector<std::string> names = unique_names(files);
  std::vector<std::size_t> kept;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::size_t size = files[i].bytes.size();
    // The start address holds the first two bytes; the end address, 16 bits, the length.
    if (size < 2 || size - 2 > 0xFFFF) {
      out.left_out.push_back(i);
    } else {
      kept.push_back(i);
    }
  }
  const std::size_t slots = std::max<std::size_t>(1, kept.size());
  Bytes& t = out.image;
  t.assign(64 + 32 * slots, 0);
  const std::string signature = "C64S tape image file";
  std::copy(signature.begin(), signature.end(), t.begin());
  put16(&t[32], 0x0101);  // the version the emulators write and read
  put16(&t[34], slots);
  put16(&t[36], kept.size());
  put_text(&t[40], tape_name, 24);
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const File& f = files[kept[k]];
    std::uint8_t* entry = &t[64 + 32 * k];
    const std::size_t start = f.bytes[0] | f.bytes[1] << 8;
    entry[0] = 1;  // a normal tape file
    entry[1] = f.type == FileType::kPrg ? 0x82 : 0x81;
    put16(entry + 2, start);
    put16(entry + 4, (start + f.bytes.size() - 2) & 0xFFFF);
    put32(entry + 8, t.size());
    put_text(entry + 16, names[kept[k]], 16);
    t.insert(t.end(), f.bytes.begin() + 2, f.bytes.end());
  }
  return out;
}

}  // namespace tapewren::image
