// Chains of blocks that load back to back, made one file: one rule for the decoder, which
// joins the blocks as it reads them, and for the merge, which joins them again once it has
// rebuilt each block from every recording; and a chain split into its blocks again.
#pragma once

#include <vector>

#include "tape/tape.hpp"

namespace tapewren::tape {

// Whether `b` loads right after `a`.
bool loads_after(const TapeFile& a, const TapeFile& b);

// Whether `b` goes on the chain that `a` ends: the same loader's, both read whole (good, or
// whole with nothing to prove them), `b` without a name of its own, loading right after `a`,
// and the whole of it below the top of memory. The decoder sees only blocks that are ok or
// not (a verdict of repaired or unverified comes later); the merge sees the others too.
bool joins(const TapeFile& a, const TapeFile& b);

// `b` put at the end of `a`: its bytes, its check bytes (moved to where its bytes now are),
// its blocks, and where it ends; `a`'s verdict becomes the weaker of the two.
void append(TapeFile& a, const TapeFile& b);

// A chain split into a file per block (what append() joined), the first keeping the name,
// the others `continued`; any other file as it is.
std::vector<TapeFile> split(const TapeFile& f);

}  // namespace tapewren::tape
