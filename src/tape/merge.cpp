// Files of several recordings of one side matched in tape order, and put together from all
// their copies.
#include "tape/merge.hpp"

#include <algorithm>
#include <bit>
#include <iterator>
#include <map>
#include <tuple>

#include "tape/chains.hpp"

namespace tapewren::tape {

bool DataCheck::holds(const std::vector<std::uint8_t>& data) const {
  if (expected < 0 || begin > end || end > data.size()) return false;
  if (op == Op::kOnes) {
    unsigned ones = 0;
    for (std::size_t i = begin; i < end; ++i) ones += static_cast<unsigned>(std::popcount(data[i]));
    return static_cast<int>(ones & 0xFFFF) == expected;
  }
  std::uint8_t v = seed;
  for (std::size_t i = begin; i < end; ++i) {
    v = op == Op::kSum ? static_cast<std::uint8_t>(v + data[i])
                       : static_cast<std::uint8_t>(v ^ data[i]);
    if (op == Op::kXorStep && static_cast<std::uint8_t>(address + (i - begin)) == 0xFF) ++v;
  }
  return v == expected;
}

DataCheck data_check(DataCheck::Op op, const std::vector<std::uint8_t>& data, std::size_t begin,
                     std::size_t end, int found, int computed) {
  DataCheck c;
  c.op = op;
  c.begin = static_cast<std::uint32_t>(begin);
  c.end = static_cast<std::uint32_t>(end);
  std::uint8_t own = 0;
  for (std::size_t i = begin; i < end && i < data.size(); ++i)
    own = op == DataCheck::Op::kXor ? static_cast<std::uint8_t>(own ^ data[i])
                                    : static_cast<std::uint8_t>(own + data[i]);
  c.seed = op == DataCheck::Op::kXor ? static_cast<std::uint8_t>(computed ^ own)
                                     : static_cast<std::uint8_t>(computed - own);
  c.expected = found;
  return c;
}

namespace {

bool complete(const TapeFile& f) {
  return is_good(f) || f.body.copy[0].complete || f.body.copy[1].complete;
}

// How surely two files are one: 0 when they cannot be. A name of its own counts most; the
// addresses and size say as much for files without names. A data block found without its
// header (a recording that starts at its repeat) is its file's when its bytes are.
int likeness(const TapeFile& a, const TapeFile& b) {
  if (a.loader != b.loader) return 0;
  if ((a.kind == Kind::kDataWithoutHeader) != (b.kind == Kind::kDataWithoutHeader)) {
    const TapeFile& headerless = a.kind == Kind::kDataWithoutHeader ? a : b;
    const TapeFile& other = &headerless == &a ? b : a;
    const bool read_whole = complete(headerless) && complete(other);
    return other.body_blocks > 0 && a.data.size() == b.data.size() &&
                   (!read_whole || a.data == b.data)
               ? 4
               : 0;
  }
  const bool named = !readable_name(a.name).empty() || !readable_name(b.name).empty();
  const bool same_name = a.name == b.name;
  const bool same_start = a.start == b.start, same_end = a.end == b.end;
  // Names that differ with addresses that agree: one of them damaged.
  const int score = (named && same_name ? 3 : 0) + (same_start ? 2 : 0) + (same_end ? 2 : 0) +
                    (a.kind == b.kind ? 1 : 0) + (a.data.size() == b.data.size() ? 1 : 0);
  return score >= 4 ? score : 0;
}

// The most common value of some, the first of them on a tie; and how many distinct.
template <typename T>
T majority(const std::vector<T>& values, int* distinct = nullptr) {
  std::map<T, int> count;
  for (const T& v : values) ++count[v];
  if (distinct) *distinct = static_cast<int>(count.size());
  T best = values.front();
  for (const T& v : values)
    if (count[v] > count[best]) best = v;
  return best;
}

// How many of some values are the most common one.
std::size_t agree(const std::vector<std::uint8_t>& values) {
  const std::uint8_t v = majority(values);
  return static_cast<std::size_t>(std::count(values.begin(), values.end(), v));
}

// The notes of a merged file that came out good, from what it took.
void describe(MergedFile& m) {
  TapeFile& f = m.file;
  m.good_alone = std::find(m.good_in.begin(), m.good_in.end(), true) != m.good_in.end();
  m.only_by_merging = !m.good_alone && is_good(f);
  const std::string conflict =
      "conflict at byte " + std::to_string(m.conflict_at) +
      (m.conflicts > 1 ? ", " + std::to_string(m.conflicts) + " bytes in all" : "");
  if (!is_good(f)) {  // the reason it is bad is told already
    if (m.conflicts > 0) f.notes.insert(f.notes.begin(), conflict);
    return;
  }
  f.notes.clear();
  if (m.conflicts > 0) f.notes.push_back(conflict);
  if (m.voted > 0)
    f.notes.push_back(std::to_string(m.voted) +
                      " bytes by the majority of damaged copies, the checksum holds");
  if (m.only_by_merging) f.notes.push_back("only the merge recovers it");
}

bool unread(const TapeFile& f, std::size_t i) {
  return std::binary_search(f.unread.begin(), f.unread.end(), static_cast<std::uint32_t>(i));
}

// Whether byte i of a copy was read without error.
bool sure(const TapeFile& f, std::size_t i) {
  if (i >= f.data.size()) return false;
  return is_good(f) || f.verdict == Verdict::kUnverified || (f.bytes_checked && !unread(f, i));
}

}  // namespace

Matched match_files(const std::vector<std::vector<TapeFile>>& recordings) {
  Matched rows;
  for (std::size_t r = 0; r < recordings.size(); ++r) {
    const auto& files = recordings[r];
    const std::size_t n = rows.size(), m = files.size();
    // The best matching that keeps both orders: the likeness summed over matched pairs.
    std::vector<std::vector<int>> best(n + 1, std::vector<int>(m + 1, 0));
    const auto score = [&](std::size_t i, std::size_t j) {
      int s = 0;
      for (const TapeFile* f : rows[i])
        if (f) s = std::max(s, likeness(*f, files[j]));
      return s;
    };
    for (std::size_t i = 1; i <= n; ++i)
      for (std::size_t j = 1; j <= m; ++j) {
        best[i][j] = std::max(best[i - 1][j], best[i][j - 1]);
        const int s = score(i - 1, j - 1);
        if (s > 0) best[i][j] = std::max(best[i][j], best[i - 1][j - 1] + s);
      }
    // Walked back: matched pairs share a row, the others get rows of their own in order.
    Matched merged;
    std::size_t i = n, j = m;
    while (i > 0 || j > 0) {
      if (i > 0 && j > 0) {
        const int s = score(i - 1, j - 1);
        if (s > 0 && best[i][j] == best[i - 1][j - 1] + s) {
          merged.push_back(rows[i - 1]);
          merged.back()[r] = &files[j - 1];
          --i, --j;
          continue;
        }
      }
      // Walking back, a file of this recording alone goes after the rows before it where
      // nothing tells their order.
      if (j > 0 && (i == 0 || best[i][j] == best[i][j - 1])) {
        merged.emplace_back(recordings.size(), nullptr);
        merged.back()[r] = &files[j - 1];
        --j;
      } else {
        merged.push_back(rows[i - 1]);
        --i;
      }
    }
    std::reverse(merged.begin(), merged.end());
    for (auto& row : merged) row.resize(recordings.size(), nullptr);
    rows = std::move(merged);
  }
  return rows;
}

MergedFile merge_copies(const std::vector<const TapeFile*>& copies) {
  std::vector<const TapeFile*> present;
  for (const TapeFile* f : copies)
    if (f) present.push_back(f);
  MergedFile out;
  out.parts = {copies};
  for (const TapeFile* c : copies) out.good_in.push_back(c && is_good(*c));
  // The copy the result is made on: a good one, else one with data, the fewest bytes unsure.
  const TapeFile* base = present.front();
  const auto rank = [](const TapeFile& f) {
    std::size_t sure_bytes = 0;
    for (std::size_t i = 0; i < f.data.size(); ++i) sure_bytes += sure(f, i);
    return std::make_tuple(is_good(f), f.body_blocks > 0, sure_bytes);
  };
  for (const TapeFile* f : present)
    if (rank(*f) > rank(*base)) base = f;
  std::vector<std::size_t> sizes, complete_sizes, good_sizes;
  for (const TapeFile* f : present) {
    sizes.push_back(f->data.size());
    if (complete(*f)) complete_sizes.push_back(f->data.size());
    if (is_good(*f)) good_sizes.push_back(f->data.size());
  }
  const std::size_t size = !good_sizes.empty() ? majority(good_sizes)
                           : !complete_sizes.empty()
                               ? majority(complete_sizes)
                               : *std::max_element(sizes.begin(), sizes.end());
  TapeFile& f = out.file;
  f = *base;
  f.data.assign(size, 0);
  f.unread.clear();
  std::vector<std::uint32_t> voted_at, tied_at;
  std::vector<std::uint8_t> known, any;
  for (std::size_t i = 0; i < size; ++i) {
    known.clear();
    any.clear();
    for (const TapeFile* c : present) {
      if (i >= c->data.size() || (c->bytes_checked && unread(*c, i))) continue;  // no value
      any.push_back(c->data[i]);
      if (sure(*c, i)) known.push_back(c->data[i]);
    }
    if (!known.empty()) {
      int distinct = 1;
      f.data[i] = majority(known, &distinct);
      if (distinct > 1 && out.conflicts++ == 0) out.conflict_at = static_cast<long long>(i);
      if (distinct > 1 && agree(known) * 2 <= known.size())
        tied_at.push_back(static_cast<std::uint32_t>(i));
    } else if (!any.empty() && agree(any) * 2 > any.size() && agree(any) >= 2) {
      // The same damage on the same spot of tape reads alike in every recording: a value
      // damaged copies agree on is good only where the check bytes then hold.
      f.data[i] = majority(any);
      voted_at.push_back(static_cast<std::uint32_t>(i));
    } else {
      ++out.lost;
      f.unread.push_back(static_cast<std::uint32_t>(i));
    }
  }
  out.voted = static_cast<int>(voted_at.size());
  // The check bytes of every copy, the value most copies read for each.
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<DataCheck>> checks;
  for (const TapeFile* c : present)
    for (const DataCheck& k : c->checks)
      if (k.expected >= 0) checks[{k.begin, k.end}].push_back(k);
  f.checks.clear();
  bool checks_hold = true;
  std::vector<bool> checked(size, false);
  for (auto& [range, found] : checks) {
    std::vector<int> values;
    for (const DataCheck& k : found) values.push_back(k.expected);
    DataCheck k = found.front();
    k.expected = majority(values);
    f.checks.push_back(k);
    if (k.end > size) continue;  // beyond the file's end (a data file cut at its 0x00)
    if (!k.holds(f.data)) checks_hold = false;
    for (std::uint32_t i = k.begin; i < k.end; ++i) checked[i] = true;
  }
  const bool votes_checked =
      std::all_of(voted_at.begin(), voted_at.end(), [&](std::uint32_t i) { return checked[i]; });
  // Copies read well that disagree with no majority: where no check byte covers the byte,
  // nothing tells which is right.
  for (const std::uint32_t i : tied_at)
    if (!checked[i]) {
      ++out.lost;
      f.unread.push_back(i);
    }
  std::sort(f.unread.begin(), f.unread.end());
  const bool whole =
      std::any_of(present.begin(), present.end(), [](const TapeFile* c) { return complete(*c); });
  f.notes.clear();
  if (!whole || (f.kind == Kind::kHeaderOnly && size == 0) ||
      f.kind == Kind::kDataWithoutHeader) {  // no copy of its header: nothing says where it loads
    f.verdict = Verdict::kIncomplete;
  } else if (out.lost > 0) {
    f.verdict = Verdict::kBad;
    f.notes.push_back(std::to_string(out.lost) + " bytes not recovered");
  } else if (out.voted > 0 && (!checks_hold || !votes_checked)) {
    f.verdict = Verdict::kBad;
    f.notes.push_back(std::to_string(out.voted) + " bytes read with errors in every copy");
  } else if (!checks_hold) {
    f.verdict = Verdict::kBad;
    f.notes.push_back("the checksum fails on the merged bytes");
  } else {
    const bool ok_alone = std::any_of(present.begin(), present.end(),
                                      [](const TapeFile* c) { return c->verdict == Verdict::kOk; });
    f.verdict = ok_alone && out.conflicts == 0 ? Verdict::kOk : Verdict::kRepaired;
    // Without a checksum, only the loader's code seen before proves the bytes, in any copy.
    if (!f.loader->checksum && std::none_of(present.begin(), present.end(), [](const TapeFile* c) {
          return c->proof == Proof::kBoot;
        }))
      f.verdict = Verdict::kUnverified;
  }
  describe(out);
  return out;
}

std::vector<TapeFile> split_chains(const std::vector<TapeFile>& files) {
  std::vector<TapeFile> out;
  for (const TapeFile& f : files) {
    std::vector<TapeFile> blocks = split(f);
    out.insert(out.end(), std::make_move_iterator(blocks.begin()),
               std::make_move_iterator(blocks.end()));
  }
  return out;
}

std::vector<MergedFile> join_chains(std::vector<MergedFile> merged) {
  std::vector<MergedFile> out;
  for (MergedFile& m : merged) {
    if (out.empty()) {
      out.push_back(std::move(m));
      continue;
    }
    MergedFile& open = out.back();
    TapeFile& a = open.file;
    const TapeFile& b = m.file;
    // A recording that read both blocks good and did not chain them tells that they are two
    // files; the loader chains every good block that loads right after the one before.
    bool apart = false;
    const auto& last = open.parts.back();
    const auto& next = m.parts.front();
    for (std::size_t r = 0; r < last.size() && r < next.size(); ++r)
      apart |= last[r] && next[r] && is_good(*last[r]) && is_good(*next[r]) && !next[r]->continued;
    if (apart || !joins(a, b)) {
      out.push_back(std::move(m));
      continue;
    }
    const auto at = static_cast<std::uint32_t>(a.data.size());
    append(a, b);
    if (open.conflicts == 0 && m.conflicts > 0) open.conflict_at = at + m.conflict_at;
    open.conflicts += m.conflicts;
    open.voted += m.voted;
    open.lost += m.lost;
    open.parts.insert(open.parts.end(), m.parts.begin(), m.parts.end());
    for (std::size_t r = 0; r < open.good_in.size(); ++r)
      open.good_in[r] = open.good_in[r] && m.good_in[r];
    describe(open);
  }
  return out;
}

std::vector<std::size_t> strangers(const Matched& rows, std::size_t recordings) {
  // Per pair of recordings: the files both hold, and of those both hold good, how many are
  // the same bytes and how many are not.
  struct Pair {
    int shared = 0, same = 0, differ = 0;
  };
  std::vector<std::vector<Pair>> pairs(recordings, std::vector<Pair>(recordings));
  std::vector<int> files(recordings, 0);
  for (const auto& row : rows) {
    for (std::size_t r = 0; r < recordings && r < row.size(); ++r) {
      if (!row[r]) continue;
      ++files[r];
      for (std::size_t s = r + 1; s < recordings && s < row.size(); ++s) {
        if (!row[s]) continue;
        Pair& p = pairs[r][s];
        ++p.shared;
        if (is_good(*row[r]) && is_good(*row[s]))
          ++(row[r]->data == row[s]->data ? p.same : p.differ);
      }
    }
  }
  // Two recordings of one side: most of the files of the one with fewer are the other's too,
  // and where both read a file well, mostly the same bytes.
  const auto one_side = [&](std::size_t r, std::size_t s) {
    const Pair& p = pairs[std::min(r, s)][std::max(r, s)];
    return 2 * p.shared >= std::min(files[r], files[s]) && p.same >= p.differ;
  };
  std::vector<std::size_t> out;
  for (std::size_t r = 0; r < recordings; ++r) {
    bool matched = false;
    for (std::size_t s = 0; s < recordings && !matched; ++s) matched = s != r && one_side(r, s);
    if (!matched) out.push_back(r);
  }
  return out;
}

Comparison compare_copies(const Matched& parts) {
  Comparison c;
  c.same = true;
  long long offset = 0;  // of the part in the file
  for (const auto& copies : parts) {
    const TapeFile* first = nullptr;
    for (const TapeFile* f : copies) {
      if (!f || !is_good(*f)) {
        c.same = false;
        continue;
      }
      if (!first) {
        first = f;
        continue;
      }
      if (f->data == first->data) continue;
      c.same = false;
      const std::size_t n = std::min(f->data.size(), first->data.size());
      const auto at = std::mismatch(f->data.begin(), f->data.begin() + static_cast<long>(n),
                                    first->data.begin());
      const long long byte = offset + (at.first - f->data.begin());
      if (c.differ_at < 0 || byte < c.differ_at) c.differ_at = byte;
    }
    if (c.differ_at >= 0) break;
    if (first) offset += static_cast<long long>(first->data.size());
  }
  return c;
}

}  // namespace tapewren::tape
