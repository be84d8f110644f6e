// In-memory port, dump file, keyboard and console that record what was done to them, so the
// recorder's logic runs whole in a unit test.
#pragma once

#include <cstdio>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/recorder.hpp"
#include "capture/capture_loop.hpp"

namespace tapewren::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// n bytes of recording that contain no reply: 0x10, 0x11, ...
inline Bytes data(std::size_t n, std::uint8_t first = 0x10) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(first + i);
  return out;
}

// Shared order of events across fakes ("port.close", "file.close", ...).
using EventLog = std::vector<std::string>;

class FakeConsole : public Console {
 public:
  void vprint(Stream stream, const char* format, std::va_list args) override {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    (stream == Stream::kOut ? out_text : err_text) += text;
    all += text;
  }
  void flush_out() override { flushed_at.push_back(out_text.size()); }

  // True when standard output was flushed right after `text` was printed (and before more).
  bool flushed_after(const std::string& text) const {
    const auto at = out_text.find(text);
    if (at == std::string::npos) return false;
    for (auto f : flushed_at)
      if (f == at + text.size()) return true;
    return false;
  }

  std::string out_text, err_text, all;
  std::vector<std::size_t> flushed_at;
};

// One scripted read: a chunk, or a failure; an optional key pressed during it.
struct Read {
  Bytes chunk;
  bool ok = true;
};

class FakePort : public Port {
 public:
  explicit FakePort(EventLog* log = nullptr) : log_(log) {}
  ReadResult read(std::uint8_t* buffer, std::uint32_t size) override {
    ++reads;
    if (log_) log_->push_back("port.read");
    // Past the script the device is gone: reads fail, so no test can hang.
    if (script.empty()) return {false, 0};
    Read r = script.front();
    script.pop_front();
    if (!r.ok) return {false, 0};
    if (r.chunk.size() > size) throw std::logic_error("scripted chunk larger than the read");
    std::copy(r.chunk.begin(), r.chunk.end(), buffer);
    return {true, static_cast<std::uint32_t>(r.chunk.size())};
  }
  bool write(const std::uint8_t* data, std::uint32_t size) override {
    if (log_) log_->push_back("port.write");
    writes.emplace_back(data, data + size);
    return write_ok;
  }
  void close() override {
    ++closes;
    if (log_) log_->push_back("port.close");
  }

  std::deque<Read> script;
  std::vector<Bytes> writes;
  bool write_ok = true;
  int reads = 0;
  int closes = 0;

 private:
  EventLog* log_;
};

class FakeFile : public DumpFile {
 public:
  explicit FakeFile(EventLog* log = nullptr) : log_(log) {}
  bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written) override {
    if (log_) log_->push_back("file.write");
    ++write_calls;
    if (closes) throw std::logic_error("write after close");
    if (fail_write_number == write_calls) {
      written = 0;
      return false;
    }
    std::uint32_t n = size;
    if (short_write_number == write_calls) n = size / 2;
    if (pos + n > content.size()) content.resize(pos + n);
    std::copy(data, data + n, content.begin() + pos);
    pos += n;
    written = n;
    return true;
  }
  bool size(std::uint32_t& length) override {
    length = static_cast<std::uint32_t>(content.size());
    return size_ok;
  }
  bool seek(std::int32_t offset) override {
    seeks.push_back(offset);
    if (offset < 0 || !seek_ok) return false;
    pos = static_cast<std::size_t>(offset);
    return true;
  }
  bool set_end() override {
    ++set_end_calls;
    if (!set_end_ok) return false;
    content.resize(pos);
    return true;
  }
  void close() override {
    ++closes;
    if (log_) log_->push_back("file.close");
  }

  Bytes content;
  std::size_t pos = 0;
  int write_calls = 0, fail_write_number = 0, short_write_number = 0;
  bool size_ok = true, seek_ok = true, set_end_ok = true;
  std::vector<std::int32_t> seeks;
  int set_end_calls = 0;
  int closes = 0;

 private:
  EventLog* log_;
};

// Keys by read number: keys_at[i] is what next_key() returns on the poll after read i+1.
class FakeKeyboard : public Keyboard {
 public:
  void enter() override { ++enters; }
  void leave() override { ++leaves; }
  int next_key() override {
    ++polls;
    if (keys.empty()) return -1;
    const int k = keys.front();
    keys.pop_front();
    return k;
  }
  std::deque<int> keys;  // -1: no key on that poll
  int enters = 0, leaves = 0, polls = 0;
};

class FakeInterrupts : public Interrupts {
 public:
  void arm() override { armed = true; }
  int pending() override { return ++checks >= signal_on_check && signal_on_check ? signal : 0; }
  const char* name(int) override { return "SIGINT"; }
  bool armed = false;
  int signal = 2;
  int signal_on_check = 0;  // 0: never
  int checks = 0;
};

class RecordingObserver : public ChunkObserver {
 public:
  void on_stored(const std::uint8_t* chunk, std::uint32_t count) override {
    fed.emplace_back(chunk, chunk + count);
  }
  std::vector<Bytes> fed;
};

// Hands out the fakes it owns, so that a test can look at them after the run let go.
class FakeLink : public LinkFactory {
 public:
  std::unique_ptr<Port> open_port(const char* name) override {
    log.push_back(std::string("open_port ") + name);
    if (!port_ok) return nullptr;
    return std::make_unique<PortRef>(port);
  }
  std::unique_ptr<DumpFile> create_file(const char* path) override {
    log.push_back(std::string("create_file ") + path);
    if (!file_ok) return nullptr;
    return std::make_unique<FileRef>(file);
  }

  EventLog log;
  FakePort port{&log};
  FakeFile file{&log};
  bool port_ok = true, file_ok = true;

 private:
  struct PortRef : Port {
    explicit PortRef(Port& p) : p(p) {}
    ReadResult read(std::uint8_t* b, std::uint32_t n) override { return p.read(b, n); }
    bool write(const std::uint8_t* d, std::uint32_t n) override { return p.write(d, n); }
    void close() override { p.close(); }
    Port& p;
  };
  struct FileRef : DumpFile {
    explicit FileRef(DumpFile& f) : f(f) {}
    bool write(const std::uint8_t* d, std::uint32_t n, std::uint32_t& w) override {
      return f.write(d, n, w);
    }
    bool size(std::uint32_t& l) override { return f.size(l); }
    bool seek(std::int32_t o) override { return f.seek(o); }
    bool set_end() override { return f.set_end(); }
    void close() override { f.close(); }
    DumpFile& f;
  };
};

}  // namespace tapewren::testing
