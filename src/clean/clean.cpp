// Cleaning: which blocks are rewritten, and each pulse set to its nominal length.
#include "clean/clean.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include "synth/tape_synth.hpp"

namespace tapewren::clean {

namespace {

// A block read whole and verified: its pulses stand for the bytes the file holds.
bool sound(const tape::TapeFile& file, const tape::BlockRead& block) {
  const tape::CopyReport& s = block.state;
  if (!s.found || !s.complete || s.bad_bytes > 0 || block.end_offset <= block.offset) return false;
  return s.checksum_ok || (!file.loader->checksum && file.verdict != tape::Verdict::kBad);
}

constexpr std::size_t kRecord = 192;  // a ROM block's payload: a header's, a data file's record

// A damaged copy of a ROM-loader block whose file the repeat repaired: its bytes are known
// (`record`: which of a data file's records it is).
bool repairable(const tape::TapeFile& file, const tape::BlockRead& block, std::size_t record) {
  if (!file.loader->copies || file.verdict != tape::Verdict::kRepaired) return false;
  if (block.end_offset <= block.offset) return false;
  const std::string role = block.role;
  return (role == "header" && file.header_bytes.size() == kRecord) ||
         (role == "data" && file.kind == tape::Kind::kProgram &&
          file.data.size() == static_cast<std::size_t>(file.end - file.start)) ||
         (role == "record" && file.kind == tape::Kind::kDataFile &&
          file.records.size() == kRecord * static_cast<std::size_t>(file.body_blocks) &&
          record < static_cast<std::size_t>(file.body_blocks));
}

// The copy as it should be, in the exact encoder's pulses (half waves: each pulse as two).
std::vector<std::uint32_t> rom_copy(const tape::TapeFile& file, const tape::BlockRead& block,
                                    std::size_t record, int machine, bool half_waves) {
  synth::TapeLayout layout;
  layout.exact = true;
  layout.vic20 = machine == 1;
  layout.both_edges = half_waves;
  synth::TapeWriter writer(layout);
  const std::string role = block.role;
  const auto at = file.records.begin() + static_cast<long>(record * kRecord);
  writer.rom_copy(role == "header"   ? file.header_bytes
                  : role == "record" ? std::vector<std::uint8_t>(at, at + kRecord)
                                     : file.data,
                  block.copy == 2, file.loader->machine == 2);
  const auto& words = writer.words();
  std::vector<std::uint32_t> pulses;
  for (std::size_t i = 0; i + 1 < words.size(); i += 2)
    pulses.push_back(static_cast<std::uint32_t>(words[i] | words[i + 1] << 8));
  return pulses;
}

}  // namespace

std::vector<Stretch> plan(const std::vector<tape::TapeFile>& files, int machine, bool half_waves,
                          const std::set<std::size_t>& raw, bool every) {
  std::vector<Stretch> out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const tape::TapeFile& f = files[i];
    // A file that stays bad or incomplete is kept as recorded whole: its good blocks at
    // nominal speed beside its bad ones at the deck's would only read worse.
    if (!f.loader || raw.count(i) > 0 ||
        (!every && (f.verdict == tape::Verdict::kBad || f.verdict == tape::Verdict::kIncomplete)))
      continue;
    const bool vic20 = machine == 1 && f.loader->vic20_pulses[0] != 0;
    const auto& lengths = f.pulses[0] != 0 ? f.pulses
                          : vic20          ? f.loader->vic20_pulses
                                           : f.loader->pulses;
    Stretch s;
    for (std::uint8_t v : lengths)
      if (v != 0) s.ideal[static_cast<std::size_t>(s.classes++)] = (half_waves ? 8.0 : 16.0) * v;
    s.learned = s.classes == 0;
    s.file = i;
    std::array<std::size_t, 2> records{};  // of each copy, so far
    for (const tape::BlockRead& b : f.blocks) {
      Stretch block = s;
      block.begin = b.offset;
      block.end = b.end_offset;
      const bool record = std::string(b.role) == "record";
      const std::size_t index = record ? records[b.copy == 2]++ : 0;
      if (!every && !sound(f, b)) {
        if (s.learned || !repairable(f, b, index)) continue;
        block.replacement = rom_copy(f, b, index, machine, half_waves);
        block.lead_in = static_cast<std::uint32_t>(s.ideal[0]);
      }
      out.push_back(std::move(block));
    }
  }
  std::sort(out.begin(), out.end(),
            [](const Stretch& a, const Stretch& b) { return a.begin < b.begin; });
  // A pulse belongs to one stretch: where blocks overlap (a copy's last pulse is often its
  // repeat's first), the later one starts after the earlier.
  std::vector<Stretch> apart;
  for (Stretch s : out) {
    if (!apart.empty()) s.begin = std::max(s.begin, apart.back().end);
    if (s.begin < s.end) apart.push_back(s);
  }
  // After each, the pulses that still fit its lengths (a header's filler, a trailer), up to
  // the next block of any file.
  std::vector<std::uint64_t> blocks;
  for (const auto& f : files)
    for (const auto& b : f.blocks) blocks.push_back(b.offset);
  std::sort(blocks.begin(), blocks.end());
  for (Stretch& s : apart) {
    const auto next = std::upper_bound(blocks.begin(), blocks.end(), s.end - 1);
    s.fence = next == blocks.end() ? std::numeric_limits<std::uint64_t>::max() : *next;
  }
  for (std::size_t i = 0; i + 1 < apart.size(); ++i)
    apart[i].fence = std::min(apart[i].fence, apart[i + 1].begin);
  return apart;
}

