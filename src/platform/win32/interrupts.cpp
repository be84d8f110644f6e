// Ctrl-C, Ctrl-Break and closing the console window during a recording: the handler only
// sets a flag, the capture loop ends after the read in progress and keeps what it stored.
#include <windows.h>

#include <csignal>

#include "platform/host.hpp"

namespace tapewren::win32 {

namespace {

// Reported with the number of the matching C signal, so that the exit code is 128 + n.
constexpr int kBreakSignal = 21;  // SIGBREAK in the Windows C runtime
volatile LONG g_signal = 0;

BOOL WINAPI on_console_event(DWORD event) {
  LONG number = 0;
  switch (event) {
    case CTRL_C_EVENT:
      number = SIGINT;
      break;
    case CTRL_BREAK_EVENT:
      number = kBreakSignal;
      break;
    case CTRL_CLOSE_EVENT:
      number = SIGTERM;
      break;
    default:
      return FALSE;
  }
  InterlockedCompareExchange(&g_signal, number, 0);
  return TRUE;
}

class ConsoleInterrupts : public Interrupts {
 public:
  void arm() override { SetConsoleCtrlHandler(on_console_event, TRUE); }
  int pending() override { return static_cast<int>(InterlockedCompareExchange(&g_signal, 0, 0)); }
  const char* name(int signal) override {
    switch (signal) {
      case SIGINT:
        return "Ctrl-C";
      case kBreakSignal:
        return "Ctrl-Break";
      default:
        return "closing the console";
    }
  }
};

}  // namespace

}  // namespace tapewren::win32

namespace tapewren::platform {

Interrupts& interrupts() {
  static win32::ConsoleInterrupts instance;
  return instance;
}

}  // namespace tapewren::platform
