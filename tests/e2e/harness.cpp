// Pseudo-terminals and child processes for the end-to-end tests.
#include "harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace tapewren::e2e {

Bytes bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes recording(std::size_t n, unsigned seed) {
  Bytes out(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
    if (b == '>' || b == '\n') b = 0x55;  // no reply can end anywhere in it
  }
  return out;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/tapewren-e2e-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
}

TempDir::~TempDir() {
  const std::string cmd = "rm -rf '" + dir_ + "'";
  if (std::system(cmd.c_str()) != 0) {
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Bytes read_bytes(const std::string& path) {
  return bytes(read_file(path));
}

void write_file(const std::string& path, const Bytes& content) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

namespace {

int open_master(std::string& slave_path) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    throw std::runtime_error("no pseudo-terminal");
  slave_path = ptsname(master);
  return master;
}

// Plays the shell: the program runs in a process group of its own, in the foreground or in
// the background, and this process waits for it to end (not merely to stop) and exits as
// it did.
void run_as_job(bool foreground) {
  ::signal(SIGTTOU, SIG_IGN);
  const pid_t job = fork();
  if (job == 0) {
    setpgid(0, 0);
    if (foreground) tcsetpgrp(0, getpgrp());
    ::signal(SIGTTOU, SIG_DFL);
    return;  // goes on to exec the program
  }
  setpgid(job, job);
  if (foreground) tcsetpgrp(0, job);
  int status = 0;
  while (waitpid(job, &status, 0) < 0 && errno == EINTR) {
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

}  // namespace

DeviceEnd::DeviceEnd() {
  master_ = open_master(path_);
  // Cooked to begin with, so that the recorder's raw mode shows it has configured the port.
  termios tio{};
  tcgetattr(master_, &tio);
  tio.c_lflag |= ICANON;
  tcsetattr(master_, TCSANOW, &tio);
}

DeviceEnd::~DeviceEnd() {
  hang_up();
}

bool DeviceEnd::wait_configured() {
  return eventually([&] {
    termios tio{};
    return tcgetattr(master_, &tio) == 0 && !(tio.c_lflag & ICANON);
  });
}

void DeviceEnd::send(const Bytes& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t k = ::write(master_, data.data() + done, data.size() - done);
    if (k > 0)
      done += static_cast<std::size_t>(k);
    else if (errno != EINTR && errno != EAGAIN)
      throw std::runtime_error("device write failed");
  }
}

Bytes DeviceEnd::receive(std::size_t n, std::chrono::milliseconds patience) {
  Bytes out;
  const auto until = std::chrono::steady_clock::now() + patience;
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    std::uint8_t buf[256];
    const ssize_t k = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
    if (k > 0)
      out.insert(out.end(), buf, buf + k);
    else if (k < 0 && errno == EIO)
      break;  // the recorder closed the port
  }
  return out;
}

bool DeviceEnd::silent_for(std::chrono::milliseconds quiet) {
  pollfd p{master_, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(quiet.count())) == 0;
}

std::string DeviceEnd::line_settings_fault() const {
  termios tio{};
  if (tcgetattr(master_, &tio) != 0) return "no settings";
  std::string fault;
  if (cfgetispeed(&tio) != B115200 || cfgetospeed(&tio) != B115200) fault += " speed";
  if ((tio.c_cflag & CSIZE) != CS8) fault += " data-bits";
  if (tio.c_cflag & (PARENB | CSTOPB)) fault += " parity/stop-bits";
  if (tio.c_cflag & CRTSCTS) fault += " rts/cts";
  if (tio.c_iflag & (IXON | IXOFF)) fault += " xon/xoff";
  if (tio.c_lflag & (ICANON | ECHO | ISIG)) fault += " not-raw";
  if (tio.c_oflag & OPOST) fault += " output-processing";
  return fault;
}

void DeviceEnd::hang_up() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

Child::Child(const std::vector<std::string>& argv, const TempDir& dir, Options options) {
  static int serial = 0;
  const std::string tag = std::to_string(++serial);
  out_path_ = dir.path("stdout." + tag);
  err_path_ = dir.path("stderr." + tag);
  int pipe_fds[2] = {-1, -1};
  if (options.stdin_mode == Stdin::kPipe && pipe2(pipe_fds, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  std::string term_path;
  if (options.stdin_mode == Stdin::kTerminal) {
    term_master_ = open_master(term_path);
    term_slave_ = ::open(term_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    setsid();  // its own session, so signals and the terminal are its alone
    const int out = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    switch (options.stdin_mode) {
      case Stdin::kNull:
        dup2(::open("/dev/null", O_RDONLY), 0);
        break;
      case Stdin::kPipe:
        dup2(pipe_fds[0], 0);
        break;
      case Stdin::kTerminal:
        ioctl(term_slave_, TIOCSCTTY, 0);  // the controlling terminal: Ctrl-C reaches it
        dup2(term_slave_, 0);
        if (options.job_control) run_as_job(!options.background);
        break;
      case Stdin::kClosed:
        ::close(0);
        break;
    }
    if (options.file_size_limit >= 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit lim{static_cast<rlim_t>(options.file_size_limit),
                 static_cast<rlim_t>(options.file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &lim);
    }
    for (const auto& setting : options.env) putenv(const_cast<char*>(setting.c_str()));
    if (options.uid >= 0 && (setgid(static_cast<gid_t>(options.uid)) != 0 ||
                             setuid(static_cast<uid_t>(options.uid)) != 0))
      _exit(126);
    execv(args[0], args.data());
    _exit(127);
  }
  if (pipe_fds[0] >= 0) {
    ::close(pipe_fds[0]);
    stdin_write_ = pipe_fds[1];
  }
}

Child::~Child() {
  if (!reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stdin_write_ >= 0) ::close(stdin_write_);
  if (term_slave_ >= 0) ::close(term_slave_);
  if (term_master_ >= 0) ::close(term_master_);
}

bool Child::wait_for_out(const std::string& text, std::chrono::milliseconds patience) {
  return eventually([&] { return out().find(text) != std::string::npos; }, patience);
}

bool Child::wait_for_err(const std::string& text, std::chrono::milliseconds patience) {
  return eventually([&] { return err().find(text) != std::string::npos; }, patience);
}

int Child::wait_exit(std::chrono::milliseconds patience) {
  if (!reaped_) {
    const bool ended = eventually(
        [&] {
          rusage usage{};
          if (wait4(pid_, &status_, WNOHANG, &usage) != pid_) return false;
          max_rss_kib_ = usage.ru_maxrss;
          cpu_seconds_ = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
          return true;
        },
        patience);
    if (!ended) return -1000;
    reaped_ = true;
  }
  if (WIFEXITED(status_)) return WEXITSTATUS(status_);
  return 128 + WTERMSIG(status_);
}

std::string Child::out() const {
  return read_file(out_path_);
}
std::string Child::err() const {
  return read_file(err_path_);
}

void Child::signal(int number) {
  kill(pid_, number);
}

void Child::type(const std::string& keys) {
  const int fd = stdin_write_ >= 0 ? stdin_write_ : term_master_;
  if (fd < 0 || ::write(fd, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
    throw std::runtime_error("cannot type into the child");
}

Bytes prompt_for_command(DeviceEnd& device, const std::string& greeting) {
  device.send(greeting + "> ");
  return device.receive(8);
}

bool acknowledge(DeviceEnd& device, Child& recorder) {
  device.send("OK\r\n");
  return recorder.wait_for_out("Stop the recording chain with spacebar");
}

Bytes handshake(DeviceEnd& device, Child& recorder, const std::string& greeting) {
  if (!device.wait_configured()) return {};
  const Bytes command = prompt_for_command(device, greeting);
  if (command.size() != 8 || !acknowledge(device, recorder)) return {};
  return command;
}

bool file_reaches(const std::string& path, std::size_t n, std::chrono::milliseconds patience) {
  // Its size, not its contents: cheap enough to ask every few milliseconds of a long run.
  return eventually(
      [&] {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) >= n;
      },
      patience);
}

std::string sim_port(const Child& sim) {
  std::string port;
  eventually([&] {
    const std::string out = sim.out();
    const auto end = out.find('\n');
    if (end == std::string::npos) return false;
    port = out.substr(0, end);
    return true;
  });
  return port;
}

std::string record_binary() {
  return TAPEWREN_RECORD_PATH;
}
std::string sim_binary() {
  return TAPEWREN_SIM_PATH;
}
std::string scan_binary() {
  return TAPEWREN_SCAN_PATH;
}
std::string convert_binary() {
  return TAPEWREN_CONVERT_PATH;
}

}  // namespace tapewren::e2e
