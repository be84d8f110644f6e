// Standard streams and the port/file factory of the Windows back end.
#include "platform/host.hpp"

#include <cstdio>
#include <cstring>

#include "platform/win32/win32_link.hpp"

namespace tapewren::platform {

namespace {

class StdioConsole : public Console {
 public:
  void vprint(Stream stream, const char* format, std::va_list args) override {
    std::FILE* to = stream == Stream::kOut ? stdout : stderr;
    std::vfprintf(to, format, args);
    // The C runtime has no line buffering: a finished line goes out at once, so that names
    // show up while the tape plays.
    const std::size_t len = std::strlen(format);
    if (to == stdout && len > 0 && format[len - 1] == '\n') std::fflush(stdout);
  }
  void flush_out() override { std::fflush(stdout); }
};

class Win32LinkFactory : public LinkFactory {
 public:
  std::unique_ptr<Port> open_port(const char* name) override {
    return win32::open_win32_port(name);
  }
  std::unique_ptr<DumpFile> create_file(const char* path) override {
    return win32::create_win32_dump_file(path);
  }
};

}  // namespace

Console& console() {
  static StdioConsole instance;
  return instance;
}

LinkFactory& link() {
  static Win32LinkFactory instance;
  return instance;
}

// Windows hands out handles, not small numbers: a missing standard handle is never reused
// for the port or a file, and a write to a console that went away just fails.
void open_missing_standard_streams() {}
void survive_lost_console() {}

}  // namespace tapewren::platform
