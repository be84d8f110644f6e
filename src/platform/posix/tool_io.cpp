// The tools' files and termination requests on POSIX systems.
#include "platform/tool_io.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <dirent.h>
#include <sys/inotify.h>
#endif

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>

namespace tapewren::platform {

namespace {

volatile std::sig_atomic_t g_signal = 0;
// A pipe the handler writes to: a wait for input sees a signal that came just before it
// began, which no read would return early for. Set before the handler is installed.
int g_wake[2] = {-1, -1};

extern "C" void on_tool_termination(int signal) {
  if (g_signal == 0) g_signal = signal;
  const int saved = errno;
  const char byte = 1;
  if (g_wake[1] >= 0 && ::write(g_wake[1], &byte, 1) < 0) {
    // full: a byte is there already
  }
  errno = saved;
}

// Waits until fd has something to read (or an end, or an error, which read() tells); false
// when a termination signal came, before the wait or during it: the pipe tells either.
bool wait_for_input(int fd) {
  pollfd p[2] = {{fd, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
  for (;;) {
    if (::poll(p, 2, -1) > 0) return p[1].revents == 0;
    if (errno != EINTR) return true;  // the read waits as it would have
    if (g_signal != 0) return false;  // no pipe could be made
  }
}

int fd_of(std::intptr_t handle) {
  return static_cast<int>(handle);
}

std::string folder_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Gives `temp` the name `path` unless something has that name already; link() and
// RENAME_NOREPLACE never replace, the last resort claims the name first with O_EXCL.
int give_name(const std::string& temp, const std::string& path) {
  if (::link(temp.c_str(), path.c_str()) == 0) {
    ::unlink(temp.c_str());
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
#if defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno == EEXIST) return EEXIST;
#endif
  // A file system without hard links or exclusive renames (some USB sticks, network shares).
  const int claim = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (claim < 0) return errno;
  ::close(claim);
  if (::rename(temp.c_str(), path.c_str()) == 0) return 0;
  const int error = errno;
  ::unlink(path.c_str());
  return error;
}

}  // namespace

std::unique_ptr<InputFile> InputFile::open(const std::string& path, std::string& error) {
  const int fd = path == "-" ? ::dup(STDIN_FILENO) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    error = fd < 0 ? std::strerror(errno) : std::strerror(EISDIR);
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  std::unique_ptr<InputFile> file(new InputFile);
  file->handle_ = fd;
  file->regular_ = S_ISREG(st.st_mode);
  file->size_ = file->regular_ ? static_cast<std::uint64_t>(st.st_size) : 0;
  return file;
}

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(fd_of(handle_));
}

long long InputFile::read(std::uint8_t* into, std::size_t max) {
  for (;;) {
    // A pipe or a terminal may be silent for ever; a file is never waited for.
    if (!regular_ && !wait_for_input(fd_of(handle_))) {
      error_ = "interrupted";
      return -1;
    }
    const ssize_t n = ::read(fd_of(handle_), into, max);
    if (n >= 0) return n;
    if (errno != EINTR) break;
    if (g_signal != 0) {  // the caller sees the signal and says so
      error_ = "interrupted";
      return -1;
    }
  }
  error_ = std::strerror(errno);
  return -1;
}

OutputFile::~OutputFile() {
  if (handle_ >= 0) ::close(fd_of(handle_));
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool OutputFile::fail() {
  error_ = std::strerror(errno);
  return false;
}

bool OutputFile::create(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {  // a link counts as taken, wherever it points
    taken_ = true;
    error_ = std::strerror(EEXIST);
    return false;
  }
  path_ = path;
  return create_in(folder_of(path));
}

bool OutputFile::create_in(const std::string& folder) {
  static std::atomic<unsigned> serial{0};  // several scans may write at once
  for (int tries = 0; tries < 100; ++tries) {
    const std::string temp = folder + "/.tapewren-" + std::to_string(::getpid()) + "-" +
                             std::to_string(++serial) + ".part";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      handle_ = fd;
      temp_ = temp;
      return true;
    }
    if (errno != EEXIST) break;
  }
  return fail();
}

bool OutputFile::write(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_of(handle_), data, size);
    if (n < 0 && errno == EINTR && g_signal == 0) continue;
    if (n <= 0) return n == 0 ? (errno = ENOSPC, fail()) : fail();
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool OutputFile::write_at(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t n =
        ::pwrite(fd_of(handle_), data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR && g_signal == 0) continue;
    if (n <= 0) return fail();
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool OutputFile::commit(const std::string& path) {
  taken_ = false;
  if (handle_ >= 0) {
    const int fd = fd_of(handle_);
    handle_ = -1;
    if (::close(fd) != 0) return fail();  // a network file system reports late errors here
  }
  const int error = give_name(temp_, path);
  if (error != 0) {
    taken_ = error == EEXIST;
    error_ = std::strerror(error);
    return false;
  }
  path_ = path;
  temp_.clear();
  return true;
}

namespace {

#ifdef __linux__
// Whether any process this one may look at holds the file (device, inode) open for writing:
// each one's open files in /proc, their access mode in fdinfo. -1 when /proc cannot tell.
int held_for_writing(dev_t device, ino_t inode) {
  DIR* procs = ::opendir("/proc");
  if (procs == nullptr) return -1;
  bool found = false;
  while (const dirent* p = ::readdir(procs)) {
    if (found) break;
    if (p->d_name[0] < '1' || p->d_name[0] > '9') continue;
    const std::string fds = std::string("/proc/") + p->d_name + "/fd";
    DIR* dir = ::opendir(fds.c_str());
    if (dir == nullptr) continue;  // gone, or another user's
    while (const dirent* f = ::readdir(dir)) {
      if (f->d_name[0] == '.') continue;
      struct stat st {};
      if (::stat((fds + "/" + f->d_name).c_str(), &st) != 0 || st.st_dev != device ||
          st.st_ino != inode)
        continue;
      std::ifstream info(std::string("/proc/") + p->d_name + "/fdinfo/" + f->d_name);
      std::string key, value;
      while (info >> key >> value)
        if (key == "flags:") {
          const long flags = std::strtol(value.c_str(), nullptr, 8);
          found = found || (flags & O_ACCMODE) == O_WRONLY || (flags & O_ACCMODE) == O_RDWR;
          break;
        }
    }
    ::closedir(dir);
  }
  ::closedir(procs);
  return found ? 1 : 0;
}
#endif

// Read with its own descriptor, opened for reading only: nothing another program does to the
// file is stopped by it. On Linux inotify wakes a wait when the file is written or closed.
class PosixGrowingFile final : public GrowingFile {
 public:
  PosixGrowingFile(int fd, const std::string& path) : fd_(fd) {
#ifdef __linux__
    notify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify_ >= 0 &&
        ::inotify_add_watch(notify_, path.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB) < 0) {
      ::close(notify_);
      notify_ = -1;
    }
#else
    (void)path;
#endif
  }
  ~PosixGrowingFile() override {
    ::close(fd_);
    if (notify_ >= 0) ::close(notify_);
  }
  long long read_at(std::uint64_t offset, std::uint8_t* into, std::size_t max) override {
    for (;;) {
      const ssize_t n = ::pread(fd_, into, max, static_cast<off_t>(offset));
      if (n >= 0) return n;
      if (errno != EINTR) break;
    }
    error_ = std::strerror(errno);
    return -1;
  }
  bool size(std::uint64_t& out) override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
      error_ = std::strerror(errno);
      return false;
    }
    out = static_cast<std::uint64_t>(st.st_size);
    return true;
  }
  // /proc is looked through at first, and again after a writer closed the file (another may
  // hold it still), or each time where inotify cannot tell.
  bool written() override {
#ifdef __linux__
    if (!look_ && notify_ >= 0) return held_;
    look_ = false;
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
      const int held = held_for_writing(st.st_dev, st.st_ino);
      if (held >= 0) return held_ = held == 1;
    }
#endif
    return held_ = !closed_;  // nothing tells: written until a writer is seen closing it
  }
  void wait(int ms) override {
    pollfd p[2] = {{notify_, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
    if (::poll(p, 2, ms) <= 0 || notify_ < 0 || p[0].revents == 0) return;
#ifdef __linux__
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(notify_, events, sizeof events)) > 0;)
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(events + at);
        if ((e->mask & IN_CLOSE_WRITE) != 0) closed_ = look_ = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
#endif
  }

