// Work shared by threads: as many as asked for and the system lets start, the caller one.
#include "workers.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace tapewren::scan {

namespace {

// The address space a worker's scan needs besides its stack: twice what one drawing a map
// was seen to take. Under a limit on memory a thread whose stack fits but whose work would
// not is no help: it would end the program when its work cannot allocate.
constexpr std::size_t kWorkRoom = 2u << 20;

// The threads started, held back until every one that could start has, so that a note on
// the shortage comes before any output of the work; joined however the caller leaves.
class Crew {
 public:
  explicit Crew(const std::function<void()>& work) : work_(work) {}
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;
  ~Crew() { join(); }

  // Starts up to n threads, each with room for its work set aside until all are started: ""
  // when all started, else why the one after the last did not.
  std::string start(std::size_t n, const ThreadSystem& system) {
    std::error_code refused;
    std::vector<std::unique_ptr<char[]>> rooms;
    try {
      threads_.reserve(n);  // no allocation left to fail between a start and its keeping
      rooms.reserve(n);
      while (threads_.size() < n) {
        rooms.emplace_back(new char[kWorkRoom]);  // left uninitialised: address space only
        threads_.push_back(system.start([this] { run(); }));
      }
    } catch (const std::system_error& e) {
      refused = e.code();
    } catch (const std::bad_alloc&) {
      refused = std::make_error_code(std::errc::not_enough_memory);
    }
    rooms.clear();  // given to the work, and to the note that may follow
    return refused ? refused.message() : "";
  }
  std::size_t started() const { return threads_.size(); }
  void release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      go_ = true;
    }
    ready_.notify_all();
  }
  void join() {
    release();
    for (auto& t : threads_)
      if (t.joinable()) t.join();
  }

 private:
  void run() {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return go_; });
    }
    work_();
  }

  const std::function<void()>& work_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool go_ = false;
};

}  // namespace

ThreadSystem ThreadSystem::real() {
  return {[](std::function<void()> f) { return std::thread(std::move(f)); },
          [](const std::string& note) {
            std::fflush(stdout);  // the two streams keep their order in one file
            std::fputs(note.c_str(), stderr);
          }};
}

std::size_t job_count(long long asked) {
  return asked > 0 ? static_cast<std::size_t>(asked)
                   : std::max(1u, std::thread::hardware_concurrency());
}

std::size_t share_work(std::size_t wanted, const std::function<void()>& work,
                       const ThreadSystem& system) {
  wanted = std::max<std::size_t>(wanted, 1);
  Crew crew(work);
  const std::string why = crew.start(wanted - 1, system);
  const std::size_t ran = crew.started() + 1;
  if (ran < wanted)
    system.tell("tapewren-scan: note: only " + std::to_string(ran) + " of " +
                std::to_string(wanted) + " jobs could be started (" + why + "); going on with " +
                std::to_string(ran) + "\n");
  crew.release();
  work();
  crew.join();
  return ran;
}

}  // namespace tapewren::scan
