// The scan's work shared by threads when the system refuses some of them: fewer threads,
// every task done once, the shortage told before any work.
#include "workers.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace tapewren::scan {
namespace {

// A system that starts `allowed` threads, then refuses the next with `refusal`.
struct Refusing {
  Refusing(std::size_t allowed_, void (*refusal_)()) : allowed(allowed_), refusal(refusal_) {}
  std::size_t allowed;
  void (*refusal)();
  std::size_t asked = 0;
  std::vector<std::string> told;
  ThreadSystem system() {
    return {[this](std::function<void()> f) {
              if (++asked > allowed) refusal();
              return std::thread(std::move(f));
            },
            [this](const std::string& note) { told.push_back(note); }};
  }
};
const std::error_code kAgain = std::make_error_code(std::errc::resource_unavailable_try_again);
void no_more_processes() {
  throw std::system_error(kAgain);
}
void no_memory() {
  throw std::bad_alloc();
}

// Tasks taken from a queue by every thread that runs, each counted.
struct Tasks {
  explicit Tasks(std::size_t n) : done(n) {}
  std::vector<std::atomic<int>> done;
  std::atomic<std::size_t> next{0};
  std::atomic<int> before_note{0};  // tasks begun before the note was told
  std::mutex mutex;
  std::set<std::thread::id> threads;
  std::function<void()> work(const Refusing& sys) {
    return [this, &sys] {
      {
        std::lock_guard<std::mutex> lock(mutex);
        threads.insert(std::this_thread::get_id());
      }
      for (std::size_t i; (i = next++) < done.size();) {
        before_note += sys.told.empty() && sys.asked > sys.allowed;
        ++done[i];
      }
    };
  }
  bool each_once() const {
    for (const auto& d : done)
      if (d != 1) return false;
    return true;
  }
};

TEST(Workers, GoesOnWithTheThreadsThatStarted) {
  Refusing sys{1, no_more_processes};
  Tasks tasks(200);
  EXPECT_EQ(share_work(4, tasks.work(sys), sys.system()), 2u);
  EXPECT_EQ(sys.asked, 2u);  // no more tries after a refusal
  EXPECT_EQ(sys.told, std::vector<std::string>{"tapewren-scan: note: only 2 of 4 jobs could be "
                                               "started (" +
                                               kAgain.message() + "); going on with 2\n"});
  EXPECT_TRUE(tasks.each_once());
  EXPECT_EQ(tasks.threads.size(), 2u);
  EXPECT_EQ(tasks.threads.count(std::this_thread::get_id()), 1u);
  EXPECT_EQ(tasks.before_note, 0);
}

TEST(Workers, CallerAloneWhenMemoryRefusesTheFirst) {
  Refusing sys{0, no_memory};
  Tasks tasks(20);
  EXPECT_EQ(share_work(3, tasks.work(sys), sys.system()), 1u);
  const std::string no_room = std::make_error_code(std::errc::not_enough_memory).message();
  EXPECT_EQ(sys.told, std::vector<std::string>{"tapewren-scan: note: only 1 of 3 jobs could be "
                                               "started (" +
                                               no_room + "); going on with 1\n"});
  EXPECT_TRUE(tasks.each_once());
  EXPECT_EQ(tasks.threads, std::set<std::thread::id>{std::this_thread::get_id()});
}

TEST(Workers, AllStartedNothingTold) {
  Refusing sys{8, no_more_processes};
  Tasks tasks(50);
  EXPECT_EQ(share_work(3, tasks.work(sys), sys.system()), 3u);
  EXPECT_EQ(sys.asked, 2u);  // the caller is the third
  EXPECT_TRUE(sys.told.empty());
  EXPECT_TRUE(tasks.each_once());
  EXPECT_EQ(tasks.threads.size(), 3u);
}

}  // namespace
}  // namespace tapewren::scan
