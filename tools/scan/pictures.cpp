// The histogram and the map of a recording, as SVG pictures (and the histogram as text).
#include "pictures.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report.hpp"

namespace tapewren::scan {

namespace {

template <typename... Args>
void append(std::string& out, const char* format, Args... args) {
  char line[512];
  const int n = std::snprintf(line, sizeof line, format, args...);
  if (n > 0) out.append(line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
}

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') {
      out += c;
    }
  }
  return out;
}

// A step of 1, 2 or 5 times a power of ten that gives about `ticks` ticks over `range`.
double nice_step(double range, int ticks) {
  const double raw = range / ticks;
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * decade >= raw) return m * decade;
  return 10 * decade;
}

std::string count_label(double v) {
  char out[16];
  if (v >= 1e6) {
    std::snprintf(out, sizeof out, "%gM", v / 1e6);
  } else if (v >= 1e3) {
    std::snprintf(out, sizeof out, "%gk", v / 1e3);
  } else {
    std::snprintf(out, sizeof out, "%g", v);
  }
  return out;
}

// The bins of the histogram to show: those that hold pulses (pauses left out) and the marks,
// with a little room either side.
void bin_range(const tape::Histogram& h, const std::vector<tape::Mark>& marks, std::size_t& first,
               std::size_t& last) {
  first = 254;
  last = 1;
  for (std::size_t b = 1; b <= 254; ++b) {
    if (h[b] == 0) continue;
    first = std::min(first, b);
    last = std::max(last, b);
  }
  for (const auto& m : marks) {
    if (m.cycles <= 0) continue;
    const auto b = std::min<std::size_t>(254, static_cast<std::size_t>(m.cycles / 8));
    first = std::min(first, b);
    last = std::max(last, b);
  }
  if (first > last) first = last = 1;
  first = first > 3 ? first - 3 : 1;
  last = std::min<std::size_t>(last + 3, 254);
}

const char* verdict_colour(tape::Verdict v) {
  switch (v) {
    case tape::Verdict::kOk:
      return "#2ca02c";
    case tape::Verdict::kRepaired:
      return "#17becf";
    case tape::Verdict::kBad:
      return "#ff7f0e";
    case tape::Verdict::kIncomplete:
      return "#d62728";
    case tape::Verdict::kNamed:
      return "#7f7f7f";
    case tape::Verdict::kUnverified:
      return "#bcbd22";
  }
  return "#7f7f7f";
}

}  // namespace

std::string histogram_text(const tape::Histogram& h, const std::vector<tape::Mark>& marks,
                           const Caption& caption) {
  const double us_per_bin = 8e6 / caption.clock_hz;  // a bin is 8 cycles
  std::size_t first = 1, last = 1;
  bin_range(h, marks, first, last);
  std::uint64_t top = 1;
  for (std::size_t b = first; b <= last; ++b) top = std::max(top, h[b]);
  std::string out;
  append(out, "# pulse lengths of %s (%s): bins of 8 cycles (%.2f us), log scale\n",
         caption.recording.c_str(), caption.machine.c_str(), us_per_bin);
  append(out, "# %12s %10s\n", "bin from", "pulses");
  std::vector<tape::Mark> sorted = marks;
  std::sort(sorted.begin(), sorted.end(),
            [](const tape::Mark& a, const tape::Mark& b) { return a.cycles < b.cycles; });
  for (std::size_t b = first; b <= last; ++b) {
    if (h[b] > 0) {
      const auto bar =
          static_cast<std::size_t>(std::lround(50 * std::log10(1.0 + static_cast<double>(h[b])) /
                                               std::log10(1.0 + static_cast<double>(top))));
      append(out, "  %9.1f us %10llu %s\n", static_cast<double>(b) * us_per_bin,
             static_cast<unsigned long long>(h[b]), std::string(bar, '#').c_str());
    }
    // A mark goes after the bin it falls in, whether that bin holds pulses or not.
    for (const auto& m : sorted)
      if (m.cycles > 0 && static_cast<std::size_t>(m.cycles / 8) == b)
        append(out, "  %9.1f us %10s <- %s%s\n", m.cycles * 1e6 / caption.clock_hz, "",
               m.name.c_str(), m.threshold ? " (threshold)" : "");
  }
  return out;
}

