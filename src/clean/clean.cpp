// Cleaning: which blocks are rewritten, and each pulse set to its nominal length.
#include "clean/clean.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
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

// A damaged copy of a ROM-loader block whose file the repeat repaired: its bytes are known.
// A data file's records are not (its contents end at their first 0x00).
bool repairable(const tape::TapeFile& file, const tape::BlockRead& block) {
  if (!file.loader->copies || file.verdict != tape::Verdict::kRepaired) return false;
  if (block.end_offset <= block.offset) return false;
  const std::string role = block.role;
  return (role == "header" && file.header_bytes.size() == 192) ||
         (role == "data" && file.kind == tape::Kind::kProgram &&
          file.data.size() == static_cast<std::size_t>(file.end - file.start));
}

// The copy as it should be, in the exact encoder's pulses (half waves: each pulse as two).
std::vector<std::uint32_t> rom_copy(const tape::TapeFile& file, const tape::BlockRead& block,
                                    int machine, bool half_waves) {
  synth::TapeLayout layout;
  layout.exact = true;
  layout.vic20 = machine == 1;
  layout.both_edges = half_waves;
  synth::TapeWriter writer(layout);
  const bool header = std::string(block.role) == "header";
  writer.rom_copy(header ? file.header_bytes : file.data, block.copy == 2,
                  file.loader->machine == 2);
  const auto& words = writer.words();
  std::vector<std::uint32_t> pulses;
  for (std::size_t i = 0; i + 1 < words.size(); i += 2)
    pulses.push_back(static_cast<std::uint32_t>(words[i] | words[i + 1] << 8));
  return pulses;
}

}  // namespace

std::vector<Stretch> plan(const std::vector<tape::TapeFile>& files, int machine, bool half_waves,
                          const std::set<std::size_t>& raw) {
  std::vector<Stretch> out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const tape::TapeFile& f = files[i];
    // A file that stays bad or incomplete is kept as recorded whole: its good blocks at
    // nominal speed beside its bad ones at the deck's would only read worse.
    if (!f.loader || raw.count(i) > 0 || f.verdict == tape::Verdict::kBad ||
        f.verdict == tape::Verdict::kIncomplete)
      continue;
    const bool vic20 = machine == 1 && f.loader->vic20_pulses[0] != 0;
    const auto& lengths = vic20 ? f.loader->vic20_pulses : f.loader->pulses;
    Stretch s;
    for (std::uint8_t v : lengths)
      if (v != 0) s.ideal[static_cast<std::size_t>(s.classes++)] = (half_waves ? 8.0 : 16.0) * v;
    if (s.classes == 0) continue;
    s.file = i;
    for (const tape::BlockRead& b : f.blocks) {
      Stretch block = s;
      block.begin = b.offset;
      block.end = b.end_offset;
      if (!sound(f, b)) {
        if (!repairable(f, b)) continue;
        block.replacement = rom_copy(f, b, machine, half_waves);
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

void Cleaner::start(const std::uint64_t* pulses, std::size_t count) {
  const Stretch& s = *current_;
  const double longest = s.ideal[static_cast<std::size_t>(s.classes - 1)];
  // Each pulse's distance from its nearest length, as a ratio, summed over a grid of speeds
  // from 0.7 to 1.4; pauses and spikes left out. A pilot of one length fits two speeds as well
  // (its pulses a fast deck's 1s or a slow one's 0s): the nearer to the true speed wins.
  double best = std::numeric_limits<double>::max();
  speed_ = 1;
  for (int step = 0; step <= 140; ++step) {
    const double speed = 0.7 + 0.005 * step;
    double cost = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const auto p = static_cast<double>(pulses[i]);
      if (p > 2 * 1.4 * longest || p < 0.35 * s.ideal[0]) continue;
      double nearest = std::numeric_limits<double>::max();
      for (int k = 0; k < s.classes; ++k)
        nearest =
            std::min(nearest, std::fabs(p / (speed * s.ideal[static_cast<std::size_t>(k)]) - 1));
      cost += nearest + 0.05 * std::fabs(speed - 1);
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

bool same_file(const tape::TapeFile& was, const tape::TapeFile& now) {
  const bool verdict = now.verdict == was.verdict || (was.verdict == tape::Verdict::kRepaired &&
                                                      now.verdict == tape::Verdict::kOk);
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
    if (!rewrite_all(out.plan, replay, out)) return false;
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

}  // namespace tapewren::clean
