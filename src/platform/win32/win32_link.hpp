// Constructors of the Windows port and dump file, and how console events end a recording.
#pragma once

#include <memory>

#include "link/io.hpp"

namespace tapewren::win32 {

std::unique_ptr<Port> open_win32_port(const char* name);
std::unique_ptr<DumpFile> create_win32_dump_file(const char* path);
// The C signal number that a console event ends the recording with (the exit code is 128 + n),
// or 0 for an event left to Windows.
int console_event_signal(unsigned long event);

}  // namespace tapewren::win32
