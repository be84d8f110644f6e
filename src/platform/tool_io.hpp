// What the tools need of the system: inputs read as streams, outputs that are never written
// over anything and never left half-written, and termination requests noticed in time to
// clean up. One implementation per platform directory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "io/byte_stream.hpp"

namespace tapewren::platform {

// A file, pipe or device read from its start to its end; never sought, so that a pipe gives
// all it holds.
class InputFile : public io::ByteSource {
 public:
  // Nullptr with the system's reason in `error` ("No such file or directory", "Is a
  // directory", ...).
  static std::unique_ptr<InputFile> open(const std::string& path, std::string& error);
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  long long read(std::uint8_t* into, std::size_t max) override;
  std::string error() const override { return error_; }
  bool regular() const { return regular_; }
  std::uint64_t size() const { return size_; }  // of a regular file

 private:
  InputFile() = default;
  std::intptr_t handle_ = -1;
  bool regular_ = false;
  std::uint64_t size_ = 0;
  std::string error_;
};

// A file that another program may still be writing, read as it grows. It is never held in a
// way that stops that program from writing it, cutting it short or closing it; the file
// itself is never written. Virtual, so that the tests can play a writer.
class GrowingFile {
 public:
  // Nullptr with the system's reason in `error`; `missing` set when the file is not there
  // (yet).
  static std::unique_ptr<GrowingFile> open(const std::string& path, std::string& error,
                                           bool& missing);
  virtual ~GrowingFile() = default;
  // Up to max bytes from `offset`; 0 past the end; -1 on an error (error()).
  virtual long long read_at(std::uint64_t offset, std::uint8_t* into, std::size_t max) = 0;
  // Its length now; false on an error.
  virtual bool size(std::uint64_t& out) = 0;
  // Whether a program holds it open for writing now.
  virtual bool written() = 0;
  // Returns once it may have changed (grown, been cut or closed), a termination request came,
  // or `ms` milliseconds passed.
  virtual void wait(int ms) = 0;
  virtual std::string error() const { return error_; }

 protected:
  std::string error_;
};

// Whether standard output is a terminal (a console), where a line may be written over.
bool output_is_terminal();

// An output written under a temporary name in its folder and given its name only when it is
// whole: never over an existing file, never through a link, and nothing is left where it
// should have been when it is abandoned (an error, a signal, the process ending early).
class OutputFile : public io::ByteSink {
 public:
  OutputFile() = default;
  ~OutputFile() override;  // removes what was not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Starts a file that will be named `path`; false (error()) when that name is taken
  // ("File exists") or the temporary file cannot be made.
  bool create(const std::string& path);
  // Starts a file for a name found later (commit tries names until one is free).
  bool create_in(const std::string& folder);
  bool write(const std::uint8_t* data, std::size_t size) override;
  bool write_at(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override;
  // Gives the file its name. False when it cannot be: name_taken() tells whether another
  // name may be tried; error() says why.
  bool commit(const std::string& path);
  bool commit() { return commit(path_); }
  bool name_taken() const { return taken_; }
  const std::string& error() const { return error_; }

 private:
  bool fail();
  std::intptr_t handle_ = -1;
  std::string path_, temp_;
  bool taken_ = false;
  std::string error_;
};

// Run first in a tool: a standard stream that the caller closed is opened on the null device,
// so that no output file takes its number; standard output for reading only, so that what is
// written to it fails as it would have, and the tool can say that its report was lost.
void open_missing_tool_streams();

// From now on a termination request (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT) only raises a flag,
// and a file-size limit makes writes fail instead of ending the process.
void catch_termination();
// The signal received so far, or 0.
int termination_signal();
// Its name for a message ("SIGINT", "Ctrl-C").
const char* signal_name(int signal);

}  // namespace tapewren::platform
