// Writes tapes as the Tapewren device would stream them: 16-bit little-endian pulse words
// (half cycles of the machine's clock), one per pulse (two per pulse for a recording of both
// edges), for files in each loader's encoding, written from the formats' descriptions. Used
// by the simulator, the tests and the benchmarks; it tells where it put every block.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tapewren::synth {

enum class Encoding {
  kStandard,
  kCountdown9,
  kCountdown12,
  kC16,
  // The commercial turbo loaders (encoders in turbo_encoders.cpp).
  kNovaload,
  kNovaloadSpecial,
  kFreeload,
  kOcean,      // variant 1, 2 or 3
  kBurner,     // variant 0, or 1 for the variant with a marker after the data
  kVisiload,   // variant: the sum of VisiloadChanges
  kCyberload,  // variant 1 (F1), 2 (F2), 3 (game data) or 4 (multiload)
  kBleepload,
  kBleeploadSpecial,
  kUsGold,
  kMicroload,
  kWildload,
  kAnirog,
  kTurbo220,
  kAmericanAction,
  kTequila,
  kLkAvalon,
  kPowerLoad,
  kTurbotape526,
  kVirgin,  // variant 0 Virgin, 1 Hi-Tec (the same blocks, longer pulses)
  kLexpeed,
  kJiffyLoad,
  kAshDave,
  kCreativeSparks,
  kRackIt,       // variant: the sum of RackItVariant
  kSnakeload50,  // variant 0: T1's pulses; 1: T2's, longer
  kSnakeload51,  // its sync (sync_byte 0: Eldritch's; 1: SWIV's; 2: the third TAPClean knows)
  kOdeload,      // the tape's own pilot_byte and sync_byte, 0x20 and 0xDB when 0
  kJetload,
  kFlashload,  // the tape's own sync_byte, 0x33 when 0
  kAtlantis,
  kAceOfAces,
  kAccolade,
  kAlienSyndrome,
  kBiturbo,
  kPalace,    // variant 1 (F1: a byte more after each block) or 2 (F2)
  kTdi,       // variant 1 (F1: a block's number, no load address) or 2 (F2: load, name, marker)
  kFirebird,  // variant 0: T1's pulses; 1: T2's
  kRasterload,
  kEasyTape,
  kAudiogenic,  // the file's data from a page boundary, in whole pages
  kGremlinGbh,
  kFreeloadSlow,  // variant 2: T2's pulses, else T1's
  kPavloda,
  kCauldron,
  kOceanNew1,    // variant 0: T1's pulses; 1: T2's
  kThunderload,  // variant: the timer (cycles) its boot sets, 0x1A0 when 0
  kEmpire,
  kTheEdge,  // variant: the 0 bits of its second pilot, when not 0
  kTesTape,  // variant: the 0 bits of its trailer, 8 when 0
  kMms,
  kSpecialAgent,  // variant 0: Special Agent's pulses and timers; 1: Strike Force Cobra's
  kSuperPavloda,  // variant 0: T1's pulses; 1: T2's; the block number in flag (-1: 0)
  kHitload,
  kRainbowArts,  // variant 2: F2 (a name in the head), else F1 (a block number)
  kOceanNew2,
  kOceanNew4,          // variant 1: no filler after the data
  kOceanNew3,          // the file's data from a page boundary at $0D00 or above, in whole pages
  kPavlodaPenetrator,  // variant 1: after the sync, each 1 after a 0 a long pulse
  kMikroGen,   // variant 0: the old loader (one block); 1: the new (a loading screen, the file)
  kCrl,        // variant: the sum of CrlVariant
  kSuperTape,  // variant 1: the header's count one off; the header's sync_byte, 0x2A when 0
};
// The last encoding, for what goes through them all: a new one goes before this line's.
constexpr Encoding kLastEncoding = Encoding::kSuperTape;

