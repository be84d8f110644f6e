// The narrow interfaces through which the recorder reaches the outside world: the console,
// the serial port to the device and the dump file. Each platform implements them once.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>

namespace tapewren {

// Standard output and standard error. Texts are printf formats so that the messages
// stay byte for byte what the user sees; nothing is flushed unless asked.
class Console {
 public:
  enum class Stream { kOut, kErr };
  virtual ~Console() = default;
  virtual void vprint(Stream stream, const char* format, std::va_list args) = 0;
  virtual void flush_out() = 0;

#if defined(__GNUC__)
  __attribute__((format(printf, 2, 3)))
#endif
  void
  out(const char* format, ...);
#if defined(__GNUC__)
  __attribute__((format(printf, 2, 3)))
#endif
  void
  err(const char* format, ...);
};

// Result of one read from the port: failed, or ok with a count of 0 to 64 bytes.
struct ReadResult {
  bool ok;
  std::uint32_t count;
};

// The serial link to the device, open and configured. A read waits for up to the buffer
// size, returning early when the line goes quiet (see the platform's time-outs).
class Port {
 public:
  virtual ~Port() = default;
  virtual ReadResult read(std::uint8_t* buffer, std::uint32_t size) = 0;
  // True when the platform reported success; a short count is not checked by callers.
  virtual bool write(const std::uint8_t* data, std::uint32_t size) = 0;
  virtual void close() = 0;
};

// The dump file, created new. Offsets and lengths are 32-bit, as the file format is.
class DumpFile {
 public:
  virtual ~DumpFile() = default;
  // Appends at the current position; false on failure. `written` holds what went out.
  virtual bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written) = 0;
  virtual bool size(std::uint32_t& length) = 0;
  // Moves the position to an absolute offset; a negative offset fails.
  virtual bool seek(std::int32_t offset) = 0;
  // Ends the file at the current position.
  virtual bool set_end() = 0;
  virtual void close() = 0;
};

// Opens the platform's resources; null on failure, with no message (callers print it).
class LinkFactory {
 public:
  virtual ~LinkFactory() = default;
  virtual std::unique_ptr<Port> open_port(const char* name) = 0;
  virtual std::unique_ptr<DumpFile> create_file(const char* path) = 0;
};

}  // namespace tapewren
