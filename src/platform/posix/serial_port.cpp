// The device's serial port on POSIX: exclusive open, raw 115200 8N1 line, and reads that
// behave like the Windows driver's time-outs so that the capture logic is the same on both.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
    tio.c_cc[VMIN] = 1;  // with O_NONBLOCK: "nothing yet" is EAGAIN, and 0 is a hang-up
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);  // TCSANOW: nothing already received is thrown away
  }
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &lines);
}

// Like the serial driver on Windows, the port keeps what the line delivered in a buffer of
// its own and hands it out in reads of at most the size asked for. While data stream in, one
// system call thus serves many of the recorder's 64-byte reads.
class PosixPort : public Port {
 public:
  explicit PosixPort(int fd) : fd_(fd) {}
  ~PosixPort() override { close(); }

  ReadResult read(std::uint8_t* buffer, std::uint32_t size) override {
    if (fd_ < 0) return {false, 0};
    std::uint32_t got = take(buffer, size);
    if (got == size) return {true, got};
    // Bytes that came before a failure are handed over first; then reads fail.
    if (failed_) return {got > 0, got};
    const std::int64_t start = monotonic_ms();
    ReadTimer timer(start, size);
    if (got > 0) timer.on_bytes(start);
    while (got < size) {
      const ssize_t k = ::read(fd_, line_, sizeof line_);
      if (k > 0) {
        head_ = 0;
        tail_ = static_cast<std::uint32_t>(k);
        got += take(buffer + got, size - got);
        timer.on_bytes(monotonic_ms());
        continue;
      }
      if (k == 0 ? hung_up() : (errno != EAGAIN && errno != EINTR)) {
        failed_ = true;  // end of file, hang-up or I/O error: the device is gone
        break;
      }
      if (k < 0 && errno == EINTR && signal_waiting()) break;
      // Nothing waiting: sleep until bytes come or the time-outs expire. With no time left,
      // the read above was the last look.
      const std::int64_t wait = timer.wait_ms(monotonic_ms());
      if (wait == 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(wait)) < 0 && errno == EINTR && signal_waiting()) break;
    }
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
  // A terminal read returns 0 both for "nothing yet" (no minimum count) and after a hang-up.
  bool hung_up() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  }

  // Moves up to size buffered bytes out; returns how many.
  std::uint32_t take(std::uint8_t* out, std::uint32_t size) {
    const std::uint32_t n = std::min(size, tail_ - head_);
    std::memcpy(out, line_ + head_, n);
    head_ += n;
    return n;
  }

  int fd_;
  bool failed_ = false;
  std::uint8_t line_[4096] = {};  // received from the line, not yet handed out
  std::uint32_t head_ = 0, tail_ = 0;
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
