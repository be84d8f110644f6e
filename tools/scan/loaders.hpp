// The registered loaders as the user sees them: the listing that the documentation's loader
// tables are made from, and the choice of loaders for a run (--only, --without).
#pragma once

#include <string>
#include <vector>

namespace tapewren::scan {

// One line per loader, columns two spaces or more apart (no field holds two spaces): name,
// machines, encoding, what its files are checked by, what it was checked against, what it is.
std::string loaders_listing();

// The loaders to run from --only and --without (names separated by commas, any case). Empty
// `chosen` with an empty `error`: every loader. A name that is no loader's sets `error`.
std::vector<std::string> choose_loaders(const std::string& only, const std::string& without,
                                        std::string& error);

}  // namespace tapewren::scan
