// What a loader's decoder is to the decoder that runs them all. The shared search looks at
// every pulse once, for all loaders, and reports the pilots it finds; a loader is offered
// each pilot and, when it takes one, reads the pulses from there until its block ends. So
// the cost per pulse does not grow with the number of loaders, and no loader is called per
// pulse while it waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "tape/tape.hpp"

namespace tapewren::tape {

// Whole pulses (half waves paired up), a block at a time: length in half machine cycles
// (pauses longer than a dump word holds clamped to kPause), where each begins in the input,
// and when, in half cycles from the start of the recording. The block starts with the last
// pulses of the block before (up to kPrefix of them), so that a loader can start a few
// pulses back; the new ones begin at `first`.
constexpr std::uint32_t kPause = 0xFFFF;
constexpr std::size_t kPrefix = 32;
struct PulseBlock {
  std::size_t first = 0;
  std::size_t count = 0;
  const std::uint32_t* length = nullptr;
  const std::uint64_t* offset = nullptr;
  const std::uint64_t* time = nullptr;
  std::uint64_t end_time = 0;    // when the last pulse ends
  std::uint64_t end_offset = 0;  // where the last pulse ends in the input
};

// A stretch the search found where a block may begin.
struct Pilot {
  enum class Kind { kRun, kBytes, kCycle, kThree };
  Kind kind = Kind::kRun;
  std::uint64_t id = 0;      // each pilot once
  std::size_t index = 0;     // the pulse of the block after which it was found
  std::size_t end = 0;       // the pulse that ended it (the block's count: it goes on)
  std::uint64_t offset = 0;  // where it began, in the input
  std::uint64_t time = 0;    // and when
  std::uint32_t count = 0;   // pulses in it when found
  // kRun: pulses within a quarter of their average length (x16).
  std::uint32_t average16 = 0;
  // kBytes: one byte over and over, one pulse a bit: the averages (x16) of the short and the
  // long pulses, the bits a byte takes (8, or 9 with a lead bit), and the last `period` bits
  // when found, newest in bit 0 (long = 1). kCycle: the same of seven pulses over and over
  // that are no byte a pulse a bit (a byte read in states from seven pulses), period 7.
  std::uint32_t zero16 = 0, one16 = 0;
  std::uint8_t period = 8;
  std::uint32_t pattern = 0;
  // kThree: pulses of three lengths (short, medium, long: 0, 1, 2 in `pattern`, two bits a
  // pulse) in a pattern of `period` pulses over and over; zero16 and one16 the averages of its
  // short and long pulses.
  // Told only when it ended, under kBytesFound pulses: offered to loaders of short pilots.
  bool brief = false;
};

// Where loaders put what they found.
class FileSink {
 public:
  virtual ~FileSink() = default;
  virtual void file(TapeFile&& file) = 0;
  // A block was decoded from `start` to `end` (half cycles) over `pulses` pulses: recognised.
  virtual void span(std::uint64_t start, std::uint64_t end, std::uint64_t pulses) = 0;
  // Seconds at this time from the start.
  virtual double seconds(std::uint64_t half_cycles) const = 0;
  // Whether blocks keep the bytes read for them (BlockRead::stream).
  virtual bool keeps_bounds() const { return false; }
};

class LoaderDecoder {
 public:
  virtual ~LoaderDecoder() = default;
  // Whether the pilot may start one of this loader's blocks; if so, the loader reads on from
  // pulse `from` of the block.
  virtual bool engage(const Pilot& pilot, std::size_t from) = 0;
  // Reads pulses from `from` on. Returns block.count while the block goes on; otherwise the
  // loader is done, and returns the first pulse that was not its own.
  virtual std::size_t take(const PulseBlock& block, std::size_t from) = 0;
  virtual bool engaged() const = 0;
  // The offset of the earliest file it holds back (waiting for a repeat or for its data),
  // so that files are handed on in tape order; the largest value when none.
  virtual std::uint64_t holding() const { return std::numeric_limits<std::uint64_t>::max(); }
  // The recording ended: what is open ends with it.
  virtual void finish() = 0;
  // The recording went on to `time` (half cycles) with this loader not reading: a chain it
  // keeps open for a next block that never came is over.
  virtual void waited(std::uint64_t time) { (void)time; }
  // The pulse lengths it settled on, for the histogram.
  virtual void marks(std::vector<Mark>& out) const { (void)out; }
  // A file another loader found (a boot file whose contents tell this loader's parameters).
  virtual void seen(const TapeFile& file) { (void)file; }
};

// One registered loader: what it is, and how to make its decoder.
struct LoaderEntry {
  const LoaderInfo& info;
  std::unique_ptr<LoaderDecoder> (*make)(const LoaderInfo& info, FileSink& sink);
};

// The list of registered loaders (loaders/list.cpp).
const LoaderEntry* const* loader_entries(std::size_t& count);

}  // namespace tapewren::tape
