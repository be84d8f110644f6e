// Where bytes come from and go to, for the libraries that read and write recordings: the
// tools hand them files, the tests memory. Header only, standard library only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tapewren::io {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to max bytes; 0 at the end; -1 on an error, which error() names.
  virtual long long read(std::uint8_t* into, std::size_t max) = 0;
  virtual std::string error() const { return "read error"; }
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
  // Writes over bytes written before (a header finished at the end).
  virtual bool write_at(std::uint64_t offset, const std::uint8_t* data, std::size_t size) = 0;
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  long long read(std::uint8_t* into, std::size_t max) override {
    const std::size_t n = std::min(max, bytes_.size() - at_);
    if (n > 0) std::memcpy(into, bytes_.data() + at_, n);
    at_ += n;
    return static_cast<long long>(n);
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t at_ = 0;
};

class MemorySink : public ByteSink {
 public:
  bool write(const std::uint8_t* data, std::size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  bool write_at(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
    if (offset + size > bytes.size()) return false;
    std::memcpy(bytes.data() + offset, data, size);
    return true;
  }
  std::vector<std::uint8_t> bytes;
};

// Counts what would be written: the size of an output before it is made.
class CountingSink : public ByteSink {
 public:
  bool write(const std::uint8_t*, std::size_t size) override {
    bytes += size;
    return true;
  }
  bool write_at(std::uint64_t, const std::uint8_t*, std::size_t) override { return true; }
  std::uint64_t bytes = 0;
};

}  // namespace tapewren::io
