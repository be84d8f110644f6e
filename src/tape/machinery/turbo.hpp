// What the one-pulse-a-bit loaders share besides their bits: taking a pilot (and the sync
// after it, where the loader's blocks have one), feeding the loader its bytes until its
// block (or its chain of blocks) is over, the blocks that load back to back made into one
// file, the files themselves, and the evidence that makes them files. The loader is the
// Derived class (no virtual call per byte):
//   bool accepts(const Pilot&)        the pilot is its kind; set where bytes begin
//   bool byte(std::uint8_t, const PulseBlock&, std::size_t)   false: the stream ends here;
//                                      expect_end(pilot, trailer): it should end here
//   bool no_bit(std::uint64_t time)   the pulses stopped being bits; true to stay on the
//                                      tape (a chain waiting for its next block)
//   void close()                       the recording ended: what is open ends with it
#pragma once

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tape/chains.hpp"
#include "tape/machinery/bitstream.hpp"

namespace tapewren::tape {

// The pattern the search saw (the last bits of a byte, newest in bit 0) is `value` coming
// most or least significant bit first after `lead` bits of 1, read from any bit.
inline bool pilot_of(const Pilot& pilot, std::uint8_t value, bool msb_first, int lead = 0) {
  const int period = 8 + lead;
  if (pilot.kind != Pilot::Kind::kBytes || pilot.period != period) return false;
  const std::uint32_t mask = (1u << period) - 1;
  std::uint32_t in_time = ((1u << lead) - 1) << 8 | (msb_first ? value : BitStream::reverse(value));
  for (int k = 0; k < period; ++k) {
    if (pilot.pattern == in_time) return true;
    in_time = (in_time << 1 | in_time >> (period - 1)) & mask;
  }
  return false;
}

// Whether a byte is `pilot` read from any of its bits: a pilot whose bytes begin elsewhere.
inline bool rotation_of(std::uint8_t v, std::uint8_t pilot) {
  for (int k = 0; k < 8; ++k)
    if (v == static_cast<std::uint8_t>(pilot << k | pilot >> (8 - k))) return true;
  return false;
}

// Bits: how pulses make bits and bytes (BitStream, one pulse a bit, or another reader of its
// interface).
template <typename Derived, typename Bits = BitStream>
class TurboLoader : public LoaderDecoder {
 public:
  // `sync`: the pilot byte and sync its blocks begin with, where they begin so.
  TurboLoader(const LoaderInfo& info, FileSink& sink, const typename Bits::Format& bits,
              const PilotSync& sync = {})
      : info_(info),
        sink_(sink),
        bits_(bits),
        pilot_sync_(sync),
        bounds_(Bits::kBytesEndOnPulses && sink.keeps_bounds()) {}

  bool engage(const Pilot& pilot, std::size_t from) override {
    if (!bits_.start(pilot)) return false;
    settle(false);  // a structure left unfinished before this pilot: it was none
    if (!self().accepts(pilot)) return false;
    engaged_ = true;
    trace_.clear();
    new_chain();
    begin_span(pilot.offset, pilot.time, pilot.count - (pilot.end - from));
    return true;
  }

  std::size_t take(const PulseBlock& b, std::size_t from) override {
    for (std::size_t i = from; i < b.count; ++i) {
      ++span_pulses_;
      const auto step = bits_.step(b.length[i]);
      if (step == Bits::Step::kMore) {
        bit_end_ = b.time[i] + b.length[i];
        continue;
      }
      if (step == Bits::Step::kNoBit) {
        if (ending_ >= 0) return ended(true, i);
        if (self().no_bit(b.time[i])) continue;
        engaged_ = false;
        return i;
      }
      if (ending_ >= 0) {  // bits go on: a trailer, the next pilot, or no end
        const std::uint8_t v = bits_.byte();
        if (rotation_of(v, end_pilot_)) {
          if (++end_pilots_ == 2) return ended(true, i + 1);
        } else if (v != end_trailer_ || end_pilots_ > 0) {
          end_pilots_ = 0;
          if (++ending_ > 2) return ended(false, i + 1);
        } else if (++end_trailers_ == end_enough_) {
          return ended(true, i + 1);
        }
        continue;
      }
      last_end_ = bit_end_ = b.time[i] + b.length[i];
      last_offset_ = i + 1 < b.count ? b.offset[i + 1] : std::max(b.end_offset, b.offset[i] + 1);
      after_time_ = i + 1 < b.count ? b.time[i + 1] : b.end_time;
      if (bounds_) trace_.emplace_back(bits_.byte(), last_offset_);
      if (!self().byte(bits_.byte(), b, i)) {
        engaged_ = false;
        return i + 1;
      }
    }
    return b.count;
  }

