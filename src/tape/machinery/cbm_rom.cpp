// The ROM loaders' pulse pairs, markers and blocks, and their copies made into files.
#include "tape/machinery/cbm_rom.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tapewren::tape {

namespace {

constexpr int kCountdownBytes = 9;
constexpr int kPulsesPerByte = 20;
constexpr std::uint64_t kResyncLimit = 4ULL * kPulsesPerByte;  // pulses without a marker
constexpr int kTrailerShorts = 16;           // C16: shorts in a row after a lost byte end the block
constexpr double kRepeatWithin = 2.0;        // seconds from a first copy's end to its repeat
constexpr std::uint64_t kTrailerGap = 4000;  // half cycles: shorts this soon after a block trail it

bool checksum_ok(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return false;
  std::uint8_t x = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) x ^= bytes[i];
  return x == bytes.back();
}

CopyReport report_of(const RomCopy& b) {
  CopyReport r{true, b.bad_bytes, b.bad_bytes == 0 && b.complete && checksum_ok(b.bytes),
               b.complete};
  if (b.complete && !b.bytes.empty()) {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i + 1 < b.bytes.size(); ++i) x ^= b.bytes[i];
    r.sum_found = b.bytes.back();
    r.sum_computed = x;
  }
  return r;
}

BlockRead read_of(const RomCopy& b) {
  BlockRead r;
  r.copy = b.copy;
  r.offset = b.offset;
  r.time = b.time;
  r.end_time = b.end_time;
  r.end_offset = b.end_offset;
  r.size = b.bytes.size() - (b.complete && !b.bytes.empty() ? 1 : 0);
  r.state = report_of(b);
  for (std::size_t i = 0; i < b.bad.size() && r.bad.size() < BlockRead::kMaxBad; ++i)
    if (b.bad[i]) r.bad.push_back(static_cast<std::uint32_t>(i));
  return r;
}

// What a file put together from several recordings needs of a block whose payload lies at
// data[at, at + size): the bytes neither copy read, and its check (seeded with the bytes
// before `at` that it covers).
void add_checks(TapeFile& f, const MergedBlock& m, std::size_t skip, std::size_t at) {
  f.bytes_checked = true;
  const std::size_t payload = m.bytes.empty() ? 0 : m.bytes.size() - 1;
  for (std::uint32_t i : m.lost)
    if (i >= skip && i < payload) f.unread.push_back(static_cast<std::uint32_t>(at + i - skip));
  DataCheck check;
  check.begin = static_cast<std::uint32_t>(at);
  check.end = static_cast<std::uint32_t>(at + payload - std::min(skip, payload));
  for (std::size_t i = 0; i < skip && i < payload; ++i) check.seed ^= m.bytes[i];
  if (m.sum_read()) check.expected = m.bytes.back();
  f.checks.push_back(check);
}

// A file's blocks: those of `m`, in the role given.
void add_reads(TapeFile& f, const MergedBlock& m, const char* role) {
  for (BlockRead r : m.reads) {
    r.role = role;
    f.end_half_cycles = std::max(f.end_half_cycles, r.end_time);
    f.end_offset = std::max(f.end_offset, r.end_offset);
    f.blocks.push_back(std::move(r));
  }
}

}  // namespace

// ---- Reading blocks -------------------------------------------------------------------------

bool RomLoader::engage(const Pilot& pilot, std::size_t from) {
  if (pilot.kind != Pilot::Kind::kRun) return false;
  // Shorts right after a block are its trailer (or the repeat's lead-in).
  trailer_ = calibrations_ > 0 && pilot.time >= last_time_ && pilot.time - last_time_ < kTrailerGap;
  classes_.calibrate(pilot.average16, timing_.medium_ratio16, timing_.long_ratio16);
  block_ = RomCopy{};
  block_.offset = pilot.offset;
  block_.time = pilot.time;
  block_before_ = pulse_no_ - (pilot.count - (pilot.end - from));  // the lead-in's are the block's
  state_ = State::kLeadIn;
  return true;
}

void RomLoader::begin_byte() {
  marker_index_ = block_.bytes.size();
  value_ = 0;
  pulses_ = 0;
  byte_bad_ = false;
  first_ = PulseClasses::kNone;
  state_ = State::kBits;
}

