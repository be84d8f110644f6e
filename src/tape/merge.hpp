// Several recordings of one tape side: their files matched up in tape order, and each file
// rebuilt from every copy of it that any recording holds, byte by byte, then verified.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tape/tape.hpp"

namespace tapewren::tape {

// A recording's files with each chain of blocks that load back to back split into a file per
// block (the first keeping the name, the others `continued`): a block lost in one recording
// splits its chain there, and the others' chains must split alike to be matched.
std::vector<TapeFile> split_chains(const std::vector<TapeFile>& files);

// The files of each recording, matched: one row per file of the side, in tape order, with
// the recording's copy of it or nullptr. Files are matched by loader, name, addresses and
// size, keeping the tape order: a file missing from a recording, or a recording that starts
// late, shifts nothing.
using Matched = std::vector<std::vector<const TapeFile*>>;
Matched match_files(const std::vector<std::vector<TapeFile>>& recordings);

struct MergedFile {
  TapeFile file;                 // the result, its verdict and notes
  Matched parts;                 // the copies it was made from: a row per block of a chain
  std::vector<bool> good_in;     // per recording: it holds the whole file good by itself
  bool good_alone = false;       // some recording holds it good by itself
  bool only_by_merging = false;  // none does, the merge does
  long long conflict_at = -1;    // the first byte where copies that passed their checks differ
  int conflicts = 0;             // bytes where they do
  int voted = 0;                 // bytes that no copy read without error, taken by majority
  int lost = 0;                  // bytes that no copy holds at all
};

// A byte comes from the copies that read it without error (a file that passed its checks,
// or a byte whose own check passed); the majority wins where they differ. A byte that no copy
// read without error is the majority of the damaged copies', good only where the file's
// check bytes then hold. `copies` holds at least one file.
MergedFile merge_copies(const std::vector<const TapeFile*>& copies);

// The merged blocks of a chain made one file again, where each is good and loads right after
// the one before.
std::vector<MergedFile> join_chains(std::vector<MergedFile> merged);

// The recordings that are not of the side the others hold: none of the others shares most of
// its files (by loader, name, addresses, size), or where both read a file well the bytes
// differ more often than not (two games with one loader load to the same addresses). With
// two recordings of different sides, both. `rows` as match_files gives them.
std::vector<std::size_t> strangers(const Matched& rows, std::size_t recordings);

// Whether the copies that the recordings hold of one file are the same: all present and
// good, with one CRC-32. Else the first byte where two good copies differ (-1: none do).
struct Comparison {
  bool same = false;
  long long differ_at = -1;
};
Comparison compare_copies(const Matched& parts);

}  // namespace tapewren::tape
