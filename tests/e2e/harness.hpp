// End-to-end harness: a device on a real pseudo-terminal, and the real programs as child
// processes with their output in files. Every wait has a deadline far beyond need.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tapewren::e2e {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
constexpr std::chrono::milliseconds kPatience = 20s;

inline Bytes bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// n bytes of pseudo-random recording in which no device reply can end.
inline Bytes recording(std::size_t n, unsigned seed = 1) {
  Bytes out(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
    if (b == '>' || b == '\n') b = 0x55;
  }
  return out;
}

template <typename F>
bool eventually(F done, std::chrono::milliseconds patience = kPatience) {
  for (const auto until = std::chrono::steady_clock::now() + patience; !done();) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline Bytes read_bytes(const std::string& path) {
  return bytes(read_file(path));
}
inline void write_file(const std::string& path, const Bytes& content) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()), static_cast<long>(content.size()));
}
inline bool file_exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}
// The file holds at least n bytes: the recorder stored everything sent.
inline bool file_reaches(const std::string& path, std::size_t n,
                         std::chrono::milliseconds patience = kPatience) {
  return eventually(
      [&] {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) >= n;
      },
      patience);
}

// A scratch directory, removed with what is in it.
struct TempDir {
  TempDir() {
    char pattern[] = "/tmp/tapewren-e2e-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    dir = pattern;
  }
  ~TempDir() {
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) {
    }
  }
  std::string path(const std::string& name) const { return dir + "/" + name; }
  std::string dir;
};

inline int open_pty(std::string& slave_path) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    throw std::runtime_error("no pseudo-terminal");
  slave_path = ptsname(master);
  return master;
}

// The device's end of a pseudo-terminal; the slave is the port the recorder opens.
class DeviceEnd {
 public:
  DeviceEnd() {
    master_ = open_pty(port_);
    termios tio{};  // cooked, so that raw mode shows the recorder has configured the port
    tcgetattr(master_, &tio);
    tio.c_lflag |= ICANON;
    tcsetattr(master_, TCSANOW, &tio);
  }
  ~DeviceEnd() { hang_up(); }
  const std::string& port() const { return port_; }
  bool wait_configured() {
    return eventually([&] { return !(modes().c_lflag & ICANON); });
  }
  // Throws when nothing can be written for a while: a recorder that died reads nothing.
  void send(const Bytes& data) {
    for (std::size_t done = 0; done < data.size();) {
      pollfd p{master_, POLLOUT, 0};
      if (poll(&p, 1, 20000) == 0) throw std::runtime_error("device write: nobody reads the port");
      const ssize_t k = ::write(master_, data.data() + done, data.size() - done);
      if (k < 0 && errno != EINTR && errno != EAGAIN) throw std::runtime_error("device write");
      done += k > 0 ? static_cast<std::size_t>(k) : 0;
    }
  }
  void send(const std::string& text) { send(bytes(text)); }
  // Up to n bytes, until the patience runs out or the recorder closes the port. The line is
  // looked at at least once, however little patience is left.
  Bytes receive(std::size_t n, std::chrono::milliseconds patience = kPatience) {
    Bytes out;
    take_seen(out, n);
    const auto until = std::chrono::steady_clock::now() + patience;
    for (bool first = true; out.size() < n; first = false) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (!first && left.count() <= 0) break;
      if (!read_some(out, n - out.size(), std::max<long long>(0, left.count()))) break;
    }
    return out;
  }
  // Nothing arrives for `quiet`; a byte that does is kept for the next receive.
  bool silent_for(std::chrono::milliseconds quiet) {
    if (!seen_.empty()) return false;
    seen_ = receive(1, quiet);
    return seen_.empty();
  }
  void hang_up() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  // "" when the line is 115200 baud 8N1, raw, without flow control; else what is wrong.
  std::string line_settings_fault() const {
    const termios t = modes();
    std::string fault;
    if (cfgetispeed(&t) != B115200 || cfgetospeed(&t) != B115200) fault += " speed";
    if ((t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)) != CS8) fault += " framing/rts";
    if (t.c_iflag & (IXON | IXOFF)) fault += " xon/xoff";
    if ((t.c_lflag & (ICANON | ECHO | ISIG)) || (t.c_oflag & OPOST)) fault += " not-raw";
    return fault;
  }

 private:
  termios modes() const {
    termios tio{};
    tcgetattr(master_, &tio);
    return tio;
  }
  void take_seen(Bytes& out, std::size_t n) {
    const std::size_t k = std::min(n, seen_.size());
    out.insert(out.end(), seen_.begin(), seen_.begin() + static_cast<long>(k));
    seen_.erase(seen_.begin(), seen_.begin() + static_cast<long>(k));
  }
  // One poll of up to `wait_ms` and what it brings, up to `max` bytes; false when nothing
  // came or the line is gone.
  bool read_some(Bytes& out, std::size_t max, long long wait_ms) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<long long>(wait_ms, 1 << 30))) <= 0) return false;
    std::uint8_t buf[256];
    const ssize_t k = ::read(master_, buf, std::min(sizeof buf, max));
    if (k < 0 && errno == EIO) return false;
    if (k > 0) out.insert(out.end(), buf, buf + k);
    return true;
  }
  int master_ = -1;
  Bytes seen_;  // looked at by silent_for, not yet received
  std::string port_;
};