std::string histogram_svg(const tape::Histogram& h, const std::vector<tape::Mark>& marks,
                          const Caption& caption) {
  const double us_per_bin = 8e6 / caption.clock_hz;
  std::size_t first = 1, last = 1;
  bin_range(h, marks, first, last);
  std::uint64_t top = 1, total = 0;
  for (std::size_t b = first; b <= last; ++b) {
    top = std::max(top, h[b]);
    total += h[b];
  }
  const double width = 900, height = 420, left = 70, right = 30, plot_top = 60, bottom = 360;
  const double plot_w = width - left - right, plot_h = bottom - plot_top;
  const double x0 = static_cast<double>(first) * us_per_bin;
  const double x1 = static_cast<double>(last + 1) * us_per_bin;
  const double decades = std::max(1.0, std::ceil(std::log10(static_cast<double>(top) + 1)));
  const auto x = [&](double us) { return left + plot_w * (us - x0) / (x1 - x0); };
  const auto y = [&](double count) {
    return bottom - plot_h * std::log10(1 + count) / decades;  // log scale, 0 on the axis
  };
  std::string out;
  append(out,
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
         "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n"
         "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
         width, height, width, height);
  append(out, "<text x=\"%.0f\" y=\"22\" font-size=\"15\">Pulse lengths of %s</text>\n", left,
         escaped(caption.recording).c_str());
  append(out,
         "<text x=\"%.0f\" y=\"40\">%s, %llu pulses, pauses left out; bins of 8 cycles</text>\n",
         left, escaped(caption.machine).c_str(), static_cast<unsigned long long>(total));
  // The y axis: a tick at each power of ten.
  for (int d = 0; d <= static_cast<int>(decades); ++d) {
    const double count = std::pow(10.0, d);
    const double at = bottom - plot_h * std::log10(1 + count) / decades;
    if (at < plot_top - 0.5) break;
    append(out,
           "<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\" stroke=\"#ddd\"/>\n"
           "<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\">%s</text>\n",
           left, at, left + plot_w, at, left - 6, at + 4, count_label(count).c_str());
  }
  append(out,
         "<text transform=\"translate(16 %.0f) rotate(-90)\" text-anchor=\"middle\">pulses "
         "(log scale)</text>\n",
         plot_top + plot_h / 2);
  for (std::size_t b = first; b <= last; ++b) {
    if (h[b] == 0) continue;
    const double bx = x(static_cast<double>(b) * us_per_bin);
    const double bw = std::max(1.0, x(static_cast<double>(b + 1) * us_per_bin) - bx);
    const double by = y(static_cast<double>(h[b]));
    append(out, "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"steelblue\"/>\n",
           bx, by, bw, bottom - by);
  }
  // The x axis in microseconds.
  append(out, "<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"black\"/>\n", left,
         bottom, left + plot_w, bottom);
  append(out, "<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"black\"/>\n", left,
         plot_top, left, bottom);
  const double step = nice_step(x1 - x0, 10);
  for (int k = 0; std::ceil(x0 / step) * step + k * step <= x1; ++k) {
    const double us = std::ceil(x0 / step) * step + k * step;
    append(out,
           "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"black\"/>"
           "<text x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">%g</text>\n",
           x(us), bottom, x(us), bottom + 5, x(us), bottom + 19, us);
  }
  append(out, "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\">pulse length (us)</text>\n",
         left + plot_w / 2, bottom + 40);
  // The marks: a class's center solid, a threshold dashed; their labels upright along them.
  for (const auto& m : marks) {
    if (m.cycles <= 0) continue;
    const double at = x(m.cycles * 1e6 / caption.clock_hz);
    const char* colour = m.threshold ? "#e6550d" : "crimson";
    append(out,
           "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"%s\"%s/>\n"
           "<text transform=\"translate(%.1f %.0f) rotate(-90)\" text-anchor=\"end\" "
           "fill=\"%s\" font-size=\"11\">%s</text>\n",
           at, plot_top, at, bottom, colour, m.threshold ? " stroke-dasharray=\"4 3\"" : "", at - 3,
           plot_top + 4, colour, escaped(m.name).c_str());
  }
  out += "</svg>\n";
  return out;
}

PulseMap::PulseMap() : cells_(kColumns * kRows, 0), rows_(kRows, 0) {}