void RomLoader::end_byte(bool parity_one) {
  int ones = parity_one ? 1 : 0;
  for (int bit = 0; bit < 8; ++bit) ones += (value_ >> bit) & 1;
  block_.bytes.push_back(value_);
  block_.bad.push_back(byte_bad_ || ones % 2 == 0);  // odd parity over the bits and the parity
  state_ = State::kAfterByte;
}

// The pulses stopped making sense inside a byte: it is lost, the next marker is looked for.
void RomLoader::lose_byte() {
  if (state_ == State::kMarker && block_.bytes.empty()) {
    state_ = State::kIdle;
    return;
  }
  if (state_ == State::kBits) {
    block_.bytes.push_back(0);
    block_.bad.push_back(true);
  }
  first_ = PulseClasses::kNone;
  pulses_ = 0;  // now the shorts in a row
  state_ = State::kResync;
}

void RomLoader::end_block(bool complete, std::uint64_t end_time) {
  state_ = State::kIdle;
  RomCopy b = std::move(block_);
  block_ = RomCopy{};
  if (b.bytes.size() <= static_cast<std::size_t>(kCountdownBytes)) return;
  int first_copy = 0, repeat = 0;
  for (int i = 0; i < kCountdownBytes; ++i) {
    if (b.bad[i]) continue;
    first_copy += b.bytes[i] == 0x89 - i;
    repeat += b.bytes[i] == 0x09 - i;
  }
  if (first_copy == 0 && repeat == 0) return;  // not a block: something else that had markers
  b.copy = repeat > first_copy ? 2 : 1;
  b.bytes.erase(b.bytes.begin(), b.bytes.begin() + kCountdownBytes);
  b.bad.erase(b.bad.begin(), b.bad.begin() + kCountdownBytes);
  b.bad_bytes = static_cast<int>(std::count(b.bad.begin(), b.bad.end(), true));
  b.complete = complete;
  b.end_time = end_time;
  b.end_offset = last_offset_;
  last_time_ = end_time;
  for (int c = 0; c < 3; ++c)
    sum_center_[c] += classes_.center_half_cycles(static_cast<Class>(c)) / 2;  // in cycles
  ++calibrations_;
  sink_.span(b.time, end_time, pulse_no_ - block_before_);
  files_.take(std::move(b));
}

