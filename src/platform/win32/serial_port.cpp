// The device's serial port on Windows: exclusive open, 115200 8N1 with DTR and RTS raised, and
// the driver's read time-outs that make every read return within about 564 ms.
#include <windows.h>

#include "platform/win32/win32_link.hpp"

namespace tapewren::win32 {

namespace {

// The size of one COMMCONFIG as the configuration calls expect it (52 bytes).
constexpr DWORD kCommConfigSize = sizeof(COMMCONFIG);

void apply_line_settings(DCB& dcb) {
  dcb.BaudRate = 115200;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = 0;
  dcb.XonLim = 0x8000;
  dcb.XoffLim = 20;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
}

// Results are not checked: a driver that refuses a setting leaves the port as it was, and
// the recording goes on with it.
void configure_port(HANDLE port) {
  COMMCONFIG config{};
  DWORD size = kCommConfigSize;
  if (GetCommConfig(port, &config, &size) && size <= kCommConfigSize) {
    apply_line_settings(config.dcb);
    SetCommConfig(port, &config, size);
  } else {
    // The configuration could not be read into one COMMCONFIG: the device control block
    // alone carries the same line settings.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(port, &dcb)) {
      apply_line_settings(dcb);
      SetCommState(port, &dcb);
    }
  }
  COMMTIMEOUTS timeouts{};
  GetCommTimeouts(port, &timeouts);
  timeouts.ReadIntervalTimeout = 250;
  timeouts.ReadTotalTimeoutMultiplier = 1;
  timeouts.ReadTotalTimeoutConstant = 500;
  timeouts.WriteTotalTimeoutMultiplier = 1;
  timeouts.WriteTotalTimeoutConstant = 2500;
  SetCommTimeouts(port, &timeouts);
}

class Win32Port : public Port {
 public:
  explicit Win32Port(HANDLE handle) : handle_(handle) {}
  ~Win32Port() override { close(); }

  ReadResult read(std::uint8_t* buffer, std::uint32_t size) override {
    DWORD got = 0;
    const BOOL ok = ReadFile(handle_, buffer, size, &got, nullptr);
    return {ok != FALSE, static_cast<std::uint32_t>(got)};
  }

  bool write(const std::uint8_t* data, std::uint32_t size) override {
    DWORD written = 0;
    return WriteFile(handle_, data, size, &written, nullptr) != FALSE;
  }

  void close() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<Port> open_win32_port(const char* name) {
  const HANDLE handle =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  configure_port(handle);
  return std::make_unique<Win32Port>(handle);
}

}  // namespace tapewren::win32
