// The platform's implementations of the recorder's interfaces, one set per process. Each
// platform directory provides them whole; nothing above this line knows which one it got.
#pragma once

#include "capture/controls.hpp"
#include "link/io.hpp"

namespace tapewren::platform {

Console& console();
LinkFactory& link();
Keyboard& keyboard();
Interrupts& interrupts();

// Run first, before anything is opened: a standard stream that the caller closed is opened
// on the null device, so that no port or file can take its number and receive the messages.
void open_missing_standard_streams();
// A console that went away (a reader that closed its pipe) must not end a recording: writes
// to it fail quietly instead of ending the process.
void survive_lost_console();

}  // namespace tapewren::platform
