// Chains of blocks that load back to back: when a block goes on a chain, how, and how a
// chain comes apart again.
#include "tape/chains.hpp"

namespace tapewren::tape {

bool loads_after(const TapeFile& a, const TapeFile& b) {
  return a.start + a.data.size() == b.start;
}

bool joins(const TapeFile& a, const TapeFile& b) {
  // Read whole: good, or whole with nothing to prove it (and the chain stays so).
  const auto whole = [](const TapeFile& f) {
    return is_good(f) || f.verdict == Verdict::kUnverified;
  };
  return a.loader == b.loader && whole(a) && whole(b) && readable_name(b.name).empty() &&
         loads_after(a, b) && a.start + a.data.size() + b.data.size() <= 0x10000;
}

void append(TapeFile& a, const TapeFile& b) {
  const auto at = static_cast<std::uint32_t>(a.data.size());
  a.data.insert(a.data.end(), b.data.begin(), b.data.end());
  a.end = static_cast<std::uint16_t>(a.start + a.data.size());
  for (DataCheck c : b.checks) {
    c.begin += at;
    c.end += at;
    a.checks.push_back(c);
  }
  a.blocks.insert(a.blocks.end(), b.blocks.begin(), b.blocks.end());
  a.body_blocks += b.body_blocks;
  a.end_offset = b.end_offset;
  a.end_half_cycles = b.end_half_cycles;
  a.end_seconds = b.end_seconds;
  // As sure as its least sure part: unverified, then repaired, then ok.
  if (b.verdict == Verdict::kUnverified ||
      (b.verdict == Verdict::kRepaired && a.verdict == Verdict::kOk))
    a.verdict = b.verdict;
}

namespace {

// Whether a file is a chain: blocks that load back to back, each with its own place in the
// data.
bool is_chain(const TapeFile& f) {
  if (f.kind != Kind::kProgram || f.body_blocks < 2 ||
      f.blocks.size() != static_cast<std::size_t>(f.body_blocks))
    return false;
  std::size_t at = 0;
  for (const BlockRead& b : f.blocks) {
    if (b.start != f.start + static_cast<int>(at)) return false;
    at += b.size;
  }
  return at == f.data.size();
}

}  // namespace

std::vector<TapeFile> split(const TapeFile& f) {
  if (!is_chain(f)) return {f};
  std::vector<TapeFile> out;
  std::uint32_t at = 0;
  for (std::size_t k = 0; k < f.blocks.size(); ++k) {
    const BlockRead& b = f.blocks[k];
    const auto size = static_cast<std::uint32_t>(b.size);
    TapeFile p;
    p.loader = f.loader;
    p.kind = f.kind;
    p.type = f.type;
    if (k == 0) {
      p.name = f.name;
      p.header_bytes = f.header_bytes;
      p.header = f.header;
      p.notes = f.notes;
    }
    p.start = static_cast<std::uint16_t>(b.start);
    p.end = static_cast<std::uint16_t>(b.start + static_cast<int>(b.size));
    p.data.assign(f.data.begin() + at, f.data.begin() + at + size);
    p.body.copy[0] = b.state;
    p.body_blocks = 1;
    p.verdict = f.verdict;
    p.proof = f.proof;
    p.offset = b.offset;
    p.end_offset = k + 1 == f.blocks.size() ? f.end_offset : f.blocks[k + 1].offset;
    p.evidence = f.evidence;
    p.half_cycles = b.time;
    p.seconds = b.seconds;
    p.end_half_cycles = b.end_time;
    p.end_seconds = b.end_seconds;
    p.blocks = {b};
    for (DataCheck c : f.checks)
      if (c.begin >= at && c.end <= at + size) {
        c.begin -= at;
        c.end -= at;
        p.checks.push_back(c);
      }
    p.continued = k > 0;
    out.push_back(std::move(p));
    at += size;
  }
  return out;
}

}  // namespace tapewren::tape