// How a Rack-It tape's loader differs from the common one, summed up in a file's variant.
enum RackItVariant : int {
  kRackItShortHeader = 1,  // a header of 7 bytes, no XOR key for the data (Marauder)
  kRackItCheckFrom0 = 2,   // the check byte's XOR starts at 0 (else 0x80)
  kRackItCipherZp = 4,     // the boot loads its cipher from $7C (else LDA #cipher)
};

// How a CRL tape differs from the plainest, summed up in a file's variant.
enum CrlVariant : int {
  kCrlPageBlocks = 1,  // each page of the file a block of its own, each set up by the first
  kCrlBootMoves = 2,   // the boot's loop reads to $0000 until the boot's code stores the start
  kCrlLongLast = 4,    // the last block's last pulse far too long for a bit (its bit a 1)
};

// What a Visiload chain holds besides its data blocks (least significant bit first after a
// block at 0x0347), as real tapes do, summed up in a file's variant.
enum VisiloadChanges : int {
  kVisiShortPilots = 1,  // before each data block after the first: 0x03BB, 3 pilot bytes
  kVisiPause = 2,        // after the first, instead: a load's end (0x03BB, a second's pause), 256
                         // pilot bytes
  kVisiTenBits = 4,      // first: 0x034B, 10 bits a byte (two lead bits)
  kVisiHeaderByte = 8,   // first: 0x03A4, a byte in front of the addresses
  kVisiMsbAgain = 16,    // before the last data block: 0x0347, most significant bit first
  kVisiEnd = 32,         // last: a load's end (0x03BB, then the gap)
};

struct TapeFile {
  Encoding encoding = Encoding::kStandard;
  // ROM loaders: 1 (relocatable program) or 3 (program at its address); 4 writes a data
  // file, its data in 191-byte records (blocks of type 2). Countdown encodings: 1 or 2.
  std::uint8_t header_type = 1;
  std::string name;  // up to 16 bytes, padded with spaces
  std::vector<std::uint8_t> data;
  std::uint16_t start_address = 0x0801;
  // Damage, ROM loaders: data bytes whose parity fails, and bytes with a long pulse among
  // their bits (a dropout), as (copy 1 or 2, byte index); a wrong checksum in both copies; the
  // header or the data left out. Thunderload: a wrong check byte in the file's head.
  std::vector<std::pair<int, int>> parity_errors = {}, dropouts = {};
  bool bad_checksum = false;
  bool with_header = true, with_data = true;  // Cyberload F1, F2: no data, the boot alone
  // Copies lost to a dropout, as (block, copy): block 0 the header, 1 on the data blocks;
  // each is written as silence of its length. Bleepload: (the block's number, 1), gone.
  std::vector<std::pair<int, int>> lost_copies = {};
  // The header's end address tells this many bytes (-1: the data's size); ROM loaders, Jiffy
  // Load, Ash & Dave, Empire.
  int announced_size = -1;
  // Turbo loaders: which variant of the format; a tape's own pilot and sync bytes and bit
  // order where the format lets each tape choose; one bit flipped in data byte `flip_bit` (its
  // lead bit, in a format whose bytes have one);
  // the pulses stopping in data byte `dropout_at` (a dropout).
  int variant = 0;
  std::uint8_t pilot_byte = 0, sync_byte = 0;
  bool lsb_first = false;
  int flip_bit = -1, dropout_at = -1;
  // ROM loaders: the header's bytes after the name (171 of them), where a boot file keeps
  // its loader; empty: spaces.
  std::vector<std::uint8_t> header_filler = {};
  // Turbo loaders whose boot file carries the loader: the boot file goes first (false: the
  // turbo blocks alone, as when the boot was recorded apart).
  bool with_boot = true;
  // Noise shaped like the format: its pilot and sync as they are, every bit after the sync
  // random up to the next pilot.
  bool scrambled = false;
  // Ocean: the flag byte in front of each page (the loader's options); -1: 1 for pages from
  // 0xA0 on (the RAM under the ROMs), 0 below. Anirog: the block's flag; -1: its 1.
  // Thunderload: the timer its intro sets for the blocks after it; -1: its boot's.
  int flag = -1;
  // The pilot bytes before the sync, where the format's encoder lets them be chosen (the
  // Turbo Tape family, Anirog, Burner, Virgin, Jiffy Load, Ash & Dave, Creative Sparks,
  // Empire, The Edge's first pilot; Mikro-Gen: its pilot's pulses; CRL's long sync pulses); 0:
  // the format's usual count.
  int pilot_bytes = 0;
};

