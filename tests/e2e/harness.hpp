// End-to-end test harness: a device on a real pseudo-terminal, and the real programs run as
// child processes with their output in files. Every wait has a deadline far beyond need.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tapewren::e2e {

using Bytes = std::vector<std::uint8_t>;
Bytes bytes(const std::string& s);
// n bytes of pseudo-random recording with no device reply in it.
Bytes recording(std::size_t n, unsigned seed = 1);

constexpr std::chrono::milliseconds kPatience{20000};

// A scratch directory, removed with what is in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

std::string read_file(const std::string& path);
Bytes read_bytes(const std::string& path);
void write_file(const std::string& path, const Bytes& content);
bool file_exists(const std::string& path);

// The device's end of a pseudo-terminal; the slave path is the port the recorder opens.
class DeviceEnd {
 public:
  DeviceEnd();
  ~DeviceEnd();
  const std::string& port() const { return path_; }
  int master() const { return master_; }
  // Waits until the recorder has opened the port and put it in raw mode.
  bool wait_configured();
  void send(const Bytes& data);
  void send(const std::string& text) { send(bytes(text)); }
  // Reads exactly n bytes (or fewer if the deadline passes first).
  Bytes receive(std::size_t n, std::chrono::milliseconds patience = kPatience);
  // True when nothing arrives within the time given.
  bool silent_for(std::chrono::milliseconds quiet);
  void hang_up();
  // What the recorder set on the line: "" when it is 115200 baud 8N1, raw, without flow
  // control; otherwise what is wrong.
  std::string line_settings_fault() const;

 private:
  int master_ = -1;
  std::string path_;
};

enum class Stdin { kNull, kPipe, kTerminal, kClosed };

struct Options {
  Stdin stdin_mode = Stdin::kNull;
  long file_size_limit = -1;  // RLIMIT_FSIZE in bytes, with SIGXFSZ ignored
  // With Stdin::kTerminal: run under a minimal job-control shell, so that Ctrl-Z stops
  // the program as it would in a terminal (a process group without one ignores it).
  bool job_control = false;
  // With job_control: start the program as a background job (`program &`).
  bool background = false;
  // Runs the program as this user and group (needs root), -1 for the test's own.
  int uid = -1;
  // NAME=value settings added to the program's environment.
  std::vector<std::string> env;
};

// A program run as a child, its standard output and error in files.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const TempDir& dir, Options options = {});
  ~Child();
  // Waits until standard output (or error) holds text.
  bool wait_for_out(const std::string& text, std::chrono::milliseconds patience = kPatience);
  bool wait_for_err(const std::string& text, std::chrono::milliseconds patience = kPatience);
  // Exit code as a shell sees it, 128 + n for signal n; -1000 if it did not end in time.
  int wait_exit(std::chrono::milliseconds patience = kPatience);
  // Peak resident set size of the ended program, in KiB, and the CPU time it used.
  long max_rss_kib() const { return max_rss_kib_; }
  double cpu_seconds() const { return cpu_seconds_; }
  pid_t pid() const { return pid_; }
  std::string out() const;
  std::string err() const;
  void signal(int number);
  void type(const std::string& keys);  // into the pipe or terminal on standard input
  // The terminal on standard input (Stdin::kTerminal), as the child sees it.
  int terminal_slave() const { return term_slave_; }
  int terminal_master() const { return term_master_; }

 private:
  pid_t pid_ = -1;
  std::string out_path_, err_path_;
  int stdin_write_ = -1;
  int term_master_ = -1, term_slave_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  long max_rss_kib_ = 0;
  double cpu_seconds_ = 0;
};

// The device's side of starting a recording, once the recorder has configured the port:
// the greeting and prompt, then the 8-byte record command, which is returned.
Bytes prompt_for_command(DeviceEnd& device, const std::string& greeting = "");
// The acknowledgement; true once the recorder says it is recording.
bool acknowledge(DeviceEnd& device, Child& recorder);
// Both: waits for the port to be configured, prompts, acknowledges. Returns the command, or
// nothing when a step failed.
Bytes handshake(DeviceEnd& device, Child& recorder, const std::string& greeting = "");
// Waits until the file holds at least n bytes: the recorder has stored everything sent.
bool file_reaches(const std::string& path, std::size_t n,
                  std::chrono::milliseconds patience = kPatience);

// The port a running tapewren-sim prints as its first line ("" if it never does).
std::string sim_port(const Child& sim);

std::string record_binary();
std::string sim_binary();
std::string scan_binary();
std::string convert_binary();

// Runs until `done` holds or the patience runs out; true when it held.
template <typename F>
bool eventually(F done, std::chrono::milliseconds patience = kPatience) {
  const auto until = std::chrono::steady_clock::now() + patience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    struct timespec ts {
      0, 10 * 1000 * 1000
    };
    nanosleep(&ts, nullptr);
  }
  return true;
}

}  // namespace tapewren::e2e
