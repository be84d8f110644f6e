// Write-all and the clock for the POSIX back end.
#include "fd_io.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace tapewren::posix {

std::int64_t monotonic_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::size_t write_all(int fd, const std::uint8_t* data, std::size_t size, std::int64_t timeout_ms) {
  const std::int64_t deadline = timeout_ms < 0 ? -1 : monotonic_ms() + timeout_ms;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t k = ::write(fd, data + done, size - done);
    if (k > 0) {
      done += static_cast<std::size_t>(k);
      continue;
    }
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      std::int64_t wait = -1;
      if (deadline >= 0) {
        wait = deadline - monotonic_ms();
        if (wait <= 0) {
          errno = ETIMEDOUT;
          break;
        }
      }
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, static_cast<int>(wait)) < 0 && errno != EINTR) break;
      continue;
    }
    if (k == 0) errno = EIO;
    break;
  }
  return done;
}

}  // namespace tapewren::posix
