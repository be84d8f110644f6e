// The key poll on POSIX. A terminal on standard input is put in single-key, no-echo mode
// (signals kept) for the loop; a pipe or file gives its bytes as keys until it ends. Standard
// input always exists: a closed one was opened on the null device at start.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host.hpp"
#include "signals.hpp"

namespace tapewren::posix {

namespace {

class PosixKeyboard : public Keyboard {
 public:
  void enter() override {
    if (!isatty(STDIN_FILENO)) return;
    terminal_ = true;
    take_terminal();
  }

  void leave() override {
    if (!active_) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    active_ = false;
  }

  int next_key() override {
    handle_job_control();
    // A background job leaves the terminal alone: reading it would stop the process.
    if (ended_ || (terminal_ && !active_)) return -1;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return -1;
    unsigned char key = 0;
    const ssize_t k = ::read(STDIN_FILENO, &key, 1);
    if (k == 1) return key;
    if (k == 0 || (errno != EINTR && errno != EAGAIN)) ended_ = true;
    return -1;
  }

 private:
  // Puts the terminal in single-key, no-echo mode (signals kept) unless this process is a
  // background job; remembers the mode it found to put it back. A terminal that is not our
  // controlling terminal has no foreground group (tcgetpgrp fails) and no job control: it is
  // ours to use.
  void take_terminal() {
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    if (foreground >= 0 && foreground != getpgrp()) return;
    if (!active_) {
      if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
      active_ = true;
    }
    termios tio = saved_;
    tio.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &tio);
  }

  // Ctrl-Z: give the shell its terminal back before stopping. On continuing, in the
  // foreground or not, take it again if it is ours (the shell may have reset it meanwhile).
  void handle_job_control() {
    if (take_stop_request()) {
      leave();
      stop_self();
      take_continued();
      if (terminal_) take_terminal();
    } else if (take_continued() && terminal_) {
      take_terminal();
    }
  }

  termios saved_{};
  bool terminal_ = false;  // standard input is a terminal
  bool active_ = false;    // and it is in the loop's mode
  bool ended_ = false;
};

}  // namespace

}  // namespace tapewren::posix

namespace tapewren::platform {

Keyboard& keyboard() {
  static posix::PosixKeyboard instance;
  return instance;
}

}  // namespace tapewren::platform
