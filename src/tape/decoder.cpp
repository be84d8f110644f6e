// The decoder that runs every registered loader: pulses are paired up (half waves), counted
// in the histogram, looked at once by the shared pilot search, and read by the loaders that
// took a pilot; their files are handed on in tape order, and what they and the pauses
// account for is summed up. Also what the tools judge a recording by before they decode or
// convert it: whether its pulses are half waves, whether they look like a tape's.
#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <memory>

#include "tape/machinery/loader.hpp"
#include "tape/machinery/search.hpp"
#include "tape/tape.hpp"

namespace tapewren::tape {

namespace {

constexpr double kStretchSeconds = 1.0;  // unrecognised stretches shorter than this are not listed
// A bytes pilot is offered this many pulses before its end: two pilot bytes to find where
// bytes begin. A cycle four bytes and more: its loader's reader finds its state there too,
// from whatever pulse (kPrefix at most, what a block carries over).
constexpr std::size_t kBytesBack = 16, kCycleBack = 31;
// A pilot of three lengths, two of its periods before its end: a long pulse to tell the
// reading's state, then a whole pilot byte.
constexpr std::size_t kThreeBack = 26;
// The longest pulse the guess at half waves or whole pulses looks at, half cycles.
constexpr std::uint32_t kEdgeMax = 7200;

// What blocks and pauses cover, in half cycles: intervals closer than a stretch worth
// listing are joined, so that memory grows with the minutes of a tape, not its pulses.
class Coverage {
 public:
  explicit Coverage(std::uint64_t join) : join_(join) {}
  void add(std::uint64_t start, std::uint64_t end) {
    if (end <= start) return;
    if (!spans_.empty() && start >= spans_.back().first && start <= spans_.back().second + join_) {
      spans_.back().second = std::max(spans_.back().second, end);
      return;
    }
    spans_.emplace_back(start, end);
  }
  // The stretches longer than `join` that nothing covers, up to `total`.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps(std::uint64_t total) const {
    auto spans = spans_;
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
    std::uint64_t covered = 0;
    for (const auto& [start, end] : spans) {
      if (start > covered + join_) out.emplace_back(covered, start);
      covered = std::max(covered, end);
    }
    if (total > covered + join_) out.emplace_back(covered, total);
    return out;
  }
  // The stretches covered, sorted and joined where they touch or overlap.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> joined() const {
    auto spans = spans_;
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
    for (const auto& s : spans) {
      if (!out.empty() && s.first <= out.back().second) {
        out.back().second = std::max(out.back().second, s.second);
      } else {
        out.push_back(s);
      }
    }
    return out;
  }
  // How much of this coverage `other` does not cover: blocks that overlap (two loaders over
  // one stretch, a block over the pause after it) count once, and never as pause too.
  std::uint64_t outside(const Coverage& other) const {
    const auto a = joined(), b = other.joined();
    std::uint64_t total = 0, shared = 0;
    std::size_t j = 0;
    for (const auto& [start, end] : a) {
      total += end - start;
      while (j < b.size() && b[j].second <= start) ++j;
      for (std::size_t k = j; k < b.size() && b[k].first < end; ++k)
        shared += std::min(end, b[k].second) - std::max(start, b[k].first);
    }
    return total - shared;
  }

 private:
  std::uint64_t join_;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> spans_;
};

}  // namespace

struct Decoder::State : FileSink {
  State(const DecoderSettings& s, FileListener& l)
      : settings(s),
        listener(l),
        machine(s.machine >= 0 ? s.machine : s.default_machine),
        coverage(static_cast<std::uint64_t>(2 * kStretchSeconds * clock())) {
    std::size_t count = 0;
    const LoaderEntry* const* entries = loader_entries(count);
    for (std::size_t i = 0; i < count; ++i) {
      const auto& only = s.loaders;
      if (!only.empty() && std::find(only.begin(), only.end(), entries[i]->info.name) == only.end())
        continue;
      loaders.push_back(entries[i]->make(entries[i]->info, *this));
      infos.push_back(&entries[i]->info);
      offered.push_back(0);
      stopped.push_back(0);
      active.push_back(false);
    }
    choose_loaders();
  }

  // The loaders that run: those of the machine; while the machine is not known for sure, also
  // those that would tell it.
  void choose_loaders() {
    const bool sure = settings.machine >= 0 || guessed;
    for (std::size_t l = 0; l < loaders.size(); ++l)
      active[l] = runs_on(infos[l]->machines, machine) || (!sure && infos[l]->machine >= 0);
  }

