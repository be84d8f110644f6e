// The tools' files and termination requests on POSIX systems.
#include "platform/tool_io.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
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
