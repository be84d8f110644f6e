// One recording's output when several are scanned at once: written through while it is the
// first unfinished recording, held until then otherwise, so that the output keeps the order
// of the inputs whatever order they finish in.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tapewren::scan {

class Channel {
 public:
  explicit Channel(bool live = false) : live_(live) {}
  // Why the first write to standard output that failed did (errno), or 0: a write of more
  // than stdio holds goes straight out, and its reason would be gone by the time the stream
  // is closed.
  static int out_error() { return out_error_slot().load(); }
  void out(const std::string& text) { put(false, text); }
  void err(const std::string& text) { put(true, text); }
  // From now on each write is flushed at once: a line is seen as soon as it is known.
  void flush_each() { flush_ = true; }
  // A line shown at a terminal and written over by the next one; taken away before anything
  // else is written. Only for a live channel whose standard output is a terminal.
  void status(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    clear_status();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    shown_ = text.size();
  }
  // From now on written through; what was held goes first.
  void go_live() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [to_err, text] : held_) write(to_err, text);
    held_.clear();
    held_.shrink_to_fit();
    live_ = true;
  }

 private:
  void put(bool to_err, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (live_) {
      clear_status();
      write(to_err, text);
      if (flush_)
        std::fflush(to_err ? stderr : stdout);  // stderr too: Windows buffers it in a pipe
    } else if (!held_.empty() && held_.back().first == to_err) {
      held_.back().second += text;
    } else {
      held_.emplace_back(to_err, text);
    }
  }
  void clear_status() {
    if (shown_ == 0) return;
    const std::string blank = "\r" + std::string(shown_, ' ') + "\r";
    std::fwrite(blank.data(), 1, blank.size(), stdout);
    shown_ = 0;
  }
  static void write(bool to_err, const std::string& text) {
    // Standard output is flushed before a message so that the two keep their order on a
    // terminal or in one file.
    const bool out_ok = to_err ? std::fflush(stdout) == 0
                               : std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    if (!out_ok) {
      int none = 0;
      out_error_slot().compare_exchange_strong(none, errno);
    }
    if (to_err) std::fwrite(text.data(), 1, text.size(), stderr);
  }
  static std::atomic<int>& out_error_slot() {
    static std::atomic<int> error{0};
    return error;
  }

  std::mutex mutex_;
  bool live_;
  bool flush_ = false;
  std::size_t shown_ = 0;  // the length of the status line shown
  std::vector<std::pair<bool, std::string>> held_;
};

}  // namespace tapewren::scan