// Standard input of a child: nothing, a pipe the test types into, or a pseudo-terminal: its
// controlling terminal, a terminal of a session that has none, or the controlling terminal
// under a minimal job-control shell with the program in the foreground or the background.
enum class Stdin { kNull, kPipe, kTerminal, kForeignTerminal, kForegroundJob, kBackgroundJob };

struct Options {
  Stdin stdin_mode = Stdin::kNull;
  int closed_fd = -1;               // started with this standard descriptor closed
  bool stdout_reader_gone = false;  // standard output a pipe nobody reads
  long file_size_limit = -1;        // RLIMIT_FSIZE in bytes
  bool ignore_sigxfsz = true;       // with it: a write past the limit fails instead of killing
  long data_limit = -1;             // RLIMIT_DATA in bytes: a heap that cannot grow unbounded
  bool unprivileged = false;        // run as nobody when root, for whom no permission holds
  // RLIMIT_NPROC: 1 lets the program start no thread at all, however many processes its user
  // has; not held against root, so with unprivileged when the tests run as root.
  long process_limit = -1;
  // RLIMIT_AS in bytes, with RLIMIT_STACK at 8 MiB: the size of every thread's stack.
  long address_space_limit = -1;
  bool stdout_on_terminal = false;  // with a terminal on standard input: output goes there too
};