void PulseMap::pulses(const std::uint64_t* time, const std::uint32_t* length, std::size_t count,
                      std::uint64_t end_time) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t row = length[i] >> 3;  // 4 cycles: 8 half cycles
    if (row >= kRows) continue;                // pauses: no dots
    while ((time[i] >> shift_) >= kColumns) fold();
    std::uint16_t& cell = cells_[(time[i] >> shift_) * kRows + row];
    if (cell < 0xFFFF) ++cell;
    ++rows_[row];
  }
  now_ = std::max(now_, end_time);
}

void PulseMap::fold() {
  for (std::size_t c = 0; c < kColumns / 2; ++c)
    for (std::size_t r = 0; r < kRows; ++r) {
      const unsigned sum = unsigned{cells_[2 * c * kRows + r]} + cells_[(2 * c + 1) * kRows + r];
      cells_[c * kRows + r] = static_cast<std::uint16_t>(std::min(sum, 0xFFFFu));
    }
  std::fill(cells_.begin() + kColumns / 2 * kRows, cells_.end(), 0);
  ++shift_;
}

std::string PulseMap::svg(const Caption& caption, const std::vector<FilePlace>& files,
                          const std::vector<tape::Stretch>& unrecognised) const {
  const double half_cycles_per_us = 2 * caption.clock_hz / 1e6;
  const double seconds = static_cast<double>(now_) / (2 * caption.clock_hz);
  // The rows that hold all but the rarest pulses (stray noise would squash the classes).
  std::uint64_t total = 0;
  for (auto n : rows_) total += n;
  std::size_t first = 0, last = kRows - 1;
  if (total > 0) {
    std::uint64_t below = 0;
    while (first < kRows - 1 && below + rows_[first] <= total / 2000) below += rows_[first++];
    std::uint64_t above = 0;
    while (last > first && above + rows_[last] <= total / 2000) above += rows_[last--];
  }
  const double us_per_row = 8 / half_cycles_per_us;
  double y0 = static_cast<double>(first) * us_per_row,
         y1 = static_cast<double>(last + 1) * us_per_row;
  const double pad = (y1 - y0) * 0.08 + us_per_row;
  y0 = std::max(0.0, y0 - pad);
  y1 += pad;
  const double width = 1200, left = 70, right = 30, plot_top = 60, plot_h = 380;
  const double plot_w = width - left - right, bottom = plot_top + plot_h;
  const double band_y = bottom + 42, band_h = 16, height = band_y + band_h + 50;
  const double t1 = std::max(seconds, 1.0);
  const auto x = [&](double s) { return left + plot_w * s / t1; };
  const auto y = [&](double us) { return bottom - plot_h * (us - y0) / (y1 - y0); };
  std::string out;
  append(out,
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
         "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n"
         "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
         width, height, width, height);
  append(out, "<text x=\"%.0f\" y=\"22\" font-size=\"15\">Map of %s</text>\n", left,
         escaped(caption.recording).c_str());
  append(out, "<text x=\"%.0f\" y=\"40\">%s, %s; every pulse a dot, darker where more</text>\n",
         left, escaped(caption.machine).c_str(), clock_text(seconds).c_str());
  // What nothing accounted for, shaded behind the dots.
  for (const auto& s : unrecognised)
    append(out,
           "<rect x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"%.0f\" fill=\"#fde0dd\"><title>not "
           "recognised</title></rect>\n",
           x(s.start), plot_top, std::max(1.0, x(s.start + s.length) - x(s.start)), plot_h);
  // The dots: each cell's count in four shades, runs of a shade along a row as one rectangle.
  const std::size_t used = std::min<std::size_t>(kColumns, (now_ >> shift_) + 1);
  std::uint16_t top = 1;
  for (std::size_t c = 0; c < used; ++c)
    for (std::size_t r = first; r <= last; ++r) top = std::max(top, cells_[c * kRows + r]);
  const double column_s = static_cast<double>(std::uint64_t{1} << shift_) / (2 * caption.clock_hz);
  static const char* const kShades[] = {"#9ecae1", "#4292c6", "#08519c", "#08306b"};
  std::string runs[4];
  for (std::size_t r = first; r <= last; ++r) {
    const double ry = y(static_cast<double>(r + 1) * us_per_row);
    const double rh = std::max(0.6, y(static_cast<double>(r) * us_per_row) - ry);
    std::size_t c = 0;
    while (c < used) {
      const std::uint16_t n = cells_[c * kRows + r];
      if (n == 0) {
        ++c;
        continue;
      }
      const auto shade = std::min<std::size_t>(
          3, static_cast<std::size_t>(4 * std::log(1.0 + n) / std::log(2.0 + top)));
      std::size_t end = c + 1;
      while (end < used && cells_[end * kRows + r] != 0 &&
             std::min<std::size_t>(
                 3, static_cast<std::size_t>(4 * std::log(1.0 + cells_[end * kRows + r]) /
                                             std::log(2.0 + top))) == shade)
        ++end;
      const double cx = x(static_cast<double>(c) * column_s);
      const double cw = std::max(0.8, x(static_cast<double>(end) * column_s) - cx);
      append(runs[shade], "M%.1f %.1fh%.1fv%.1fh-%.1fz", cx, ry, cw, rh, cw);
      c = end;
    }
  }
  for (int s = 0; s < 4; ++s)
    if (!runs[s].empty())
      out += std::string("<path fill=\"") + kShades[s] + "\" d=\"" + runs[s] + "\"/>\n";
  // The axes: time in minutes and seconds, pulse lengths in microseconds.
  append(out,
         "<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"black\"/>\n"
         "<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"black\"/>\n",
         left, bottom, left + plot_w, bottom, left, plot_top, left, bottom);
  double tstep = nice_step(t1, 12);
  for (double s :
       {1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0, 900.0, 1800.0, 3600.0})
    if (s >= tstep) {
      tstep = s;
      break;
    }
  for (int k = 0; k * tstep <= t1 + 1e-9; ++k) {
    const double s = k * tstep;
    append(out,
           "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"black\"/>"
           "<text x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">%s</text>\n",
           x(s), bottom, x(s), bottom + 5, x(s), bottom + 19, clock_text(s).c_str());
  }
  const double ustep = nice_step(y1 - y0, 8);
  for (int k = 0; std::ceil(y0 / ustep) * ustep + k * ustep <= y1; ++k) {
    const double us = std::ceil(y0 / ustep) * ustep + k * ustep;
    append(out,
           "<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\" stroke=\"#ddd\"/>"
           "<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\">%g</text>\n",
           left, y(us), left + plot_w, y(us), left - 6, y(us) + 4, us);
  }
  append(out,
         "<text transform=\"translate(16 %.0f) rotate(-90)\" text-anchor=\"middle\">pulse length "
         "(us)</text>\n",
         plot_top + plot_h / 2);
  // The files: a band each in the colour of its verdict, the bytes that failed marked on it.
  append(out, "<text x=\"%.0f\" y=\"%.0f\">files</text>\n", left, band_y - 6);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto& f = files[i];
    const double fx = x(f.seconds), fw = std::max(1.5, x(f.end_seconds) - fx);
    append(out,
           "<rect x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"%.0f\" fill=\"%s\"><title>%s: "
           "%s</title></rect>\n",
           fx, band_y, fw, band_h, verdict_colour(f.verdict), escaped(f.label).c_str(),
           tape::verdict_text(f.verdict));
    for (double at : f.bad_at)
      append(out,
             "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"black\" "
             "stroke-width=\"1.5\"/>\n",
             x(at), band_y - 3, x(at), band_y + band_h + 3);
    append(out, "<text x=\"%.1f\" y=\"%.0f\" font-size=\"10\">%s</text>\n", fx,
           band_y + band_h + 12 + 11 * static_cast<double>(i % 2), escaped(f.label).c_str());
  }
  // The legend.
  double lx = width - right - 504;
  for (auto v : {tape::Verdict::kOk, tape::Verdict::kRepaired, tape::Verdict::kBad,
                 tape::Verdict::kIncomplete, tape::Verdict::kNamed, tape::Verdict::kUnverified}) {
    append(out,
           "<rect x=\"%.0f\" y=\"30\" width=\"10\" height=\"10\" fill=\"%s\"/>"
           "<text x=\"%.0f\" y=\"39\" font-size=\"11\">%s</text>\n",
           lx, verdict_colour(v), lx + 13, tape::verdict_text(v));
    lx += 84;
  }
  out += "</svg>\n";
  return out;
}

}  // namespace tapewren::scan
