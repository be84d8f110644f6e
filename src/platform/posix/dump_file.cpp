// The dump file on POSIX: created new, written straight through, synced before it closes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fd_io.hpp"
#include "platform/posix/posix_link.hpp"

namespace tapewren::posix {

namespace {

class PosixDumpFile : public DumpFile {
 public:
  explicit PosixDumpFile(int fd) : fd_(fd) {}
  ~PosixDumpFile() override { close(); }

  bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written) override {
    if (fd_ < 0) return false;
    written = static_cast<std::uint32_t>(write_all(fd_, data, size, -1));
    return written == size;
  }

  bool size(std::uint32_t& length) override {
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) return false;
    length = static_cast<std::uint32_t>(st.st_size);  // the low 32 bits, as the format has
    return true;
  }

  bool seek(std::int32_t offset) override {
    return fd_ >= 0 && offset >= 0 && lseek(fd_, offset, SEEK_SET) == offset;
  }

  bool set_end() override {
    if (fd_ < 0) return false;
    const off_t here = lseek(fd_, 0, SEEK_CUR);
    return here >= 0 && ftruncate(fd_, here) == 0;
  }

  void close() override {
    if (fd_ < 0) return;
    fsync(fd_);  // a finished recording should survive a power cut
    ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<DumpFile> create_posix_dump_file(const char* path) {
  // O_EXCL: an existing file, or a symlink pointing anywhere, is never written through.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixDumpFile>(fd);
}

}  // namespace tapewren::posix
