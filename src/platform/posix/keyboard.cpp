// The key poll on POSIX. A terminal on standard input is put in single-key, no-echo mode
// (signals kept) for the loop; a pipe or file gives its bytes as keys until it ends.
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
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    active_ = true;
    apply_loop_mode();
  }

  void leave() override {
    if (!active_) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    active_ = false;
  }

  int next_key() override {
    handle_job_control();
    if (ended_) return -1;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&p, 1, 0);
    if (ready <= 0) return -1;
    if (p.revents & POLLNVAL) {  // no standard input at all
      ended_ = true;
      return -1;
    }
    unsigned char key = 0;
    const ssize_t k = ::read(STDIN_FILENO, &key, 1);
    if (k == 1) return key;
    if (k == 0 || (errno != EINTR && errno != EAGAIN)) ended_ = true;
    return -1;
  }

 private:
  void apply_loop_mode() {
    termios tio = saved_;
    tio.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &tio);
  }

  // Ctrl-Z: give the shell its terminal back before stopping; take it again on return.
  void handle_job_control() {
    if (take_stop_request()) {
      const bool was_active = active_;
      leave();
      stop_self();
      take_continued();
      if (was_active) enter();
    } else if (take_continued() && active_) {
      apply_loop_mode();  // stopped from outside: the shell may have reset the terminal
    }
  }

  termios saved_{};
  bool active_ = false;
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