  DecoderSettings settings;
  FileListener& listener;
  int machine;
  bool guessed = false;
  std::vector<std::unique_ptr<LoaderDecoder>> loaders;
  std::vector<std::uint64_t> offered;  // per loader: the last pilot it was offered
  std::vector<std::uint64_t> stopped;  // per loader: the first pulse not its own (in the input)
  std::vector<bool> active;            // per loader: it runs on this machine
  std::uint64_t base = 0;              // the pulse of the input at index 0 of the arrays
  PilotSearch search;
  std::vector<Pilot> pilots;
  std::uint64_t pilots_found = 0;  // a pilot's id counts those before it
  std::vector<TapeFile> waiting;   // files whose loaders are done, until the others catch up
  // The pulses of the block being decoded, after the last few of the block before.
  static constexpr std::size_t kSize = kPrefix + recording::Pulses::kCapacity;
  std::uint32_t length[kSize];
  std::uint64_t offset[kSize];
  std::uint64_t time[kSize];
  std::size_t count = 0;   // in the arrays
  std::uint64_t now = 0;   // half cycles from the start
  std::uint32_t half = 0;  // the first half of a pulse, when half waves are fed
  std::uint64_t half_offset = 0, half_time = 0;
  std::uint64_t input_end = 0, end_offset = 0;  // where the input, and its last whole pulse, end
  std::array<Histogram, 4> tallies{};           // the histogram, in four parts
  std::uint64_t pulses = 0, block_pulses = 0, pause_pulses = 0;
  std::uint64_t pause_time = 0;
  std::uint64_t pause_start = 0, pause_end = 0;  // the pauses in a row being summed
  Coverage coverage;
  Coverage blocks{0}, pauses{0};                // exact, for the shares
  std::vector<const LoaderInfo*> infos, found;  // each loader's, and those with files

  double clock() const { return recording::machine_clock_hz(machine, settings.video); }
  double seconds(std::uint64_t half_cycles) const override {
    return static_cast<double>(half_cycles) / (2 * clock());
  }
  bool keeps_bounds() const override { return settings.byte_bounds; }
  void file(TapeFile&& f) override {
    // A loader that only one machine has tells the machine, unless it was given; the loaders
    // of other machines stop, and what they hold back is not a file of this tape.
    if (settings.machine < 0 && !guessed && f.loader->machine >= 0) {
      machine = f.loader->machine;
      guessed = true;
      choose_loaders();
      waiting.erase(
          std::remove_if(waiting.begin(), waiting.end(),
                         [&](const TapeFile& w) { return !runs_on(w.loader->machines, machine); }),
          waiting.end());
    }
    f.seconds = seconds(f.half_cycles);
    f.end_seconds = seconds(std::max(f.half_cycles, f.end_half_cycles));
    for (BlockRead& b : f.blocks) {
      b.seconds = seconds(b.time);
      b.end_seconds = seconds(b.end_time);
    }
    for (auto& l : loaders) l->seen(f);  // a boot file may hold a turbo loader's parameters
    waiting.push_back(std::move(f));
  }
  void span(std::uint64_t start, std::uint64_t end, std::uint64_t count) override {
    coverage.add(start, end);
    blocks.add(start, end);
    block_pulses += count;
  }

  // Whole pulses: half waves paired up (a pulse's halves are about equal; where two do not
  // match, the first stands alone as a whole pulse), pauses noted.
  std::size_t prepare(const recording::Pulses& in) {
    const std::size_t carried = carry();
    std::size_t k = carried;
    // In locals while the block goes by: as members each pulse would wait for the last one's
    // stores to them.
    std::uint64_t t = now;
    std::uint32_t first = half;
    std::uint64_t first_offset = half_offset, first_time = half_time;
    for (std::size_t i = 0; i < in.count; ++i) {
      const std::uint64_t len = in.length[i], at = in.offset[i], when = t;
      t += len;
      if (!settings.half_waves) {
        whole(k++, len, at, when, len);
        continue;
      }
      const auto p = static_cast<std::uint32_t>(std::min<std::uint64_t>(len, 0xFFFFFFFF));
      if (first == 0) {
        first = std::max<std::uint32_t>(p, 1);
        first_offset = at;
        first_time = when;
        continue;
      }
      const std::uint32_t larger = std::max(first, p);
      const bool pair = (first > p ? first - p : p - first) * 4 <= larger;
      // A half wave alone is classed as the whole pulse it would be half of.
      whole(k++, pair ? std::uint64_t{first} + p : 2 * std::uint64_t{first}, first_offset,
            first_time, pair ? std::uint64_t{first} + p : first);
      first = pair ? 0 : std::max<std::uint32_t>(p, 1);
      first_offset = at;
      first_time = when;
    }
    now = t;
    half = first;
    half_offset = first_offset;
    half_time = first_time;
    // Where the last whole pulse ends: the next pulse's start, whatever the batches are.
    if (in.count > 0) input_end = std::max(in.end, in.offset[in.count - 1] + 1);
    end_offset = half != 0 ? half_offset : input_end;
    pulses += k - carried;
    count = k;
    return carried;
  }

