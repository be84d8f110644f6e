// The read time-out rules, checked on made-up timestamps.
#include "platform/posix/read_timer.hpp"

#include <gtest/gtest.h>

namespace tapewren {
namespace {

TEST(ReadTimer, SilentLineReturnsAfterTheTotalTimeOut) {
  ReadTimer t(1000, 64);
  EXPECT_EQ(t.wait_ms(1000), 564);
  EXPECT_EQ(t.wait_ms(1563), 1);
  EXPECT_EQ(t.wait_ms(1564), 0);
  EXPECT_EQ(t.wait_ms(5000), 0);
}

TEST(ReadTimer, QuietIntervalAfterAByteEndsTheRead) {
  ReadTimer t(0, 64);
  t.on_bytes(100);
  EXPECT_EQ(t.wait_ms(100), 250);
  EXPECT_EQ(t.wait_ms(349), 1);
  EXPECT_EQ(t.wait_ms(350), 0);
}

TEST(ReadTimer, EveryByteRestartsTheIntervalButNotTheTotal) {
  ReadTimer t(0, 64);
  for (int at = 10; at <= 410; at += 200) t.on_bytes(at);
  EXPECT_EQ(t.wait_ms(410), 154);  // 564 comes before 410 + 250
  t.on_bytes(560);
  EXPECT_EQ(t.wait_ms(560), 4);
}

TEST(ReadTimer, TotalGrowsWithTheBytesAsked) {
  ReadTimer one(0, 1);
  EXPECT_EQ(one.wait_ms(0), 501);
  ReadTimer custom(0, 10, ReadTimeouts{100, 2, 50});
  EXPECT_EQ(custom.wait_ms(0), 70);
  custom.on_bytes(5);
  EXPECT_EQ(custom.wait_ms(5), 65);
}

}  // namespace
}  // namespace tapewren
