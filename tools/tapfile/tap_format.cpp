// TAP headers and the pulse-by-pulse conversions between TAP files and dump files.
#include "tap_format.hpp"

#include <cmath>
#include <cstring>

namespace tapewren::tap {

namespace {

constexpr char kC64Signature[] = "C64-TAPE-RAW";
constexpr char kC16Signature[] = "C16-TAPE-RAW";
constexpr std::size_t kSignatureSize = 12;
constexpr double kCyclesPerUnit = 8;        // a TAP byte counts eight cycles
constexpr double kUnknownLength = 256 * 8;  // version 0's overlong pulse

void put_word(std::uint16_t w, std::vector<std::uint8_t>& out) {
  out.push_back(static_cast<std::uint8_t>(w & 0xFF));
  out.push_back(static_cast<std::uint8_t>(w >> 8));
}

}  // namespace

bool is_tap(const std::uint8_t* data, std::size_t size) {
  return size >= kSignatureSize && (std::memcmp(data, kC64Signature, kSignatureSize) == 0 ||
                                    std::memcmp(data, kC16Signature, kSignatureSize) == 0);
}

bool parse_header(const std::uint8_t* data, std::size_t size, std::uint64_t file_size,
                  Header& header, std::string& error) {
  if (size < kHeaderSize || !is_tap(data, size)) {
    error = "not a TAP file";
    return false;
  }
  header.c16_signature = std::memcmp(data, kC16Signature, kSignatureSize) == 0;
  header.version = data[0x0C];
  header.platform = data[0x0D];
  header.video = data[0x0E];
  header.length = static_cast<std::uint32_t>(data[0x10] | data[0x11] << 8 | data[0x12] << 16 |
                                             static_cast<std::uint32_t>(data[0x13]) << 24);
  if (header.version > 2) {
    error = "unknown TAP version " + std::to_string(header.version);
    return false;
  }
  if (header.length != file_size - kHeaderSize) {
    error = "the TAP header gives " + std::to_string(header.length) +
            " bytes of data, the file has " + std::to_string(file_size - kHeaderSize);
    return false;
  }
  return true;
}

std::vector<std::uint8_t> make_header(const Header& header) {
  std::vector<std::uint8_t> out(kHeaderSize, 0);
  std::memcpy(out.data(), header.c16_signature ? kC16Signature : kC64Signature, kSignatureSize);
  out[0x0C] = header.version;
  out[0x0D] = header.platform;
  out[0x0E] = header.video;
  for (int i = 0; i < 4; ++i) out[0x10 + i] = static_cast<std::uint8_t>(header.length >> (8 * i));
  return out;
}

double machine_clock_hz(int machine, int video) {
  static const double kClocks[3][2] = {
      {985248, 1022727},   // C64
      {1108405, 1022727},  // VIC20
      {886724, 894886},    // C16
  };
  return kClocks[machine < 0 || machine > 2 ? 0 : machine][video == 1 ? 1 : 0];
}

void DumpToTap::add(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const auto word = static_cast<std::uint16_t>(data[i] | data[i + 1] << 8);
    pending_ += word;
    if (word == kContinues) continue;  // the pulse goes on in the next word
    pulse(pending_, out);
    pending_ = 0;
  }
}

void DumpToTap::finish(std::vector<std::uint8_t>& out) {
  if (pending_ > 0) pulse(pending_, out);
  pending_ = 0;
}

void DumpToTap::pulse(std::uint64_t words, std::vector<std::uint8_t>& out) {
  double cycles = static_cast<double>(words) / unit_.words_per_cycle();
  const long value = std::lround(cycles / kCyclesPerUnit);
  if (value >= 1 && value <= 255) {
    out.push_back(static_cast<std::uint8_t>(value));
    return;
  }
  // Zero or too long for one byte: the exact length, in as many long entries as it takes.
  do {
    const auto part =
        static_cast<std::uint32_t>(std::min<double>(std::lround(cycles), kMaxLongCycles));
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>(part));
    out.push_back(static_cast<std::uint8_t>(part >> 8));
    out.push_back(static_cast<std::uint8_t>(part >> 16));
    cycles -= part;
  } while (cycles >= 0.5);
}

void TapToDump::cycles(double cycles, std::vector<std::uint8_t>& out) {
  auto words = static_cast<std::uint64_t>(std::llround(cycles * unit_.words_per_cycle()));
  while (words >= kContinues) {
    put_word(kContinues, out);
    words -= kContinues;
  }
  put_word(static_cast<std::uint16_t>(words), out);
}

bool TapToDump::add(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t b = data[i];
    if (long_have_ >= 0) {
      long_bytes_[long_have_++] = b;
      if (long_have_ == 3) {
        cycles(long_bytes_[0] | long_bytes_[1] << 8 | long_bytes_[2] << 16, out);
        long_have_ = -1;
      }
    } else if (b != 0) {
      cycles(b * kCyclesPerUnit, out);
    } else if (version_ == 0) {
      ++unknown_lengths_;
      cycles(kUnknownLength, out);
    } else {
      long_have_ = 0;
    }
  }
  return true;
}

bool TapToDump::finish(std::string& error) const {
  if (long_have_ < 0) return true;
  error = "the TAP data ends inside a long pulse";
  return false;
}

std::vector<std::uint8_t> tap_to_dump(const std::vector<std::uint8_t>& tap, Unit unit,
                                      std::string& error) {
  Header header;
  std::vector<std::uint8_t> out;
  if (!parse_header(tap.data(), tap.size(), tap.size(), header, error)) return out;
  TapToDump convert(unit, header.version);
  convert.add(tap.data() + kHeaderSize, tap.size() - kHeaderSize, out);
  if (!convert.finish(error)) out.clear();
  return out;
}

std::vector<std::uint8_t> dump_to_tap(const std::vector<std::uint8_t>& dump, Unit unit,
                                      Header header) {
  std::vector<std::uint8_t> body;
  DumpToTap convert(unit);
  convert.add(dump.data(), dump.size(), body);
  convert.finish(body);
  header.length = static_cast<std::uint32_t>(body.size());
  std::vector<std::uint8_t> out = make_header(header);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace tapewren::tap
