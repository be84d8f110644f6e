// The shared pilot search, one pulse at a time.
#include "tape/machinery/search.hpp"

#include <algorithm>

namespace tapewren::tape {

namespace {

// Moves an average (x16) an eighth of the way to the pulse; both stay far below 2^31.
inline void follow(std::uint32_t& avg16, std::uint32_t p16) {
  avg16 = static_cast<std::uint32_t>(
      static_cast<std::int32_t>(avg16) +
      ((static_cast<std::int32_t>(p16) - static_cast<std::int32_t>(avg16)) >> 3));
}

// Pulses back from the one that found a pilot of `period` pulses a repeat (kBytesFound of
// them periodic, over two repeats) to where it began. Right after a pause (`bits` pulses
// since), the pilot began with the first pulse the averages settled on.
std::uint32_t lead_of(std::uint32_t bits, std::uint32_t period) {
  const std::uint32_t lead_max = kBytesFound - 1 + 2 * period - 1;
  return bits <= lead_max + kSettle ? bits - 1 : lead_max;
}

}  // namespace

// The bytes stop repeating at pulse i: a pilot found ends there.
void PilotSearch::end_bytes(std::vector<Pilot>& out, std::size_t slot, std::size_t i) {
  if (!bytes_open_) return;
  out[slot].end = i;
  out[slot].count += bytes_pulses_;
  out[slot].zero16 = zero16_;
  out[slot].one16 = one16_;
  bytes_open_ = false;
}

// The pattern of three lengths stops repeating at pulse i: a pilot found ends there.
void PilotSearch::end_three(std::vector<Pilot>& out, std::size_t slot, std::size_t i) {
  if (!three_open_) return;
  out[slot].end = i;
  out[slot].count += three_pulses_;
  out[slot].zero16 = short16_;
  out[slot].one16 = long16_;
  three_open_ = false;
}

void PilotSearch::scan(const PulseBlock& block, std::vector<Pilot>& out) {
  out.clear();
  const std::size_t n = block.count;
  std::size_t run_slot = 0, bytes_slot = 0, three_slot = 0;
  // Pilots still going on at the end of the last block go on here: a loader may start among
  // the pulses carried over, which are the pilot's.
  if (run_open_) {
    run_pilot_.index = 0;
    run_pilot_.end = n;
    run_slot = out.size();
    out.push_back(run_pilot_);
  }
  if (bytes_open_) {
    bytes_pilot_.index = 0;
    bytes_pilot_.end = n;
    bytes_slot = out.size();
    out.push_back(bytes_pilot_);
  }
  if (three_open_) {
    three_pilot_.index = 0;
    three_pilot_.end = n;
    three_slot = out.size();
    out.push_back(three_pilot_);
  }
  // Where a pilot began: in this block, or among the pulses before it.
  const auto at = [&](std::size_t i, std::uint32_t back, Pilot& pilot) {
    if (back <= i) {
      pilot.offset = block.offset[i - back];
      pilot.time = block.time[i - back];
    } else {
      const std::uint32_t before = back - static_cast<std::uint32_t>(i);
      pilot.offset = tail_offset_[kTail - before];
      pilot.time = tail_time_[kTail - before];
    }
  };
  for (std::size_t i = block.first; i < n; ++i) {
    if (run_open_) {  // the lead-in's thousands of pulses, the short way, until one breaks it
      std::uint32_t run = run_, avg16 = run_avg16_;
      for (; i < n; ++i) {
        const std::uint32_t p16 = block.length[i] << 4;
        const std::uint32_t diff = p16 > avg16 ? p16 - avg16 : avg16 - p16;
        if (block.length[i] < kRunMin || block.length[i] > kRunMax || diff * 4 > avg16) break;
        ++run;
        follow(avg16, p16);
      }
      run_ = run;
      run_avg16_ = avg16;
      if (i == n) break;
    }
    const std::uint32_t p = block.length[i];
    const std::uint32_t p16 = p << 4;
    // The run.
    const bool lead_in = p >= kRunMin && p <= kRunMax;
    const std::uint32_t diff = p16 > run_avg16_ ? p16 - run_avg16_ : run_avg16_ - p16;
    if (run_ > 0 && lead_in && diff * 4 <= run_avg16_) {
      ++run_;
      follow(run_avg16_, p16);
      if (run_ == kRunFound) {
        run_pilot_ = Pilot{};
        run_pilot_.kind = Pilot::Kind::kRun;
        run_pilot_.id = next_id_++;
        run_pilot_.index = i;
        run_pilot_.end = n;
        run_pilot_.count = run_;
        run_pilot_.average16 = run_avg16_;
        at(i, kRunFound - 1, run_pilot_);
        run_slot = out.size();
        out.push_back(run_pilot_);
        run_open_ = true;
        ++found_;
        end_bytes(out, bytes_slot, i);  // no byte pilot lies inside a run
        end_three(out, three_slot, i);
      }
      if (run_open_) continue;  // the lead-in's thousands of pulses: nothing else to look at
    } else {
      if (run_open_) {  // the run ends: its length and where its average came to
        out[run_slot].end = i;
        out[run_slot].count = run_;
        out[run_slot].average16 = run_avg16_;
        bits_ = reg_ = periodic7_ = periodic8_ = periodic9_ = periodic13_ =
            0;  // the bytes start afresh
        reg3_ = 0;
      }
      run_open_ = false;
      run_ = lead_in ? 1 : 0;
      run_avg16_ = p16;
    }
    // The bytes.
    if (p >= kBitMin && p <= kBitMax) {
      // Short and long split halfway between the recent extremes, which close in slowly: any
      // mix of the two (seven shorts to a long, or four to four) splits in the gap between.
      if (bits_++ == 0) {
        min16_ = max16_ = p16;
        zero16_ = one16_ = short16_ = long16_ = 0;
      }
      max16_ = std::max(max16_ - ((max16_ - min16_) >> 6), p16);
      min16_ = std::min(min16_ + ((max16_ - min16_) >> 6), p16);
      // Three lengths, the same 13 pulses again and again, with the extremes half as long
      // again as each other at least (not one length and its jitter).
      const std::uint32_t quarter = (max16_ - min16_) / 4;
      const std::uint32_t three = p16 < min16_ + quarter ? 0 : p16 > max16_ - quarter ? 2 : 1;
      if (three != 1) {
        std::uint32_t& average = three == 0 ? short16_ : long16_;
        if (average == 0) {
          average = p16;
        } else {
          follow(average, p16);
        }
      }
      reg3_ = reg3_ << 2 | three;
      constexpr std::uint32_t kPeriod3 = 13;
      constexpr std::uint64_t kMask3 = (std::uint64_t{1} << (2 * kPeriod3)) - 1;
      const bool wide = max16_ * 2 > min16_ * 3;
      periodic13_ =
          wide && (reg3_ & kMask3) == ((reg3_ >> (2 * kPeriod3)) & kMask3) ? periodic13_ + 1 : 0;
      if (three_open_ && periodic13_ == 0) end_three(out, three_slot, i);
      if (three_open_) {
        ++three_pulses_;
      } else if (periodic13_ == kBytesFound) {
        three_pilot_ = Pilot{};
        three_pilot_.kind = Pilot::Kind::kThree;
        three_pilot_.id = next_id_++;
        three_pilot_.index = i;
        three_pilot_.end = n;
        three_pilot_.zero16 = short16_;
        three_pilot_.one16 = long16_;
        three_pilot_.period = kPeriod3;
        three_pilot_.pattern = static_cast<std::uint32_t>(reg3_ & kMask3);
        const std::uint32_t lead = lead_of(bits_, kPeriod3);
        three_pilot_.count = lead + 1;
        three_pulses_ = 0;
        at(i, lead, three_pilot_);
        three_slot = out.size();
        out.push_back(three_pilot_);
        three_open_ = true;
        ++found_;
      }
      const bool one = p16 * 2 > max16_ + min16_;
      std::uint32_t& average = one ? one16_ : zero16_;
      if (average == 0) {
        average = p16;  // a class's first pulse starts its average
      } else {
        follow(average, p16);
      }
      reg_ = reg_ << 1 | (one ? 1u : 0u);
      // The same byte twice running (eight bits, or nine for a byte with a lead bit; or a
      // cycle of seven pulses), not all short or all long, with two classes apart. No stretch
      // repeats in two of these periods at once: at most one pilot is open.
      const bool distinct = max16_ * 4 > min16_ * 5;
      const std::uint32_t p7 = reg_ & 0x7F, p8 = reg_ & 0xFF, p9 = reg_ & 0x1FF;
      const std::uint32_t was8 = periodic8_, was9 = periodic9_;
      periodic7_ =
          distinct && ((reg_ >> 7) & 0x7F) == p7 && p7 != 0 && p7 != 0x7F ? periodic7_ + 1 : 0;
      periodic8_ =
          distinct && ((reg_ >> 8) & 0xFF) == p8 && p8 != 0 && p8 != 0xFF ? periodic8_ + 1 : 0;
      periodic9_ =
          distinct && ((reg_ >> 9) & 0x1FF) == p9 && p9 != 0 && p9 != 0x1FF ? periodic9_ + 1 : 0;
      const std::uint32_t open_period = bytes_pilot_.period;
      if (bytes_open_ && (open_period == 8   ? periodic8_
                          : open_period == 9 ? periodic9_
                                             : periodic7_) > 0) {
        ++bytes_pulses_;
        continue;
      }
      if (!bytes_open_ &&
          (periodic8_ == kBytesFound || periodic9_ == kBytesFound || periodic7_ == kBytesFound)) {
        const std::uint32_t period = periodic8_ == kBytesFound   ? 8
                                     : periodic9_ == kBytesFound ? 9
                                                                 : 7;
        bytes_pilot_ = Pilot{};
        bytes_pilot_.kind = period == 7 ? Pilot::Kind::kCycle : Pilot::Kind::kBytes;
        bytes_pilot_.id = next_id_++;
        bytes_pilot_.index = i;
        bytes_pilot_.end = n;
        bytes_pilot_.zero16 = zero16_;
        bytes_pilot_.one16 = one16_;
        bytes_pilot_.period = static_cast<std::uint8_t>(period);
        bytes_pilot_.pattern = period == 8 ? p8 : period == 9 ? p9 : p7;
        const std::uint32_t lead = lead_of(bits_, period);
        bytes_pilot_.count = lead + 1;
        bytes_pulses_ = 0;
        at(i, lead, bytes_pilot_);
        bytes_slot = out.size();
        out.push_back(bytes_pilot_);
        bytes_open_ = true;
        ++found_;
        continue;
      }
      // A byte other than the pilot's ends one too short to be found: a brief pilot, its last
      // byte the bits before this one.
      const std::uint32_t was = periodic8_ == 0 && was8 >= kBytesBrief   ? 8
                                : periodic9_ == 0 && was9 >= kBytesBrief ? 9
                                                                         : 0;
      if (!bytes_open_ && was != 0) {
        Pilot brief;
        brief.kind = Pilot::Kind::kBytes;
        brief.brief = true;
        brief.id = next_id_++;
        brief.end = i;
        brief.zero16 = zero16_;
        brief.one16 = one16_;
        brief.period = static_cast<std::uint8_t>(was);
        brief.pattern = (reg_ >> 1) & ((1u << was) - 1);
        // Its first pulse that was periodic ended two of its bytes; right after a pause, it
        // began with the first pulse there (the averages were not yet apart).
        const std::uint32_t lead = (was == 8 ? was8 : was9) + 2 * was - 1;
        brief.count = bits_ - 1 <= lead + kSettle ? bits_ - 1 : lead;
        brief.index = i - std::min<std::size_t>(i, brief.count);  // a loader may read it all
        at(i, brief.count, brief);
        out.push_back(brief);
      }
    } else {
      reg_ = 0;
      reg3_ = 0;
      bits_ = 0;
      periodic7_ = periodic8_ = periodic9_ = periodic13_ = 0;
      end_three(out, three_slot, i);
    }
    end_bytes(out, bytes_slot, i);
  }
  // Where the pulses before the next block began: this block's, up to the ones it will carry
  // over as its prefix, after those before them.
  const std::size_t carried = std::min(kPrefix, n), upto = n - carried;
  const std::size_t keep = std::min(upto, kTail);
  std::copy(tail_offset_ + keep, tail_offset_ + kTail, tail_offset_);
  std::copy(tail_time_ + keep, tail_time_ + kTail, tail_time_);
  std::copy(block.offset + upto - keep, block.offset + upto, tail_offset_ + kTail - keep);
  std::copy(block.time + upto - keep, block.time + upto, tail_time_ + kTail - keep);
}

}  // namespace tapewren::tape
