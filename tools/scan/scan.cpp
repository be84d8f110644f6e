// tapewren-scan: runs the recorder's name interception over dump files that already exist
// and prints every intercepted name with the byte offset where its header ended.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "names/pulse_feed.hpp"

namespace {

// Large even-sized reads: words pair up from each file's first byte across reads.
constexpr std::size_t kBlockSize = 1 << 20;

void usage(std::FILE* to) {
  std::fputs(
      "Usage: tapewren-scan FILE...\n"
      "Prints the name of every file whose tape header is in the dump files, as\n"
      "tapewren-record does while recording, with the byte offset where the header ended.\n",
      to);
}

class Printer : public tapewren::names::NameListener {
 public:
  Printer(const char* prefix) : prefix_(prefix) {}
  void at(std::uint64_t block_offset) { block_offset_ = block_offset; }
  void on_name(const char* name, std::uint32_t word_index) override {
    const std::uint64_t end = block_offset_ + 2ull * word_index + 2;
    std::printf("%sFilename intercepted: %s (header ends at byte %llu)\n", prefix_, name,
                static_cast<unsigned long long>(end));
  }

 private:
  const char* prefix_;
  std::uint64_t block_offset_ = 0;
};

// Scans one file; false (with a message) when it cannot be read to its end.
bool scan(const char* path, bool with_prefix, std::vector<std::uint8_t>& block) {
  std::FILE* in = std::fopen(path, "rb");
  if (!in) {
    std::fprintf(stderr, "tapewren-scan: cannot read %s: %s\n", path, std::strerror(errno));
    return false;
  }
  const std::string prefix = with_prefix ? std::string(path) + ": " : std::string();
  Printer printer(prefix.c_str());
  tapewren::names::PulseFeed feed(printer);
  std::uint64_t offset = 0;
  for (;;) {
    const std::size_t n = std::fread(block.data(), 1, block.size(), in);
    printer.at(offset);
    feed.feed_pulse_words(block.data(), static_cast<std::uint32_t>(n));
    offset += n;
    if (n < block.size()) break;
  }
  const bool ok = !std::ferror(in);
  if (!ok)
    std::fprintf(stderr, "tapewren-scan: error reading %s: %s\n", path, std::strerror(errno));
  std::fclose(in);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--") {
      for (++i; i < argc; ++i) files.push_back(argv[i]);
      break;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "tapewren-scan: unknown option %s\n", argv[i]);
      usage(stderr);
      return 2;
    }
    files.push_back(argv[i]);
  }
  if (files.empty()) {
    std::fprintf(stderr, "tapewren-scan: no dump file named\n");
    usage(stderr);
    return 2;
  }
  std::vector<std::uint8_t> block(kBlockSize);
  bool all_read = true;
  for (const char* f : files) all_read &= scan(f, files.size() > 1, block);
  return all_read ? 0 : 1;
}
