// Getting the files off a recording: the pulse words of a dump go in, the files of the tape
// come out, each verified and, where the ROM loader's repeat copy allows, repaired.
// Needs nothing but the standard library and the name interception.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/recording.hpp"

namespace tapewren::tape {

enum class Loader { kRom, kTurbo, kCountdown12 };

// One copy of a block as it was read. Bytes are the payload and its checksum byte (the
// countdown is not kept); `bad` flags the bytes that failed parity or whose pulses were no
// valid bits.
struct Block {
  Loader loader = Loader::kRom;
  int copy = 1;  // ROM loader: 1 (countdown 0x89..) or 2 (the repeat, 0x09..)
  int id = -1;   // Turbo Tape: the block's ID byte
  std::vector<std::uint8_t> bytes;
  std::vector<bool> bad;
  int bad_bytes = 0;
  bool complete = false;     // it ended with its end-of-data mark (ROM) or its known length (turbo)
  std::uint64_t offset = 0;  // byte offset in the dump of the block's lead-in or pilot
  std::uint64_t half_cycles = 0;  // and its time from the start, as the decoders count it
  double seconds = 0;             // and in seconds
};

enum class Kind { kProgram, kDataFile, kHeaderOnly, kDataWithoutHeader, kNamed };
enum class Verdict { kOk, kRepaired, kBad, kIncomplete, kNamed };

// What one block of a file looked like in each of its copies (turbo blocks have copy 1 only).
struct CopyReport {
  bool found = false;
  int bad_bytes = 0;
  bool checksum_ok = false;
  bool complete = false;
};
struct BlockReport {
  std::array<CopyReport, 2> copy;
  int taken_from_repeat = 0;  // bytes of the result that came from copy 2
};

struct TapeFile {
  Loader loader = Loader::kRom;
  Kind kind = Kind::kProgram;
  int type = 0;                         // the header's type byte (ROM) or ID (turbo)
  std::array<std::uint8_t, 16> name{};  // PETSCII, as on tape
  std::uint16_t start = 0, end = 0;     // load address, end address (exclusive)
  std::vector<std::uint8_t> data;       // the program's bytes, or a data file's records
  BlockReport header, body;             // body: the data block (summed over a data file's)
  int body_blocks = 0;
  Verdict verdict = Verdict::kOk;
  std::uint64_t offset = 0;
  double seconds = 0;
};

// The pulse lengths the decoder settled on, in machine cycles (0 where none was seen).
struct Thresholds {
  double rom_short = 0, rom_medium = 0, rom_long = 0;
  double turbo_threshold = 0;
};

// Pulse lengths counted in steps of 8 machine cycles (one TAP unit), the last bin taking
// everything longer.
using Histogram = std::array<std::uint64_t, 256>;

// Told about every file once it is complete, in tape order.
class FileListener {
 public:
  virtual ~FileListener() = default;
  virtual void on_file(const TapeFile& file) = 0;
};

class Decoder {
 public:
  // clock_hz turns pulse lengths into seconds. half_waves: the pulses are half waves (a
  // recording of both edges, a TAP file of version 2).
  // Memory stays the same however long the recording: files go to the listener as they end.
  Decoder(double clock_hz, FileListener& listener, bool half_waves = false);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Feeds pulses as the recording's reader yields them: lengths in half cycles, with the
  // offset in the input where each begins, which is where blocks found in them are placed.
  void feed(const recording::Pulses& pulses);
  // The recording ends: the files still open go to the listener.
  void finish();

  const Histogram& histogram() const;
  Thresholds thresholds() const;

 private:
  struct State;
  State* state_;
};

// A CRC-32 over the files' decoded bytes in tape order: the same for two good recordings of
// one tape, however their pulses are timed.
class Fingerprint {
 public:
  void add(const TapeFile& file);
  std::uint32_t value() const { return ~crc_; }

 private:
  std::uint32_t crc_ = 0xFFFFFFFF;
};

// The name shown to a person: PETSCII letters, digits and signs as ASCII, other characters as
// '?', the padding dropped.
std::string readable_name(const std::array<std::uint8_t, 16>& name);

// A file name that Linux and Windows both accept, made from the readable name.
std::string safe_file_name(const std::array<std::uint8_t, 16>& name);

const char* verdict_text(Verdict verdict);

}  // namespace tapewren::tape
