// Fuzzes the command line: arbitrary argument vectors through a whole run with a fake
// device. The walk must never read past the vector, and a refused command line must open
// nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../tests/unit/fakes.hpp"

using namespace tapewren;
using namespace tapewren::testing;

// Arguments are the input split at NUL bytes; the vector holds exactly argc + 1 pointers.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(1, "tapewren-record");
  std::string current;
  for (std::size_t i = 0; i < size && words.size() < 64; ++i) {
    if (data[i] == 0) {
      words.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) words.push_back(current);
  std::vector<std::unique_ptr<char[]>> storage;
  auto argv = std::make_unique<char*[]>(words.size() + 1);
  for (std::size_t i = 0; i < words.size(); ++i) {
    storage.push_back(std::make_unique<char[]>(words[i].size() + 1));
    std::memcpy(storage.back().get(), words[i].c_str(), words[i].size() + 1);
    argv[i] = storage.back().get();
  }
  argv[words.size()] = nullptr;

  FakeDevice link;  // a device that prompts, then goes away
  link.script = {{bytes("> ")}};
  FakeKeyboard keyboard;
  FakeInterrupts interrupts;
  FakeConsole console;
  FedChunks observer;
  Host host{link, keyboard, interrupts, console, observer};
  const int code = run_recorder(static_cast<int>(words.size()), argv.get(), host);

  const bool refused = code == -2 || code == -3 || link.log.empty();
  if (refused) {
    if (!link.log.empty()) __builtin_trap();
    if (code == -2 && console.err != "Machine type can be either 0, 1, or 2.\n")
      __builtin_trap();
    if (code == -3 && console.err != "Video standard can be either 0, or 1.\n")
      __builtin_trap();
    if (code == 1 && console.out.find("Usage: ") == std::string::npos) __builtin_trap();
  } else {
    // Opened: the record command carries three digits in range; the run ended when the
    // device went away, with both handles closed, port first.
    if (link.sent.size() != 8) __builtin_trap();
    const auto& c = link.sent;
    if ((c[2] != '1' && c[2] != '3') || c[4] < '0' || c[4] > '2' || c[6] < '0' || c[6] > '1')
      __builtin_trap();
    if (link.log[link.log.size() - 2] != "port.close" || link.log.back() != "file.close")
      __builtin_trap();
    if (code != 0) __builtin_trap();
  }
  return 0;
}
