// Writes tapes as the Tapewren device would stream them: 16-bit little-endian pulse words,
// one per pulse, for files in the standard loader encoding and the two countdown turbo
// encodings. Used by the simulator, the tests and the benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tapewren::synth {

enum class Encoding { kStandard, kCountdown9, kCountdown12 };

struct TapeFile {
  Encoding encoding = Encoding::kStandard;
  // Standard loader: 1 (relocatable program) or 3 (program at its address) are the headers
  // the scanner accepts; 4 writes a data file, its data in 191-byte records (blocks of type 2).
  // Countdown encodings: 1 or 2.
  std::uint8_t header_type = 1;
  std::string name;  // up to 16 bytes, padded with spaces
  std::vector<std::uint8_t> data;
  std::uint16_t start_address = 0x0801;
  // Damage, standard loader: data bytes whose parity fails, and bytes with a long pulse among
  // their bits (a dropout), as (copy 1 or 2, byte index); a wrong checksum in both copies; the
  // header or the data left out.
  std::vector<std::pair<int, int>> parity_errors = {}, dropouts = {};
  bool bad_checksum = false;
  bool with_header = true, with_data = true;
};

struct TapeLayout {
  // Standard loader: short pulses before the header (more than 5000 to be found), before the
  // header's repeat, before the data block and before its repeat.
  int header_lead_in = 5200;
  int repeat_lead_in = 79;
  int data_lead_in = 1500;
  // Countdown encodings: 0x02 bytes before the header block (959 or more to be found) and
  // before the data block.
  int header_pilot = 1000;
  int data_pilot = 300;
  // Each pulse strays up to this many pulse-value steps from its nominal length, always
  // staying inside its window; 0 gives exact pulses.
  int jitter = 4;
  // Pulse words of silence (the longest word the device sends) between files, after this
  // many noise spikes (pulses far too short for any encoding).
  int gap_words = 200;
  int noise_spikes = 0;
  // The deck's speed: every pulse this much longer (1.08) or shorter (0.92), and changing by
  // `drift` (a fraction) over every 100,000 pulses.
  double speed = 1.0, drift = 0;
  std::uint32_t seed = 1;
};

// Nominal pulse values of each encoding, each in the middle of its scanner window.
constexpr std::uint8_t kStdShort = 94, kStdMedium = 132, kStdLong = 172;
constexpr std::uint8_t kTurboZero = 54, kTurboOne = 81;

class TapeWriter {
 public:
  explicit TapeWriter(const TapeLayout& layout = {}) : layout_(layout), random_(layout.seed) {}

  void add(const TapeFile& file);
  // Pulse words of silence between files.
  void gap();

  const std::vector<std::uint8_t>& words() const { return out_; }

 private:
  // A pulse of the given value with the layout's jitter, at most limit steps either way.
  void pulse(std::uint8_t value, int limit);
  void word(std::uint16_t w);
  // Standard loader pieces.
  void std_lead_in(int pulses);
  void std_byte(std::uint8_t byte, bool bad_parity = false, bool dropout = false);
  void std_block(const std::vector<std::uint8_t>& bytes, bool repeat,
                 const TapeFile* damage = nullptr);
  // Countdown encoding pieces.
  void turbo_byte(std::uint8_t byte);
  std::uint32_t next_random();
  void add_standard(const TapeFile& file);
  void add_countdown(const TapeFile& file);

  TapeLayout layout_;
  std::uint32_t random_;
  std::uint64_t pulses_ = 0;
  std::vector<std::uint8_t> out_;
};

// A whole tape, files one after the other with gaps between them.
std::vector<std::uint8_t> synthesize(const std::vector<TapeFile>& files,
                                     const TapeLayout& layout = {});

// Sixteen name bytes, padded with spaces as the home computer pads them.
std::vector<std::uint8_t> padded_name(const std::string& name);

}  // namespace tapewren::synth
