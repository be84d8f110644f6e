// Following a recording that is still being written: what is read, and when it ends, with a
// writer played step by step at each wait (no clock, no timing).
#include "follow.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tapewren::scan {
namespace {

// What the writer does at one wait of the reader.
struct Step {
  enum Op { kAppend, kCut, kClose, kSignal, kNothing } op;
  std::string bytes;  // kAppend
  std::size_t size;   // kCut: the length it is cut to
};

class Writer : public platform::GrowingFile {
 public:
  Writer(std::string start, bool writing, std::vector<Step> steps)
      : data(std::move(start)), writing(writing), steps(std::move(steps)) {}
  long long read_at(std::uint64_t offset, std::uint8_t* into, std::size_t max) override {
    if (offset >= data.size()) return 0;
    const std::size_t n = std::min<std::size_t>(max, data.size() - offset);
    std::copy_n(data.begin() + static_cast<long>(offset), n, into);
    return static_cast<long long>(n);
  }
  bool size(std::uint64_t& out) override {
    out = data.size();
    return true;
  }
  bool written() override { return writing; }
  void wait(int ms) override {
    ++waits;
    clock += ms / 1000.0;
    if (next >= steps.size()) return;
    const Step& s = steps[next++];
    if (s.op == Step::kAppend) data += s.bytes;
    if (s.op == Step::kCut) data.resize(s.size);
    if (s.op == Step::kClose) writing = false;
    if (s.op == Step::kSignal) signal = 2;
  }
  std::string data;
  bool writing;
  std::vector<Step> steps;
  std::size_t next = 0;
  int waits = 0, signal = 0;
  double clock = 0;
};

TEST(Follow, ReadsWhatTheWriterWroteAndEndsWhenItIsDone) {
  const std::string data(100, 'd'), split = "OK!\r\n>";
  struct Row {
    const char* what;
    std::string start;
    bool writing;
    std::vector<Step> steps;
    double idle;
    std::string read;  // every byte read, in order
    Follow::End end;
    std::string error;
    int waits;
  };
  const std::vector<Row> rows = {
      {"grows in pieces and is closed: every byte, up to its end",
       "",
       true,
       {{Step::kAppend, data.substr(0, 40), 0},
        {Step::kNothing, "", 0},
        {Step::kAppend, data.substr(40), 0},
        {Step::kClose, "", 0}},
       0,
       data,
       Follow::End::kClosed,
       "",
       4},
      {"the start of a split terminator, cut off before it is closed: never read",
       data,
       true,
       {{Step::kAppend, split, 0},
        {Step::kNothing, "", 0},
        {Step::kCut, "", 100},
        {Step::kClose, "", 0}},
       0,
       data,
       Follow::End::kClosed,
       "",
       4},
      {"no writer holds it: read to its end at once",
       data,
       false,
       {},
       0,
       data,
       Follow::End::kClosed,
       "",
       0},
      {"stops growing while its writer holds it: ended after the idle time, all of it read",
       data.substr(0, 50),
       true,
       {},
       2,
       data.substr(0, 50),
       Follow::End::kIdle,
       "",
       20},
      {"cut short of what was read: an error",
       data,
       true,
       {{Step::kCut, "", 50}},
       0,
       data.substr(0, 94),
       Follow::End::kError,
       "cut to 50 bytes after 94 of it were read",
       1},
      {"a termination request: ended with what was read",
       data,
       true,
       {{Step::kSignal, "", 0}},
       0,
       data.substr(0, 94),
       Follow::End::kSignal,
       "",
       1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Writer writer(row.start, row.writing, row.steps);
    int progressed = 0;
    Follow follow(
        writer, {row.idle}, [&] { return writer.clock; }, [&] { return writer.signal; },
        [&] { ++progressed; });
    std::string read;
    std::uint8_t buffer[16];
    long long n = 0;
    while ((n = follow.read(buffer, sizeof buffer)) > 0) read.append(buffer, buffer + n);
    EXPECT_EQ(read, row.read);
    EXPECT_EQ(n, row.end == Follow::End::kError ? -1 : 0);
    EXPECT_EQ(follow.end(), row.end);
    EXPECT_EQ(follow.error(), row.error);
    EXPECT_EQ(writer.waits, row.waits);
    EXPECT_EQ(progressed, row.waits);  // the status line is looked at in each wait
  }
}

}  // namespace
}  // namespace tapewren::scan
