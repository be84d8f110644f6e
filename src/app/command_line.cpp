// Option walk of the recorder. Only the second character of an option counts, options end at
// the first element that does not start with '-', and -m / -v always take the next element.
#include "app/command_line.hpp"

#include <cctype>
#include <climits>

namespace tapewren {

bool scan_decimal(const char* text, int& value) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  long long magnitude = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    if (magnitude <= static_cast<long long>(INT_MAX) + 1) magnitude = magnitude * 10 + (*p - '0');
  }
  const long long signed_value = negative ? -magnitude : magnitude;
  value = signed_value > INT_MAX   ? INT_MAX
          : signed_value < INT_MIN ? INT_MIN
                                   : static_cast<int>(signed_value);
  return true;
}

void print_usage(Console& console, const char* invocation) {
  console.out("Usage: %s [options] <virtual serial port> <file>\n", invocation);
  console.out("\nOptions:\n");
  console.out("  -m <machine type> : 0 = C64/Generic, 1 = VIC20, 2 = C16\n");
  console.out("  -v <video standard> : 0 = PAL, 1 = NTSC\n");
  console.out("  -b : set both signal edges as active after first (default is single)\n");
  console.out("\nExamples:\n");
  console.out("  %s COM9 Master_Side_A.dmp\n", invocation);
}

int parse_command_line(int argc, char** argv, Console& console, Settings& settings) {
  const char* invocation = argc > 0 ? argv[0] : "tapewren-record";
  int remaining = argc;
  int cursor = 0;
  for (;;) {
    if (--remaining <= 0) break;
    const char* element = argv[++cursor];
    if (element[0] != '-') break;
    const char option = element[1];
    if (option == 'm' || option == 'v') {
      // A value must follow; the walk would otherwise run off the argument vector.
      if (cursor + 1 >= argc) {
        print_usage(console, invocation);
        return 1;
      }
      const char* text = argv[++cursor];
      --remaining;
      if (option == 'm') {
        scan_decimal(text, settings.machine_type);  // no number: the setting keeps its value
        if (settings.machine_type < 0 || settings.machine_type > 2) {
          console.err("Machine type can be either 0, 1, or 2.\n");
          return -2;
        }
      } else {
        scan_decimal(text, settings.video_standard);
        if (settings.video_standard < 0 || settings.video_standard > 1) {
          console.err("Video standard can be either 0, or 1.\n");
          return -3;
        }
      }
    } else if (option == 'b') {
      settings.both_edges = 1;
    }
    // Any other option, a lone "-" included, is ignored.
  }
  if (remaining != 2) {
    print_usage(console, invocation);
    return 1;
  }
  settings.port_name = argv[cursor];
  settings.out_path = argv[cursor + 1];
  return kRunRecording;
}

}  // namespace tapewren