std::vector<double> peaks(const std::vector<std::uint64_t>& pulses, double unit) {
  // Counts and sums by whole TAP unit, up to 255 (longer: pauses), smoothed over five units.
  constexpr std::size_t kBins = 256;
  std::array<std::uint64_t, kBins> count{};
  std::array<double, kBins> sum{};
  std::size_t total = 0;
  for (const std::uint64_t p : pulses) {
    const auto bin = static_cast<std::size_t>(std::lround(static_cast<double>(p) / unit));
    if (bin == 0 || bin >= kBins) continue;
    ++count[bin];
    sum[bin] += static_cast<double>(p);
    ++total;
  }
  std::array<double, kBins> smooth{};
  for (std::size_t i = 0; i < kBins; ++i)
    for (std::size_t j = i >= 2 ? i - 2 : 0; j <= i + 2 && j < kBins; ++j)
      smooth[i] += static_cast<double>(count[j]) * (3.0 - std::fabs(double(j) - double(i))) / 9;
  // Peaks of at least 2 % of the pulses (and 8); two of them are one where the lowest point
  // between them holds more than half the lower one, or they lie within 12 % of each other
  // (a deck's uneven halves: no loader tells lengths so close apart).
  const double least = std::max(8.0, 0.02 * static_cast<double>(total)) / 3;
  std::vector<std::size_t> top;
  for (std::size_t i = 1; i + 1 < kBins; ++i) {
    if (smooth[i] < least || smooth[i] < smooth[i - 1] || smooth[i] <= smooth[i + 1]) continue;
    if (!top.empty()) {
      const double low = *std::min_element(smooth.begin() + static_cast<long>(top.back()),
                                           smooth.begin() + static_cast<long>(i));
      if (low > 0.5 * std::min(smooth[top.back()], smooth[i]) ||
          static_cast<double>(i) < 1.12 * static_cast<double>(top.back())) {
        if (smooth[i] > smooth[top.back()]) top.back() = i;
        continue;
      }
    }
    top.push_back(i);
  }
  if (top.size() > 4) return {};
  // Each peak's pulses: those up to the lowest points on either side; its length their
  // median, so that a few pulses of a sync or a pilot of their own beside it do not pull it
  // away.
  std::vector<double> out;
  for (std::size_t k = 0; k < top.size(); ++k) {
    const auto valley = [&](std::size_t a, std::size_t b) {
      return static_cast<std::size_t>(std::min_element(smooth.begin() + static_cast<long>(a),
                                                       smooth.begin() + static_cast<long>(b)) -
                                      smooth.begin());
    };
    const std::size_t from = k == 0 ? 1 : valley(top[k - 1], top[k]) + 1;
    const std::size_t to = k + 1 == top.size() ? kBins : valley(top[k], top[k + 1]) + 1;
    std::uint64_t n = 0;
    for (std::size_t i = from; i < to; ++i) n += count[i];
    std::uint64_t seen = 0;
    for (std::size_t i = from; i < to; ++i) {
      seen += count[i];
      if (2 * seen < n) continue;
      out.push_back(unit * std::round(sum[i] / static_cast<double>(count[i]) / unit));
      break;
    }
  }
  return out;
}