  bool engaged() const override { return engaged_; }
  std::uint64_t holding() const override {
    std::uint64_t at = open_ ? open_->offset : std::numeric_limits<std::uint64_t>::max();
    if (!pending_.empty()) at = std::min(at, pending_.front().offset);
    return engaged_ ? std::min(at, span_offset_) : at;
  }
  void finish() override {
    if (ending_ >= 0) {
      ended(true, 0);
    } else if (engaged_) {
      self().close();
    }
    engaged_ = false;
    flush();
    settle(false);
    release_spans();  // trailers of the files before
  }
  // A chain waits for its next block this long at most; then what it holds back is handed on
  // (or dropped), so that files after it are not held back for the rest of the recording.
  void waited(std::uint64_t time) override {
    constexpr double kChainGapSeconds = 15;
    if (engaged_ || (!open_ && pending_.empty()) ||
        sink_.seconds(time) - sink_.seconds(last_end_) < kChainGapSeconds)
      return;
    flush();
    settle(false);
  }
  void marks(std::vector<Mark>& out) const override {
    if (spans_ > 0)
      out.push_back({std::string(info_.name) + " 0|1", sum_threshold_ / spans_, true});
  }

 protected:
  Derived& self() { return static_cast<Derived&>(*this); }

  // What was read from the pilot on counts as recognised.
  void begin_span(std::uint64_t offset, std::uint64_t time, std::uint64_t pulses) {
    span_offset_ = offset;
    span_time_ = time;
    span_pulses_ = pulses;
  }
  // What was read counts as recognised once a file of it is known to be one; a reading that
  // turns out to be none leaves its pulses not recognised.
  void end_span() {
    // The bits after the last byte too: a trailer, or the run-in of what came next.
    spans_held_.push_back({span_time_, std::max({last_end_, bit_end_, span_time_}), span_pulses_});
    sum_threshold_ += bits_.threshold() / 2.0;
    ++spans_;
    begin_span(last_offset_, last_end_, 0);
  }
  std::uint64_t span_offset() const { return span_offset_; }
  std::uint64_t span_time() const { return span_time_; }
  // Where the last byte read ends in the input.
  std::uint64_t here() const { return last_offset_; }

