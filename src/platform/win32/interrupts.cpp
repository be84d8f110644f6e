// Ctrl-C and Ctrl-Break during a recording: the handler only sets a flag, the capture loop
// ends after the read in progress, keeps what it stored and prints the total. Closing the
// console window is left to Windows, which ends the process at once: every chunk already
// written stays in the dump file, the read in progress and the closing messages are lost.
#include <windows.h>

#include <csignal>

#include "platform/host.hpp"
#include "platform/tool_io.hpp"
#include "platform/win32/win32_link.hpp"

namespace tapewren::win32 {

constexpr int kBreakSignal = 21;  // SIGBREAK in the Windows C runtime

int console_event_signal(unsigned long event) {
  return event == CTRL_C_EVENT ? SIGINT : event == CTRL_BREAK_EVENT ? kBreakSignal : 0;
}

namespace {

volatile LONG g_signal = 0;

BOOL WINAPI on_console_event(DWORD event) {
  const LONG number = console_event_signal(event);
  if (number == 0) return FALSE;  // Windows' default: closing the console ends the process
  InterlockedCompareExchange(&g_signal, number, 0);
  return TRUE;
}

class ConsoleInterrupts : public Interrupts {
 public:
  void arm() override { SetConsoleCtrlHandler(on_console_event, TRUE); }
  int pending() override { return static_cast<int>(InterlockedCompareExchange(&g_signal, 0, 0)); }
  const char* name(int signal) override { return platform::signal_name(signal); }
};

}  // namespace

}  // namespace tapewren::win32

namespace tapewren::platform {

Interrupts& interrupts() {
  static win32::ConsoleInterrupts instance;
  return instance;
}

}  // namespace tapewren::platform
