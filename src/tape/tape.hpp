// Getting the files off a recording: the pulses of any recording go in, the files of the tape
// come out, each verified and, where the loader records blocks twice, repaired from the
// repeat; with a summary of what the decoders accounted for and what they did not.
// Needs nothing but the standard library and the recording reader's pulse blocks.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recording/recording.hpp"

namespace tapewren::tape {

// The machines a loader exists for, as a set.
enum MachineSet : unsigned { kC64 = 1, kVic20 = 2, kC16 = 4 };
inline bool runs_on(unsigned machines, int machine) {
  return machine >= 0 && machine < 3 && (machines >> machine & 1) != 0;
}

// The field's file-based readers that a loader's files were held against, as a set.
enum PeerSet : unsigned { kTapClean = 1, kWavPrg = 2 };
// The commits they were built from (of christopherkobayashi/tapclean and fabzzap/wav-prg).
constexpr const char* kTapCleanCommit = "994fa07";
constexpr const char* kWavPrgCommit = "d2c38c0";

// What a registered loader is, for the decoder, the report and the listing (--loaders) that
// the documentation's loader tables are made from. Written with designated initializers, so
// each field is named where it is set.
struct LoaderInfo {
  const char* name = "";  // as the report shows it
  unsigned machines = 0;  // where its tapes are found (MachineSet); it runs on no other
  int machine = -1;       // the machine a block of it tells (0 C64, 1 VIC20, 2 C16), or -1
  bool checksum = false;  // its data blocks carry a checksum
  bool sum_adds = false;  // its check bytes are sums, not XORs
  bool copies = false;    // its blocks are recorded twice
  // Its files are known only after its loader's code was recognised in a file before them
  // (the boot file): a block that is not verified by a checksum counts for nothing without.
  bool needs_boot = false;
  bool boot_code = false;        // its loader's code is recognised in the boot file
  bool short_pilot = false;      // its pilots may be as short as three bytes
  const char* encoding = "";     // its pulses and bit order
  const char* description = "";  // what it is: pilot, sync, blocks, check
  unsigned peers = 0;            // PeerSet: the readers that give the same bytes
  const char* recordings = "";   // real recordings it reads as the field's tools do
  const char* check = "";        // its check, where it is neither an XOR nor a sum
  // Its pulses' nominal lengths in TAP units (8 cycles; the C16's full waves), shortest first,
  // 0 where unused; the VIC20's where they differ. Cleaning rewrites its blocks' pulses to
  // these; a loader without them has its blocks kept as recorded.
  std::array<std::uint8_t, 4> pulses{};
  std::array<std::uint8_t, 4> vic20_pulses{};
};

// The registered loaders, in the order they are offered a pilot.
std::vector<const LoaderInfo*> registered_loaders();

enum class Kind { kProgram, kDataFile, kHeaderOnly, kDataWithoutHeader, kNamed };
enum class Verdict { kOk, kRepaired, kBad, kIncomplete, kNamed, kUnverified };

// What shows that a file is one, the strongest first in the arbitration between two loaders
// that read one stretch: a checksum that verified (or the ROM loader's copies); the loader's
// code recognised in the file before it; only its structure (pilot, sync, end), which makes
// a file without a checksum `unverified`. A reading with none of these is no file.
enum class Proof { kNone, kStructure, kBoot, kChecksum };

// What one block of a file looked like in each of its copies (single-copy loaders: copy 1).
struct CopyReport {
  bool found = false;
  int bad_bytes = 0;
  bool checksum_ok = false;
  bool complete = false;
  int sum_found = -1, sum_computed = -1;  // the check byte on tape and the bytes' own (-1: none)
};
struct BlockReport {
  std::array<CopyReport, 2> copy;
  int taken_from_repeat = 0;  // bytes of the result that came from copy 2
};

// One block of a file as it was read off the tape, for the reports that show every block.
struct BlockRead {
  static constexpr std::size_t kMaxBad = 64;  // bad bytes listed, the first ones
  const char* role = "data";                  // "header", "data", or a data file's "record"
  int copy = 1;                               // 2: the repeat
  std::uint64_t offset = 0;                   // in the input, where its lead-in or pilot begins
  std::uint64_t end_offset = 0;               // and where it ends (0: not known)
  std::uint64_t time = 0, end_time = 0;       // half cycles from the start of the recording
  double seconds = 0, end_seconds = 0;        // the same in seconds
  int start = -1;                             // its load address, where it has one of its own
  std::size_t size = 0;                       // the bytes read, its check byte left out
  CopyReport state;
  std::vector<std::uint32_t> bad;  // which of its bytes failed
  // Asked for (DecoderSettings::byte_bounds): the bytes its loader read, from its pilot (or
  // the block before) on, and where each ends in the input, so that several recordings' reads
  // of one block can be pieced together at a byte. Empty where its loader has no such bytes.
  std::vector<std::uint8_t> stream;
  std::vector<std::uint64_t> ends;
};

// A check byte over a stretch of a file's data, so that data put together from several
// recordings can be verified: the XOR (or the sum) of seed and data[begin, end) is expected.
struct DataCheck {
  // kXorStep: the XOR, with 1 added after each byte that loads at an address ending in 0xFF.
  // kOnes: the count of 1 bits in the data, 16 bits (no seed).
  enum class Op { kXor, kSum, kXorStep, kOnes };
  Op op = Op::kXor;
  std::uint32_t begin = 0, end = 0;
  std::uint8_t seed = 0;     // what the check covers besides the data (a head, a type byte)
  std::uint8_t address = 0;  // kXorStep: the low byte of the address data[begin] loads at
  int expected = -1;         // the check byte on tape (-1: not read)
  bool holds(const std::vector<std::uint8_t>& data) const;
};

struct TapeFile {
  const LoaderInfo* loader = nullptr;
  Kind kind = Kind::kProgram;
  int type = 0;                            // the header's type byte (ROM) or ID (turbo)
  std::array<std::uint8_t, 16> name{};     // as on tape
  std::vector<std::uint8_t> header_bytes;  // the header block's payload, where it has one
  std::uint16_t start = 0, end = 0;        // load address, end address (exclusive)
  std::vector<std::uint8_t> data;          // the program's bytes, or a data file's contents
  // A data file's record blocks as read (or repaired from the repeat), each payload whole:
  // its type byte and 191 bytes, what follows the contents' end too.
  std::vector<std::uint8_t> records;
  BlockReport header, body;  // body: the data block (summed over a data file's)
  int body_blocks = 0;
  Verdict verdict = Verdict::kOk;
  Proof proof = Proof::kChecksum;
  std::vector<std::string> notes;  // what a person should know beside the verdict
  std::uint64_t offset = 0;        // in the input: where the file's first block begins
  std::uint64_t end_offset = 0;    // and where its last block ends (0: not known)
  int evidence = 0;                // bytes of sync and head that had to match: the surer, the more
  std::uint64_t half_cycles = 0;   // and when, from the start of the recording
  double seconds = 0;
  std::uint64_t end_half_cycles = 0;  // when its last block ends
  double end_seconds = 0;
  std::vector<BlockRead> blocks;  // in tape order
  // The nominal lengths of its pulses (TAP units, shortest first) where its loader names none
  // and what came before it tells them (a boot's timer); else 0.
  std::array<std::uint8_t, 4> pulses{};
  // For files put together from several recordings: whether each byte had a check of its
  // own (parity), and then which bytes of `data` no copy read (all bytes are suspect in a
  // file that failed and whose bytes have none); and the check bytes over the data.
  bool bytes_checked = false;
  std::vector<std::uint32_t> unread;
  std::vector<DataCheck> checks;
  bool continued = false;  // a block that goes on the one before (split off a chain to merge)
};

// Told about every file once it is complete, in tape order.
class FileListener {
 public:
  virtual ~FileListener() = default;
  virtual void on_file(const TapeFile& file) = 0;
};

// Sees the whole pulses the decoder reads, half waves paired as it pairs them, a block at a
// time: when each begins and its length (half cycles; pauses clamped to 0xFFFF), and when
// the last one ends. The pictures draw these, so they show what the decoder read.
class PulseObserver {
 public:
  virtual ~PulseObserver() = default;
  virtual void pulses(const std::uint64_t* time, const std::uint32_t* length, std::size_t count,
                      std::uint64_t end_time) = 0;
};

// Pulse lengths counted in steps of 8 machine cycles (one TAP unit), the last bin taking
// everything longer.
using Histogram = std::array<std::uint64_t, 256>;

// A pulse length a decoder settled on, in machine cycles, for the histogram.
struct Mark {
  std::string name;
  double cycles = 0;
  bool threshold = false;  // a bound between classes, not a class's center
};

struct Stretch {
  double start = 0, length = 0;  // seconds
};

struct Summary {
  int machine = 0, video = 0;    // what times were counted in
  bool machine_guessed = false;  // from what the decoders found, not told
  double seconds = 0;            // of the whole recording
  std::uint64_t pulses = 0;
  double block_seconds = 0, pause_seconds = 0;  // in decoded blocks, in pauses
  std::uint64_t block_pulses = 0, pause_pulses = 0;
  std::vector<Stretch> unrecognised;  // neither blocks nor pauses, longer than a second
  Histogram histogram{};
  std::vector<Mark> marks;
  std::uint64_t pilots = 0;  // pilot tones the search found, whether a loader read on or not
};

struct DecoderSettings {
  int machine = -1;  // 0 C64, 1 VIC20, 2 C16; -1: default_machine unless the tape tells
  int default_machine = 0;
  int video = 0;            // 0 PAL, 1 NTSC
  bool half_waves = false;  // the pulses are half waves (both edges), to be paired up
  // The names of the loaders to run (LoaderInfo::name); empty: every registered one.
  std::vector<std::string> loaders;
  PulseObserver* observer = nullptr;  // also told the pulses read, if set
  bool byte_bounds = false;           // turbo blocks keep their bytes (BlockRead::stream)
};

class Decoder {
 public:
  // Memory stays the same however long the recording: files go to the listener as they end.
  Decoder(const DecoderSettings& settings, FileListener& listener);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  void feed(const recording::Pulses& pulses);
  // The recording ends: the files still open go to the listener.
  void finish();
  Summary summary() const;
  // Whether a loader that only one machine has was found, so that the machine is known.
  bool machine_guessed() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Whether the pulses of a dump are half waves (a recording of both edges): each pulse's two
// halves come in pairs of near-equal lengths, while whole pulses pair up at no alignment.
class EdgeGuess {
 public:
  void add(const recording::Pulses& pulses);
  bool enough() const { return windows_ >= kEnough; }
  // True for half waves; false for whole pulses, or when nothing told.
  bool half_waves() const { return half_like_ > 2 * whole_like_ && half_like_ >= 4; }

