// Following a growing recording: what may be read now, and when it has ended.
#include "follow.hpp"

#include <algorithm>
#include <utility>

namespace tapewren::scan {

Follow::Follow(platform::GrowingFile& file, const Settings& settings, std::function<double()> now,
               std::function<int()> signal, std::function<void()> progress)
    : file_(file),
      settings_(settings),
      now_(std::move(now)),
      signal_(std::move(signal)),
      progress_(std::move(progress)),
      grew_(now_()) {}

long long Follow::read(std::uint8_t* into, std::size_t max) {
  for (;;) {
    if (end_ != End::kNone) return end_ == End::kError ? -1 : 0;
    if (signal_() != 0) {
      end_ = End::kSignal;
      continue;
    }
    // Whether it is written first, its length then: once no writer holds it, that length is
    // its last.
    const bool written = file_.written();
    std::uint64_t size = 0;
    if (!file_.size(size)) {
      error_ = file_.error();
      end_ = End::kError;
      continue;
    }
    if (size < offset_) {
      error_ = "cut to " + std::to_string(size) + " bytes after " + std::to_string(offset_) +
               " of it were read";
      end_ = End::kError;
      continue;
    }
    const double now = now_();
    if (size > seen_) {
      seen_ = size;
      grew_ = now;
    }
    const bool idle = written && settings_.idle > 0 && now - grew_ >= settings_.idle;
    const std::uint64_t until =
        written && !idle ? size - std::min(size, settings_.hold_back) : size;
    if (offset_ < until) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(max, until - offset_));
      const long long n = file_.read_at(offset_, into, want);
      if (n < 0) {
        error_ = file_.error();
        end_ = End::kError;
        continue;
      }
      offset_ += static_cast<std::uint64_t>(n);
      if (n > 0) return n;
      continue;  // cut between the two looks: looked at again
    }
    if (!written || idle) {
      end_ = idle ? End::kIdle : End::kClosed;
      continue;
    }
    if (progress_) progress_();
    file_.wait(settings_.wait_ms);
  }
}

}  // namespace tapewren::scan
