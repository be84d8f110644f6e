// One recording: read a chunk, poll the keyboard, look for the device's replies at the end of
// the chunk (or of the last full chunk joined to a short one), store, count and pass on.
#include "capture/capture_loop.hpp"

#include <cstring>

namespace tapewren {

namespace {

constexpr int kSpaceKey = 32;

enum class Pass { kNext, kEnd };

class CaptureLoop {
 public:
  CaptureLoop(CaptureIo& io, const char* port_name, const char* out_path, CaptureState& state)
      : io_(io), port_name_(port_name), out_path_(out_path), state_(state) {}

  int run() {
    Console& con = io_.console;
    con.out("Reading from %s\n", port_name_);
    con.out("Issue SAVE on the host... ");
    con.flush_out();
    for (;;) {
      if (pass() == Pass::kEnd) return 0;
      // Signal handlers only raise a flag; the read in progress returns early and the
      // chunk it brought has been handled like any other before the loop gives up.
      if (const int signal = io_.interrupts.pending()) {
        con.err("Recording interrupted by %s\n", io_.interrupts.name(signal));
        return signal;
      }
    }
  }

 private:
  Pass pass() {
    Console& con = io_.console;
    const ReadResult r = io_.port.read(buffer_, kChunkSize);
    if (!r.ok) {
      con.err("Error reading from %s\n", port_name_);
      return Pass::kEnd;
    }
    const std::uint32_t n = r.count;

    if (poll_key(io_.keyboard) == kSpaceKey) {
      con.out("Request to stop recording sent\n");
      con.flush_out();
      send_stop_request(io_.port);
      // The chunk of this pass is handled like any other: dropping it would lose recorded
      // bytes, and if it held the terminator the loop would never end.
    }

    if (n == 0) return Pass::kNext;

    if (ends_with_reply(buffer_, n, REPLY_ACK)) {
      con.out("OK\nStop the recording chain with spacebar\n");
      con.flush_out();
      state_.recording = 1;
      return Pass::kNext;
    }

    const std::uint32_t end_len = static_cast<std::uint32_t>(reply_length(REPLY_END_OK));
    if (ends_with_reply(buffer_, n, REPLY_END_OK)) return end_in_chunk(n, end_len);

    if (ends_with_reply(buffer_, n, REPLY_END_KO)) {
      con.err("Recording error!\n");
      return Pass::kEnd;
    }

    if (n == kChunkSize) {
      std::memcpy(state_.tail, buffer_, kChunkSize);
    } else if (n < end_len) {
      std::memcpy(state_.tail + kChunkSize, buffer_, n);
      if (ends_with_reply(state_.tail, kChunkSize + n, REPLY_END_OK)) return split_end(n, end_len);
      if (ends_with_reply(state_.tail, kChunkSize + n, REPLY_END_KO)) {
        con.out("Recording error!!\n");
        return Pass::kEnd;
      }
    }

    if (!state_.recording) return Pass::kNext;

    state_.byte_total += static_cast<std::int32_t>(n);
    std::uint32_t written = 0;
    if (!io_.file.write(buffer_, n, written) || written != n) {
      con.err("Error writing data to file %s\n", out_path_);
      return Pass::kEnd;
    }
    io_.observer.on_stored(buffer_, n);
    return Pass::kNext;
  }

  // The terminator closes this chunk: store what stands in front of it, whatever the
  // recording flag says. Those last bytes are not passed on to the observer.
  Pass end_in_chunk(std::uint32_t n, std::uint32_t end_len) {
    Console& con = io_.console;
    con.out("Finished!\n");
    con.flush_out();
    const std::uint32_t data = n - end_len;
    state_.byte_total += static_cast<std::int32_t>(data);
    if (data == 0) return Pass::kEnd;
    std::uint32_t written = 0;
    if (!io_.file.write(buffer_, data, written) || written != data) {
      con.err("Error flushing trailing data (%lu bytes) to file %s\n",
              static_cast<unsigned long>(data), out_path_);
    }
    return Pass::kEnd;
  }

  // The terminator began at the end of the last full chunk, which is already in the file:
  // cut the file back to where the terminator began.
  Pass split_end(std::uint32_t n, std::uint32_t end_len) {
    Console& con = io_.console;
    const std::uint32_t stored_part = end_len - n;
    std::uint32_t length = 0;
    bool ok = io_.file.size(length);
    if (ok) {
      // Lengths and offsets are 32-bit; a file shorter than the stored part goes negative.
      const std::int64_t offset = static_cast<std::int64_t>(length) - stored_part;
      ok = offset >= INT32_MIN && offset <= INT32_MAX &&
           io_.file.seek(static_cast<std::int32_t>(offset)) && io_.file.set_end();
    }
    if (ok) {
      // Keep the total equal to the file's length.
      state_.byte_total -= static_cast<std::int32_t>(stored_part);
      con.out("Finished!!\n");
    } else {
      con.err("Last file operation failed!\n");
    }
    con.flush_out();
    return Pass::kEnd;
  }

  CaptureIo& io_;
  const char* port_name_;
  const char* out_path_;
  CaptureState& state_;
  std::uint8_t buffer_[kChunkSize] = {};
};

}  // namespace

int poll_key(Keyboard& keyboard) {
  const int key = keyboard.next_key();
  if (key < 0) return 0;
  // Codes 128 to 255, the lead bytes of extended keys among them, read as negative.
  const auto code = static_cast<signed char>(key & 0xFF);
  return code > 31 ? static_cast<unsigned char>(code) : 0;
}

int run_capture_loop(CaptureIo& io, const char* port_name, const char* out_path,
                     CaptureState& state) {
  KeyboardMode mode(io.keyboard);
  io.interrupts.arm();
  return CaptureLoop(io, port_name, out_path, state).run();
}

}  // namespace tapewren