// A one-pulse-a-bit encoding: the lengths of a 0 and a 1 in TAP units (8 cycles), and the
// order of a byte's bits.
struct TurboBits {
  double zero, one;
  bool msb_first;
  bool one_twice = false;  // a 1 is two pulses of its length
  // Not 0: the later Pavloda code, `zero` the short pulse, `one` the long and this the medium.
  // After a 1 a short pulse is 1, a medium 00 and a long 01; after a 0 (and at a pilot()) a
  // short is 0 and a medium 1. end_bits() returns to reading short pulses as 0, with a medium
  // pulse where the last bit was 1 (00, or the 0 still waiting and another).
  double medium = 0;
  // With `medium`: a 1 after a 0 is a long pulse (which Penetrator's loader reads as a medium).
  bool long_after_zero = false;
  // Bits as half waves (Super Tape): a 0 two of one length, a 1 one of twice it, each two in a
  // row one pulse: `zero` (two short ones), `medium` (a short and a long) or `one` (two long).
  // end_bits() writes one pulse more: a half wave left waiting and a short one, or a short pulse.
  bool half_waves = false;
};

struct TapeLayout {
  // ROM loaders: short pulses before the header and before the data block. The C64's repeat
  // follows a short lead-in of its own; the C16's follows the trailer of the first copy.
  int header_lead_in = 5200;
  int repeat_lead_in = 79;
  int data_lead_in = 1500;
  // Countdown encodings: 0x02 bytes before the header block (959 or more to be found by the
  // recorder) and before the data block.
  int header_pilot = 1000;
  int data_pilot = 300;
  // Each pulse strays up to this many pulse-value steps (8 half cycles) from its nominal
  // length, always staying inside its window; 0 gives exact pulses.
  int jitter = 4;
  // Pulse words of silence (the longest word the device sends) between files, after this
  // many noise spikes (pulses far too short for any encoding) and this many seconds of noise
  // (pulses of random lengths that no loader reads).
  int gap_words = 200;
  int noise_spikes = 0;
  double noise_seconds = 0;
  // Silence between a file's header and its data, in pulse words.
  int header_data_gap_words = 0;
  // The deck's speed: every pulse this much longer (1.08) or shorter (0.92), and changing by
  // `drift` (a fraction) over every 100,000 pulses.
  double speed = 1.0, drift = 0;
  // A recording of both edges: every pulse as two half waves, the first a little longer.
  bool both_edges = false;
  std::uint32_t seed = 1;
  // A tape made to be loaded: every pulse at its format's nominal length in TAP units of the
  // machine's clock (the C64's ROM loader 0x30, 0x42, 0x56; the VIC20's 0x2B, 0x3F, 0x53; the
  // C16's waves 0x35, 0x6A, 0xD4; Turbo Tape 0x1A and 0x28), with no jitter and nothing in the
  // low bits.
  bool exact = false;
  bool vic20 = false;  // with `exact`: the VIC20's ROM pulses
};

// Nominal pulse values (half cycles / 8) of the C64 encodings, each in the middle of its
// name scanner's window.
constexpr std::uint8_t kStdShort = 94, kStdMedium = 132, kStdLong = 172;
constexpr std::uint8_t kTurboZero = 54, kTurboOne = 81;

// Where a block went: file (in the order added), block (0 the header, 1 on the data
// blocks; a turbo file's blocks from 10 on, after its boot file's), copy (1, or 2 for a
// repeat), the byte offset of its first pulse and its time from the start in half cycles.
struct Placed {
  int file, block, copy;
  std::uint64_t offset, half_cycles;
};

