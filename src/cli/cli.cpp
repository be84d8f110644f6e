// The command-line conventions of the tools.
#include "cli/cli.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#ifndef TAPEWREN_VERSION
#define TAPEWREN_VERSION "unknown"
#endif

namespace tapewren::cli {

bool parse_number(const std::string& text, long long low, long long high, long long& value) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative || (!text.empty() && text[0] == '+')) ++i;
  if (i == text.size() || text.size() - i > 19) return false;
  unsigned long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + static_cast<unsigned>(text[i] - '0');  // 19 digits at most: no overflow
  }
  if (v > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return false;
  const long long signed_v = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
  if (signed_v < low || signed_v > high) return false;
  value = signed_v;
  return true;
}

namespace {

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

int parse_machine(const std::string& text) {
  const std::string t = lower(text);
  if (t == "c64" || t == "0") return 0;
  if (t == "vic20" || t == "1") return 1;
  if (t == "c16" || t == "plus4" || t == "2") return 2;
  return -1;
}

int parse_video(const std::string& text) {
  const std::string t = lower(text);
  if (t == "pal" || t == "0") return 0;
  if (t == "ntsc" || t == "1") return 1;
  return -1;
}

bool Args::next() {
  if (++i_ >= argc_) return false;
  const std::string a = argv_[i_];
  has_inline_ = false;
  inline_.clear();
  option_ = !operands_only_ && a.size() > 1 && a[0] == '-';
  if (option_ && a == "--") {
    operands_only_ = true;
    return next();
  }
  name_ = a;
  if (option_ && a.rfind("--", 0) == 0) {
    const auto eq = a.find('=');
    if (eq != std::string::npos) {
      name_ = a.substr(0, eq);
      inline_ = a.substr(eq + 1);
      has_inline_ = true;
    }
  }
  return true;
}

bool Args::value(std::string& out) {
  if (has_inline_) {
    out = inline_;
    has_inline_ = false;  // taken
    return true;
  }
  if (i_ + 1 >= argc_) return false;
  out = argv_[++i_];
  return true;
}

Exit worst(Exit a, Exit b) {
  const auto rank = [](Exit e) {
    switch (e) {
      case Exit::kOk:
        return 0;
      case Exit::kNothing:
        return 1;
      case Exit::kBad:
        return 2;
      case Exit::kFailed:
      case Exit::kUsage:
        return 3;
    }
    return 4;  // a signal
  };
  return rank(b) > rank(a) ? b : a;
}

Exit usage_error(const Tool& tool, const std::string& message) {
  // The mistake and where to look, as common tools say it: forty lines of usage would bury it.
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", tool.name,
               message.c_str(), tool.name);
  return Exit::kUsage;
}

namespace {
// The reason the first write to standard output failed, for close_output: a text longer
// than the stream's buffer fails in the middle, and errno is gone by the time it closes.
int g_write_error = 0;
}  // namespace

Exit print(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && g_write_error == 0)
    g_write_error = errno;
  return Exit::kOk;
}

Exit help(const Tool& tool) {
  return print(tool.usage);
}

Exit version(const Tool& tool) {
  std::printf("%s %s\n", tool.name, TAPEWREN_VERSION);
  return Exit::kOk;
}

Exit close_output(const Tool& tool, Exit code, int earlier) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;  // writes again what a failed write left
  int error = earlier != 0 ? earlier : g_write_error != 0 ? g_write_error : errno;
  const bool clean = std::ferror(stdout) == 0;
  // Late errors of a network disk; not a stream that was never there and never written to.
  if (std::fclose(stdout) != 0 && error == 0 && errno != EBADF) error = errno;
  if (flushed && clean && error == 0) return code;
  std::fprintf(stderr, "%s: write error: %s\n", tool.name,
               error != 0 ? std::strerror(error) : "the output was cut short");
  return is_signal(code) ? code : Exit::kFailed;
}

bool wav_option(const Tool& tool, Args& args, WavReading& wav, Exit& code) {
  const std::string a = args.name();
  code = Exit::kOk;
  if (a == "--invert") {
    if (args.inline_value()) code = usage_error(tool, takes_no_value(a));
    wav.edges.polarity = -1;
    wav.polarity_option = a;
    return true;
  }
  if (a != "--polarity" && a != "--channel") return false;
  std::string v;
  if (!args.value(v)) {
    code = usage_error(tool, needs_value(a));
    return true;
  }
  v = lower(v);
  if (a == "--channel") {
    wav.edges.channel = v == "left" ? 0 : v == "right" ? 1 : -2;
    if (wav.edges.channel < -1) code = usage_error(tool, "--channel needs left or right");
    return true;
  }
  wav.edges.polarity = v == "auto" ? 0 : v == "normal" ? 1 : v == "inverted" ? -1 : 2;
  wav.polarity_option = a;
  if (wav.edges.polarity > 1) code = usage_error(tool, "--polarity needs auto, normal or inverted");
  return true;
}

std::string needs_value(const std::string& option) {
  return "option " + option + " needs a value";
}
std::string takes_no_value(const std::string& option) {
  return "option " + option + " takes no value";
}
std::string unknown_option(const std::string& option) {
  return "unknown option " + option;
}

}  // namespace tapewren::cli