 private:
  static constexpr int kEnough = 64;
  void close_window();
  std::uint32_t last_ = 0;
  std::uint64_t index_ = 0;
  std::uint32_t differ_[2] = {0, 0};  // differing neighbours at even and odd alignment
  std::uint32_t in_window_ = 0;
  int windows_ = 0, half_like_ = 0, whole_like_ = 0;
};

// The same over a recording's first pulses, at most 1024 blocks of them (the rule every tool
// follows for a dump, which does not say).
bool guess_half_waves(recording::Reader& reader);

// Whether a recording looks like a tape's, from what the decoder saw of it: for the tools that
// would otherwise turn any file into gigabytes of pulses. Every loader's blocks start with a
// pilot tone, so one found is enough. Without one (a stretch cut from the middle of a tape),
// the pulses must cluster as a tape's bits do: at least half of them, pauses left out, within
// the 32 fullest histogram bins (of 8 cycles) from 8 to 254, about 65 us to 2 ms, where every
// loader's bits lie, and the half waves of the shortest (Jiffy Load's 0 of 0x17). Random bytes
// fail both: no run of 32 like pulses, and pulses spread over every length (as dump words 94 %
// of them even outside that range, as TAP bytes over its 247 bins alike).
struct TapeLikeness {
  bool tape = false;
  std::uint64_t pilots = 0;     // pilot tones found
  std::uint64_t pulses = 0;     // pulses shorter than a pause
  std::uint64_t clustered = 0;  // of those, in the 32 fullest bins of the range
};
TapeLikeness tape_likeness(const Summary& summary);

// A CRC-32 over the files' decoded bytes in tape order: the same for two good recordings of
// one tape, however their pulses are timed.
class Fingerprint {
 public:
  void add(const TapeFile& file);
  std::uint32_t value() const { return ~crc_; }

