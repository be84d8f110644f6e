// The POSIX back end on real descriptors (a socket pair stands in for the line), and the read
// time-out rules on made-up timestamps.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/posix/fd_io.hpp"
#include "platform/posix/posix_link.hpp"
#include "platform/posix/read_timer.hpp"

namespace tapewren {
namespace {

struct Line {
  Line() {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
  }
  ~Line() {
    for (int fd : fds) close(fd);
  }
  int fds[2] = {-1, -1};
};

TEST(PosixPort, ReadsKeepWhatTheyDoNotHandOutAndWhatCameBeforeAHangUp) {
  Line line;
  auto port = posix::adopt_posix_port(dup(line.fds[0]));
  std::uint8_t buffer[64] = {};
  EXPECT_EQ(port->read(buffer, 64).count, 0u);  // a silent line: an empty, successful read
  const std::string tape(100, 'a');
  ASSERT_EQ(write(line.fds[1], tape.data(), 100), 100);
  shutdown(line.fds[1], SHUT_RDWR);  // the device goes away right behind its last bytes
  ReadResult r = port->read(buffer, 64);
  EXPECT_TRUE(r.ok && r.count == 64);
  r = port->read(buffer, 64);  // the rest, in the read that also meets the hang-up
  EXPECT_TRUE(r.ok && r.count == 36);
  EXPECT_FALSE(port->read(buffer, 64).ok);
}

TEST(PosixPort, CommandGoesOutWholeAndNothingAfterClose) {
  Line line;
  auto port = posix::adopt_posix_port(dup(line.fds[0]));
  const std::string command = "u 3 2 1\r";
  EXPECT_TRUE(port->write(reinterpret_cast<const std::uint8_t*>(command.data()), 8));
  char got[16] = {};
  EXPECT_EQ(read(line.fds[1], got, sizeof got), 8);
  EXPECT_EQ(std::string(got, 8), command);
  port->close();
  EXPECT_FALSE(port->write(reinterpret_cast<const std::uint8_t*>(command.data()), 8));
}

TEST(WriteAll, RetriesPartialWritesUntilAllIsOut) {
  Line line;  // a socket buffer far smaller than the data: the kernel takes it in parts
  const std::string data(4 << 20, 'x');
  std::size_t received = 0;
  std::thread reader([&] {
    char buf[65536];
    for (ssize_t k; (k = read(line.fds[1], buf, sizeof buf)) > 0;)
      received += static_cast<std::size_t>(k);
  });
  EXPECT_EQ(posix::write_all(line.fds[0], reinterpret_cast<const std::uint8_t*>(data.data()),
                             data.size(), 60000),
            data.size());
  shutdown(line.fds[0], SHUT_WR);
  reader.join();
  EXPECT_EQ(received, data.size());
}

class DumpFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tapewren-unit-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0); }
  std::string contents(const std::string& path) {
    std::string s(256, '\0');
    const int fd = open(path.c_str(), O_RDONLY);
    s.resize(static_cast<std::size_t>(std::max<ssize_t>(0, read(fd, s.data(), s.size()))));
    close(fd);
    return s;
  }
  std::string dir;
};

TEST_F(DumpFileTest, WritesCutsAndNeverOverwritesOrFollowsALink) {
  const std::string path = dir + "/out.dmp";
  auto file = posix::create_posix_dump_file(path.c_str());
  ASSERT_TRUE(file);
  std::uint32_t written = 0, length = 0;
  ASSERT_TRUE(file->write(reinterpret_cast<const std::uint8_t*>("0123456789OK!\r"), 14, written));
  EXPECT_EQ(written, 14u);
  ASSERT_TRUE(file->size(length));
  EXPECT_EQ(length, 14u);
  EXPECT_FALSE(file->seek(-1));
  ASSERT_TRUE(file->seek(10) && file->set_end());
  file->close();
  EXPECT_EQ(contents(path), "0123456789");
  EXPECT_EQ(posix::create_posix_dump_file(path.c_str()), nullptr);
  EXPECT_EQ(contents(path), "0123456789");
  ASSERT_EQ(symlink((dir + "/elsewhere").c_str(), (dir + "/link.dmp").c_str()), 0);
  EXPECT_EQ(posix::create_posix_dump_file((dir + "/link.dmp").c_str()), nullptr);
  EXPECT_NE(access((dir + "/elsewhere").c_str(), F_OK), 0);
  EXPECT_EQ(posix::create_posix_dump_file((dir + "/missing/out.dmp").c_str()), nullptr);
}

TEST_F(DumpFileTest, NewFileFollowsTheUmask) {
  for (const mode_t mask : {022, 007}) {
    const std::string path = dir + "/mask" + std::to_string(mask);
    const mode_t old = umask(mask);
    const bool created = posix::create_posix_dump_file(path.c_str()) != nullptr;
    umask(old);
    struct stat st {};
    ASSERT_TRUE(created && stat(path.c_str(), &st) == 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
  }
}

TEST(ReadTimer, TimeOuts) {
  struct Case {
    const char* what;
    std::uint32_t requested;
    ReadTimeouts timeouts;
    std::vector<std::int64_t> bytes_at;
    std::int64_t now, wait;
  };
  const ReadTimeouts port;  // 250 ms between bytes, 1 ms a byte + 500 ms in all
  for (const Case& c :
       std::vector<Case>{{"silent line: the total", 64, port, {}, 1000, 564},
                         {"silent line: 1 ms before the total", 64, port, {}, 1563, 1},
                         {"silent line: at the total", 64, port, {}, 1564, 0},
                         {"quiet after a byte", 64, port, {1100}, 1100, 250},
                         {"quiet interval over", 64, port, {1100}, 1350, 0},
                         {"the total comes first", 64, port, {1010, 1210, 1410}, 1410, 154},
                         {"every byte restarts the interval", 64, port, {1010, 1210}, 1400, 60},
                         {"the total grows with the bytes asked", 1, port, {}, 1000, 501},
                         {"other time-outs", 10, ReadTimeouts{100, 2, 50}, {1005}, 1005, 65}}) {
    SCOPED_TRACE(c.what);
    ReadTimer timer(1000, c.requested, c.timeouts);
    for (auto at : c.bytes_at) timer.on_bytes(at);
    EXPECT_EQ(timer.wait_ms(c.now), c.wait);
  }
}

}  // namespace
}  // namespace tapewren
