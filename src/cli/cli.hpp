// The command-line conventions tapewren-scan, tapewren-convert and tapewren-sim share: options
// as `--name value` or `--name=value`, -h/--help and --version on standard output with exit 0,
// usage errors on standard error with exit 2, the one parser of numbers and machine names, and
// the one of the options that say how to read a WAV file.
#pragma once

#include <string>

#include "audio/wav_in.hpp"

namespace tapewren::cli {

// The tools' exit statuses, in one place; a stop by signal N is 128 + N.
enum class Exit : int {
  kOk = 0,
  kFailed = 1,   // a file could not be read or written
  kUsage = 2,    // the command line is wrong
  kBad = 3,      // a file is bad or incomplete, left out of an image; recordings differ
  kNothing = 4,  // no file found at all
};
constexpr Exit signalled(int signal) {
  return static_cast<Exit>(128 + signal);
}
constexpr bool is_signal(Exit e) {
  return static_cast<int>(e) > 128;
}
constexpr int status(Exit e) {
  return static_cast<int>(e);
}
// What a run of several parts reports: a signal outranks a file that cannot be read or
// written (and a usage error), which outranks a bad file, which outranks a recording with no
// file at all: a bad file wants a second look, an empty recording may be the picture that was
// in the folder.
Exit worst(Exit a, Exit b);

// A whole decimal number from low to high; false for anything else (a sign where none is
// allowed, spaces, trailing text, overflow).
bool parse_number(const std::string& text, long long low, long long high, long long& value);

// A machine by name or number: c64 or 0, vic20 or 1, c16 (plus4) or 2; -1 for neither.
int parse_machine(const std::string& text);
// A video standard: pal or 0, ntsc or 1; -1 for neither.
int parse_video(const std::string& text);

// The arguments one at a time: options until `--`, then operands only.
class Args {
 public:
  Args(int argc, char** argv) : argc_(argc), argv_(argv) {}
  // Moves to the next argument; false after the last.
  bool next();
  // The argument is an option: it starts with '-', is not "-", and no "--" came before.
  bool option() const { return option_; }
  // An option's name ("--histogram" of "--histogram=x"), or an operand's whole text.
  const std::string& name() const { return name_; }
  // The option's value: after its '=' or the next argument. False when there is none.
  bool value(std::string& out);
  // The option came as `--name=value`: wrong for an option that takes none.
  bool inline_value() const { return has_inline_; }

 private:
  int argc_;
  char** argv_;
  int i_ = 0;
  bool option_ = false, has_inline_ = false, operands_only_ = false;
  std::string name_, inline_;
};

// What a tool's messages need of it.
struct Tool {
  const char* name;   // "tapewren-scan"
  const char* usage;  // the whole --help text
};

// "NAME: message" and a line pointing at --help on standard error; returns Exit::kUsage.
Exit usage_error(const Tool& tool, const std::string& message);
// A text on standard output, its failure kept for close_output; returns Exit::kOk.
Exit print(const std::string& text);
// The usage on standard output; returns Exit::kOk.
Exit help(const Tool& tool);
// "NAME VERSION" on standard output; returns Exit::kOk.
Exit version(const Tool& tool);
// Standard output flushed and closed, at the end: `code` when everything written to it got
// there; else "NAME: write error: REASON" on standard error and kFailed (a signal kept),
// since a report that was lost is no success. `earlier`: the errno of a write that failed
// before, where the tool kept it.
Exit close_output(const Tool& tool, Exit code, int earlier = 0);
// How to read a WAV file, as every tool that reads one takes it: --channel left|right,
// --polarity auto|normal|inverted, and --invert for --polarity inverted.
struct WavReading {
  audio::EdgeSettings edges;    // the channel and the polarity; half waves are the tool's -b
  std::string polarity_option;  // "--polarity" or "--invert" when given, for messages
};
// True when `args` stands at one of those options: it is taken, with its value, into `wav`,
// and `code` is kOk, or kUsage (the error printed). False for any other.
bool wav_option(const Tool& tool, Args& args, WavReading& wav, Exit& code);

// The messages of the usual mistakes.
std::string needs_value(const std::string& option);
std::string takes_no_value(const std::string& option);
std::string unknown_option(const std::string& option);

}  // namespace tapewren::cli
