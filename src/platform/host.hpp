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

}  // namespace tapewren::platform