  // The pilot and sync the loader's blocks begin with (its PilotSync): a pilot of its byte,
  // in the bit order and with the lead bits in force, read from any bit. Bytes begin with
  // its first whole byte; the pilot bytes the search saw count, but the two it may have
  // begun within (or `seen` count).
  bool sync_pilot(const Pilot& pilot, int seen = -1) {
    const int lead = bits_.lead_bits();
    if (!pilot_of(pilot, pilot_sync_.pilot(), bits_.msb_first(), lead)) return false;
    bits_.begin_at(pilot_sync_.pilot());
    resync(seen >= 0 ? seen : static_cast<int>(pilot.count / static_cast<unsigned>(8 + lead)) - 2);
    return true;
  }
  // The same in the bit order a boot file set.
  bool sync_pilot(const Pilot& pilot, bool msb_first) {
    bits_.set_msb_first(msb_first);
    return sync_pilot(pilot);
  }
  // Pilot bytes and the sync again from the next byte on, `seen` pilot bytes counted.
  void resync(int seen) {
    pilot_sync_.start(seen);
    synced_ = false;
  }
  // A byte of the pilot or the sync: kSynced on the sync's last, kFail on any other.
  PilotSync::Step sync(std::uint8_t v) {
    const auto step = pilot_sync_.byte(v);
    synced_ = step == PilotSync::Step::kSynced;
    return step;
  }
  // The same, false when the bytes are no such pilot and sync: the stream ends here.
  bool sync_on(std::uint8_t v) { return sync(v) != PilotSync::Step::kFail; }
  bool synced() const { return synced_; }
  // A byte of the pilot or the sync while `phase` is at it; `phase` goes on to `next` after
  // the sync's last byte. False when the bytes are no such pilot and sync.
  template <typename Phase>
  bool sync_then(std::uint8_t v, Phase& phase, Phase next) {
    if (!sync_on(v)) return false;
    if (synced()) phase = next;
    return true;
  }
  // A byte of the zeros that end a block in formats that have them: true while they go on;
  // the first other byte ends the stream, the block's pulses recognised.
  bool zero_trailer(std::uint8_t v) {
    if (v == 0) return true;
    end_span();
    return false;
  }
  // The pilot's pulses fit a loader whose boot sets its timer's threshold to `cycles`, within
  // 30 % either way: the pulses of another loader's pilot do not.
  static bool fits_threshold(const Pilot& pilot, std::uint32_t cycles) {
    const std::uint32_t t = (pilot.zero16 + pilot.one16) / 32;
    return t * 10 >= cycles * 2 * 7 && t * 10 <= cycles * 2 * 13;
  }
  // A run of at least `min` pulses within a fifth of `pilot` (half cycles), for a loader whose
  // pilot pulses are longer than its bits of `zero` and `one`: the bits' classes from it in
  // the format's proportion, as fast or slow as the deck. False when it is no such run.
  static bool run_as_bits(const Pilot& run, std::uint32_t min, std::uint32_t pilot,
                          std::uint32_t zero, std::uint32_t one, Pilot& bits) {
    if (run.kind != Pilot::Kind::kRun || run.count < min || run.average16 * 5 < pilot * 16 * 4 ||
        run.average16 * 5 > pilot * 16 * 6)
      return false;
    bits = run;
    bits.kind = Pilot::Kind::kBytes;
    bits.zero16 = static_cast<std::uint32_t>(std::uint64_t{run.average16} * zero / pilot);
    bits.one16 = static_cast<std::uint32_t>(std::uint64_t{run.average16} * one / pilot);
    return true;
  }
  // Whether the byte just read holds a pulse longer than `ratio16`/16 of the bits' threshold:
  // the next pilot's, where a loader's pilot pulses are longer than its bits yet read as 1s.
  // Its pulses in this block are looked at, which a pilot's run fills at least once.
  bool pilot_pulse(const PulseBlock& b, std::size_t i, std::uint32_t ratio16) const {
    const std::uint32_t limit = bits_.threshold() * ratio16 / 16;
    for (std::size_t k = i >= 7 ? i - 7 : 0; k <= i; ++k)
      if (b.length[k] > limit) return true;
    return false;
  }
  // For a loader that learns its pilot and sync from a file before.
  void use_sync(const PilotSync& sync) { pilot_sync_ = sync; }

