// The table of files, their extraction and the histogram of tapewren-scan.
#include "report.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/tool_io.hpp"

#if defined(_WIN32)
#include <direct.h>
#define mkdir(path, mode) _mkdir(path)
#endif

namespace tapewren::scan {

namespace {

using tape::Kind;
using tape::Verdict;

// One copy of a block: ok, - (not found), cut (ended early), Ne (N bad bytes), sum (checksum).
std::string copy_text(const tape::CopyReport& c) {
  if (!c.found) return "-";
  if (!c.complete) return "cut";
  if (c.bad_bytes > 0) return std::to_string(c.bad_bytes) + "e";
  return c.checksum_ok ? "ok" : "sum";
}

std::string block_text(const tape::TapeFile& f, const tape::BlockReport& b, bool present) {
  if (!present) return "";
  if (!f.loader->copies) return copy_text(b.copy[0]);
  return copy_text(b.copy[0]) + " " + copy_text(b.copy[1]);
}

std::string verdict_line(const tape::TapeFile& f) {
  std::string v = tape::verdict_text(f.verdict);
  if (f.verdict == Verdict::kOk && !f.loader->checksum) v += " (no checksum)";
  const int repaired = f.header.taken_from_repeat + f.body.taken_from_repeat;
  if (f.verdict == Verdict::kRepaired)
    v += repaired > 0 ? " (" + std::to_string(repaired) + " bytes from the repeat)"
                      : " (from the repeat)";
  if (f.kind == Kind::kHeaderOnly) v += " (no data)";
  if (f.kind == Kind::kDataWithoutHeader) v += " (no header)";
  for (const auto& note : f.notes) v += " (" + note + ")";
  return v;
}

const char* kind_text(Kind k) {
  switch (k) {
    case Kind::kProgram:
      return "program";
    case Kind::kDataFile:
      return "data file";
    case Kind::kHeaderOnly:
      return "header";
    case Kind::kDataWithoutHeader:
      return "data";
    case Kind::kNamed:
      return "named";
  }
  return "";
}

// printf into a string.
template <typename... Args>
void append(std::string& out, const char* format, Args... args) {
  char line[512];
  const int n = std::snprintf(line, sizeof line, format, args...);
  if (n > 0) out.append(line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
}

// m:ss, or h:mm:ss from an hour on.
std::string clock_text(double seconds) {
  const auto s = static_cast<long>(seconds);
  char out[32];
  if (s >= 3600) {
    std::snprintf(out, sizeof out, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(out, sizeof out, "%ld:%02ld", s / 60, s % 60);
  }
  return out;
}

std::string percent(double part, double whole) {
  char out[16];
  std::snprintf(out, sizeof out, "%.1f %%", whole > 0 ? 100 * part / whole : 0.0);
  return out;
}

const char* const kMachines[] = {"C64", "VIC20", "C16"};

// Whether a file has a name of its own: in a header block, or in its loader's block.
bool named(const tape::TapeFile& f) {
  return f.header.copy[0].found || f.header.copy[1].found || !tape::readable_name(f.name).empty();
}

}  // namespace

std::string header_row() {
  char line[256];
  std::snprintf(line, sizeof line, "%3s %10s %7s  %-10s %-9s %-16s %5s %5s %5s  %-7s %-7s %s\n",
                "#", "offset", "time", "loader", "type", "name", "start", "end", "size", "header",
                "data", "verdict");
  return line;
}

std::string file_row(const tape::TapeFile& f, int number) {
  const bool addresses = f.kind == Kind::kProgram || f.kind == Kind::kHeaderOnly;
  // A header block of its own, as the ROM loaders and Turbo Tape write one.
  const bool header = f.header.copy[0].found || f.header.copy[1].found;
  const bool has_data = f.body_blocks > 0;
  char start[8] = "", end[8] = "", size[12] = "";
  if (addresses) {
    std::snprintf(start, sizeof start, "$%04X", f.start);
    std::snprintf(end, sizeof end, "$%04X", f.end);
  }
  if (has_data) std::snprintf(size, sizeof size, "%zu", f.data.size());
  char line[512];
  std::snprintf(line, sizeof line, "%3d %10llu %7s  %-10s %-9s %-16s %5s %5s %5s  %-7s %-7s %s\n",
                number, static_cast<unsigned long long>(f.offset), clock_text(f.seconds).c_str(),
                f.loader->name, kind_text(f.kind), tape::readable_name(f.name).c_str(), start, end,
                size, block_text(f, f.header, header).c_str(),
                block_text(f, f.body, has_data).c_str(), verdict_line(f).c_str());
  return line;
}

std::string summary_text(const tape::Summary& s, const Assumptions& a) {
  std::string out;
  out += std::string("machine ") + kMachines[s.machine] + (s.video ? " NTSC" : " PAL") + " (" +
         (s.machine_guessed ? "guessed from the loaders found" : a.machine) + "), " +
         (a.half_waves ? "half waves (both edges)" : "whole pulses (one edge)") + " (" + a.edges +
         ")\n";
  const double other = std::max(0.0, s.seconds - s.block_seconds - s.pause_seconds);
  out += clock_text(s.seconds) + " of tape: " + percent(s.block_seconds, s.seconds) +
         " in blocks, " + percent(s.pause_seconds, s.seconds) + " pauses, " +
         percent(other, s.seconds) + " not recognised; " + std::to_string(s.pulses) +
         " pulses: " + percent(static_cast<double>(s.block_pulses), static_cast<double>(s.pulses)) +
         " in blocks\n";
  for (const auto& stretch : s.unrecognised)
    out += clock_text(stretch.start) + "-" + clock_text(stretch.start + stretch.length) +
           " not recognised\n";
  return out;
}

Report::Report(bool table, const char* extract_dir, bool keep_bad)
    : table_(table), dir_(extract_dir), keep_bad_(keep_bad) {
  if (table_) std::fputs(header_row().c_str(), stdout);
  if (dir_ && mkdir(dir_, 0777) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "tapewren-scan: cannot create %s: %s\n", dir_, std::strerror(errno));
    dir_ = nullptr;
    extracted_ = false;
  }
}

void Report::on_file(const tape::TapeFile& f) {
  ++files_;
  ++count_[static_cast<int>(f.verdict)];
  fingerprint_.add(f);
  if (table_) std::fputs(file_row(f, files_).c_str(), stdout);
  if (dir_) extract(f);
  if (named(f)) boot_name_ = tape::safe_file_name(f.name);
}

void Report::finish(const tape::Summary& summary, const Assumptions& assumed) {
  if (!table_) return;
  std::printf(
      "%d files: %d ok, %d repaired, %d bad, %d incomplete, %d named only; fingerprint %08x\n",
      files_, count_[0], count_[1], count_[2], count_[3], count_[4], fingerprint_.value());
  std::fputs(summary_text(summary, assumed).c_str(), stdout);
}

void Report::extract(const tape::TapeFile& f) {
  const bool good = f.verdict == Verdict::kOk || f.verdict == Verdict::kRepaired;
  if (f.data.empty() || (!good && !keep_bad_)) return;
  std::string name = f.kind == Kind::kDataWithoutHeader ? "NO HEADER AT " + std::to_string(f.offset)
                                                        : tape::safe_file_name(f.name);
  if (f.kind == Kind::kProgram && !named(f)) {
    // A turbo block without a name of its own: named after the boot file before it, with its
    // place on the tape and its address, so that the files of a multi-load game sort in order.
    char place[32];
    std::snprintf(place, sizeof place, " %03d $%04X", files_, f.start);
    name = (boot_name_.empty() ? std::string("TAPE") : boot_name_) + place;
  }
  if (!good) name += std::string(" (") + tape::verdict_text(f.verdict) + ")";
  const char* ext = f.kind == Kind::kProgram ? ".prg" : f.kind == Kind::kDataFile ? ".seq" : ".bin";
  std::vector<std::uint8_t> bytes;
  if (f.kind == Kind::kProgram)
    bytes = {static_cast<std::uint8_t>(f.start), static_cast<std::uint8_t>(f.start >> 8)};
  bytes.insert(bytes.end(), f.data.begin(), f.data.end());
  // Written whole under a temporary name, then given the first free one: a name already
  // taken, by an earlier file or by anything in the folder, gets a number, counted on from
  // where the last file of that name stopped.
  platform::OutputFile out;
  std::string path = std::string(dir_) + "/" + name + ext;
  bool written = out.create_in(dir_) && out.write(bytes.data(), bytes.size());
  int& number = next_number_[name + ext];
  for (number = std::max(number, 1); written; ++number) {
    path = std::string(dir_) + "/" + name + (number > 1 ? "~" + std::to_string(number) : "") + ext;
    if (out.commit(path)) break;
    written = out.name_taken();
  }
  if (written) {
    ++number;
    std::printf("wrote %s (%zu bytes)\n", path.c_str(), bytes.size());
  } else {
    std::fprintf(stderr, "tapewren-scan: %s: %s\n", path.c_str(), out.error().c_str());
    extracted_ = false;
  }
}

bool write_histogram(const tape::Histogram& h, const std::vector<tape::Mark>& marks,
                     double clock_hz, const std::string& path, std::string& error) {
  const double us_per_bin = 8e6 / clock_hz;  // a bin is 8 cycles
  std::size_t first = 1, last = 254;         // the bins that hold pulses, pauses left out
  while (first < last && h[first] == 0) ++first;
  while (last > first && h[last] == 0) --last;
  double top = 1;
  for (std::size_t b = first; b <= last; ++b)
    top = std::max(top, std::log10(1.0 + static_cast<double>(h[b])));
  if (path == "-") {
    for (std::size_t b = first; b <= last; ++b) {
      if (h[b] == 0) continue;
      std::string label;
      for (const auto& m : marks)
        if (m.cycles > 0 && static_cast<std::size_t>(m.cycles / 8) == b) label += " <- " + m.name;
      const int bar =
          static_cast<int>(std::lround(50 * std::log10(1.0 + static_cast<double>(h[b])) / top));
      std::printf("%7.1f us %10llu %s%s\n", static_cast<double>(b) * us_per_bin,
                  static_cast<unsigned long long>(h[b]),
                  std::string(static_cast<std::size_t>(bar), '#').c_str(), label.c_str());
    }
    return true;
  }
  std::string out;
  const double width = 800, height = 320, left = 60, bottom = 280, plot_w = 720, plot_h = 250;
  const double x_max = static_cast<double>(last + 1) * us_per_bin;
  const auto x = [&](double us) { return left + plot_w * us / x_max; };
  append(out,
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
         "font-family=\"sans-serif\" font-size=\"11\">\n"
         "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n"
         "<text x=\"%.0f\" y=\"16\">pulse lengths (log count over microseconds)</text>\n",
         width, height, left);
  for (std::size_t b = first; b <= last; ++b) {
    const double bar = plot_h * std::log10(1.0 + static_cast<double>(h[b])) / top;
    if (bar > 0)
      append(out,
             "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"steelblue\"/>\n",
             x(static_cast<double>(b) * us_per_bin), bottom - bar,
             std::max(1.0, plot_w / static_cast<double>(last + 1)), bar);
  }
  append(out, "<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"black\"/>\n", left,
         bottom, left + plot_w, bottom);
  for (int us = 0; us <= x_max; us += 100)
    append(out, "<text x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">%d</text>\n", x(us),
           bottom + 16, us);
  for (const auto& m : marks) {
    if (m.cycles <= 0) continue;
    const double at = x(m.cycles * 1e6 / clock_hz);
    append(out,
           "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"crimson\" "
           "stroke-dasharray=\"4 3\"/>\n"
           "<text x=\"%.1f\" y=\"%.0f\" fill=\"crimson\">%s</text>\n",
           at, bottom - plot_h, at, bottom, at + 3, bottom - plot_h + 12, m.name.c_str());
  }
  out += "</svg>\n";
  platform::OutputFile file;
  const bool ok = file.create(path) &&
                  file.write(reinterpret_cast<const std::uint8_t*>(out.data()), out.size()) &&
                  file.commit();
  if (!ok) error = file.error();
  return ok;
}

}  // namespace tapewren::scan