class TapeWriter {
 public:
  explicit TapeWriter(const TapeLayout& layout = {}) : layout_(layout), random_(layout.seed) {}

  void add(const TapeFile& file);
  // Silence between files (and the noise before it).
  void gap();

  const std::vector<std::uint8_t>& words() const { return out_; }
  const std::vector<Placed>& placed() const { return placed_; }
  // Where each block's sync ended: the byte offset in words() of the pulse after it.
  const std::vector<std::uint64_t>& syncs() const { return syncs_; }

  // For the encoders: one bit, a byte (with `lead` bits of 1 in front), silence, and where a
  // block begins.
  void bit(bool one, const TurboBits& bits);
  void byte(std::uint8_t value, const TurboBits& bits, int lead = 0);
  void silence(std::uint64_t half_cycles);
  void end_bits(const TurboBits& bits);
  void place(int block, int copy);
  // A turbo block's sync is written: what follows is random when the file is scrambled,
  // up to the next pilot().
  void synced(const TapeFile& file);
  void pilot() {
    scramble_ = false;
    after_one_ = waiting_zero_ = false;
    half_ = 0;
  }
  // A data byte of a turbo file, with the file's damage: a flipped bit, or the pulses stopping.
  void data_byte(const TapeFile& file, std::size_t index, std::uint8_t value, const TurboBits& bits,
                 int lead = 0);
  // A ROM-loader file, as a turbo tape's boot file.
  void add_rom(const TapeFile& file);
  // One copy of a ROM-loader block without its lead-in: the countdown (the repeat's, or the
  // first copy's), the bytes, their checksum and the block's end (the C16's trailer too).
  void rom_copy(const std::vector<std::uint8_t>& bytes, bool repeat, bool c16);

 private:
  // A pulse of `half_cycles` with the layout's jitter (at most limit steps either way),
  // speed and edges.
  void emit(double half_cycles, int limit);
  void word(std::uint16_t w);
  std::uint32_t next_random();
  // A block as its copy is written, or silence of the same length when that copy is lost.
  template <typename Write>
  void copy(const TapeFile& file, int block, int copy, Write write);
  // ROM loaders (C64 pulses, or C16 full waves): the short, medium and long in half cycles.
  std::array<double, 3> rom_pulses() const;
  void rom_byte(std::uint8_t byte, bool bad_parity = false, bool dropout = false);
  void rom_block(const std::vector<std::uint8_t>& bytes, bool repeat, const TapeFile* damage);
  // Countdown encodings.
  void turbo_byte(std::uint8_t byte);
  void add_countdown(const TapeFile& file);

  TapeLayout layout_;
  std::uint32_t random_;
  std::uint64_t pulses_ = 0, half_cycles_ = 0;
  bool c16_ = false;  // the ROM pieces write C16 waves
  int file_ = -1;
  std::vector<std::uint8_t> out_;
  std::vector<Placed> placed_;
  std::vector<std::uint64_t> syncs_;
  bool scramble_ = false;  // the bytes written are random
  // The three-length code: the last bit written was 1; a 0 after it waits for the next bit.
  bool after_one_ = false, waiting_zero_ = false;
  // The half-wave code: the half wave waiting for the next to make a pulse (1 short, 2 long;
  // 0 none).
  int half_ = 0;
};

// A whole tape, files one after the other with gaps between them.
std::vector<std::uint8_t> synthesize(const std::vector<TapeFile>& files,
                                     const TapeLayout& layout = {});

// Sixteen name bytes, padded with spaces as the home computer pads them.
std::vector<std::uint8_t> padded_name(const std::string& name);

// The commercial loaders' encoders (turbo_encoders.cpp): the file, and any boot file its
// format needs, onto the tape.
void add_turbo(TapeWriter& writer, const TapeFile& file);

}  // namespace tapewren::synth