  // A block of a chain read to its last byte (or cut short): it begins where the block
  // before it ended, the first at the pilot; it goes on the open file if it loads right
  // after it, else it begins a file of its own.
  void chain_block(std::uint16_t start, std::vector<std::uint8_t> data, const CopyReport& report) {
    const bool first = chained_++ == 0;
    fill(block_, Kind::kProgram, {}, start, std::move(data), report,
         first ? span_offset_ : next_offset_, first ? span_time_ : next_time_);
    next_offset_ = last_offset_;
    next_time_ = after_time_;
    chain();
  }
  // Blocks read from here on begin a chain of their own (and a pilot taken does so).
  void new_chain() { chained_ = 0; }
  // The blocks read of the chain so far.
  int chained() const { return chained_; }
  // The open file goes to the sink; `whole`: its structure is known to be whole.
  void flush(bool whole = false) {
    if (!open_) return;
    TapeFile f = std::move(*open_);
    open_.reset();
    deliver(std::move(f), whole);
  }
  // The block is over: after a trailer of `trailer` bytes, if the format has one, the pulses
  // must stop being bits within two bytes or turn into the next block's pilot of `pilot`
  // bytes, for it to have ended where it said it would; or `enough` trailer bytes tell it,
  // where the format says no more. Only files that wait for their structure's end need
  // this; false when none does.
  bool expect_end(std::uint8_t pilot, int trailer = -1, int enough = 0) {
    if (pending_.empty()) return false;
    ending_ = end_pilots_ = end_trailers_ = 0;
    end_pilot_ = pilot;
    end_trailer_ = trailer;
    end_enough_ = enough;
    return true;
  }
  // The loader's code was recognised in a file before: its files are known to be its.
  void boot_seen() { boot_ = true; }
  bool boot() const { return boot_; }
  // The structure that the files waiting for it belong to ended as the format has it (true),
  // or not: they become files (unverified when nothing else proves them), or are dropped.
  void settle(bool whole) {
    if (!whole && !pending_.empty()) drop_spans(pending_.front().half_cycles);
    release_spans();
    for (TapeFile& f : pending_)
      if (whole && prove(f, true) == Fate::kFile) sink_.file(std::move(f));
    pending_.clear();
  }
  // The nominal lengths of the pulses of the files it reads from now on (TAP units), where
  // the loader before tells them.
  void nominal_pulses(const std::array<std::uint8_t, 4>& lengths) { pulses_ = lengths; }
  // A file that waits for its structure's end whatever else proves it (a format that says
  // where a chain ends only after its last file).
  void hold(TapeFile&& f) { pending_.push_back(std::move(f)); }
  DataCheck::Op sum_op() const {
    return info_.sum_adds ? DataCheck::Op::kSum : DataCheck::Op::kXor;
  }
  // A file of one block: its verdict from its copy's report.
  TapeFile file(Kind kind, const std::array<std::uint8_t, 16>& name, std::uint16_t start,
                std::vector<std::uint8_t> data, const CopyReport& report, std::uint64_t offset,
                std::uint64_t time) const {
    TapeFile f;
    fill(f, kind, name, start, std::move(data), report, offset, time);
    return f;
  }
  // A block of its own read from its head on, to its last byte or cut short: a program file
  // from the pilot on, loaded at `start`, of the `size` bytes its head gave (its end where
  // those end, whatever of them was read); `evidence` bytes of sync and head had to match.
  void block_file(std::uint16_t start, std::size_t size, std::vector<std::uint8_t> data,
                  const CopyReport& report, int evidence) {
    TapeFile f = file(Kind::kProgram, {}, start, std::move(data), report, span_offset_, span_time_);
    f.end = static_cast<std::uint16_t>(start + size);
    f.evidence = evidence;
    end_span();
    emit(std::move(f));
  }
  // The data after a head of `head` bytes: as much of `size` bytes as was read.
  static std::vector<std::uint8_t> data_after(const std::vector<std::uint8_t>& bytes,
                                              std::size_t head, std::size_t size) {
    const std::size_t n = std::min(size, bytes.size() - head);
    return {bytes.begin() + static_cast<long>(head), bytes.begin() + static_cast<long>(head + n)};
  }
  // What the XOR of the data, from `seed`, tells against the check byte `found` (-1: not
  // read, the block cut short).
  static CopyReport xor_checked(const std::vector<std::uint8_t>& data, int found,
                                std::uint8_t seed = 0) {
    std::uint8_t x = seed;
    for (const auto b : data) x ^= b;
    const bool read = found >= 0;
    return {true, 0, read && x == found, read, found, read ? x : -1};
  }
  // The same made in `f`, a file made so before or none: its lists keep their room, so that
  // a block joined to a chain costs no allocation more than its bytes.
  void fill(TapeFile& f, Kind kind, const std::array<std::uint8_t, 16>& name, std::uint16_t start,
            std::vector<std::uint8_t> data, const CopyReport& report, std::uint64_t offset,
            std::uint64_t time) const {
    f.loader = &info_;
    f.pulses = pulses_;
    f.kind = kind;
    f.name = name;
    f.start = start;
    f.end = static_cast<std::uint16_t>(start + data.size());
    f.data = std::move(data);
    f.body.copy[0] = report;
    f.body_blocks = 1;
    f.verdict = !report.complete     ? Verdict::kIncomplete
                : report.checksum_ok ? Verdict::kOk
                                     : Verdict::kBad;
    f.offset = offset;
    f.half_cycles = time;
    f.end_offset = last_offset_;
    f.end_half_cycles = last_end_;
    f.blocks.assign(1, read(start, f.data.size(), report, offset, time));
    f.checks.clear();
    if (report.sum_found >= 0 && report.sum_computed >= 0)  // one XOR over the data
      f.checks.push_back(
          data_check(sum_op(), f.data, 0, f.data.size(), report.sum_found, report.sum_computed));
  }
  // A block as the reports show it: read from `time` to the last pulse read.
  BlockRead read(std::uint16_t start, std::size_t size, const CopyReport& report,
                 std::uint64_t offset, std::uint64_t time) const {
    BlockRead r;
    if (bounds_) {  // the bytes read for it from where it begins, used up
      for (const auto& [v, end] : trace_) {
        if (end <= offset) continue;  // before it: the block before's trailer
        r.stream.push_back(v);
        r.ends.push_back(end);
      }
      trace_.clear();
    }
    r.offset = offset;
    r.end_offset = std::max(offset, last_offset_);
    r.time = time;
    r.end_time = std::max(time, last_end_);
    r.start = start;
    r.size = size;
    r.state = report;
    return r;
  }
  void emit(TapeFile&& f, bool whole = false) {
    flush();
    deliver(std::move(f), whole);
  }

