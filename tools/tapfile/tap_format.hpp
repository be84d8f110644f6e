// TAP files (the raw tape images of C64, VIC20 and C16 emulators) and their conversion to and
// from the device's dump files, one pulse at a time.
//
// A TAP file is a 20-byte header ("C64-TAPE-RAW" or "C16-TAPE-RAW", version at 0x0C, platform
// at 0x0D, video standard at 0x0E, data length little-endian at 0x10) and one byte per pulse:
// the pulse length in machine cycles / 8. A zero byte is, from version 1 on, followed by the
// exact length in cycles, 24-bit little-endian; in version 0 it stands for an overlong pulse
// of unknown length. Version 2 holds half waves (both edges) instead of whole pulses.
//
// A dump file holds one 16-bit little-endian pulse word per pulse. By default a word counts
// half cycles of the machine's clock; a device with a fixed tick rate is described by
// Unit::ticks. A pulse longer than a word holds is a run of 0xFFFF words ("and it goes on")
// followed by the word with the rest, 0 included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tapewren::tap {

constexpr std::size_t kHeaderSize = 20;
constexpr std::uint16_t kContinues = 0xFFFF;
constexpr std::uint32_t kMaxLongCycles = 0xFFFFFF;

struct Header {
  std::uint8_t version = 1;
  std::uint8_t platform = 0;  // 0 C64, 1 VIC20, 2 C16
  std::uint8_t video = 0;     // 0 PAL, 1 NTSC
  std::uint32_t length = 0;   // bytes after the header
  bool c16_signature = false;
};

// True when the bytes start with a TAP signature.
bool is_tap(const std::uint8_t* data, std::size_t size);
// Reads and checks a header against the file's size; false with a message in `error`.
bool parse_header(const std::uint8_t* data, std::size_t size, std::uint64_t file_size,
                  Header& header, std::string& error);
std::vector<std::uint8_t> make_header(const Header& header);

// The machine's clock in Hz (machine 0 C64, 1 VIC20, 2 C16; video 0 PAL, 1 NTSC).
double machine_clock_hz(int machine, int video);

// What a pulse word counts.
struct Unit {
  double tick_hz = 0;  // 0: half cycles of the machine clock
  double clock_hz = 0;
  static Unit half_cycles() { return {}; }
  static Unit ticks(double tick_hz, int machine, int video) {
    return {tick_hz, machine_clock_hz(machine, video)};
  }
  double words_per_cycle() const { return tick_hz > 0 ? tick_hz / clock_hz : 2.0; }
};

// Dump words to TAP pulse bytes, streamed.
class DumpToTap {
 public:
  explicit DumpToTap(Unit unit) : unit_(unit) {}
  // Appends the TAP bytes of the words in data (size must be even).
  void add(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);
  // Ends a pulse still going on at the end of the dump.
  void finish(std::vector<std::uint8_t>& out);

 private:
  void pulse(std::uint64_t words, std::vector<std::uint8_t>& out);
  Unit unit_;
  std::uint64_t pending_ = 0;  // words of a pulse that goes on
};

// TAP pulse bytes to dump words, streamed.
class TapToDump {
 public:
  TapToDump(Unit unit, std::uint8_t version) : unit_(unit), version_(version) {}
  // Appends the dump bytes; false (with `error`) on a long pulse cut off by the end of data.
  bool add(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);
  bool finish(std::string& error) const;
  // Version 0 overlong pulses, which have no length: each is written as 256 * 8 cycles.
  std::uint64_t unknown_lengths() const { return unknown_lengths_; }

 private:
  void cycles(double cycles, std::vector<std::uint8_t>& out);
  Unit unit_;
  std::uint8_t version_;
  std::uint8_t long_bytes_[3] = {};
  int long_have_ = -1;  // -1: not inside a long pulse; else how many of its 3 bytes
  std::uint64_t unknown_lengths_ = 0;
};

// Whole-buffer helpers for the simulator and the tests.
std::vector<std::uint8_t> tap_to_dump(const std::vector<std::uint8_t>& tap, Unit unit,
                                      std::string& error);
std::vector<std::uint8_t> dump_to_tap(const std::vector<std::uint8_t>& dump, Unit unit,
                                      Header header);

}  // namespace tapewren::tap
