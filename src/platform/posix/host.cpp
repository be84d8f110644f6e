// Standard streams and the port/file factory of the POSIX back end.
#include "platform/host.hpp"

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

}  // namespace tapewren::platform
