// Cleaning a recording: every pulse of a block that a loader read well set to the nearest of
// that loader's nominal lengths, following the deck's speed along the block, and everything
// else (pauses, what no loader read, blocks that failed) kept as recorded, pulse for pulse. The
// clean recording is decoded again and must give the same files; a file that does not has its
// blocks kept as recorded.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "recording/recording.hpp"
#include "tape/merge.hpp"
#include "tape/tape.hpp"

namespace tapewren::clean {

// Gives every pulse of the input again, in order, a batch at a time; false when it cannot.
using Replay = std::function<bool(const std::function<void(const recording::Pulses&)>&)>;

// A stretch of the input, [begin, end) in its bytes, whose pulses are rewritten.
struct Stretch {
  std::uint64_t begin = 0, end = 0;
  std::size_t file = 0;           // the decoded file it is a block of
  std::array<double, 4> ideal{};  // the nominal lengths, half cycles, shortest first
  int classes = 0;
  // The lengths were learned from the block's own pulses (its loader names none: its boot
  // sets them, or they vary from file to file): the speed they hold is the block's own, and
  // a pulse far from every one of them (a sync of its own length) is kept as recorded.
  bool learned = false;
  // After `end`, pulses that fit one of the lengths closely go on being rewritten, up to the
  // first that does not, this offset (the next block of any file), or kExtension of them.
  std::uint64_t fence = 0;
  // Not empty: written instead of the stretch's pulses. A damaged copy of a block whose file
  // its repeat repaired, as it should be (its lead-in, `lead_in` pulses, as long as the
  // stretch's pulses allow), or a block taken from another recording (no lead-in); where
  // begin == end, pulses put in before the pulse at `begin`.
  std::vector<std::uint32_t> replacement;
  std::uint32_t lead_in = 0;
};

constexpr std::uint64_t kExtension = 4096;

// The blocks of `files` (in tape order) that are rewritten: each block that was read whole and
// verified (a checksum, or, without one, its structure), unless its file is in `raw`.
// `half_waves`: the input's pulses are half waves. A block whose loader names no lengths has
// none yet (`learned`, no classes): `learn` finds them. `every`: every block with lengths, read
// well or not, none written again (what a damaged block read well can be taken from).
std::vector<Stretch> plan(const std::vector<tape::TapeFile>& files, int machine, bool half_waves,
                          const std::set<std::size_t>& raw = {}, bool every = false);

// The pulse lengths a tape's block holds, from a histogram of its pulses: each peak that stands
// apart from its neighbours (up to four), at the mean of the pulses around it, in whole TAP
// units (`unit` half cycles). Empty where the pulses show no such peaks.
std::vector<double> peaks(const std::vector<std::uint64_t>& pulses, double unit);

// Fills the lengths of the plan's learned stretches from the input's pulses; a stretch whose
// pulses give fewer than two is dropped (kept as recorded).
bool learn(std::vector<Stretch>& plan, const Replay& replay, bool half_waves);

struct Counts {
  std::uint64_t pulses = 0, rewritten = 0;
};

// Streams pulses through the stretches. Each stretch's speed is taken from its first pulses
// (held back until then), then followed pulse by pulse; a pulse far outside its loader's
// lengths (a pause inside a chain, a spike) is kept as it is. No allocation per pulse.
class Cleaner {
 public:
  explicit Cleaner(std::vector<Stretch> stretches) : stretches_(std::move(stretches)) {}

  // One input pulse (half cycles) and its offset in the input; `out` takes each output pulse.
  template <typename Out>
  void pulse(std::uint64_t length, std::uint64_t offset, Out&& out) {
    ++counts_.pulses;
    while (at_ < stretches_.size() && stretches_[at_].end <= offset) {
      if (stretches_[at_].begin == stretches_[at_].end) {  // pulses put in before this one
        for (std::uint32_t p : stretches_[at_].replacement) out(p);
        ++at_;
        continue;
      }
      // What follows a stretch: its filler or trailer, while the pulses fit.
      if (held_ > 0) release(out);
      if (started_ == at_) {
        extending_ = true;
        extended_ = 0;
        fence_ = stretches_[at_].fence;
      }
      ++at_;
    }
    const bool in = at_ < stretches_.size() && offset >= stretches_[at_].begin;
    if (held_ > 0 && (!in || at_ != holding_)) release(out);
    if (replacing_ && (!in || at_ != replaced_)) replace(out);
    if (in && !stretches_[at_].replacement.empty()) {  // counted, then written again
      if (!replacing_) {
        replacing_ = true;
        replaced_ = at_;
        counted_ = 0;
      }
      ++counted_;
      return;
    }
    if (!in) {
      const bool fits = extending_ && offset < fence_ && extended_ < kExtension;
      out(fits ? extend(length) : length);
      return;
    }
    extending_ = false;
    if (at_ != started_) {  // a new stretch: hold its first pulses to find its speed
      started_ = at_;
      holding_ = at_;
      held_ = 0;
    }
    if (holding_ == at_ && held_ < kLook) {
      look_[held_++] = length;
      if (held_ == kLook) release(out);
      return;
    }
    out(rewrite(length));
  }
  // The input has ended: what is still held goes out.
  template <typename Out>
  void finish(Out&& out) {
    if (held_ > 0) release(out);
    if (replacing_) replace(out);
    for (; at_ < stretches_.size(); ++at_)  // put in after the last pulse
      if (stretches_[at_].begin == stretches_[at_].end)
        for (std::uint32_t p : stretches_[at_].replacement) out(p);
  }
  const Counts& counts() const { return counts_; }

