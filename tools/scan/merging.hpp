// tapewren-scan --merge and --compare: several recordings of one side taken together.
#pragma once

#include <string>
#include <vector>

#include "channel.hpp"
#include "job.hpp"

namespace tapewren::scan {

// Decodes every recording, matches their files, and prints the merged files (extracting them
// where asked) or the comparison. The exit status: kOk all good (the same), kFailed a
// recording could not be read or a file written, kBad a merged file bad (the recordings
// differ), kNothing no file.
cli::Exit several_recordings(const Options& opt, const std::vector<std::string>& paths,
                             Channel& channel);

}  // namespace tapewren::scan