bool learn(std::vector<Stretch>& plan, const Replay& replay, bool half_waves) {
  std::vector<std::vector<std::uint64_t>> pulses(plan.size());
  std::size_t at = 0;
  const bool read = replay([&](const recording::Pulses& p) {
    for (std::size_t i = 0; i < p.count; ++i) {
      while (at < plan.size() && plan[at].end <= p.offset[i]) ++at;
      if (at < plan.size() && plan[at].learned && p.offset[i] >= plan[at].begin)
        pulses[at].push_back(p.length[i]);
    }
  });
  std::vector<Stretch> kept;
  for (std::size_t k = 0; k < plan.size(); ++k) {
    Stretch& s = plan[k];
    if (s.learned) {
      const std::vector<double> lengths = peaks(pulses[k], half_waves ? 8.0 : 16.0);
      if (lengths.size() < 2) continue;
      s.classes = static_cast<int>(lengths.size());
      std::copy(lengths.begin(), lengths.end(), s.ideal.begin());
    }
    kept.push_back(std::move(s));
  }
  plan = std::move(kept);
  return read;
}

void Cleaner::start(const std::uint64_t* pulses, std::size_t count) {
  const Stretch& s = *current_;
  const double longest = s.ideal[static_cast<std::size_t>(s.classes - 1)];
  // Each pulse's distance from its nearest length, as a ratio, summed over a grid of speeds
  // from 0.7 to 1.4; pauses and spikes left out. A pilot of one length fits two speeds as well
  // (its pulses a fast deck's 1s or a slow one's 0s): a pilot's pulses are its loader's shorter
  // ones (a ROM lead-in's shorts, a run of 0 bits), so the shorter reading wins a tie.
  // Learned lengths hold the block's own speed already.
  double best = std::numeric_limits<double>::max();
  speed_ = 1;
  const double lowest = s.learned ? 0.92 : 0.7, highest = s.learned ? 1.08 : 1.4;
  for (int step = 0; lowest + 0.005 * step <= highest + 1e-9; ++step) {
    const double speed = lowest + 0.005 * step;
    double cost = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const auto p = static_cast<double>(pulses[i]);
      if (p > 2 * 1.4 * longest || p < 0.35 * s.ideal[0]) continue;
      double nearest = std::numeric_limits<double>::max();
      for (int k = 0; k < s.classes; ++k)
        nearest = std::min(
            nearest, std::fabs(p / (speed * s.ideal[static_cast<std::size_t>(k)]) - 1) + 0.01 * k);
      cost += nearest;
    }
    if (cost < best) {
      best = cost;
      speed_ = speed;
    }
  }
}

std::uint64_t Cleaner::extend(std::uint64_t length) {
  const Stretch& s = *current_;
  const auto p = static_cast<double>(length);
  for (int k = 0; k < s.classes; ++k) {
    const double ratio = p / (speed_ * s.ideal[static_cast<std::size_t>(k)]);
    if (ratio > 0.85 && ratio < 1.15) {
      ++extended_;
      return rewrite(length);
    }
  }
  extending_ = false;  // the first pulse that does not fit ends it
  return length;
}

std::uint64_t Cleaner::rewrite(std::uint64_t length) {
  const Stretch& s = *current_;
  const auto p = static_cast<double>(length);
  const double shortest = speed_ * s.ideal[0];
  const double longest = speed_ * s.ideal[static_cast<std::size_t>(s.classes - 1)];
  if (p > 2 * longest || p < shortest / 2) return length;  // a pause, a spike: as recorded
  std::size_t k = 0;
  // The nearest length as a ratio: the bounds between two lengths at their geometric mean.
  while (static_cast<int>(k) + 1 < s.classes && p > speed_ * std::sqrt(s.ideal[k] * s.ideal[k + 1]))
    ++k;
  if (s.learned && std::fabs(p / (speed_ * s.ideal[k]) - 1) > 0.2) return length;
  // The deck's speed followed over the last few dozen pulses.
  speed_ += (p / s.ideal[k] - speed_) / 32;
  ++counts_.rewritten;
  return static_cast<std::uint64_t>(std::lround(s.ideal[k]));
}

