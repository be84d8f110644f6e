// The command-line conventions tapewren-scan, tapewren-convert and tapewren-sim share: options
// as `--name value` or `--name=value`, -h/--help and --version on standard output with exit 0,
// usage errors on standard error with exit 2, the one parser of numbers and machine names, and
// the one of the options that say how to read a WAV file.
#pragma once

#include <string>

#include "audio/wav_in.hpp"

namespace tapewren::cli {

constexpr int kUsageError = 2;

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

// "NAME: message" and a line pointing at --help on standard error; returns kUsageError.
int usage_error(const Tool& tool, const std::string& message);
// A text on standard output, its failure kept for close_output; returns 0.
int print(const std::string& text);
// The usage on standard output; returns 0.
int help(const Tool& tool);
// "NAME VERSION" on standard output; returns 0.
int version(const Tool& tool);
// Standard output flushed and closed, at the end: `code` when everything written to it got
// there; else "NAME: write error: REASON" on standard error and 1 (a signal's 128 + N kept),
// since a report that was lost is no success. `earlier`: the errno of a write that failed
// before, where the tool kept it.
int close_output(const Tool& tool, int code, int earlier = 0);
// How to read a WAV file, as every tool that reads one takes it: --channel left|right,
// --polarity auto|normal|inverted, and --invert for --polarity inverted.
struct WavReading {
  audio::EdgeSettings edges;    // the channel and the polarity; half waves are the tool's -b
  std::string polarity_option;  // "--polarity" or "--invert" when given, for messages
};
// True when `args` stands at one of those options: it is taken, with its value, into `wav`,
// and `code` is 0, or the usage error's status (the error printed). False for any other.
bool wav_option(const Tool& tool, Args& args, WavReading& wav, int& code);

// The messages of the usual mistakes.
std::string needs_value(const std::string& option);
std::string takes_no_value(const std::string& option);
std::string unknown_option(const std::string& option);

}  // namespace tapewren::cli
