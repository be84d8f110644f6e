// One fake device for whole runs of the recorder: it opens as the port and creates the dump
// file in memory, plays scripted reads, and logs the order of opens, writes and closes. With a
// scripted keyboard and a console that keeps what was printed.
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
// n bytes of recording in which no reply can end: first, first + 1, ...
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

// One scripted read: a chunk, or a failure. Past the script every read fails: no test hangs.
struct Read {
  Bytes chunk;
  bool ok = true;
};

struct FakeDevice : LinkFactory {
  std::deque<Read> script;
  Bytes sent, file;  // what the device received; the dump file's content
  Log log;
  int reads = 0, writes = 0, fail_write = 0, short_write = 0;  // the file writes that fail
  bool port_ok = true, file_ok = true, command_ok = true, set_end_ok = true;

  struct FakePort : Port {
    explicit FakePort(FakeDevice& d) : d(d) {}
    ReadResult read(std::uint8_t* buffer, std::uint32_t) override {
      ++d.reads;
      const Read r = d.script.empty() ? Read{{}, false} : d.script.front();
      if (!d.script.empty()) d.script.pop_front();
      std::copy(r.chunk.begin(), r.chunk.end(), buffer);
      return {r.ok, static_cast<std::uint32_t>(r.chunk.size())};
    }
    bool write(const std::uint8_t* p, std::uint32_t n) override {
      d.log.push_back("port.write after read " + std::to_string(d.reads));
      d.sent.insert(d.sent.end(), p, p + n);
      return d.command_ok;
    }
    void close() override { d.log.push_back("port.close"); }
    FakeDevice& d;
  };

  struct FakeFile : DumpFile {
    explicit FakeFile(FakeDevice& d) : d(d) {}
    bool write(const std::uint8_t* p, std::uint32_t n, std::uint32_t& written) override {
      d.log.push_back("file.write");
      written = d.fail_write == ++d.writes ? 0 : d.short_write == d.writes ? n / 2 : n;
      d.file.resize(std::max(d.file.size(), pos + written));
      std::copy(p, p + written, d.file.begin() + static_cast<long>(pos));
      pos += written;
      return d.fail_write != d.writes;
    }
    bool size(std::uint32_t& length) override {
      length = static_cast<std::uint32_t>(d.file.size());
      return true;
    }
    bool seek(std::int32_t offset) override {
      pos = static_cast<std::size_t>(offset);
      return offset >= 0;
    }
    bool set_end() override {
      if (d.set_end_ok) d.file.resize(pos);
      return d.set_end_ok;
    }
    void close() override { d.log.push_back("file.close"); }
    FakeDevice& d;
    std::size_t pos = 0;
  };

  std::unique_ptr<Port> open_port(const char* name) override {
    log.push_back(std::string("open_port ") + name);
    return port_ok ? std::make_unique<FakePort>(*this) : nullptr;
  }
  std::unique_ptr<DumpFile> create_file(const char* path) override {
    log.push_back(std::string("create_file ") + path);
    return file_ok ? std::make_unique<FakeFile>(*this) : nullptr;
  }
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

// SIGINT (2) has arrived by check number `on_check` (0: never).
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