 private:
  std::uint32_t crc_ = 0xFFFFFFFF;
};

// A DataCheck (kXor or kSum) over data[begin, end), from the check byte found and the one the
// loader computed over whatever it covers (what that adds to the data's own is the seed).
DataCheck data_check(DataCheck::Op op, const std::vector<std::uint8_t>& data, std::size_t begin,
                     std::size_t end, int found, int computed);

// A CRC-32 of some bytes.
std::uint32_t crc32(const std::vector<std::uint8_t>& bytes);

// The name shown to a person: PETSCII letters, digits and signs as ASCII, control codes left
// out, other characters as '?', the padding dropped.
std::string readable_name(const std::array<std::uint8_t, 16>& name);

// A file or folder name that Linux and Windows both accept, made from a name as a person reads
// it: nothing that climbs out of its folder, hides, reads as an option, is reserved on Windows,
// or holds a control code; `if_empty` when nothing is left.
std::string safe_name(std::string text, const std::string& if_empty);
// The same made from a file's name on the tape.
std::string safe_file_name(const std::array<std::uint8_t, 16>& name);

// What a file whose name reads as nothing is called, as --extract and the disk images both
// name it: after the last name read before it ("TAPE" when there was none), with its number
// on the tape and its address, so that a multi-load game's files sort in tape order
// ("GAME 012 $E000"). The name before it is cut so that the whole fits in `width`.
std::string nameless_name(const std::string& before, int number, std::uint32_t start,
                          std::size_t width = std::string::npos);

const char* verdict_text(Verdict verdict);
// "C64", "VIC20" or "C16" (0, 1, 2).
const char* machine_text(int machine);

// A file that can be used as it is: read whole, or made whole from its repeat.
inline bool is_good(const TapeFile& file) {
  return file.verdict == Verdict::kOk || file.verdict == Verdict::kRepaired;
}

}  // namespace tapewren::tape
