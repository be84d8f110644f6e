// The POSIX back end on real descriptors (a socket pair stands in for the line), the read
// time-out rules on made-up timestamps, and the tools' input ended by a signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "platform/posix/fd_io.hpp"
#include "platform/posix/posix_link.hpp"
#include "platform/posix/read_timer.hpp"
#include "platform/tool_io.hpp"

namespace tapewren {
namespace {

struct Line {
  Line() {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
  }
  ~Line() { close(fds[1]); }
  int fds[2] = {-1, -1};  // fds[0] the recorder's end, fds[1] the device's
};

TEST(PosixPort, ReadsKeepWhatTheyDoNotHandOutAndWhatCameBeforeAHangUp) {
  Line line;
  auto port = posix::adopt_posix_port(line.fds[0]);
  std::uint8_t buffer[64] = {};
  EXPECT_EQ(port->read(buffer, 64).count, 0u);  // a silent line: an empty, successful read
  ASSERT_EQ(write(line.fds[1], std::string(100, 'a').data(), 100), 100);
  shutdown(line.fds[1], SHUT_RDWR);  // the device goes away right behind its last bytes
  EXPECT_EQ(port->read(buffer, 64).count, 64u);
  const ReadResult rest =
      port->read(buffer, 64);  // what is left, in the read that meets the hang-up
  EXPECT_TRUE(rest.ok && rest.count == 36);
  EXPECT_FALSE(port->read(buffer, 64).ok);
}

TEST(WriteAll, RetriesPartialWritesUntilAllIsOut) {
  Line line;  // the socket's buffer is far smaller than the data: the kernel takes it in parts
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
  close(line.fds[0]);
  reader.join();
  EXPECT_EQ(received, data.size());
}

TEST(DumpFile, WritesCutsFollowsTheUmaskAndNeverOverwritesOrFollowsALink) {
  char pattern[] = "/tmp/tapewren-unit-XXXXXX";
  const std::string dir = mkdtemp(pattern), path = dir + "/out.dmp";
  auto file = posix::create_posix_dump_file(path.c_str());
  std::uint32_t written = 0, length = 0;
  ASSERT_TRUE(file &&
              file->write(reinterpret_cast<const std::uint8_t*>("0123456789OK!\r"), 14, written));
  EXPECT_TRUE(written == 14 && file->size(length) && length == 14);
  EXPECT_FALSE(file->seek(-1));
  EXPECT_TRUE(file->seek(10) && file->set_end());
  file->close();
  struct stat st {};
  EXPECT_TRUE(stat(path.c_str(), &st) == 0 && st.st_size == 10);
  EXPECT_EQ(posix::create_posix_dump_file(path.c_str()), nullptr);
  ASSERT_EQ(symlink((dir + "/elsewhere").c_str(), (dir + "/link.dmp").c_str()), 0);
  EXPECT_EQ(posix::create_posix_dump_file((dir + "/link.dmp").c_str()), nullptr);
  EXPECT_NE(access((dir + "/elsewhere").c_str(), F_OK), 0);
  for (const mode_t mask : {022, 007}) {
    const std::string masked = dir + "/mask" + std::to_string(mask);
    const mode_t old = umask(mask);
    EXPECT_NE(posix::create_posix_dump_file(masked.c_str()), nullptr);
    umask(old);
    EXPECT_TRUE(stat(masked.c_str(), &st) == 0 && (st.st_mode & 0777) == (0666u & ~mask));
  }
  EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
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
                            // clang-format off
  for (const Case& c : std::vector<Case>{
           {"silent line: the total", 64, port, {}, 1000, 564},
           {"silent line: at the total", 64, port, {}, 1564, 0},
           {"quiet after a byte", 64, port, {1100}, 1100, 250},
           {"the quiet interval is over", 64, port, {1100}, 1350, 0},
           {"the total comes first", 64, port, {1010, 1210, 1410}, 1410, 154},
           {"every byte restarts the interval", 64, port, {1010, 1210}, 1400, 60},
           {"the total grows with the bytes asked", 1, port, {}, 1000, 501},
           {"other time-outs", 10, ReadTimeouts{100, 2, 50}, {1005}, 1005, 65}}) {
    // clang-format on
    SCOPED_TRACE(c.what);
    ReadTimer timer(1000, c.requested, c.timeouts);
    for (auto at : c.bytes_at) timer.on_bytes(at);
    EXPECT_EQ(timer.wait_ms(c.now), c.wait);
  }
}

// A termination signal that came just before a read of a pipe that stays silent: the read
// ends at once instead of waiting for ever. In a child of its own: a signal, once caught,
// stays for the whole process.
TEST(ToolInput, SignalJustBeforeAReadOfASilentPipeEndsIt) {
  int silent[2] = {-1, -1};
  ASSERT_EQ(pipe(silent), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::catch_termination();
    raise(SIGTERM);
    std::string error;
    auto in = platform::InputFile::open("/dev/fd/" + std::to_string(silent[0]), error);
    std::uint8_t byte = 0;
    _exit(in && in->read(&byte, 1) == -1 && in->error() == "interrupted" ? 0 : 1);
  }
  int status = -1;
  for (int tenths = 0; tenths < 200 && waitpid(child, &status, WNOHANG) == 0; ++tenths)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a deadline far beyond need
  if (!WIFEXITED(status)) kill(child, SIGKILL), waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the read waited";
  close(silent[0]);
  close(silent[1]);
}

}  // namespace
}  // namespace tapewren
