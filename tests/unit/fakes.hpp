// One fake device (the port, and the factory that opens it and the dump file), an in-memory
// dump file, a scripted keyboard and a console, so that the recorder's logic runs whole.
#pragma once

#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/recorder.hpp"

namespace tapewren::testing {

using Bytes = std::vector<std::uint8_t>;
using Log = std::vector<std::string>;

inline Bytes bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// n bytes of recording that contain no reply: first, first + 1, ...
inline Bytes data(std::size_t n, std::uint8_t first = 0x10) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(first + i);
  return out;
}

// Standard output gets a "|" where it was flushed.
struct FakeConsole : Console {
  void vprint(Stream stream, const char* format, std::va_list args) override {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    (stream == Stream::kOut ? out : err) += text;
  }
  void flush_out() override { out += "|"; }
  std::string out, err;
};

// The writes whose numbers are given fail, or go out half.
struct FakeFile : DumpFile {
  explicit FakeFile(Log& log) : log(log) {}
  bool write(const std::uint8_t* d, std::uint32_t n, std::uint32_t& written) override {
    log.push_back("file.write");
    written = fail_write == ++writes ? 0 : short_write == writes ? n / 2 : n;
    content.resize(std::max(content.size(), pos + written));
    std::copy(d, d + written, content.begin() + static_cast<long>(pos));
    pos += written;
    return fail_write != writes;
  }
  bool size(std::uint32_t& length) override {
    length = static_cast<std::uint32_t>(content.size());
    return true;
  }
  bool seek(std::int32_t offset) override {
    pos = static_cast<std::size_t>(offset);
    return offset >= 0;
  }
  bool set_end() override {
    if (set_end_ok) content.resize(pos);
    return set_end_ok;
  }
  void close() override { log.push_back("file.close"); }

  Log& log;
  Bytes content;
  std::size_t pos = 0;
  int writes = 0, fail_write = 0, short_write = 0;
  bool set_end_ok = true;
};

// One scripted read: a chunk, or a failure. Past the script every read fails: no test hangs.
struct Read {
  Bytes chunk;
  bool ok = true;
};

struct FakeDevice : Port, LinkFactory {
  ReadResult read(std::uint8_t* buffer, std::uint32_t) override {
    ++reads;
    const Read r = script.empty() ? Read{{}, false} : script.front();
    if (!script.empty()) script.pop_front();
    std::copy(r.chunk.begin(), r.chunk.end(), buffer);
    return {r.ok, static_cast<std::uint32_t>(r.chunk.size())};
  }
  bool write(const std::uint8_t* d, std::uint32_t n) override {
    log.push_back("port.write after read " + std::to_string(reads));
    written.emplace_back(d, d + n);
    return write_ok;
  }
  void close() override { log.push_back("port.close"); }
  std::unique_ptr<Port> open_port(const char* name) override {
    log.push_back(std::string("open_port ") + name);
    return port_ok ? std::make_unique<PortHandle>(*this) : nullptr;
  }
  std::unique_ptr<DumpFile> create_file(const char* path) override {
    log.push_back(std::string("create_file ") + path);
    return file_ok ? std::make_unique<FileHandle>(file) : nullptr;
  }

  std::deque<Read> script;
  std::vector<Bytes> written;
  Log log;
  FakeFile file{log};
  int reads = 0;
  bool write_ok = true, port_ok = true, file_ok = true;

 private:
  // What the run is handed and owns; the test keeps the fakes themselves.
  struct PortHandle : Port {
    explicit PortHandle(Port& t) : t(t) {}
    ReadResult read(std::uint8_t* b, std::uint32_t n) override { return t.read(b, n); }
    bool write(const std::uint8_t* d, std::uint32_t n) override { return t.write(d, n); }
    void close() override { t.close(); }
    Port& t;
  };
  struct FileHandle : DumpFile {
    explicit FileHandle(DumpFile& t) : t(t) {}
    bool write(const std::uint8_t* d, std::uint32_t n, std::uint32_t& w) override {
      return t.write(d, n, w);
    }
    bool size(std::uint32_t& l) override { return t.size(l); }
    bool seek(std::int32_t o) override { return t.seek(o); }
    bool set_end() override { return t.set_end(); }
    void close() override { t.close(); }
    DumpFile& t;
  };
};

// keys[i] is what the i-th poll finds (-1: nothing).
struct FakeKeyboard : Keyboard {
  void enter() override { mode += "enter "; }
  void leave() override { mode += "leave "; }
  int next_key() override {
    const int k = keys.empty() ? -1 : keys.front();
    if (!keys.empty()) keys.pop_front();
    return k;
  }
  std::deque<int> keys;
  std::string mode;
};

// SIGINT (2) arrives before check number `on_check` (0: never).
struct FakeInterrupts : Interrupts {
  int pending() override { return on_check && ++checks >= on_check ? 2 : 0; }
  const char* name(int) override { return "SIGINT"; }
  int on_check = 0, checks = 0;
};

struct FedChunks : ChunkObserver {
  void on_stored(const std::uint8_t*, std::uint32_t count) override { sizes.push_back(count); }
  std::vector<std::uint32_t> sizes;
};

}  // namespace tapewren::testing
