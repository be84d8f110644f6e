// The recorder's command line: options before two positional arguments.
#pragma once

#include "link/io.hpp"

namespace tapewren {

struct Settings {
  int machine_type = 0;    // 0 C64/Generic, 1 VIC20, 2 C16
  int video_standard = 0;  // 0 PAL, 1 NTSC
  int both_edges = 0;
  const char* port_name = nullptr;
  const char* out_path = nullptr;

  int edge_mode() const { return 2 * both_edges + 1; }
};

// Reads a decimal integer from the start of text the way scanf's "%d" does: leading white
// space, an optional sign, digits up to the first non-digit. False when no digit is found.
// Values beyond int saturate, so that they fail the range checks that follow.
bool scan_decimal(const char* text, int& value);

void print_usage(Console& console, const char* invocation);

constexpr int kRunRecording = -1;

// Walks the options and checks the positionals. Returns kRunRecording when the run may go ahead;
// otherwise the exit code, with its message or the usage text already printed.
int parse_command_line(int argc, char** argv, Console& console, Settings& settings);

}  // namespace tapewren