 private:
  int fd_ = -1, notify_ = -1;
  bool closed_ = false, look_ = true, held_ = true;
};

}  // namespace

std::unique_ptr<GrowingFile> GrowingFile::open(const std::string& path, std::string& error,
                                               bool& missing) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  missing = fd < 0 && errno == ENOENT;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = fd < 0 ? std::strerror(errno) : "not a file that grows: it cannot be followed";
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixGrowingFile>(fd, path);
}

bool output_is_terminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

void open_missing_tool_streams() {
  // open() takes the lowest free number: with 0..fd-1 open, a closed fd is refilled itself.
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF &&
        ::open("/dev/null", fd == STDOUT_FILENO ? O_RDONLY : O_RDWR) != fd)
      return;
}

void catch_termination() {
  if (g_wake[0] < 0 && ::pipe(g_wake) == 0) {
    for (int fd : g_wake) {
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
      ::fcntl(fd, F_SETFL, O_NONBLOCK);  // a handler never waits for room in it
    }
  }
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction action {};
    action.sa_handler = on_tool_termination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking read returns and the tool looks
    sigaction(s, &action, nullptr);
  }
  signal(SIGXFSZ, SIG_IGN);  // past a file-size limit a write fails with EFBIG instead
}

int termination_signal() {
  return g_signal;
}

const char* signal_name(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGQUIT:
      return "SIGQUIT";
    default:
      return "a signal";
  }
}

}  // namespace tapewren::platform
