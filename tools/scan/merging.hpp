// tapewren-scan --merge and --compare: several recordings of one side taken together.
#pragma once

#include <string>
#include <vector>

#include "channel.hpp"
#include "job.hpp"

namespace tapewren::scan {

// Decodes every recording, matches their files, and prints the merged files (extracting them
// where asked) or the comparison. The exit status: 0 all good (the same), 1 a recording could
// not be read or a file written, 3 a merged file bad (the recordings differ), 4 no file.
int several_recordings(const Options& opt, const std::vector<std::string>& paths, Channel& channel);

}  // namespace tapewren::scan