std::size_t RomLoader::take(const PulseBlock& block, std::size_t from) {
  const std::size_t n = block.count;
  // The pulse's number from the index: no pulse waits for the count of the one before.
  const std::uint64_t before = pulse_no_ - from;
  for (std::size_t i = from; i < n; ++i) {
    const std::uint32_t p = block.length[i];
    pulse_no_ = before + i + 1;
    // The lead-in's thousands of short pulses take the short way.
    if (state_ == State::kLeadIn && classes_.is_lead_in(p)) {
      classes_.track(PulseClasses::kShort, p);
      continue;
    }
    const Class c = classes_.classify(p);
    if (c != PulseClasses::kNone) classes_.track(c, p);
    const std::uint64_t end = block.time[i] + p;
    last_offset_ =
        i + 1 < n ? block.offset[i + 1] : std::max(block.end_offset, block.offset[i] + 1);
    switch (state_) {
      case State::kIdle:
        return i;
      case State::kLeadIn:
        if (c != PulseClasses::kLong) {  // a lead-in of something else, or a trailer
          if (trailer_) sink_.span(block_.time, block.time[i], pulse_no_ - block_before_ - 1);
          state_ = State::kIdle;
          return i;
        }
        marker_pulse_no_ = pulse_no_;
        state_ = State::kMarker;
        break;
      case State::kMarker:
      case State::kEndOrMarker:
        if (c == PulseClasses::kMedium) {
          begin_byte();
        } else if (c == PulseClasses::kShort && state_ == State::kEndOrMarker) {
          end_block(true, end);  // long+short: the end of the block
          return i + 1;
        } else {
          lose_byte();
          if (state_ == State::kIdle) return i;
        }
        break;
      case State::kBits: {
        if (c != PulseClasses::kShort && c != PulseClasses::kMedium) {
          lose_byte();
          break;
        }
        if (pulses_++ % 2 == 0) {
          first_ = c;
          break;
        }
        byte_bad_ |= first_ == c;  // two shorts or two mediums are no bit
        const bool one = first_ == PulseClasses::kMedium;
        if (pulses_ < 18) {
          value_ = static_cast<std::uint8_t>(value_ | (one ? 1 : 0) << (pulses_ / 2 - 1));
        } else {
          end_byte(one);
          last_time_ = end;
        }
        break;
      }
      case State::kAfterByte:
        if (c == PulseClasses::kMedium && timing_.ends_with_medium) {
          end_block(true, end);  // one medium: the end of the block
          return i + 1;
        }
        if (c != PulseClasses::kLong) {
          lose_byte();
          break;
        }
        marker_pulse_no_ = pulse_no_;
        marker_index_ = block_.bytes.size();
        state_ = timing_.ends_with_medium ? State::kMarker : State::kEndOrMarker;
        break;
      case State::kResync:
        if (classes_.above(p)) {  // a pause: the block is over
          end_block(false, last_time_);
          return i;
        }
        if (first_ == PulseClasses::kLong && c == PulseClasses::kMedium) {
          // A marker again: the bytes lost in between follow from the pulses counted.
          const auto lost = static_cast<std::size_t>(
              std::lround(static_cast<double>(pulse_no_ - 1 - marker_pulse_no_) / kPulsesPerByte));
          while (block_.bytes.size() < marker_index_ + lost) {
            block_.bytes.push_back(0);
            block_.bad.push_back(true);
          }
          marker_pulse_no_ = pulse_no_ - 1;
          begin_byte();
          break;
        }
        if (first_ == PulseClasses::kLong && c == PulseClasses::kShort &&
            !timing_.ends_with_medium) {
          end_block(true, end);
          return i + 1;
        }
        // Shorts in a row: the trailer after a block that ends with a medium pulse.
        pulses_ = c == PulseClasses::kShort ? pulses_ + 1 : 0;
        if (timing_.ends_with_medium && pulses_ >= kTrailerShorts) {
          end_block(true, last_time_);
          return std::max(from, i + 1 - kTrailerShorts);
        }
        first_ = c;
        if (pulse_no_ - marker_pulse_no_ > kResyncLimit) {
          end_block(false, last_time_);
          return i + 1;
        }
        break;
    }
  }
  return n;
}

void RomLoader::finish() {
  if (state_ != State::kIdle && state_ != State::kLeadIn) end_block(false, last_time_);
  state_ = State::kIdle;
  files_.finish();
}

std::uint64_t RomLoader::holding() const {
  const std::uint64_t files = files_.holding();
  return state_ != State::kIdle ? std::min(files, block_.offset) : files;
}

void RomLoader::marks(std::vector<Mark>& out) const {
  if (calibrations_ == 0) return;
  const auto n = static_cast<double>(calibrations_);
  static const char* const kNames[] = {"short", "medium", "long"};
  for (int c = 0; c < 3; ++c)
    out.push_back({std::string(info_.name) + " " + kNames[c], sum_center_[c] / n});
  // The bounds lie halfway between the centers.
  for (int c = 0; c < 2; ++c)
    out.push_back({std::string(info_.name) + " " + kNames[c] + "|" + kNames[c + 1],
                   (sum_center_[c] + sum_center_[c + 1]) / (2 * n), true});
}

// ---- Copies into files ----------------------------------------------------------------------

