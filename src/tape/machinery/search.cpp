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

// The averages (x16) of the short pulses (at most `low16`) and the long ones (over `high16`)
// among the `count` before pulse `end` of the block, as many as it holds. A class with none
// there keeps the average it had. Counted only where a pilot is found or ends, so that no
// pulse pays for it.
void class_averages(const PulseBlock& block, std::size_t end, std::size_t count,
                    std::uint32_t low16, std::uint32_t high16, std::uint32_t& short16,
                    std::uint32_t& long16) {
  std::uint32_t sum_short = 0, n_short = 0, sum_long = 0, n_long = 0;
  for (std::size_t k = end - std::min(end, count); k < end; ++k) {
    const std::uint32_t p16 = block.length[k] << 4;
    if (p16 <= low16) {
      sum_short += p16;
      ++n_short;
    } else if (p16 > high16) {
      sum_long += p16;
      ++n_long;
    }
  }
  if (n_short != 0) short16 = sum_short / n_short;
  if (n_long != 0) long16 = sum_long / n_long;
}

// The pulses a pilot's averages are taken over: four bytes, two periods of three lengths.
constexpr std::size_t kBytesWindow = 32, kThreeWindow = 26;

constexpr std::uint32_t kPeriod3 = 13;
constexpr std::uint64_t kMask3 = (std::uint64_t{1} << (2 * kPeriod3)) - 1;

// What a bit-long pulse makes of the run, the extremes and the bits, before any of it is
// kept: the data's pulses are read the short way with it, the rest the long way, alike.
struct Step {
  std::uint32_t run, run_avg16, min16, max16, reg;
  std::uint64_t reg3;
  bool again7, again8, again9, again13;  // the bits repeat over a period
};

// `min16` and `max16` are the extremes so far (the pulse itself after none).
inline Step step(std::uint32_t run, std::uint32_t run_avg16, std::uint32_t min16,
                 std::uint32_t max16, std::uint32_t reg, std::uint64_t reg3, std::uint32_t p) {
  Step t;
  const std::uint32_t p16 = p << 4;
  // The run. Whether a pulse goes on with it is a toss-up among a ROM block's bits: no
  // branch hangs on it.
  const bool lead_in = (p >= kRunMin) & (p <= kRunMax);
  const std::uint32_t diff = p16 > run_avg16 ? p16 - run_avg16 : run_avg16 - p16;
  const bool goes_on = (run > 0) & lead_in & (diff * 4 <= run_avg16);
  std::uint32_t followed = run_avg16;
  follow(followed, p16);
  const std::uint32_t on = 0u - static_cast<std::uint32_t>(goes_on);  // all ones, or none
  t.run = ((run + 1) & on) | (static_cast<std::uint32_t>(lead_in) & ~on);
  t.run_avg16 = (followed & on) | (p16 & ~on);
  // Short and long split halfway between the recent extremes, which close in slowly: any
  // mix of the two (seven shorts to a long, or four to four) splits in the gap between. Both
  // close in by one step, taken before either moves: no pulse waits on a chain of the two.
  const std::uint32_t close = (max16 - min16) >> 6;
  t.max16 = std::max(max16 - close, p16);
  t.min16 = std::min(min16 + close, p16);
  // Three lengths at a quarter and three quarters of the way between the extremes.
  const std::uint32_t quarter = (t.max16 - t.min16) / 4;
  const std::uint32_t three = static_cast<std::uint32_t>(p16 >= t.min16 + quarter) +
                              static_cast<std::uint32_t>(p16 > t.max16 - quarter);
  t.reg3 = reg3 << 2 | three;
  t.reg = reg << 1 | static_cast<std::uint32_t>(p16 * 2 > t.max16 + t.min16);
  t.again13 = ((t.reg3 ^ (t.reg3 >> (2 * kPeriod3))) & kMask3) == 0;
  t.again7 = ((t.reg ^ (t.reg >> 7)) & 0x7F) == 0;
  t.again8 = ((t.reg ^ (t.reg >> 8)) & 0xFF) == 0;
  t.again9 = ((t.reg ^ (t.reg >> 9)) & 0x1FF) == 0;
  return t;
}

}  // namespace

