// The POSIX port and dump file on real descriptors: a socket pair stands in for the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/posix/posix_link.hpp"

namespace tapewren {
namespace {

class PosixPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    port = posix::adopt_posix_port(fds[0]);
  }
  void TearDown() override {
    if (fds[1] >= 0) close(fds[1]);
  }
  void device_sends(const std::string& s) {
    ASSERT_EQ(write(fds[1], s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }

  int fds[2] = {-1, -1};
  std::unique_ptr<Port> port;
  std::uint8_t buffer[64] = {};
};

TEST_F(PosixPortTest, FullReadReturnsAtSixtyFourBytesAndKeepsTheRest) {
  device_sends(std::string(100, 'a'));
  ReadResult r = port->read(buffer, 64);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 64u);
  r = port->read(buffer, 64);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 36u);
}

TEST_F(PosixPortTest, BytesBeforeAHangUpComeFirstThenReadsFail) {
  device_sends("tail of the tape");
  close(fds[1]);
  fds[1] = -1;
  ReadResult r = port->read(buffer, 64);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(std::string(buffer, buffer + r.count), "tail of the tape");
  r = port->read(buffer, 64);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(port->read(buffer, 64).ok);
}

TEST_F(PosixPortTest, SilentLineGivesAnEmptySuccessfulRead) {
  const ReadResult r = port->read(buffer, 64);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
}

TEST_F(PosixPortTest, WritesGoOutWhole) {
  const std::string command = "u 3 2 1\r";
  EXPECT_TRUE(port->write(reinterpret_cast<const std::uint8_t*>(command.data()), 8));
  char got[16] = {};
  EXPECT_EQ(read(fds[1], got, sizeof got), 8);
  EXPECT_EQ(std::string(got, 8), command);
  port->close();
  EXPECT_FALSE(port->write(reinterpret_cast<const std::uint8_t*>(command.data()), 8));
}

class PosixDumpFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tapewren-unit-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    path = dir + "/out.dmp";
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
  std::string contents() {
    std::string s(256, '\0');
    const int fd = open(path.c_str(), O_RDONLY);
    s.resize(static_cast<std::size_t>(read(fd, s.data(), s.size())));
    close(fd);
    return s;
  }
  std::string dir, path;
};

TEST_F(PosixDumpFileTest, WritesCutsAndNeverOverwrites) {
  auto file = posix::create_posix_dump_file(path.c_str());
  ASSERT_TRUE(file);
  std::uint32_t written = 0;
  const std::string data = "0123456789OK!\r";
  ASSERT_TRUE(file->write(reinterpret_cast<const std::uint8_t*>(data.data()), 14, written));
  EXPECT_EQ(written, 14u);
  std::uint32_t length = 0;
  ASSERT_TRUE(file->size(length));
  EXPECT_EQ(length, 14u);
  EXPECT_FALSE(file->seek(-1));
  ASSERT_TRUE(file->seek(10));
  ASSERT_TRUE(file->set_end());
  file->close();
  EXPECT_EQ(contents(), "0123456789");
  EXPECT_EQ(posix::create_posix_dump_file(path.c_str()), nullptr);
  EXPECT_EQ(contents(), "0123456789");
}

TEST_F(PosixDumpFileTest, NewFileFollowsTheUmask) {
  const mode_t old = umask(027);
  auto file = posix::create_posix_dump_file(path.c_str());
  umask(old);
  ASSERT_TRUE(file);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(posix::create_posix_dump_file((dir + "/missing/out.dmp").c_str()), nullptr);
}

}  // namespace
}  // namespace tapewren
