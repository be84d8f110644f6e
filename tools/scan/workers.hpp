// Work shared by as many threads as were asked for, or as many as the system lets start: a
// limit on processes or on memory makes the scan slower, never ends it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <thread>

namespace tapewren::scan {

// How a thread is started and a shortage told: the system's and standard error, unless a
// test says otherwise. `start` throws (std::system_error, std::bad_alloc) when the system
// will not start one.
struct ThreadSystem {
  std::function<std::thread(std::function<void()>)> start;
  std::function<void(const std::string&)> tell;
  static ThreadSystem real();
};

// The number of jobs asked for with --jobs, or one per processor for 0.
std::size_t job_count(long long asked);

// Runs `work` on up to `wanted` threads at once, the calling thread one of them, and returns
// once each has returned; `work` takes its tasks from a queue of its own. Threads that cannot
// be started, or not with room for their work, are gone without, the note that says so told
// before any work begins. The number of threads that ran.
std::size_t share_work(std::size_t wanted, const std::function<void()>& work,
                       const ThreadSystem& system = ThreadSystem::real());

}  // namespace tapewren::scan
