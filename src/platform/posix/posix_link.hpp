// Constructors of the POSIX port and dump file.
#pragma once

#include <memory>

#include "link/io.hpp"

namespace tapewren::posix {

std::unique_ptr<Port> open_posix_port(const char* name);
std::unique_ptr<DumpFile> create_posix_dump_file(const char* path);
// Wraps a descriptor that is already open (and non-blocking) as a port, unconfigured.
std::unique_ptr<Port> adopt_posix_port(int fd);

}  // namespace tapewren::posix
