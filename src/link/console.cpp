// printf-style front ends of the console interface.
#include "io.hpp"

namespace tapewren {

void Console::out(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  vprint(Stream::kOut, format, args);
  va_end(args);
}

void Console::err(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  vprint(Stream::kErr, format, args);
  va_end(args);
}

}  // namespace tapewren