namespace {

// The input through the plan, as dump words.
bool rewrite_all(const std::vector<Stretch>& plan, const Replay& replay, Cleaned& out) {
  io::MemorySink sink;
  recording::DumpWriter dump(sink, 0, 1);  // words of half cycles as they are
  Cleaner cleaner(plan);
  bool ok = true;
  const auto put = [&](std::uint64_t p) { ok = dump.pulse(p) && ok; };
  const bool read = replay([&](const recording::Pulses& pulses) {
    for (std::size_t i = 0; i < pulses.count; ++i)
      cleaner.pulse(pulses.length[i], pulses.offset[i], put);
  });
  cleaner.finish(put);
  ok = dump.finish() && ok;  // its last words are still held until then
  out.counts = cleaner.counts();
  out.words = std::move(sink.bytes);
  return read && ok;
}

struct Files : tape::FileListener {
  std::vector<tape::TapeFile> files;
  void on_file(const tape::TapeFile& file) override { files.push_back(file); }
};

std::vector<tape::TapeFile> decode(const std::vector<std::uint8_t>& words,
                                   const tape::DecoderSettings& settings) {
  Files files;
  tape::Decoder decoder(settings, files);
  io::MemorySource source(words);
  recording::Reader reader(source);
  if (reader.open())
    recording::each_block(reader, [&](const recording::Pulses& pulses) {
      decoder.feed(pulses);
      return true;
    });
  decoder.finish();
  return std::move(files.files);
}

// Each copy read whole before is read whole again.
bool copies_kept(const tape::BlockReport& was, const tape::BlockReport& now) {
  for (std::size_t k = 0; k < was.copy.size(); ++k) {
    const tape::CopyReport &a = was.copy[k], &b = now.copy[k];
    if (a.found && a.complete && a.bad_bytes == 0 && !(b.found && b.complete && b.bad_bytes == 0))
      return false;
  }
  return true;
}

bool same_file(const tape::TapeFile& was, const tape::TapeFile& now) {
  const bool verdict = (now.verdict == was.verdict || (was.verdict == tape::Verdict::kRepaired &&
                                                       now.verdict == tape::Verdict::kOk)) &&
                       copies_kept(was.header, now.header) && copies_kept(was.body, now.body);
  return std::string(was.loader->name) == now.loader->name && was.kind == now.kind &&
         was.start == now.start && was.end == now.end && was.name == now.name &&
         was.data == now.data && verdict;
}

}  // namespace

bool clean(const std::vector<tape::TapeFile>& files, const tape::DecoderSettings& settings,
           int machine, const Replay& replay, Cleaned& out) {
  tape::DecoderSettings again = settings;
  again.machine = machine;
  // Keeping a file as recorded changes no other file's pulses, so this ends within a few
  // rounds; should it not, nothing is rewritten.
  out.raw.clear();
  for (int round = 0; round < 4; ++round) {
    out.plan = plan(files, machine, settings.half_waves, out.raw);
    if (!learn(out.plan, replay, settings.half_waves) || !rewrite_all(out.plan, replay, out))
      return false;
    const std::vector<tape::TapeFile> now = decode(out.words, again);
    std::vector<bool> matched(now.size(), false);
    const std::size_t before = out.raw.size();
    for (std::size_t i = 0; i < files.size(); ++i) {
      bool found = false;
      for (std::size_t j = 0; j < now.size() && !found; ++j)
        if (!matched[j] && same_file(files[i], now[j])) found = matched[j] = true;
      if (!found) out.raw.insert(i);
    }
    if (out.raw.size() == before) return true;
  }
  out.plan.clear();
  return rewrite_all(out.plan, replay, out);
}

Aligned align(const Replay& replay, const std::vector<std::uint8_t>& words) {
  Aligned a;
  replay([&](const recording::Pulses& p) {
    a.offsets.insert(a.offsets.end(), p.offset, p.offset + p.count);
    for (std::size_t i = 0; i < p.count; ++i)
      a.raw.push_back(static_cast<std::uint32_t>(std::min<std::uint64_t>(p.length[i], UINT32_MAX)));
  });
  io::MemorySource source(words);
  recording::Reader reader(source);
  if (reader.open())
    recording::each_block(reader, [&](const recording::Pulses& p) {
      for (std::size_t i = 0; i < p.count; ++i)
        a.cleaned.push_back(
            static_cast<std::uint32_t>(std::min<std::uint64_t>(p.length[i], UINT32_MAX)));
      return true;
    });
  if (a.cleaned.size() != a.raw.size()) a.cleaned.clear();
  return a;
}

std::vector<std::uint32_t> Aligned::slice(std::uint64_t begin, std::uint64_t end) const {
  const auto first = std::lower_bound(offsets.begin(), offsets.end(), begin) - offsets.begin();
  const auto last = std::lower_bound(offsets.begin(), offsets.end(), end) - offsets.begin();
  const auto& from = cleaned.empty() ? raw : cleaned;
  return {from.begin() + first, from.begin() + last};
}