  const LoaderInfo& info_;
  FileSink& sink_;
  Bits bits_;
  bool engaged_ = false;

 private:
  // The block just read (block_) goes on the open file, or begins one.
  void chain() {
    if (open_ && joins(*open_, block_)) {
      append(*open_, block_);
      return;
    }
    // A block that loads right after the open file, damaged or not, shows the chain to go
    // on as the format has it: with the open file's check byte, that proves it whole.
    flush(info_.checksum && open_ && loads_after(*open_, block_));
    open_ = std::exchange(block_, {});
  }

  // A file goes to the sink with what proves it. One read well: its loader recognised
  // before it; or its check bytes and its structure, whole to its end (one check byte of
  // eight bits holds on one random block in 256: alone it proves nothing), or two check bytes
  // or more; or, without a checksum, its structure alone, which makes it unverified. Until
  // its structure's end is known it waits. One read damaged: with its loader recognised, or
  // of a loader that needs none (its damage is worth telling); else it is no file.
  enum class Fate { kFile, kWait, kNone };
  Fate prove(TapeFile& f, bool whole) const {
    if (f.verdict == Verdict::kOk) {
      if (boot_) {
        f.proof = info_.checksum ? Proof::kChecksum : Proof::kBoot;
      } else if (info_.checksum && (whole || f.checks.size() >= 2)) {
        f.proof = Proof::kChecksum;
      } else if (!whole) {
        return Fate::kWait;
      } else {
        f.proof = Proof::kStructure;
        f.verdict = Verdict::kUnverified;
      }
    } else if (boot_ && f.verdict != Verdict::kNamed) {
      f.proof = Proof::kBoot;
    } else if (info_.needs_boot && f.verdict != Verdict::kNamed) {
      return Fate::kNone;  // damage in what may not be this loader's at all
    } else {
      f.proof = Proof::kStructure;  // a name read, or damage worth telling
    }
    return Fate::kFile;
  }
  void deliver(TapeFile&& f, bool whole) {
    switch (prove(f, whole)) {
      case Fate::kFile:
        release_spans();
        sink_.file(std::move(f));
        return;
      case Fate::kWait:
        pending_.push_back(std::move(f));
        return;
      case Fate::kNone:
        drop_spans(f.half_cycles);
        return;
    }
  }
  // What the open chain read stays held: it may yet be no file.
  void release_spans() {
    const std::uint64_t keep =
        open_ ? open_->half_cycles : std::numeric_limits<std::uint64_t>::max();
    std::size_t kept = 0;
    for (const auto& span : spans_held_) {
      if (span[0] >= keep) {
        spans_held_[kept++] = span;
      } else {
        sink_.span(span[0], span[1], span[2]);
      }
    }
    spans_held_.resize(kept);
  }
  // The stretches read from `time` on were no file's.
  void drop_spans(std::uint64_t time) {
    while (!spans_held_.empty() && spans_held_.back()[0] >= time) spans_held_.pop_back();
  }