  // The last pulses of the block before move to the front; returns how many.
  std::size_t carry() {
    const std::size_t carried = std::min(kPrefix, count);
    base += count - carried;
    std::copy(length + count - carried, length + count, length);
    std::copy(offset + count - carried, offset + count, offset);
    std::copy(time + count - carried, time + count, time);
    count = carried;
    return carried;
  }

  // Pulse `k` of the arrays (its caller counts it).
  void whole(std::size_t k, std::uint64_t len, std::uint64_t at, std::uint64_t when,
             std::uint64_t duration) {
    // Pulses in a row of one length (a pilot's thousands) count in turn in four tallies: no
    // count waits for the one before.
    ++tallies[k & 3][std::min<std::uint64_t>(len >> 4, 255)];
    if (len >= kPause) {  // pauses in a row make one covered stretch
      ++pause_pulses;
      pause_time += duration;
      if (when != pause_end) {
        coverage.add(pause_start, pause_end);
        pauses.add(pause_start, pause_end);
        pause_start = when;
      }
      pause_end = when + duration;
    }
    length[k] = static_cast<std::uint32_t>(std::min<std::uint64_t>(len, kPause));
    offset[k] = at;
    time[k] = when;
  }

  // The pulses from `first` on, as read, to whoever draws them.
  void observe(std::size_t first) const {
    if (settings.observer && first < count)
      settings.observer->pulses(time + first, length + first, count - first, now);
  }

  // The block from `first` on: the search over the new pulses, then each loader over the
  // stretches it reads, offered each pilot once it has ended.
  void run(std::size_t first) {
    const std::size_t n = count;
    if (first >= n) return;
    PulseBlock block{first, n, length, offset, time, now, end_offset};
    search.scan(block, pilots);
    pilots_found = search.found();
    for (std::size_t l = 0; l < loaders.size(); ++l) {
      if (!active[l]) continue;
      LoaderDecoder& loader = *loaders[l];
      // A loader that was not reading on may start among the pulses carried over, never
      // before where it stopped.
      std::size_t pos = loader.engaged()    ? first
                        : stopped[l] > base ? static_cast<std::size_t>(stopped[l] - base)
                                            : 0;
      for (;;) {
        if (loader.engaged()) {
          pos = loader.take(block, pos);
          if (loader.engaged() || pos >= n) break;
        }
        bool engaged = false;
        for (const Pilot& p : pilots) {
          if (p.end >= n || p.end < pos || p.id <= offered[l]) continue;  // going on, or passed
          if (p.brief && !infos[l]->short_pilot) continue;
          offered[l] = p.id;
          const std::size_t back = p.kind == Pilot::Kind::kBytes   ? kBytesBack
                                   : p.kind == Pilot::Kind::kCycle ? kCycleBack
                                   : p.kind == Pilot::Kind::kThree ? kThreeBack
                                                                   : 0;
          const std::size_t from = std::max({pos, p.end >= back ? p.end - back : 0, p.index});
          if (loader.engage(p, from)) {
            pos = from;
            engaged = true;
            break;
          }
        }
        if (!engaged) break;
      }
      stopped[l] = base + std::min(pos, n);
      if (!loader.engaged()) loader.waited(now);
    }
    release(false);
  }

