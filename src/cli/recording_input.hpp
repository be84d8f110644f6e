// A recording as the tools read it: opened by its name, its format told by its start, its
// pulses a block at a time until its end, an error or a termination request.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/cli.hpp"
#include "platform/tool_io.hpp"
#include "recording/recording.hpp"

namespace tapewren::cli {

// How a tool reads a recording from its options: -m and -v (-1: not given, C64 PAL) give the
// clock of a dump's ticks and of a WAV file's times, which have no header to say it; the WAV
// options; -b; --tick-hz (0: the dump counts half cycles).
recording::ReadSettings read_settings(int machine, int video, const WavReading& wav,
                                      bool both_edges, double tick_hz = 0);

// The machine a TAP header names: its platform; C16 where the header carries the C16
// signature; C64 for a platform no machine has. `note` says what was taken where the header
// is odd, and is empty otherwise.
int tap_machine(const recording::TapHeader& header, std::string& note);

// Every block of pulses of an opened reader to `use` until `use` returns false (kOk: its caller
// knows why), the end (kOk), a termination request (its signal), or an error (kFailed, the
// reader's error()).
template <typename Use>
Exit read_blocks(recording::Reader& reader, Use use) {
  const bool whole = recording::each_block(reader, [&](const recording::Pulses& pulses) {
    return use(pulses) && platform::termination_signal() == 0;
  });
  if (const int signal = platform::termination_signal()) return signalled(signal);
  if (!whole) return Exit::kOk;
  return reader.error().empty() ? Exit::kOk : Exit::kFailed;
}

class RecordingInput {
 public:
  // Opens the file, pipe or device and reads its start; false with error() when it cannot be
  // opened or is no recording.
  bool open(const std::string& path, const recording::ReadSettings& settings);
  const std::string& path() const { return path_; }
  recording::Reader& reader() { return *reader_; }
  const recording::Reader& reader() const { return *reader_; }
  const platform::InputFile& file() const { return *file_; }
  // read_blocks of the input; error() says what failed.
  template <typename Use>
  Exit read(Use use) {
    const Exit read = read_blocks(*reader_, use);
    if (read == Exit::kFailed) error_ = reader_->error();
    return read;
  }
  const std::string& error() const { return error_; }
  // Where the data was cut or disagrees with itself: for a person, once it was read.
  const std::vector<std::string>& notes() const { return reader_->notes(); }

 private:
  std::string path_, error_;
  std::unique_ptr<platform::InputFile> file_;
  std::unique_ptr<recording::Reader> reader_;
};

}  // namespace tapewren::cli
