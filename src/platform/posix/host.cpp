// Standard streams and the port/file factory of the POSIX back end.
#include "platform/host.hpp"

#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>

#include "platform/posix/posix_link.hpp"

namespace tapewren::platform {

namespace {

class StdioConsole : public Console {
 public:
  void vprint(Stream stream, const char* format, std::va_list args) override {
    std::vfprintf(stream == Stream::kOut ? stdout : stderr, format, args);
  }
  void flush_out() override { std::fflush(stdout); }
};

class PosixLinkFactory : public LinkFactory {
 public:
  std::unique_ptr<Port> open_port(const char* name) override {
    return posix::open_posix_port(name);
  }
  std::unique_ptr<DumpFile> create_file(const char* path) override {
    return posix::create_posix_dump_file(path);
  }
};

}  // namespace

Console& console() {
  static StdioConsole instance;
  return instance;
}

LinkFactory& link() {
  static PosixLinkFactory instance;
  return instance;
}

void open_missing_standard_streams() {
  // open() takes the lowest free number: with 0..fd-1 open, a closed fd is refilled itself.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) return;
  }
}

void survive_lost_console() {
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace tapewren::platform
