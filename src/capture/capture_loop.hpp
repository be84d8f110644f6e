// The read loop of a recording: recognises the device's replies at the ends of reads,
// stores the recording in the dump file, honours the spacebar and keeps the byte total.
#pragma once

#include <cstdint>

#include "capture/controls.hpp"
#include "link/io.hpp"
#include "link/protocol.hpp"

namespace tapewren {

// Bytes 0..63 keep the last full chunk; a short chunk lands behind it so that a terminator
// split across the two reads can be matched.
constexpr std::size_t kTailSize = kChunkSize + reply_length(REPLY_END_OK) - 1;

struct CaptureState {
  int recording = 0;
  std::int32_t byte_total = 0;
  // Zeroed, so a short chunk before any full one cannot match a terminator.
  std::uint8_t tail[kTailSize] = {};
};

// Told about every chunk written whole to the dump file while recording, after the write.
class ChunkObserver {
 public:
  virtual ~ChunkObserver() = default;
  virtual void on_stored(const std::uint8_t* chunk, std::uint32_t count) = 0;
};

struct CaptureIo {
  Port& port;
  DumpFile& file;
  Keyboard& keyboard;
  Interrupts& interrupts;
  Console& console;
  ChunkObserver& observer;
};

// 0, or a key code from 32 to 127; consumes at most one key.
int poll_key(Keyboard& keyboard);

// Runs until a terminator, a failed read or a failed store. Returns the termination signal
// that ended it, or 0. Does not close the handles or print the total: the caller does.
int run_capture_loop(CaptureIo& io, const char* port_name, const char* out_path,
                     CaptureState& state);

}  // namespace tapewren