namespace {

RomFiles::Merged merge(const RomCopy* first, const RomCopy* repeat) {
  const RomCopy& base = first ? *first : *repeat;
  RomFiles::Merged m;
  m.offset = base.offset;
  m.time = base.time;
  const auto size_of = [](const RomCopy* b) { return b ? b->bytes.size() : 0; };
  std::size_t n = std::max(size_of(first), size_of(repeat));
  if (first && first->complete)
    n = first->bytes.size();
  else if (repeat && repeat->complete)
    n = repeat->bytes.size();
  for (std::size_t i = 0; i < n; ++i) {
    const bool in_first = first && i < first->bytes.size() && !first->bad[i];
    const bool in_repeat = repeat && i < repeat->bytes.size() && !repeat->bad[i];
    m.bytes.push_back(in_first ? first->bytes[i] : in_repeat ? repeat->bytes[i] : 0);
    m.report.taken_from_repeat += first && !in_first && in_repeat;  // repaired, not replaced
    m.recovered &= in_first || in_repeat;
    if (!in_first && !in_repeat) m.lost.push_back(static_cast<std::uint32_t>(i));
  }
  if (first) m.report.copy[0] = report_of(*first);
  if (repeat) m.report.copy[1] = report_of(*repeat);
  if (first) m.reads.push_back(read_of(*first));
  if (repeat) m.reads.push_back(read_of(*repeat));
  m.complete = (first && first->complete) || (repeat && repeat->complete);
  m.sum_ok = m.recovered && m.complete && checksum_ok(m.bytes);
  return m;
}

// Worst first: a block cut off, one that does not verify, one that needed its repeat.
Verdict judge(const std::vector<const RomFiles::Merged*>& blocks) {
  Verdict v = Verdict::kOk;
  for (const auto* m : blocks) {
    if (!m->complete) return Verdict::kIncomplete;
    if (!m->sum_ok) v = Verdict::kBad;
    const bool repaired = m->report.taken_from_repeat > 0 || !m->report.copy[0].found;
    if (repaired && v == Verdict::kOk) v = Verdict::kRepaired;
  }
  return v;
}

}  // namespace

// A repeat belongs to the first copy before it when it follows within seconds, is as long,
// and the bytes both read agree.
bool RomFiles::pairs(const RomCopy& first, const RomCopy& repeat) const {
  if (sink_.seconds(repeat.time) - sink_.seconds(first.end_time) > kRepeatWithin) return false;
  const std::size_t a = first.bytes.size(), b = repeat.bytes.size();
  if (first.complete && repeat.complete && a != b) return false;
  if ((first.complete && b > a) || (repeat.complete && a > b)) return false;
  std::size_t both = 0, same = 0;
  for (std::size_t i = 0; i < std::min(a, b); ++i) {
    if (first.bad[i] || repeat.bad[i]) continue;
    ++both;
    same += first.bytes[i] == repeat.bytes[i];
  }
  return both < 4 || same * 4 >= both * 3;
}

void RomFiles::take(RomCopy&& copy) {
  if (held_ && copy.copy == 2 && pairs(*held_, copy)) {
    add(merge(&*held_, &copy));
    held_.reset();
    return;
  }
  if (held_) add(merge(&*held_, nullptr));
  held_.reset();
  if (copy.copy == 1) {
    held_ = std::move(copy);
  } else {
    add(merge(nullptr, &copy));  // a repeat whose first copy was lost
  }
}

void RomFiles::finish() {
  if (held_) add(merge(&*held_, nullptr));
  held_.reset();
  close_program(nullptr);
  close_data_file();
}

std::uint64_t RomFiles::holding() const {
  std::uint64_t at = std::numeric_limits<std::uint64_t>::max();
  if (held_) at = std::min(at, held_->offset);
  if (program_) at = std::min(at, program_->offset);
  if (data_file_) at = std::min(at, data_file_->offset);
  return at;
}

TapeFile RomFiles::from_header(const Merged& m, Kind kind) const {
  const auto& b = m.bytes;
  TapeFile f;
  f.loader = &info_;
  f.kind = kind;
  f.type = b[0];
  f.start = static_cast<std::uint16_t>(b[1] | b[2] << 8);
  f.end = static_cast<std::uint16_t>(b[3] | b[4] << 8);
  std::copy_n(b.begin() + 5, 16, f.name.begin());
  f.header_bytes = m.payload();
  f.header = m.report;
  add_reads(f, m, "header");
  f.offset = m.offset;
  f.half_cycles = m.time;
  f.seconds = sink_.seconds(m.time);
  return f;
}