void PilotSearch::scan(const PulseBlock& block, std::vector<Pilot>& out) {
  out.clear();
  const std::size_t n = block.count;
  State s = state_;  // in registers while the block goes by
  std::size_t run_slot = 0, bytes_slot = 0, three_slot = 0;
  // Pilots still going on at the end of the last block go on here: a loader may start among
  // the pulses carried over, which are the pilot's.
  if (s.run_open) {
    run_pilot_.index = 0;
    run_pilot_.end = n;
    run_slot = out.size();
    out.push_back(run_pilot_);
  }
  if (s.bytes_open) {
    bytes_pilot_.index = 0;
    bytes_pilot_.end = n;
    bytes_slot = out.size();
    out.push_back(bytes_pilot_);
  }
  if (s.three_open) {
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
  // Short and long split halfway between the recent extremes; three lengths at a quarter and
  // three quarters of the way.
  const auto bytes_averages = [&](std::size_t end, std::size_t count, Pilot& pilot) {
    const std::uint32_t half = (s.max16 + s.min16) / 2;
    class_averages(block, end, std::min(count, kBytesWindow), half, half, pilot.zero16,
                   pilot.one16);
  };
  const auto three_averages = [&](std::size_t end, std::size_t count, Pilot& pilot) {
    const std::uint32_t quarter = (s.max16 - s.min16) / 4;
    class_averages(block, end, std::min(count, kThreeWindow), s.min16 + quarter - 1,
                   s.max16 - quarter, pilot.zero16, pilot.one16);
  };
  // The bytes stop repeating at pulse i: a pilot found ends there.
  const auto end_bytes = [&](std::size_t i) {
    if (!s.bytes_open) return;
    Pilot& pilot = out[bytes_slot];
    pilot.end = i;
    pilot.count += s.bytes_pulses;
    bytes_averages(i, pilot.count, pilot);
    s.bytes_open = false;
  };
  // The pattern of three lengths stops repeating at pulse i: a pilot found ends there.
  const auto end_three = [&](std::size_t i) {
    if (!s.three_open) return;
    Pilot& pilot = out[three_slot];
    pilot.end = i;
    pilot.count += s.three_pulses;
    three_averages(i, pilot.count, pilot);
    s.three_open = false;
  };
  for (std::size_t i = block.first; i < n; ++i) {
    if (s.run_open) {  // the lead-in's thousands of pulses, the short way, until one breaks it
      for (; i < n; ++i) {
        const std::uint32_t p16 = block.length[i] << 4;
        const std::uint32_t diff = p16 > s.run_avg16 ? p16 - s.run_avg16 : s.run_avg16 - p16;
        if (block.length[i] < kRunMin || block.length[i] > kRunMax || diff * 4 > s.run_avg16) break;
        ++s.run;
        follow(s.run_avg16, p16);
      }
      if (i == n) break;
    } else if (s.bits > 0 && (s.periodic7 | s.periodic8 | s.periodic9 | s.periodic13) == 0) {
      // Data: no pilot open, nothing repeating. The short way, until a pulse may begin
      // something: a pause or a spike, a run long enough, bits that repeat.
      std::uint32_t run = s.run, run_avg16 = s.run_avg16, min16 = s.min16, max16 = s.max16,
                    reg = s.reg, bits = s.bits;
      std::uint64_t reg3 = s.reg3;
      for (; i < n; ++i) {
        const std::uint32_t p = block.length[i];
        if (p < kBitMin || p > kBitMax) break;
        const Step t = step(run, run_avg16, min16, max16, reg, reg3, p);
        if ((t.run == kRunFound) | t.again7 | t.again8 | t.again9 | t.again13) break;
        run = t.run;
        run_avg16 = t.run_avg16;
        min16 = t.min16;
        max16 = t.max16;
        reg = t.reg;
        reg3 = t.reg3;
        ++bits;
      }
      s.run = run;
      s.run_avg16 = run_avg16;
      s.min16 = min16;
      s.max16 = max16;
      s.reg = reg;
      s.reg3 = reg3;
      s.bits = bits;
      if (i == n) break;
    }
    const std::uint32_t p = block.length[i];
    const std::uint32_t p16 = p << 4;
    if (s.run_open) {  // the pulse that broke the run: its length and where its average came to
      out[run_slot].end = i;
      out[run_slot].count = s.run;
      out[run_slot].average16 = s.run_avg16;
      s.bits = s.reg = s.periodic7 = s.periodic8 = s.periodic9 = s.periodic13 =
          0;  // the bytes start afresh
      s.reg3 = 0;
      s.run_open = false;
    }
    const bool bit = p >= kBitMin && p <= kBitMax;
    const bool first_bit = s.bits == 0;
    const Step t = step(s.run, s.run_avg16, first_bit ? p16 : s.min16, first_bit ? p16 : s.max16,
                        s.reg, s.reg3, p);
    s.run = t.run;
    s.run_avg16 = t.run_avg16;
    if (s.run == kRunFound) {
      run_pilot_ = Pilot{};
      run_pilot_.kind = Pilot::Kind::kRun;
      run_pilot_.id = next_id_++;
      run_pilot_.index = i;
      run_pilot_.end = n;
      run_pilot_.count = s.run;
      run_pilot_.average16 = s.run_avg16;
      at(i, kRunFound - 1, run_pilot_);
      run_slot = out.size();
      out.push_back(run_pilot_);
      s.run_open = true;
      ++found_;
      end_bytes(i);  // no byte pilot lies inside a run
      end_three(i);
      continue;  // the lead-in's thousands of pulses: nothing else to look at
    }
    // The bytes.
    if (bit) {
      ++s.bits;
      s.min16 = t.min16;
      s.max16 = t.max16;
      s.reg = t.reg;
      s.reg3 = t.reg3;
      const bool again7 = t.again7, again8 = t.again8, again9 = t.again9, again13 = t.again13;
      // The same 13 pulses again and again, with the extremes half as long again as each other
      // at least (not one length and its jitter).
      const bool wide = s.max16 * 2 > s.min16 * 3;
      s.periodic13 = wide && again13 ? s.periodic13 + 1 : 0;
      if (s.three_open && s.periodic13 == 0) end_three(i);
      if (s.three_open) {
        ++s.three_pulses;
      } else if (s.periodic13 == kBytesFound) {
        three_pilot_ = Pilot{};
        three_pilot_.kind = Pilot::Kind::kThree;
        three_pilot_.id = next_id_++;
        three_pilot_.index = i;
        three_pilot_.end = n;
        three_pilot_.zero16 = s.min16;
        three_pilot_.one16 = s.max16;
        three_pilot_.period = kPeriod3;
        three_pilot_.pattern = static_cast<std::uint32_t>(s.reg3 & kMask3);
        const std::uint32_t lead = lead_of(s.bits, kPeriod3);
        three_pilot_.count = lead + 1;
        three_averages(i + 1, three_pilot_.count, three_pilot_);
        s.three_pulses = 0;
        at(i, lead, three_pilot_);
        three_slot = out.size();
        out.push_back(three_pilot_);
        s.three_open = true;
        ++found_;
      }
      // The same byte twice running (eight bits, or nine for a byte with a lead bit; or a
      // cycle of seven pulses), not all short or all long, with two classes apart. No stretch
      // repeats in two of these periods at once: at most one pilot is open.
      const bool distinct = s.max16 * 4 > s.min16 * 5;
      const std::uint32_t p7 = s.reg & 0x7F, p8 = s.reg & 0xFF, p9 = s.reg & 0x1FF;
      const std::uint32_t was8 = s.periodic8, was9 = s.periodic9;
      s.periodic7 = distinct && again7 && p7 != 0 && p7 != 0x7F ? s.periodic7 + 1 : 0;
      s.periodic8 = distinct && again8 && p8 != 0 && p8 != 0xFF ? s.periodic8 + 1 : 0;
      s.periodic9 = distinct && again9 && p9 != 0 && p9 != 0x1FF ? s.periodic9 + 1 : 0;
      const std::uint32_t open_period = bytes_pilot_.period;
      if (s.bytes_open && (open_period == 8   ? s.periodic8
                           : open_period == 9 ? s.periodic9
                                              : s.periodic7) > 0) {
        ++s.bytes_pulses;
        continue;
      }
      if (!s.bytes_open && (s.periodic8 == kBytesFound || s.periodic9 == kBytesFound ||
                            s.periodic7 == kBytesFound)) {
        const std::uint32_t period = s.periodic8 == kBytesFound   ? 8
                                     : s.periodic9 == kBytesFound ? 9
                                                                  : 7;
        bytes_pilot_ = Pilot{};
        bytes_pilot_.kind = period == 7 ? Pilot::Kind::kCycle : Pilot::Kind::kBytes;
        bytes_pilot_.id = next_id_++;
        bytes_pilot_.index = i;
        bytes_pilot_.end = n;
        bytes_pilot_.zero16 = s.min16;
        bytes_pilot_.one16 = s.max16;
        bytes_pilot_.period = static_cast<std::uint8_t>(period);
        bytes_pilot_.pattern = period == 8 ? p8 : period == 9 ? p9 : p7;
        const std::uint32_t lead = lead_of(s.bits, period);
        bytes_pilot_.count = lead + 1;
        bytes_averages(i + 1, bytes_pilot_.count, bytes_pilot_);
        s.bytes_pulses = 0;
        at(i, lead, bytes_pilot_);
        bytes_slot = out.size();
        out.push_back(bytes_pilot_);
        s.bytes_open = true;
        ++found_;
        continue;
      }
      // A byte other than the pilot's ends one too short to be found: a brief pilot, its last
      // byte the bits before this one.
      const std::uint32_t was = s.periodic8 == 0 && was8 >= kBytesBrief   ? 8
                                : s.periodic9 == 0 && was9 >= kBytesBrief ? 9
                                                                          : 0;
      if (!s.bytes_open && was != 0) {
        Pilot brief;
        brief.kind = Pilot::Kind::kBytes;
        brief.brief = true;
        brief.id = next_id_++;
        brief.end = i;
        brief.zero16 = s.min16;
        brief.one16 = s.max16;
        brief.period = static_cast<std::uint8_t>(was);
        brief.pattern = (s.reg >> 1) & ((1u << was) - 1);
        // Its first pulse that was periodic ended two of its bytes; right after a pause, it
        // began with the first pulse there (the averages were not yet apart).
        const std::uint32_t lead = (was == 8 ? was8 : was9) + 2 * was - 1;
        brief.count = s.bits - 1 <= lead + kSettle ? s.bits - 1 : lead;
        bytes_averages(i, brief.count, brief);
        brief.index = i - std::min<std::size_t>(i, brief.count);  // a loader may read it all
        at(i, brief.count, brief);
        out.push_back(brief);
      }
    } else {
      s.reg = 0;
      s.reg3 = 0;
      s.bits = 0;
      s.periodic7 = s.periodic8 = s.periodic9 = s.periodic13 = 0;
      end_three(i);
    }
    end_bytes(i);
  }
  state_ = s;
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
