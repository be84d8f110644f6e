// Small POSIX helpers shared by the port and the dump file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tapewren::posix {

std::int64_t monotonic_ms();

// Writes all of data, retrying partial writes and EINTR. On a non-blocking descriptor it
// waits for room until timeout_ms has passed (-1: no limit). Returns the bytes written;
// fewer than size means failure, with errno set.
std::size_t write_all(int fd, const std::uint8_t* data, std::size_t size, std::int64_t timeout_ms);

}  // namespace tapewren::posix