void RomFiles::add(const Merged& m) {
  if (program_) {
    const std::size_t expected = static_cast<std::uint16_t>(program_->end - program_->start);
    if (!m.header_like() || m.payload().size() == expected) return close_program(&m);
    close_program(nullptr);
  }
  if (data_file_ && m.header_like() && m.type() == 2) {
    body_.push_back(m);
    return;
  }
  close_data_file();
  if (m.header_like() && (m.type() == 1 || m.type() == 3)) {
    program_ = from_header(m, Kind::kProgram);
    header_ = {m};
  } else if (m.header_like() && m.type() == 4) {
    data_file_ = from_header(m, Kind::kDataFile);
    header_ = {m};
    body_.clear();
  } else if (!(m.header_like() && m.type() == 5)) {  // the end-of-tape mark is no file
    without_header(m);
  }
}

void RomFiles::close_program(const Merged* data) {
  if (!program_) return;
  TapeFile f = std::move(*program_);
  program_.reset();
  if (!data) {
    f.kind = Kind::kHeaderOnly;
    f.verdict = Verdict::kIncomplete;
    return sink_.file(std::move(f));
  }
  f.data = data->payload();
  f.body = data->report;
  f.body_blocks = 1;
  add_reads(f, *data, "data");
  add_checks(f, *data, 0, 0);
  f.verdict = judge({&header_[0], data});
  // The machine loads what the block holds, wherever its end mark comes.
  const std::size_t expected = static_cast<std::uint16_t>(f.end - f.start), got = f.data.size();
  if (got < expected && data->complete)
    f.notes.push_back(std::to_string(got) + " of " + std::to_string(expected) +
                      " bytes: the block ends early");
  if (got > expected)
    f.notes.push_back(std::to_string(got - expected) + " bytes more than the header's end address");
  sink_.file(std::move(f));
}

void RomFiles::close_data_file() {
  if (!data_file_) return;
  TapeFile f = std::move(*data_file_);
  data_file_.reset();
  std::vector<const Merged*> blocks = {&header_[0]};
  std::vector<std::uint8_t> records;
  for (int c = 0; c < 2; ++c) f.body.copy[c] = {false, 0, true, true};
  for (const Merged& m : body_) {
    blocks.push_back(&m);
    add_reads(f, m, "record");
    const auto p = m.payload();
    add_checks(f, m, 1, records.size());  // the record's type byte is no data
    records.insert(records.end(), p.begin() + 1, p.end());
    f.records.insert(f.records.end(), p.begin(), p.end());
    for (int c = 0; c < 2; ++c) {
      const CopyReport& r = m.report.copy[c];
      CopyReport& sum = f.body.copy[c];
      sum.bad_bytes += r.bad_bytes;
      sum.complete &= !r.found || r.complete;
      sum.checksum_ok &= !r.found || r.checksum_ok;
      sum.found |= r.found;
    }
    f.body.taken_from_repeat += m.report.taken_from_repeat;
  }
  f.body_blocks = static_cast<int>(body_.size());
  body_.clear();
  // The machine's reader returns the first byte whatever it is, then reads a byte ahead and
  // ends the file before the first 0x00 after it: one that was read, not one that stands for
  // a byte lost.
  std::size_t end = std::min<std::size_t>(1, records.size());
  for (std::size_t lost = 0; end < records.size(); ++end) {
    while (lost < f.unread.size() && f.unread[lost] < end) ++lost;
    if (records[end] == 0 && (lost == f.unread.size() || f.unread[lost] != end)) break;
  }
  if (end < records.size())
    f.notes.push_back("ends at its first 0x00, byte " + std::to_string(end) + " of " +
                      std::to_string(records.size()));
  f.data.assign(records.begin(), records.begin() + static_cast<long>(end));
  f.unread.erase(std::lower_bound(f.unread.begin(), f.unread.end(), end), f.unread.end());
  f.verdict = judge(blocks);
  sink_.file(std::move(f));
}

void RomFiles::without_header(const Merged& m) {
  TapeFile f;
  f.loader = &info_;
  f.kind = Kind::kDataWithoutHeader;
  f.data = m.payload();
  f.body = m.report;
  add_reads(f, m, "data");
  add_checks(f, m, 0, 0);
  f.body_blocks = 1;
  f.verdict = Verdict::kIncomplete;
  f.offset = m.offset;
  f.half_cycles = m.time;
  f.seconds = sink_.seconds(m.time);
  sink_.file(std::move(f));
}

}  // namespace tapewren::tape
