// Files of several recordings of one side matched in tape order, and put together from all
// their copies.
#include "tape/merge.hpp"

#include <algorithm>
#include <map>
#include <tuple>

namespace tapewren::tape {

bool DataCheck::holds(const std::vector<std::uint8_t>& data) const {
  if (expected < 0 || begin > end || end > data.size()) return false;
  std::uint8_t v = seed;
  for (std::size_t i = begin; i < end; ++i)
    v = op == Op::kXor ? static_cast<std::uint8_t>(v ^ data[i])
                       : static_cast<std::uint8_t>(v + data[i]);
  return v == expected;
}

DataCheck xor_check(const std::vector<std::uint8_t>& data, std::size_t begin, std::size_t end,
                    int found, int computed) {
  DataCheck c;
  c.begin = static_cast<std::uint32_t>(begin);
  c.end = static_cast<std::uint32_t>(end);
  std::uint8_t x = 0;
  for (std::size_t i = begin; i < end && i < data.size(); ++i) x ^= data[i];
  c.seed = static_cast<std::uint8_t>(computed ^ x);
  c.expected = found;
  return c;
}

namespace {

bool good(const TapeFile& f) {
  return f.verdict == Verdict::kOk || f.verdict == Verdict::kRepaired;
}

bool complete(const TapeFile& f) {
  return good(f) || f.body.copy[0].complete || f.body.copy[1].complete;
}

// How surely two files are one: 0 when they cannot be. A name of its own counts most; the
// addresses and size say as much for files without names.
int likeness(const TapeFile& a, const TapeFile& b) {
  if (a.loader != b.loader) return 0;
  const bool named = !readable_name(a.name).empty() || !readable_name(b.name).empty();
  const bool same_name = a.name == b.name;
  const bool same_start = a.start == b.start, same_end = a.end == b.end;
  const int score = (named && same_name ? 3 : 0) + (same_start ? 2 : 0) + (same_end ? 2 : 0) +
                    (a.kind == b.kind ? 1 : 0) + (a.data.size() == b.data.size() ? 1 : 0);
  // Names that differ: one of them damaged, if the addresses agree.
  if (named && !same_name && !(same_start && same_end)) return 0;
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

bool unread(const TapeFile& f, std::size_t i) {
  return std::binary_search(f.unread.begin(), f.unread.end(), static_cast<std::uint32_t>(i));
}

// Whether byte i of a copy was read without error.
bool sure(const TapeFile& f, std::size_t i) {
  if (i >= f.data.size()) return false;
  return good(f) || (f.bytes_checked && !unread(f, i));
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
      if (i > 0 && (j == 0 || best[i][j] == best[i - 1][j])) {
        merged.push_back(rows[i - 1]);
        --i;
      } else {
        merged.emplace_back(recordings.size(), nullptr);
        merged.back()[r] = &files[j - 1];
        --j;
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
  // The copy the result is made on: a good one, else one with data, the fewest bytes unsure.
  const TapeFile* base = present.front();
  const auto rank = [](const TapeFile& f) {
    std::size_t sure_bytes = 0;
    for (std::size_t i = 0; i < f.data.size(); ++i) sure_bytes += sure(f, i);
    return std::make_tuple(good(f), f.body_blocks > 0, sure_bytes);
  };
  for (const TapeFile* f : present)
    if (rank(*f) > rank(*base)) base = f;
  std::vector<std::size_t> sizes, complete_sizes, good_sizes;
  for (const TapeFile* f : present) {
    out.good_alone |= good(*f);
    sizes.push_back(f->data.size());
    if (complete(*f)) complete_sizes.push_back(f->data.size());
    if (good(*f)) good_sizes.push_back(f->data.size());
  }
  const std::size_t size = !good_sizes.empty() ? majority(good_sizes)
                           : !complete_sizes.empty()
                               ? majority(complete_sizes)
                               : *std::max_element(sizes.begin(), sizes.end());
  TapeFile& f = out.file;
  f = *base;
  f.data.assign(size, 0);
  f.unread.clear();
  std::vector<std::uint32_t> voted_at;
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
  const bool whole =
      std::any_of(present.begin(), present.end(), [](const TapeFile* c) { return complete(*c); });
  f.notes.clear();
  if (out.conflicts > 0)
    f.notes.push_back(
        "conflict at byte " + std::to_string(out.conflict_at) +
        (out.conflicts > 1 ? ", " + std::to_string(out.conflicts) + " bytes in all" : ""));
  if (!whole || (f.kind == Kind::kHeaderOnly && size == 0)) {
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
    if (out.voted > 0)
      f.notes.push_back(std::to_string(out.voted) +
                        " bytes by the majority of damaged copies, the checksum holds");
  }
  out.only_by_merging = !out.good_alone && good(f);
  if (out.only_by_merging) f.notes.push_back("only the merge recovers it");
  return out;
}

Comparison compare_copies(const std::vector<const TapeFile*>& copies) {
  Comparison c;
  c.same = true;
  const TapeFile* first = nullptr;
  for (const TapeFile* f : copies) {
    if (!f || !good(*f)) {
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
    const auto at =
        std::mismatch(f->data.begin(), f->data.begin() + static_cast<long>(n), first->data.begin());
    const long long byte = at.first - f->data.begin();
    if (c.differ_at < 0 || byte < c.differ_at) c.differ_at = byte;
  }
  return c;
}

}  // namespace tapewren::tape