  // Two loaders that read the same stretch of tape: the file with the better evidence stays:
  // a checksum that verifies, then the loader's code recognised before it, then the longer
  // sync, then the smaller size announced (a misreading announces any size), then the longer
  // file, then the one read farther (a block with a byte more in its head, to its end).
  void arbitrate() {
    // A checksum that verified; a file whose loader was recognised, read well, then damaged;
    // a checksum that failed, where nothing else supports the reading; a whole structure
    // with no checksum; the rest.
    const auto rank = [](const TapeFile& f) {
      if (f.proof == Proof::kChecksum && is_good(f)) return 5;
      if (f.proof == Proof::kBoot) return f.verdict == Verdict::kOk ? 4 : 3;
      if (f.verdict == Verdict::kBad) return 2;
      return f.verdict == Verdict::kUnverified ? 1 : 0;
    };
    const auto announced = [](const TapeFile& f) {
      return f.kind == Kind::kDataWithoutHeader ? 0x10000u : f.end - f.start + 0u;
    };
    const auto stronger = [&](const TapeFile& x, const TapeFile& y) {
      const int rx = rank(x), ry = rank(y);
      return rx != ry                         ? rx > ry
             : x.evidence != y.evidence       ? x.evidence > y.evidence
             : announced(x) != announced(y)   ? announced(x) < announced(y)
             : x.data.size() != y.data.size() ? x.data.size() > y.data.size()
                                              : x.end_offset > y.end_offset;
    };
    // Two readings of one stretch, not neighbours whose pilot and trailer touch: more than
    // half of the shorter one is in the other.
    // Or two readings of one block: both begin at its pilot (a reading that runs on past the
    // block's end, into what follows with no pause, is no neighbour).
    const auto same_block = [](const BlockRead& a, const BlockRead& b) {
      const std::uint64_t apart = a.time > b.time ? a.time - b.time : b.time - a.time;
      const std::uint64_t shorter = std::min(a.end_time - std::min(a.time, a.end_time),
                                             b.end_time - std::min(b.time, b.end_time));
      return 8 * apart < shorter;
    };
    const auto clash = [&](const TapeFile& x, const TapeFile& y) {
      if (x.loader == y.loader || x.end_offset == 0 || y.end_offset == 0) return false;
      const std::uint64_t from = std::max(x.offset, y.offset),
                          to = std::min(x.end_offset, y.end_offset);
      if (to <= from) return false;
      const std::uint64_t shorter = std::min(x.end_offset - std::min(x.offset, x.end_offset),
                                             y.end_offset - std::min(y.offset, y.end_offset));
      if (2 * (to - from) > shorter) return true;
      for (const BlockRead& a : x.blocks)
        for (const BlockRead& b : y.blocks)
          if (same_block(a, b)) return true;
      return false;
    };
    // The strongest first: a file that lost takes nothing else down with it.
    std::vector<std::size_t> order(waiting.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return stronger(waiting[a], waiting[b]);
    });
    std::vector<bool> lost(waiting.size(), false);
    for (const std::size_t a : order) {
      if (lost[a]) continue;
      for (std::size_t b = 0; b < waiting.size(); ++b)
        if (b != a && !lost[b] && clash(waiting[a], waiting[b])) lost[b] = true;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < waiting.size(); ++i)
      if (!lost[i] && kept++ != i) waiting[kept - 1] = std::move(waiting[i]);
    waiting.resize(kept);
  }

  // Hands on the files no loader can come before any more, in tape order.
  void release(bool all) {
    if (waiting.empty()) return;
    std::uint64_t before = std::numeric_limits<std::uint64_t>::max();
    if (!all)
      for (const auto& l : loaders) before = std::min(before, l->holding());
    std::stable_sort(waiting.begin(), waiting.end(),
                     [](const TapeFile& a, const TapeFile& b) { return a.offset < b.offset; });
    arbitrate();
    std::size_t n = 0;
    while (n < waiting.size() && (all || waiting[n].offset < before)) {
      if (std::find(found.begin(), found.end(), waiting[n].loader) == found.end())
        found.push_back(waiting[n].loader);
      listener.on_file(waiting[n++]);
    }
    waiting.erase(waiting.begin(), waiting.begin() + static_cast<long>(n));
  }
};

Decoder::Decoder(const DecoderSettings& settings, FileListener& listener)
    : state_(std::make_unique<State>(settings, listener)) {}

Decoder::~Decoder() = default;

void Decoder::feed(const recording::Pulses& pulses) {
  const std::size_t first = state_->prepare(pulses);
  state_->observe(first);
  state_->run(first);
}

