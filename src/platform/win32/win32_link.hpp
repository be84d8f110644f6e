// Constructors of the Windows port and dump file.
#pragma once

#include <memory>

#include "link/io.hpp"

namespace tapewren::win32 {

std::unique_ptr<Port> open_win32_port(const char* name);
std::unique_ptr<DumpFile> create_win32_dump_file(const char* path);

}  // namespace tapewren::win32