std::vector<Stretch> splice(std::vector<Stretch> plan, const std::vector<Stretch>& splices) {
  std::vector<Stretch> out;
  for (Stretch& s : plan) {
    // A block overlapping a splice (a pulse often ends one block and begins the next) is
    // rewritten up to it or from it; one within it, or written again whole, goes.
    bool gone = false;
    for (const Stretch& c : splices) {
      if (c.begin >= c.end || s.end <= c.begin || c.end <= s.begin) continue;
      if (s.replacement.empty() && s.begin < c.begin && s.end <= c.end) {
        s.end = c.begin;
      } else if (s.replacement.empty() && c.begin <= s.begin && c.end < s.end) {
        s.begin = c.end;
      } else {
        gone = true;
      }
    }
    if (!gone) out.push_back(std::move(s));
  }
  out.insert(out.end(), splices.begin(), splices.end());
  std::sort(out.begin(), out.end(), [](const Stretch& a, const Stretch& b) {
    return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
  });
  for (std::size_t i = 0; i + 1 < out.size(); ++i)
    out[i].fence = std::min(out[i].fence, out[i + 1].begin);
  return out;
}

bool line_up(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, long& shift) {
  constexpr long kFurthest = 64;
  const long ends = static_cast<long>(a.size()) - static_cast<long>(b.size());
  long best = -1;
  for (long d = ends - kFurthest; d <= ends + kFurthest; ++d) {
    const long from = std::max(0L, -d),
               to = std::min<long>(static_cast<long>(b.size()), static_cast<long>(a.size()) - d);
    if (to - from < 16) continue;
    long same = 0;
    for (long j = from; j < to; ++j)
      same += a[static_cast<std::size_t>(j + d)] == b[static_cast<std::size_t>(j)];
    if (10 * same < 9 * (to - from)) continue;
    if (same > best || (same == best && std::labs(d - ends) < std::labs(shift - ends))) {
      best = same;
      shift = d;
    }
  }
  return best >= 0;
}

