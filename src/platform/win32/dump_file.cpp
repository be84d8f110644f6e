// The dump file on Windows: created new, shared for reading, flushed to disk before it closes.
#include <windows.h>

#include "platform/win32/win32_link.hpp"

namespace tapewren::win32 {

namespace {

class Win32DumpFile : public DumpFile {
 public:
  explicit Win32DumpFile(HANDLE handle) : handle_(handle) {}
  ~Win32DumpFile() override { close(); }

  bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written) override {
    DWORD done = 0;
    const BOOL ok = WriteFile(handle_, data, size, &done, nullptr);
    written = static_cast<std::uint32_t>(done);
    return ok != FALSE;
  }

  bool size(std::uint32_t& length) override {
    const DWORD low = GetFileSize(handle_, nullptr);  // the low 32 bits, as the format has
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    length = static_cast<std::uint32_t>(low);
    return true;
  }

  bool seek(std::int32_t offset) override {
    return SetFilePointer(handle_, static_cast<LONG>(offset), nullptr, FILE_BEGIN) !=
           INVALID_SET_FILE_POINTER;
  }

  bool set_end() override { return SetEndOfFile(handle_) != FALSE; }

  void close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    FlushFileBuffers(handle_);  // a finished recording should survive a power cut
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<DumpFile> create_win32_dump_file(const char* path) {
  const HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32DumpFile>(handle);
}

}  // namespace tapewren::win32
