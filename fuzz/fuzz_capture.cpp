// Fuzzes the capture loop with a fake device, file and keyboard: arbitrary sequences of
// chunks, empty reads, read failures, short or failed writes and key presses. After every run:
// the dump file is the chunks handed on in order, plus at most the data in front of an end
// reply and less at most a cut end reply; the total equals the file's length when no write
// failed; nothing is written after the loop; the port is closed before the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../tests/unit/fakes.hpp"

using namespace tapewren;
using namespace tapewren::testing;

namespace {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool more() const { return at_ < size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

const char* const kReplies[] = {"OK\r\n", "OK!\r\n> ", "KO!\r\n> ", "OK!\r", "\n> ", "KO!\r"};

struct Fed : ChunkObserver {
  void on_stored(const std::uint8_t* chunk, std::uint32_t count) override {
    fed.emplace_back(chunk, chunk + count);
  }
  std::vector<Bytes> fed;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  FakeDevice link;
  link.script.push_back({bytes("> ")});
  FakeKeyboard keyboard;
  const std::uint8_t faults = in.byte();
  link.fail_write = (faults & 0x0F) % 6;  // 0: none
  link.short_write = (faults >> 4) % 6;
  link.set_end_ok = (faults & 0x80) == 0;

  std::vector<Bytes> reads;  // what the port delivers after the prompt, in order
  while (in.more() && link.script.size() < 200) {
    const std::uint8_t op = in.byte();
    Read r;
    switch (op % 8) {
      case 0:
        break;  // an empty read
      case 1:
        r.ok = false;
        break;
      case 6: {  // a chunk ending with a reply or a piece of one
        r.chunk.resize(in.byte() % 64);
        for (auto& b : r.chunk) b = in.byte();
        const std::string reply = kReplies[in.byte() % 6];
        r.chunk.insert(r.chunk.end(), reply.begin(), reply.end());
        if (r.chunk.size() > 64) r.chunk.erase(r.chunk.begin(), r.chunk.end() - 64);
        break;
      }
      default: {
        r.chunk.resize(op % 3 == 0 ? 64 : in.byte() % 65);
        for (auto& b : r.chunk) b = in.byte();
      }
    }
    keyboard.keys.push_back((op & 0x80) ? ((op & 0x40) ? ' ' : in.byte()) : -1);
    reads.push_back(r.chunk);
    link.script.push_back(r);
  }
  FakeInterrupts interrupts;
  FakeConsole console;
  Fed observer;
  Host host{link, keyboard, interrupts, console, observer};
  char arg0[] = "tapewren-record", port[] = "COM9", out[] = "out.dmp";
  char* argv[] = {arg0, port, out, nullptr};
  if (run_recorder(3, argv, host) != 0) __builtin_trap();

  // Handles: port first, then the file, and no file write after either.
  const Log& log = link.log;
  if (log.size() < 2 || log[log.size() - 2] != "port.close" || log.back() != "file.close")
    __builtin_trap();

  // Every chunk handed on was read, in order.
  std::size_t next = 0;
  for (const Bytes& fed : observer.fed) {
    while (next < reads.size() && reads[next] != fed) ++next;
    if (next++ >= reads.size()) __builtin_trap();
  }

  const bool write_failed = console.err.find("Error writing") != std::string::npos ||
                            console.err.find("Error flushing") != std::string::npos;
  if (write_failed) return 0;
  Bytes fed_bytes;
  for (const Bytes& fed : observer.fed) fed_bytes.insert(fed_bytes.end(), fed.begin(), fed.end());
  const Bytes& file = link.file;
  const bool cut = console.out.find("Finished!!") != std::string::npos;
  if (cut) {
    // The cut took the end reply's first part off what was handed on.
    if (file.size() > fed_bytes.size() || !std::equal(file.begin(), file.end(), fed_bytes.begin()))
      __builtin_trap();
  } else {
    // What was handed on, then at most the data in front of an end reply.
    if (file.size() < fed_bytes.size() ||
        !std::equal(fed_bytes.begin(), fed_bytes.end(), file.begin()))
      __builtin_trap();
    if (file.size() > fed_bytes.size() && console.out.find("Finished!\n") == std::string::npos)
      __builtin_trap();
  }
  const std::string total = "Total bytes saved: " + std::to_string(file.size()) + "\n";
  if (console.out.find(total) == std::string::npos) __builtin_trap();
  return 0;
}
