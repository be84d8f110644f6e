// Termination and job-control signals during a recording: the handlers only set flags, the
// capture loop and the keyboard act on them between reads.
#include "signals.hpp"

#include <signal.h>
#include <string.h>

#include <csignal>
#include <initializer_list>

#include "platform/host.hpp"
#include "platform/tool_io.hpp"

namespace tapewren::posix {

namespace {

volatile std::sig_atomic_t g_termination = 0;
volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_continued = 0;

extern "C" void on_termination(int signal) {
  if (g_termination == 0) g_termination = signal;
}
extern "C" void on_stop(int) {
  g_stop = 1;
}
extern "C" void on_continue(int) {
  g_continued = 1;
}

void install(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking poll returns with EINTR
  sigaction(signal, &action, nullptr);
}

class PosixInterrupts : public Interrupts {
 public:
  void arm() override {
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) install(s, on_termination);
    install(SIGTSTP, on_stop);
    install(SIGCONT, on_continue);
  }
  int pending() override { return g_termination; }
  const char* name(int signal) override { return platform::signal_name(signal); }
};

}  // namespace

bool signal_waiting() {
  return g_termination != 0 || g_stop != 0 || g_continued != 0;
}

bool take_stop_request() {
  if (!g_stop) return false;
  g_stop = 0;
  return true;
}

bool take_continued() {
  if (!g_continued) return false;
  g_continued = 0;
  return true;
}

void stop_self() {
  install(SIGTSTP, SIG_DFL);
  raise(SIGTSTP);  // the process stops here until SIGCONT
  install(SIGTSTP, on_stop);
}

}  // namespace tapewren::posix

namespace tapewren::platform {

Interrupts& interrupts() {
  static posix::PosixInterrupts instance;
  return instance;
}

}  // namespace tapewren::platform
