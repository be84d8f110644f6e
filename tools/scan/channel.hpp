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
      write(to_err, text);
    } else if (!held_.empty() && held_.back().first == to_err) {
      held_.back().second += text;
    } else {
      held_.emplace_back(to_err, text);
    }
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
  std::vector<std::pair<bool, std::string>> held_;
};

}  // namespace tapewren::scan
