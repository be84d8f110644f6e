// A recording cleaned as tapewren-convert --clean cleans it, and what its blocks' pulses became:
// for the tests of cleaning.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "clean/clean.hpp"
#include "common/decode.hpp"
#include "io/byte_stream.hpp"
#include "recording/recording.hpp"
#include "synth/tape_synth.hpp"
#include "tape/merge.hpp"

namespace tapewren::testing {

struct CleanedTape {
  clean::Cleaned cleaned;
  Decoded before, after;
  // Pulses inside the rewritten stretches that came out at none of their loader's lengths
  // (pauses left out), and those stretches' pulses in all.
  std::size_t off_nominal = 0, rewritten = 0;
  // The lengths those pulses came out at, pauses left out: in stretches of nominal lengths,
  // and in those of lengths learned from the tape.
  std::set<std::uint64_t> values, learned;
};

inline clean::Replay replay_of(const std::vector<std::uint8_t>& recording) {
  return [&recording](const std::function<void(const recording::Pulses&)>& use) {
    io::MemorySource source(recording);
    recording::Reader reader(source);
    if (!reader.open()) return false;
    auto pulses = std::make_unique<recording::Pulses>();
    while (reader.next(*pulses)) use(*pulses);
    return reader.error().empty();
  };
}

inline CleanedTape clean_tape(const std::vector<std::uint8_t>& recording,
                              tape::DecoderSettings settings = {}) {
  CleanedTape t;
  t.before = decode(recording, settings);
  EXPECT_TRUE(clean::clean(t.before.files, settings, t.before.summary.machine, replay_of(recording),
                           t.cleaned));
  settings.machine = t.before.summary.machine;
  t.after = decode(t.cleaned.words, settings);
  // Input and output pulse for pulse (no copy was written again here, or the counts differ).
  std::vector<std::uint64_t> offsets, lengths;
  replay_of(recording)([&](const recording::Pulses& p) {
    offsets.insert(offsets.end(), p.offset, p.offset + p.count);
  });
  replay_of(t.cleaned.words)([&](const recording::Pulses& p) {
    lengths.insert(lengths.end(), p.length, p.length + p.count);
  });
  if (offsets.size() != lengths.size()) return t;
  for (const clean::Stretch& s : t.cleaned.plan) {
    const std::set<std::uint64_t> nominal(s.ideal.begin(), s.ideal.begin() + s.classes);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      if (offsets[i] < s.begin || offsets[i] >= s.end) continue;
      ++t.rewritten;
      const bool pause = static_cast<double>(lengths[i]) > 1.4 * s.ideal[s.classes - 1];
      t.off_nominal += nominal.count(lengths[i]) == 0 && !pause;
      if (!pause) (s.learned ? t.learned : t.values).insert(lengths[i]);
    }
  }
  return t;
}

// The pulse lengths (half cycles) the exact encoder writes for a file, pauses aside: what its
// loader's nominal lengths must give (half waves: each half of one).
inline std::set<std::uint64_t> exact_lengths(const synth::TapeFile& file, bool vic20 = false,
                                             bool half_waves = false) {
  synth::TapeLayout exact;
  exact.exact = true;
  exact.vic20 = vic20;
  exact.both_edges = half_waves;
  synth::TapeWriter ideal(exact);
  ideal.add(file);
  std::set<std::uint64_t> written;
  for (std::size_t i = 0; i + 1 < ideal.words().size(); i += 2)
    written.insert(ideal.words()[i] | ideal.words()[i + 1] << 8);
  written.erase(0xFFFF);
  return written;
}

// Several recordings of one side decoded (each with its edges), merged as tapewren-scan --merge
// merges them, and made into one clean tape.
struct MergedTape {
  std::vector<std::vector<tape::TapeFile>> files;
  std::vector<tape::MergedFile> merged;
  clean::MergeCleaned out;
};

inline MergedTape merge_and_clean(const std::vector<std::vector<std::uint8_t>>& takes,
                                  const std::vector<bool>& half_waves) {
  MergedTape t;
  std::vector<std::vector<tape::TapeFile>> pieces;
  std::vector<clean::Source> sources(takes.size());
  t.files.reserve(takes.size());  // the sources point into it
  for (std::size_t r = 0; r < takes.size(); ++r) {
    sources[r].settings.half_waves = half_waves[r];
    sources[r].settings.byte_bounds = true;
    t.files.push_back(decode(takes[r], sources[r].settings).files);
    pieces.push_back(tape::split_chains(t.files.back()));
    sources[r].files = &t.files[r];
    sources[r].replay = replay_of(takes[r]);
  }
  for (const auto& row : tape::match_files(pieces)) t.merged.push_back(tape::merge_copies(row));
  t.merged = tape::join_chains(std::move(t.merged));
  EXPECT_TRUE(clean::merge_clean(sources, t.merged, t.out));
  return t;
}

}  // namespace tapewren::testing