namespace {

// A block worth taking: read well, or whole where its loader has no check.
bool usable(const tape::TapeFile& f) {
  return tape::is_good(f) || f.verdict == tape::Verdict::kUnverified;
}

// Whether a block read holds the merged file's bytes where it loads.
bool agrees(const tape::TapeFile& block, const tape::TapeFile& merged) {
  if (block.start < merged.start) return false;
  const auto at = static_cast<std::size_t>(block.start - merged.start);
  return at + block.data.size() <= merged.data.size() &&
         std::equal(block.data.begin(), block.data.end(),
                    merged.data.begin() + static_cast<long>(at));
}

// Where the next block after the one at `begin` begins in a recording (the largest value:
// none); it may begin before that one ends, where the two share a pulse or a few.
std::uint64_t next_block(const std::vector<tape::TapeFile>& files, std::uint64_t begin) {
  std::uint64_t until = std::numeric_limits<std::uint64_t>::max();
  for (const tape::TapeFile& f : files)
    for (const tape::BlockRead& b : f.blocks)
      if (b.offset > begin) until = std::min(until, b.offset);
  return until;
}

// A block that no recording read as merged, pieced together from their reads of it (`row`,
// those that `may` give pulses) at the bounds of the bytes its loader read, each of its blocks
// (`block`: the one) alike: the reads lined up, each byte as most of them read it (at least
// two, more than for any other value, where more than one read it), taken from one that read
// it so, changing recordings as seldom as can be; its pilot from the first byte's recording,
// what follows its last byte (a trailer, up to that recording's next block) from the last's.
// Empty where it cannot be; the tape it goes on is read back.
std::vector<std::uint32_t> pieced(const std::vector<const tape::TapeFile*>& row,
                                  const std::vector<bool>& may, const std::vector<Source>& sources,
                                  const std::function<const Aligned*(std::size_t)>& snap,
                                  std::size_t block = 0) {
  std::vector<std::size_t> from;
  for (std::size_t r = 0; r < row.size(); ++r) {
    const tape::TapeFile* f = row[r];
    if (may[r] && f && !f->blocks.empty() && f->blocks.size() > block &&
        f->blocks[block].stream.size() >= 16 &&
        (from.empty() ||
         (f->start == row[from[0]]->start && f->blocks.size() == row[from[0]]->blocks.size())))
      from.push_back(r);
  }
  if (from.size() < 2 || from.size() > 255) return {};
  const auto stream = [&](std::size_t j) -> const std::vector<std::uint8_t>& {
    return row[from[j]]->blocks[block].stream;
  };
  // Lined up against the longest read: where each read's first byte lies.
  std::size_t longest = 0;
  for (std::size_t j = 1; j < from.size(); ++j)
    if (stream(j).size() > stream(longest).size()) longest = j;
  std::vector<long> at(from.size(), 0);
  std::vector<std::size_t> kept;
  for (std::size_t j = 0; j < from.size(); ++j)
    if (j == longest || line_up(stream(longest), stream(j), at[j])) kept.push_back(j);
  if (kept.size() < 2) return {};
  long first = 0, last = 0;
  for (std::size_t j : kept) {
    first = std::min(first, at[j]);
    last = std::max(last, at[j] + static_cast<long>(stream(j).size()));
  }
  const auto size = static_cast<std::size_t>(last - first);
  // The byte each read gives at each place (-1: none), and what most of them read there.
  const auto byte_at = [&](std::size_t j, std::size_t p) {
    const long i = static_cast<long>(p) + first - at[j];
    return i < 0 || i >= static_cast<long>(stream(j).size())
               ? -1
               : stream(j)[static_cast<std::size_t>(i)];
  };
  std::vector<int> want(size, -1);
  for (std::size_t p = 0; p < size; ++p) {
    std::array<int, 256> count{};
    int reads = 0, best = -1, second = 0;
    for (std::size_t j : kept)
      if (const int v = byte_at(j, p); v >= 0) {
        ++reads;
        ++count[static_cast<std::size_t>(v)];
      }
    for (int v = 0; v < 256; ++v) {
      const int c = count[static_cast<std::size_t>(v)];
      if (best < 0 || c > count[static_cast<std::size_t>(best)]) {
        second = best < 0 ? 0 : std::max(second, count[static_cast<std::size_t>(best)]);
        best = v;
      } else {
        second = std::max(second, c);
      }
    }
    const int most = count[static_cast<std::size_t>(best)];
    if (reads == 1 || (most >= 2 && most > second)) want[p] = best;
  }
  // The fewest changes of recording up to each byte, ending in each; a change goes to a read
  // whose byte before is known to end where this one begins.
  constexpr int kNever = std::numeric_limits<int>::max() / 2;
  const std::size_t n = kept.size();
  std::vector<int> cost(n, 0), next(n);
  std::vector<std::vector<std::uint8_t>> came(size, std::vector<std::uint8_t>(n));
  for (std::size_t p = 0; p < size; ++p) {
    std::fill(next.begin(), next.end(), kNever);
    for (std::size_t k = 0; k < n; ++k) {
      const int v = byte_at(kept[k], p);
      if (v < 0 || v != want[p]) continue;
      const bool enters = p == 0 || byte_at(kept[k], p - 1) >= 0;
      for (std::size_t i = 0; i < n; ++i) {
        if (p > 0 && i != k && !enters) continue;
        const int c = cost[i] + (i != k ? 1 : 0);
        if (c < next[k]) {
          next[k] = c;
          came[p][k] = static_cast<std::uint8_t>(i);
        }
      }
    }
    std::swap(cost, next);
  }
  // The last byte's read gives the end: its own last byte there.
  std::size_t k = n;
  for (std::size_t i = 0; i < n; ++i)
    if (cost[i] < kNever && byte_at(kept[i], size - 1) >= 0 && (k == n || cost[i] < cost[k])) k = i;
  if (k == n) return {};
  std::vector<std::size_t> pick(size);
  for (std::size_t p = size; p-- > 0;) {
    pick[p] = k;
    k = came[p][k];
  }
  std::vector<std::uint32_t> out;
  for (std::size_t p = 0; p < size;) {
    std::size_t q = p;
    while (q < size && pick[q] == pick[p]) ++q;
    const std::size_t j = kept[pick[p]], r = from[j];
    const tape::BlockRead& b = row[r]->blocks[block];
    const auto index = [&](std::size_t place) {  // of the read's byte at a place
      return static_cast<std::size_t>(static_cast<long>(place) + first - at[j]);
    };
    const Aligned* pulses = snap(r);
    if (!pulses) return {};
    const std::uint64_t begin = p == 0 ? b.offset : b.ends[index(p) - 1],
                        end = q == size ? next_block(*sources[r].files, b.offset)
                                        : b.ends[index(q - 1)];
    if (end < begin) return {};  // bounds out of order: no piece of it can be trusted
    const std::vector<std::uint32_t> piece = pulses->slice(begin, end);
    out.insert(out.end(), piece.begin(), piece.end());
    p = q;
  }
  if (block + 1 < row[from[0]]->blocks.size()) {  // its next block
    const std::vector<std::uint32_t> rest = pieced(row, may, sources, snap, block + 1);
    if (rest.empty()) return {};
    out.insert(out.end(), rest.begin(), rest.end());
  }
  return out;
}

// The machine a recording's files tell, else the one it was decoded for.
int machine_of(const Source& s) {
  for (const tape::TapeFile& f : *s.files)
    if (f.loader && f.loader->machine >= 0) return f.loader->machine;
  return s.settings.machine >= 0 ? s.settings.machine : s.settings.default_machine;
}

}  // namespace

