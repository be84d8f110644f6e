// A recording that another program is still writing, read as it grows: its bytes handed on
// as they arrive, up to the end once its writer has closed it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "io/byte_stream.hpp"
#include "platform/tool_io.hpp"

namespace tapewren::scan {

class Follow : public io::ByteSource {
 public:
  enum class End {
    kNone,    // still reading
    kClosed,  // its writer closed it, and all of it was read
    kIdle,    // it did not grow for the idle time, and what it held was read
    kSignal,  // a termination request came
    kError    // it could not be read, or was cut short of what had been read (error())
  };
  struct Settings {
    double idle = 0;  // seconds without growth that end it; 0: none
    // While it is written, its last bytes are not read: the recorder cuts the start of a
    // terminator split over two reads (up to 6 bytes) off the end before closing it.
    std::uint64_t hold_back = 6;
    int wait_ms = 100;  // the longest wait between looks
  };
  // `now` gives seconds on a steady clock; `signal` a termination request (0: none);
  // `progress` is called at each wait.
  Follow(platform::GrowingFile& file, const Settings& settings, std::function<double()> now,
         std::function<int()> signal, std::function<void()> progress = {});

  // Waits until there is something to read or an end.
  long long read(std::uint8_t* into, std::size_t max) override;
  std::string error() const override { return error_; }
  End end() const { return end_; }
  std::uint64_t offset() const { return offset_; }

 private:
  platform::GrowingFile& file_;
  Settings settings_;
  std::function<double()> now_;
  std::function<int()> signal_;
  std::function<void()> progress_;
  End end_ = End::kNone;
  std::string error_;
  std::uint64_t offset_ = 0, seen_ = 0;  // read; the longest it was seen
  double grew_ = 0;                      // when it last grew
};

}  // namespace tapewren::scan