// A program run in a session of its own, its standard output and error in files.
class Child {
 public:
  Child(std::vector<std::string> argv, const TempDir& dir, Options o = {}) {
    static int serial = 0;
    out_ = dir.path("out." + std::to_string(++serial));
    err_ = dir.path("err." + std::to_string(serial));
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if ((o.stdin_mode == Stdin::kPipe && pipe2(in, O_CLOEXEC) != 0) ||
        (o.stdout_reader_gone && pipe2(out, O_CLOEXEC) != 0))
      throw std::runtime_error("pipe");
    std::string term;
    if (o.stdin_mode > Stdin::kPipe) {
      term_ = open_pty(term);
      slave_ = open(term.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    if ((pid_ = fork()) < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      setsid();
      dup2(o.stdout_on_terminal && slave_ >= 0 ? slave_
           : out[1] >= 0                       ? out[1]
                         : open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
           1);
      dup2(open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      dup2(o.stdin_mode == Stdin::kPipe ? in[0]
           : slave_ >= 0                ? slave_
                                        : open("/dev/null", O_RDONLY),
           0);
      // The controlling terminal, so that Ctrl-C reaches the program.
      if (slave_ >= 0 && o.stdin_mode != Stdin::kForeignTerminal) ioctl(0, TIOCSCTTY, 0);
      if (o.stdin_mode >= Stdin::kForegroundJob) run_as_job(o.stdin_mode == Stdin::kForegroundJob);
      if (o.closed_fd >= 0) close(o.closed_fd);
      if (o.file_size_limit >= 0) {
        if (o.ignore_sigxfsz) signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{static_cast<rlim_t>(o.file_size_limit),
                         static_cast<rlim_t>(o.file_size_limit)};
        setrlimit(RLIMIT_FSIZE, &lim);
      }
      if (o.data_limit >= 0) {
        const rlimit lim{static_cast<rlim_t>(o.data_limit), static_cast<rlim_t>(o.data_limit)};
        setrlimit(RLIMIT_DATA, &lim);
      }
      if (o.address_space_limit >= 0) {
        const rlimit stack{8 << 20, 8 << 20};
        const rlimit lim{static_cast<rlim_t>(o.address_space_limit),
                         static_cast<rlim_t>(o.address_space_limit)};
        setrlimit(RLIMIT_STACK, &stack);
        setrlimit(RLIMIT_AS, &lim);
      }
      if (o.unprivileged && getuid() == 0 &&
          (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
        _exit(126);
      // After the change of user: one over its limit then could not run the program.
      if (o.process_limit >= 0) {
        // LeakSanitizer looks for leaks from a thread of its own, which the limit forbids.
        const char* asan = getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
        const rlimit lim{static_cast<rlim_t>(o.process_limit),
                         static_cast<rlim_t>(o.process_limit)};
        setrlimit(RLIMIT_NPROC, &lim);
      }
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    for (int fd : {in[0], out[0], out[1]})
      if (fd >= 0) close(fd);  // the output pipe's reader is gone from the start
    stdin_ = in[1];
  }
  ~Child() {
    if (!reaped_) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    for (int fd : {stdin_, slave_, term_})
      if (fd >= 0) close(fd);
  }
  // Exit code as a shell sees it, 128 + n for signal n; -1000 if it did not end in time.
  int wait_exit(std::chrono::milliseconds patience = kPatience) {
    if (!reaped_ &&
        !eventually([&] { return wait4(pid_, &status_, WNOHANG, &usage_) == pid_; }, patience))
      return -1000;
    reaped_ = true;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }
  const rusage& usage() const { return usage_; }  // of the ended program
  pid_t pid() const { return pid_; }
  std::string out() const { return read_file(out_); }
  std::string err() const { return read_file(err_); }
  bool wait_for_out(const std::string& text) {
    return eventually([&] { return out().find(text) != std::string::npos; });
  }
  void type(const std::string& keys) {
    if (!feed(bytes(keys))) throw std::runtime_error("cannot type");
  }
  // Into standard input (a pipe or the terminal), all of it; false when the program stopped
  // reading.
  bool feed(const Bytes& data) {
    signal(SIGPIPE, SIG_IGN);  // a program that ended early must not end the test
    for (std::size_t done = 0; done < data.size();) {
      const ssize_t k =
          ::write(stdin_ >= 0 ? stdin_ : term_, data.data() + done, data.size() - done);
      if (k < 0 && errno == EINTR) continue;
      if (k <= 0) return false;
      done += static_cast<std::size_t>(k);
    }
    return true;
  }
  // The end of standard input (a pipe): the program reads to its end.
  void close_input() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
  }
  // What the program wrote to the terminal so far (with stdout_on_terminal).
  std::string screen() {
    char buffer[4096];
    for (;;) {
      pollfd p{term_, POLLIN, 0};
      if (term_ < 0 || poll(&p, 1, 0) <= 0) break;
      const ssize_t n = ::read(term_, buffer, sizeof buffer);
      if (n <= 0) break;
      screen_.append(buffer, static_cast<std::size_t>(n));
    }
    return screen_;
  }
  unsigned terminal_modes() const {  // c_lflag of the terminal on standard input
    termios tio{};
    return slave_ >= 0 && tcgetattr(slave_, &tio) == 0 ? tio.c_lflag : 0;
  }
  pid_t foreground_job() const { return term_ >= 0 ? tcgetpgrp(term_) : -1; }

 private:
  // Plays the shell: the program runs as a job in a process group of its own; this process
  // waits for it to end (not merely to stop) and exits as it did.
  static void run_as_job(bool foreground) {
    signal(SIGTTOU, SIG_IGN);
    const pid_t job = fork();
    setpgid(job == 0 ? 0 : job, job == 0 ? 0 : job);
    if (foreground) tcsetpgrp(0, job == 0 ? getpgrp() : job);
    if (job == 0) {
      signal(SIGTTOU, SIG_DFL);
      return;  // goes on to exec the program
    }
    int status = 0;
    while (waitpid(job, &status, 0) < 0 && errno == EINTR) {
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  pid_t pid_ = -1;
  std::string out_, err_;
  int stdin_ = -1, term_ = -1, slave_ = -1, status_ = 0;
  std::string screen_;
  bool reaped_ = false;
  rusage usage_{};
};

// Greeting and prompt, the 8-byte record command (returned), the acknowledgement; nothing is
// returned when a step failed.
inline Bytes handshake(DeviceEnd& device, Child& recorder, const std::string& greeting = "") {
  if (!device.wait_configured()) return {};
  device.send(greeting + "> ");
  const Bytes command = device.receive(8);
  device.send("OK\r\n");
  return recorder.wait_for_out("Stop the recording chain with spacebar") ? command : Bytes{};
}

// The port a running tapewren-sim prints as its first line ("" if it never does).
inline std::string sim_port(const Child& sim) {
  std::string out;
  eventually([&] { return (out = sim.out()).find('\n') != std::string::npos; });
  return out.substr(0, out.find('\n'));
}

// The programs under test: "record", "sim", "scan" or "convert".
inline std::string program(const std::string& name) {
  return name == "record" ? TAPEWREN_RECORD_PATH
         : name == "sim"  ? TAPEWREN_SIM_PATH
         : name == "scan" ? TAPEWREN_SCAN_PATH
                          : TAPEWREN_CONVERT_PATH;
}

}  // namespace tapewren::e2e