bool merge_clean(const std::vector<Source>& sources, const std::vector<tape::MergedFile>& merged,
                 MergeCleaned& out) {
  const std::size_t n = sources.size();
  std::vector<int> machine(n);
  for (std::size_t r = 0; r < n; ++r) machine[r] = machine_of(sources[r]);
  out.machine = machine[0];
  // Each recording cleaned once it is needed, its pulses beside the input's.
  std::vector<std::unique_ptr<Cleaned>> cleaned(n);
  std::vector<std::unique_ptr<Aligned>> aligned(n);
  const auto clean_one = [&](std::size_t r) {
    if (cleaned[r]) return true;
    cleaned[r] = std::make_unique<Cleaned>();
    if (!clean(*sources[r].files, sources[r].settings, machine[r], sources[r].replay, *cleaned[r]))
      return false;
    if (r > 0) aligned[r] = std::make_unique<Aligned>(align(sources[r].replay, cleaned[r]->words));
    return true;
  };
  if (!clean_one(0)) return false;
  const auto pause = static_cast<std::uint32_t>(
      2 * recording::machine_clock_hz(machine[0], sources[0].settings.video));
  // Blocks taken from one recording back to back go in as one, each with what follows it there
  // up to that recording's next block (a chain's trailer, the pause after a file): in place of
  // the first recording's bad block and everything after it up to the next block it read (the
  // rest of a block or chain its dropout cut); or, where it has nothing, before its next block,
  // after a second's pause.
  std::vector<Stretch> splices;
  struct Group {
    bool open = false, inserted = false, grown = false;
    std::size_t from = 0;
    std::uint64_t next = 0;  // where the last block taken ends in its recording
    Stretch s;
  } group;
  const auto close = [&](std::uint64_t at) {  // `at`: the first recording's next block
    if (!group.open) return;
    if (group.inserted) {
      group.s.begin = group.s.end = at;
    } else if (group.grown && at > group.s.begin) {
      group.s.end = at;  // up to the next block, which may begin before the damaged one ends
    }
    group.s.fence = group.s.end;
    splices.push_back(std::move(group.s));
    group = Group{};
  };
  // A block's pulses taken from recording `from` (n: pieced together), read there from
  // `offset` to `until`: in place of the first recording's `in_place`, or missing there.
  const auto take = [&](std::size_t from, std::uint64_t offset, std::uint64_t until,
                        const std::vector<std::uint32_t>& pulses, const tape::TapeFile* in_place) {
    ++out.taken;
    const bool back_to_back = group.open && from < n && group.from == from && group.next == offset;
    if (back_to_back || (!in_place && group.open)) {  // after the blocks taken just before
      if (!back_to_back) group.s.replacement.push_back(pause);
      group.s.replacement.insert(group.s.replacement.end(), pulses.begin(), pulses.end());
      group.from = from;
      group.next = until;
      group.grown = group.grown || !group.inserted;
      return;
    }
    if (in_place) close(in_place->offset);
    group.open = true;
    group.from = from;
    group.next = until;
    group.s.replacement = pulses;
    if (in_place) {
      group.s.begin = in_place->offset;
      group.s.end = std::max(in_place->end_offset, in_place->offset + 1);
      group.grown = true;  // what is left of a damaged block up to the next goes too
    } else {
      group.inserted = true;
      group.s.replacement.insert(group.s.replacement.begin(), pause);
    }
  };
  // Each recording's pulses with every block at its lengths, for pieces of damaged blocks.
  std::vector<std::unique_ptr<Aligned>> snapped(n);
  const std::function<const Aligned*(std::size_t)> snap = [&](std::size_t r) -> const Aligned* {
    if (!snapped[r]) {
      const Source& s = sources[r];
      Cleaned c;
      c.plan = plan(*s.files, machine[r], s.settings.half_waves, {}, true);
      if (!learn(c.plan, s.replay, s.settings.half_waves) || !rewrite_all(c.plan, s.replay, c))
        return nullptr;
      snapped[r] = std::make_unique<Aligned>(align(s.replay, c.words));
    }
    return snapped[r].get();
  };
  std::vector<bool> alike(n);  // recordings whose pulses may go on the first's
  for (std::size_t r = 0; r < n; ++r)
    alike[r] = machine[r] == machine[0] &&
               sources[r].settings.half_waves == sources[0].settings.half_waves;
  // A block the first recording read badly and no recording read well: a damaged block that
  // matched nothing (cut short, its size is another), whose good copies come right after.
  const tape::TapeFile* damaged = nullptr;
  for (const auto& m : merged) {
    for (const auto& row : m.parts) {
      const tape::TapeFile* base = row.empty() ? nullptr : row[0];
      if (base) close(base->offset);
      if (base && usable(*base) && agrees(*base, m.file)) {
        damaged = nullptr;  // cleaned with the first recording
        continue;
      }
      std::size_t from = n;
      for (std::size_t r = 1; r < row.size() && from == n; ++r)
        if (row[r] && alike[r] && usable(*row[r]) && agrees(*row[r], m.file)) from = r;
      const tape::TapeFile* in_place = base ? base : damaged;
      if (from == n) {
        // A file of copies (the machine's own format) that only the merge recovers: its copies
        // written again from the merged bytes.
        if (base && m.parts.size() == 1 && base->loader->copies && tape::is_good(m.file)) {
          tape::TapeFile rebuilt = *base;
          rebuilt.data = m.file.data;
          rebuilt.records.clear();  // a data file's records were not merged: not written again
          if (m.file.header_bytes.size() == 192) rebuilt.header_bytes = m.file.header_bytes;
          rebuilt.verdict = tape::Verdict::kRepaired;
          const std::vector<Stretch> copies =
              plan({rebuilt}, machine[0], sources[0].settings.half_waves);
          splices.insert(splices.end(), copies.begin(), copies.end());
          ++out.taken;
          damaged = nullptr;
          continue;
        }
        const std::vector<std::uint32_t> pulses =
            usable(m.file) ? pieced(row, alike, sources, snap) : std::vector<std::uint32_t>{};
        if (!pulses.empty()) {
          take(n, 0, 0, pulses, in_place);
          ++out.pieced;
          out.kept -= base || !in_place ? 0 : 1;
          damaged = nullptr;
          continue;
        }
        out.kept += base ? 1 : 0;
        damaged = base ? base : damaged;
        continue;
      }
      if (!clean_one(from)) return false;
      const tape::TapeFile& good = *row[from];
      // Up to the recording's next block: a chain's trailer goes with its last block.
      const std::uint64_t until = next_block(
          *sources[from].files, good.blocks.empty() ? good.offset : good.blocks.back().offset);
      take(from, good.offset, until, aligned[from]->slice(good.offset, until), in_place);
      out.kept -= base || !in_place ? 0 : 1;
      damaged = nullptr;
    }
  }
  close(std::numeric_limits<std::uint64_t>::max());
  const std::vector<Stretch> plan = splice(cleaned[0]->plan, splices);
  io::MemorySink sink;
  recording::DumpWriter dump(sink, 0, 1);
  Cleaner cleaner(plan);
  bool ok = true;
  const auto put = [&](std::uint64_t p) { ok = dump.pulse(p) && ok; };
  if (!sources[0].replay([&](const recording::Pulses& p) {
        for (std::size_t i = 0; i < p.count; ++i) cleaner.pulse(p.length[i], p.offset[i], put);
      }))
    return false;
  cleaner.finish(put);
  ok = dump.finish() && ok;
  out.words = std::move(sink.bytes);
  // Read back: every merged file that is good must be on it, good, with the same bytes.
  tape::DecoderSettings again = sources[0].settings;
  again.machine = machine[0];
  const std::vector<tape::TapeFile> back = decode(out.words, again);
  for (std::size_t i = 0; i < merged.size(); ++i) {
    const tape::TapeFile& f = merged[i].file;
    if (!usable(f)) continue;
    ++out.good;
    // On it whole: its bytes where they load, in a file as good (a chain's block in its chain).
    const bool there = std::any_of(back.begin(), back.end(), [&](const tape::TapeFile& b) {
      const std::size_t at = static_cast<std::size_t>(f.start - b.start);
      return usable(b) && std::string(b.loader->name) == f.loader->name && f.start >= b.start &&
             at + f.data.size() <= b.data.size() &&
             std::equal(f.data.begin(), f.data.end(), b.data.begin() + static_cast<long>(at));
    });
    if (!there) out.missing.push_back(i);
  }
  return ok;
}

}  // namespace tapewren::clean
