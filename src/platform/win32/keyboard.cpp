// The key poll on Windows: the console's own non-blocking key test and unechoed key read.
#include <conio.h>
#include <windows.h>

#include "platform/host.hpp"

namespace tapewren::win32 {

namespace {

class ConsoleKeyboard : public Keyboard {
 public:
  int next_key() override {
    // A zero-time wait on the input handle lets some consoles (Wine's among them) deliver
    // pending keys to _kbhit; on Windows it changes nothing.
    WaitForSingleObject(GetStdHandle(STD_INPUT_HANDLE), 0);
    if (!_kbhit()) return -1;
    return _getch() & 0xFF;
  }
};

}  // namespace

}  // namespace tapewren::win32

namespace tapewren::platform {

Keyboard& keyboard() {
  static win32::ConsoleKeyboard instance;
  return instance;
}

}  // namespace tapewren::platform
