// One run of the recorder from the banner to the exit code, on whatever host it is given.
#pragma once

#include "capture/capture_loop.hpp"
#include "capture/controls.hpp"
#include "link/io.hpp"

namespace tapewren {

struct Host {
  LinkFactory& link;
  Keyboard& keyboard;
  Interrupts& interrupts;
  Console& console;
  ChunkObserver& observer;
};

// Returns the process exit code: -2 / -3 for an out-of-range option, 1 for a usage error or
// a failure before recording, 0 once the capture loop ran, 128 + n when signal n ended it.
int run_recorder(int argc, char** argv, Host& host);

}  // namespace tapewren