 private:
  static constexpr std::size_t kLook = 256;
  template <typename Out>
  void release(Out& out) {
    const std::size_t n = held_;
    current_ = &stretches_[holding_];
    held_ = 0;
    holding_ = static_cast<std::size_t>(-1);
    start(look_.data(), n);
    for (std::size_t i = 0; i < n; ++i) out(rewrite(look_[i]));
  }
  template <typename Out>
  void replace(Out& out) {
    replacing_ = false;
    const Stretch& s = stretches_[replaced_];
    counts_.rewritten += counted_;
    if (s.lead_in > 0)
      for (std::uint64_t i = s.replacement.size(); i < counted_; ++i) out(s.lead_in);
    for (std::uint32_t p : s.replacement) out(p);
  }
  // The speed that fits the first pulses best.
  void start(const std::uint64_t* pulses, std::size_t count);
  std::uint64_t rewrite(std::uint64_t length);
  // After a stretch: rewritten while it fits one of the lengths closely.
  std::uint64_t extend(std::uint64_t length);

  std::vector<Stretch> stretches_;
  std::size_t at_ = 0, started_ = static_cast<std::size_t>(-1);
  std::size_t holding_ = static_cast<std::size_t>(-1), held_ = 0;
  std::array<std::uint64_t, kLook> look_{};
  const Stretch* current_ = nullptr;
  double speed_ = 1;
  bool extending_ = false;
  bool replacing_ = false;
  std::size_t replaced_ = 0;
  std::uint64_t counted_ = 0;
  std::uint64_t extended_ = 0, fence_ = 0;
  Counts counts_;
};

// A recording cleaned, as dump words (half cycles of its machine's clock); what was rewritten;
// the files that the clean recording did not give back, kept as recorded; the pulses counted.
struct Cleaned {
  std::vector<std::uint8_t> words;
  std::vector<Stretch> plan;
  std::set<std::size_t> raw;
  Counts counts;
};

// The input, whose decoded files (by `settings`, every file kept, in tape order) are `files`,
// cleaned: rewritten, read again with the same settings, and each file it does not give back
// (its loader, place, name, bytes, a verdict no worse, every copy read whole before read whole
// again) kept as recorded, until it gives back all the others. False when the input could not
// be read again.
bool clean(const std::vector<tape::TapeFile>& files, const tape::DecoderSettings& settings,
           int machine, const Replay& replay, Cleaned& out);

// A recording's input pulses beside what cleaning made of them: each input pulse's offset and
// its cleaned length; `cleaned` empty where the counts differ (a copy written again in fewer
// pulses than it had).
struct Aligned {
  std::vector<std::uint64_t> offsets;
  std::vector<std::uint32_t> raw, cleaned;
  // The pulses of input bytes [begin, end), cleaned where known, else as recorded.
  std::vector<std::uint32_t> slice(std::uint64_t begin, std::uint64_t end) const;
};
Aligned align(const Replay& replay, const std::vector<std::uint8_t>& words);

// The plan with `splices` (stretches with replacements, and insertions) in it: the stretches
// they overlap dropped, each stretch's filler ending before the next.
std::vector<Stretch> splice(std::vector<Stretch> plan, const std::vector<Stretch>& splices);

// Where one read of a block lies against another's: the shift (a byte of `b` at index j is
// the byte of `a` at j + shift) under which most of their bytes agree, nearest to their ends
// lining up on a tie (their pilots' bytes read from where each search found it, their data
// alike but for damage); false where fewer than nine in ten agree.
bool line_up(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, long& shift);

// One recording of several of a side, for a clean tape of their merge.
struct Source {
  const std::vector<tape::TapeFile>* files = nullptr;  // as decoded
  tape::DecoderSettings settings;                      // what it was decoded with
  Replay replay;
};

// The merge's clean tape: the first recording cleaned, each of its blocks that it read badly
// (or missed) taken, cleaned, from a recording of the same machine and edges that read it as
// merged, in place (or, missed, before the next block it has, a second's pause on either side).
// A block that no recording read so is pieced together from their reads of it at the bounds
// of its bytes (its loader keeps them: the recordings decoded with `byte_bounds`). Read back:
// the merged files that are good and are not on it whole (by their index in `merged`).
struct MergeCleaned {
  std::vector<std::uint8_t> words;
  int machine = 0;
  std::size_t good = 0, taken = 0, kept = 0;  // good merged files; blocks taken, kept as read
  std::size_t pieced = 0;                     // of those taken, pieced together
  std::vector<std::size_t> missing;
};
bool merge_clean(const std::vector<Source>& sources, const std::vector<tape::MergedFile>& merged,
                 MergeCleaned& out);

}  // namespace tapewren::clean
