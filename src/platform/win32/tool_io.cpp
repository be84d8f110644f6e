// The tools' files and termination requests on Windows.
#include "platform/tool_io.hpp"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <utility>

namespace tapewren::platform {

namespace {

constexpr int kBreakSignal = 21;  // SIGBREAK in the Windows C runtime
volatile LONG g_signal = 0;

BOOL WINAPI on_console_event(DWORD event) {
  const LONG number = event == CTRL_C_EVENT ? SIGINT : event == CTRL_BREAK_EVENT ? kBreakSignal : 0;
  if (number == 0) return FALSE;
  InterlockedCompareExchange(&g_signal, number, 0);
  return TRUE;
}

HANDLE handle_of(std::intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

// The reasons in the words the POSIX build uses, so that messages read the same.
std::string reason(DWORD code) {
  switch (code) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return "File exists";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    case ERROR_DIRECTORY:
      return "Is a directory";
    default:
      break;
  }
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
  return s.empty() ? "error " + std::to_string(code) : s;
}

std::string folder_of(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

std::unique_ptr<InputFile> InputFile::open(const std::string& path, std::string& error) {
  HANDLE h = INVALID_HANDLE_VALUE;
  if (path == "-") {
    h = GetStdHandle(STD_INPUT_HANDLE);
    DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &h, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  } else {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      error = reason(ERROR_DIRECTORY);
      return nullptr;
    }
    h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE || h == nullptr) {
    error = reason(GetLastError());
    return nullptr;
  }
  std::unique_ptr<InputFile> file(new InputFile);
  file->handle_ = reinterpret_cast<std::intptr_t>(h);
  file->regular_ = GetFileType(h) == FILE_TYPE_DISK;
  LARGE_INTEGER size{};
  if (file->regular_ && GetFileSizeEx(h, &size))
    file->size_ = static_cast<std::uint64_t>(size.QuadPart);
  return file;
}

InputFile::~InputFile() {
  if (handle_ != -1) CloseHandle(handle_of(handle_));
}

long long InputFile::read(std::uint8_t* into, std::size_t max) {
  DWORD got = 0;
  const DWORD want = max > (1u << 30) ? (1u << 30) : static_cast<DWORD>(max);
  if (ReadFile(handle_of(handle_), into, want, &got, nullptr)) return got;
  const DWORD code = GetLastError();
  if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return 0;  // a pipe's end
  error_ = reason(code);
  return -1;
}

OutputFile::~OutputFile() {
  if (handle_ != -1) CloseHandle(handle_of(handle_));
  if (!temp_.empty()) DeleteFileA(temp_.c_str());
}

bool OutputFile::fail() {
  error_ = reason(GetLastError());
  return false;
}

bool OutputFile::create(const std::string& path) {
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    taken_ = true;
    error_ = reason(ERROR_FILE_EXISTS);
    return false;
  }
  path_ = path;
  return create_in(folder_of(path));
}

bool OutputFile::create_in(const std::string& folder) {
  static std::atomic<unsigned> serial{0};  // several scans may write at once
  for (int tries = 0; tries < 100; ++tries) {
    const std::string temp = folder + "\\.tapewren-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(++serial) + ".part";
    const HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<std::intptr_t>(h);
      temp_ = temp;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return fail();
}

bool OutputFile::write(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(handle_of(handle_), data, want, &done, nullptr)) return fail();
    if (done == 0) {
      error_ = reason(ERROR_DISK_FULL);
      return false;
    }
    data += done;
    size -= done;
  }
  return true;
}

bool OutputFile::write_at(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
  LARGE_INTEGER at{}, here{}, zero{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  const HANDLE h = handle_of(handle_);
  if (!SetFilePointerEx(h, zero, &here, FILE_CURRENT) ||
      !SetFilePointerEx(h, at, nullptr, FILE_BEGIN))
    return fail();
  const bool ok = write(data, size);
  return SetFilePointerEx(h, here, nullptr, FILE_BEGIN) ? ok : fail();
}

bool OutputFile::commit(const std::string& path) {
  taken_ = false;
  if (handle_ != -1) {
    const HANDLE h = handle_of(handle_);
    handle_ = -1;
    if (!CloseHandle(h)) return fail();
  }
  // Without MOVEFILE_REPLACE_EXISTING an existing file is never replaced.
  if (!MoveFileExA(temp_.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    taken_ = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
    error_ = reason(code);
    return false;
  }
  path_ = path;
  temp_.clear();
  return true;
}

namespace {

// Read through a handle that shares reading, writing and deleting: the recorder writes, cuts
// and closes the file as it would alone. Whether it still writes is asked by opening the file
// once more without sharing writing: that fails while a writer holds it, and is closed at once.
class Win32GrowingFile final : public GrowingFile {
 public:
  Win32GrowingFile(HANDLE h, std::string path) : h_(h), path_(std::move(path)) {}
  ~Win32GrowingFile() override { CloseHandle(h_); }
  long long read_at(std::uint64_t offset, std::uint8_t* into, std::size_t max) override {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = max > (1u << 30) ? (1u << 30) : static_cast<DWORD>(max);
    if (ReadFile(h_, into, want, &got, &at)) return got;
    const DWORD code = GetLastError();
    if (code == ERROR_HANDLE_EOF) return 0;
    error_ = reason(code);
    return -1;
  }
  bool size(std::uint64_t& out) override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h_, &size)) {
      error_ = reason(GetLastError());
      return false;
    }
    out = static_cast<std::uint64_t>(size.QuadPart);
    return true;
  }
  bool written() override {
    const HANDLE probe = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
      CloseHandle(probe);
      return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
  }
  // No notice of a change that Wine and every Windows give alike: a look every 50 ms.
  void wait(int ms) override {
    for (int waited = 0; waited < ms && termination_signal() == 0; waited += 50) Sleep(50);
  }

 private:
  HANDLE h_;
  std::string path_;
};

}  // namespace

std::unique_ptr<GrowingFile> GrowingFile::open(const std::string& path, std::string& error,
                                               bool& missing) {
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    missing = code == ERROR_FILE_NOT_FOUND;
    error = reason(code);
    return nullptr;
  }
  missing = false;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    error = "not a file that grows: it cannot be followed";
    return nullptr;
  }
  return std::make_unique<Win32GrowingFile>(h, path);
}

bool output_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// Windows hands out handles, not reusable numbers: a missing stream takes nothing's place, and
// writing to it fails by itself.
void open_missing_tool_streams() {}

void catch_termination() {
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

int termination_signal() {
  return static_cast<int>(InterlockedCompareExchange(&g_signal, 0, 0));
}

const char* signal_name(int signal) {
  return signal == SIGINT ? "Ctrl-C" : "Ctrl-Break";
}

}  // namespace tapewren::platform
