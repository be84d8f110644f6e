// The device's serial port on POSIX: exclusive open, raw 115200 8N1 line, and reads that
// behave like the Windows driver's time-outs so that the capture logic is the same on both.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "fd_io.hpp"
#include "platform/posix/posix_link.hpp"
#include "read_timer.hpp"
#include "signals.hpp"

namespace tapewren::posix {

namespace {

// A write of n bytes may take n + this many milliseconds.
constexpr std::int64_t kWriteConstantMs = 2500;

void configure_line(int fd) {
  // Results are not checked: a driver that refuses a setting leaves the port as it was,
  // and the recording goes on with it.
  termios tio{};
  if (tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);  // TCSANOW: nothing already received is thrown away
  }
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &lines);
}

class PosixPort : public Port {
 public:
  explicit PosixPort(int fd) : fd_(fd) {}
  ~PosixPort() override { close(); }

  ReadResult read(std::uint8_t* buffer, std::uint32_t size) override {
    if (fd_ < 0 || failed_) return {false, 0};
    std::uint32_t got = 0;
    ReadTimer timer(monotonic_ms(), size);
    while (got < size) {
      const std::int64_t wait = timer.wait_ms(monotonic_ms());
      pollfd p{fd_, POLLIN, 0};
      // With no time left, one last look takes what has already arrived.
      const int ready = ::poll(&p, 1, static_cast<int>(wait));
      if (ready < 0) {
        if (errno != EINTR) failed_ = true;
        if (errno != EINTR || signal_waiting()) break;
        continue;
      }
      if (ready == 0) {
        if (wait == 0) break;
        continue;
      }
      const ssize_t k = ::read(fd_, buffer + got, size - got);
      if (k > 0) {
        got += static_cast<std::uint32_t>(k);
        timer.on_bytes(monotonic_ms());
        continue;
      }
      if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      failed_ = true;  // end of file, hang-up or I/O error: the device is gone
      break;
    }
    // Bytes that came before a failure are handed over first; the next read fails.
    if (failed_ && got == 0) return {false, 0};
    return {true, got};
  }

  bool write(const std::uint8_t* data, std::uint32_t size) override {
    if (fd_ < 0) return false;
    return write_all(fd_, data, size, static_cast<std::int64_t>(size) + kWriteConstantMs) == size;
  }

  void close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<Port> open_posix_port(const char* name) {
  const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // Only a terminal device that no other program holds will do.
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    ::close(fd);
    return nullptr;
  }
  configure_line(fd);
  return adopt_posix_port(fd);
}

std::unique_ptr<Port> adopt_posix_port(int fd) {
  return std::make_unique<PosixPort>(fd);
}

}  // namespace tapewren::posix