void Decoder::finish() {
  State& s = *state_;
  if (s.half != 0) {  // a half wave left over is a pulse of its own
    const std::size_t first = s.carry();
    s.whole(s.count++, 2 * std::uint64_t{s.half}, s.half_offset, s.half_time, s.half);
    s.end_offset = s.input_end;
    ++s.pulses;
    s.half = 0;
    s.observe(first);
    s.run(first);
  }
  // Pilots still going on end with the recording: an empty pulse ends them.
  const std::size_t first = s.carry();
  s.length[s.count] = 0;
  s.offset[s.count] = s.end_offset;  // where the last pulse ends
  s.time[s.count] = s.now;
  ++s.count;
  s.run(first);
  s.coverage.add(s.pause_start, s.pause_end);
  s.pauses.add(s.pause_start, s.pause_end);
  for (std::size_t l = 0; l < s.loaders.size(); ++l)
    if (s.active[l]) s.loaders[l]->finish();  // a loader stopped for the machine ends with it
  s.release(true);
}

Summary Decoder::summary() const {
  const State& s = *state_;
  Summary out;
  out.machine = s.machine;
  out.video = s.settings.video;
  out.machine_guessed = s.guessed;
  out.seconds = s.seconds(s.now);
  out.pulses = s.pulses;
  out.block_seconds = std::min(s.seconds(s.blocks.outside(s.pauses)), out.seconds);
  out.pause_seconds = s.seconds(s.pause_time);
  out.block_pulses = std::min(s.block_pulses, s.pulses);
  out.pause_pulses = s.pause_pulses;
  for (const auto& [start, end] : s.coverage.gaps(s.now))
    out.unrecognised.push_back({s.seconds(start), s.seconds(end - start)});
  for (const Histogram& tally : s.tallies)
    for (std::size_t bin = 0; bin < tally.size(); ++bin) out.histogram[bin] += tally[bin];
  out.pilots = s.pilots_found;
  // The classes of the loaders that read a file: not of those that only tried a pilot.
  for (std::size_t i = 0; i < s.loaders.size(); ++i)
    if (std::find(s.found.begin(), s.found.end(), s.infos[i]) != s.found.end())
      s.loaders[i]->marks(out.marks);
  return out;
}

bool Decoder::machine_guessed() const {
  return state_->guessed;
}

void EdgeGuess::add(const recording::Pulses& pulses) {
  for (std::size_t i = 0; i < pulses.count; ++i) {
    const auto p = static_cast<std::uint32_t>(std::min<std::uint64_t>(pulses.length[i], 0xFFFF));
    if (p >= kBitMin / 2 && p <= kEdgeMax && last_ != 0) {
      const std::uint32_t larger = std::max(p, last_);
      differ_[index_ & 1] += (p > last_ ? p - last_ : last_ - p) * 4 > larger;
      if (++in_window_ == 512) close_window();
    }
    last_ = p;
    ++index_;
  }
}

// Within a window, whole pulses differ from their neighbours at both alignments alike; half
// waves hardly ever at one of them.
void EdgeGuess::close_window() {
  const std::uint32_t lo = std::min(differ_[0], differ_[1]), hi = std::max(differ_[0], differ_[1]);
  if (hi >= 40) {
    ++windows_;
    if (lo * 16 <= hi) {  // a marker or two a window apart, no more
      ++half_like_;
    } else if (lo * 2 >= hi) {
      ++whole_like_;
    }
  }
  differ_[0] = differ_[1] = 0;
  in_window_ = 0;
}

bool guess_half_waves(recording::Reader& reader) {
  EdgeGuess guess;
  auto pulses = std::make_unique<recording::Pulses>();
  for (int blocks = 0; blocks < 1024 && !guess.enough() && reader.next(*pulses); ++blocks)
    guess.add(*pulses);
  return guess.half_waves();
}

TapeLikeness tape_likeness(const Summary& summary) {
  constexpr std::size_t kFirst = 8, kLast = 254, kFullest = 32;
  TapeLikeness out;
  out.pilots = summary.pilots;
  out.pulses = summary.pulses - std::min(summary.pulses, summary.pause_pulses);
  std::vector<std::uint64_t> bins(summary.histogram.begin() + kFirst,
                                  summary.histogram.begin() + kLast + 1);
  std::partial_sort(bins.begin(), bins.begin() + kFullest, bins.end(),
                    std::greater<std::uint64_t>());
  for (std::size_t i = 0; i < kFullest; ++i) out.clustered += bins[i];
  out.tape = out.pilots > 0 || (out.pulses > 0 && 2 * out.clustered >= out.pulses);
  return out;
}

}  // namespace tapewren::tape