  std::size_t ended(bool whole, std::size_t i) {
    ending_ = -1;
    settle(whole);
    engaged_ = false;
    return i;
  }

  std::optional<TapeFile> open_;
  TapeFile block_;                 // the block of a chain just read
  std::vector<TapeFile> pending_;  // read whole, waiting for their structure's end
  std::vector<std::array<std::uint64_t, 3>> spans_held_;  // start, end, pulses
  int ending_ = -1;     // bytes read since expect_end(); -1: not expecting it
  int end_pilots_ = 0;  // pilot bytes in a row since
  std::uint8_t end_pilot_ = 0;
  int end_trailer_ = -1, end_trailers_ = 0, end_enough_ = 0;
  bool boot_ = false;
  PilotSync pilot_sync_;
  bool synced_ = false;
  int chained_ = 0;                                // blocks of the chain read so far
  std::uint64_t next_offset_ = 0, next_time_ = 0;  // where its next block begins
  std::uint64_t after_time_ = 0;                   // when the pulse after the last byte begins
  std::uint64_t span_offset_ = 0, span_time_ = 0, span_pulses_ = 0;
  std::uint64_t last_end_ = 0, last_offset_ = 0, bit_end_ = 0;
  double sum_threshold_ = 0;
  double spans_ = 0;
  // Asked for: the bytes read since the last block, each with where it ends in the input
  // (filled while reading, used up by `read`, which is const as the reports are).
  bool bounds_ = false;
  std::array<std::uint8_t, 4> pulses_{};  // the nominal lengths its files' pulses have
  mutable std::vector<std::pair<std::uint8_t, std::uint64_t>> trace_;
};

// Where `code` first occurs in the bytes from `from` on, each -1 in it matching any byte; the
// bytes' size where it does not.
template <std::size_t N>
std::size_t find_code(const std::vector<std::uint8_t>& bytes,
                      const std::array<std::int16_t, N>& code, std::size_t from = 0) {
  for (std::size_t at = from; at + N <= bytes.size(); ++at) {
    std::size_t k = 0;
    while (k < N && (code[k] < 0 || bytes[at + k] == code[k])) ++k;
    if (k == N) return at;
  }
  return bytes.size();
}

// Whether `code` occurs in the bytes, each -1 in it matching any byte: a loader's code
// recognised in the file that loads it. Branch offsets and addresses that differ between
// copies of one loader are left open.
template <std::size_t N>
bool has_code(const std::vector<std::uint8_t>& bytes, const std::array<std::int16_t, N>& code) {
  return find_code(bytes, code) < bytes.size();
}

// A name for the report from up to 16 bytes.
inline std::array<std::uint8_t, 16> name_of(const std::uint8_t* bytes, std::size_t n) {
  std::array<std::uint8_t, 16> name;
  name.fill(0x20);
  std::copy_n(bytes, std::min<std::size_t>(n, 16), name.begin());
  return name;
}

}  // namespace tapewren::tape
