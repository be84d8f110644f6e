// The table of files or their JSON lines, the summary, and the extraction of tapewren-scan.
#include "report.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "json.hpp"
#include "platform/tool_io.hpp"

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

// The file's notes, each in brackets, after its verdict.
std::string notes_text(const tape::TapeFile& f) {
  std::string v;
  for (const auto& note : f.notes) v += " (" + note + ")";
  return v;
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
  return v + notes_text(f);
}

}  // namespace

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

std::string copies_text(const tape::TapeFile& f) {
  return f.body_blocks > 0 ? block_text(f, f.body, true) : block_text(f, f.header, true);
}

std::string copies_text(const tape::Matched& parts, std::size_t r) {
  std::vector<std::string> texts;
  for (const auto& row : parts) texts.push_back(row[r] ? copies_text(*row[r]) : "-");
  if (std::all_of(texts.begin(), texts.end(), [&](const std::string& t) { return t == texts[0]; }))
    return texts[0];
  std::string out;
  for (const auto& t : texts) out += (out.empty() ? "" : "+") + t;
  return out;
}

namespace {

// Whether a file (itself, not what a link points to) holds exactly these bytes.
bool holds(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(path, ec)) || fs::file_size(path, ec) != bytes.size())
    return false;
  std::ifstream in(path, std::ios::binary);
  std::vector<char> there(bytes.size());
  in.read(there.data(), static_cast<std::streamsize>(there.size()));
  return static_cast<std::size_t>(in.gcount()) == bytes.size() &&
         std::equal(bytes.begin(), bytes.end(), there.begin(),
                    [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
}

std::string percent(double part, double whole) {
  char out[16];
  std::snprintf(out, sizeof out, "%.1f %%", whole > 0 ? 100 * part / whole : 0.0);
  return out;
}

}  // namespace

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
  out += std::string("machine ") + tape::machine_text(s.machine) + (s.video ? " NTSC" : " PAL") +
         " (" + (s.machine_guessed ? "guessed from the loaders found" : a.machine) + "), " +
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

std::string status_text(const tape::Summary& s, const Counts& c) {
  const int bad = c.verdicts[2] + c.verdicts[3];
  return clock_text(s.seconds) + " of tape so far, " +
         percent(s.block_seconds + s.pause_seconds, s.seconds) + " recognised; " +
         std::to_string(c.files) + " files, " + std::to_string(bad) + " bad or incomplete";
}

std::string hex(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", v);
  return text;
}

std::string counts_text(const Counts& c) {
  char line[200];
  std::snprintf(line, sizeof line,
                "%d files: %d ok, %d repaired, %d bad, %d incomplete, %d named only", c.files,
                c.verdicts[0], c.verdicts[1], c.verdicts[2], c.verdicts[3], c.verdicts[4]);
  std::string out = line;
  if (c.verdicts[5] > 0) out += ", " + std::to_string(c.verdicts[5]) + " unverified";
  return out;
}

namespace {

std::string copy_json(const tape::CopyReport& c) {
  return JsonObject()
      .boolean("found", c.found)
      .text("state", c.found ? copy_text(c) : "")  // the table's "-" is no state
      .boolean("complete", c.complete)
      .integer("bad_bytes", c.bad_bytes)
      .boolean("checksum_ok", c.checksum_ok)
      .integer_or_null("checksum_found", c.sum_found)
      .integer_or_null("checksum_computed", c.sum_computed)
      .str();
}

// A block of the file's own (header or data), with each copy; null when there is none.
std::string part_json(const tape::TapeFile& f, const tape::BlockReport& b, bool present) {
  if (!present) return "null";
  std::string copies = "[" + copy_json(b.copy[0]);
  if (f.loader->copies) copies += "," + copy_json(b.copy[1]);
  return JsonObject().raw("copies", copies + "]").integer("from_repeat", b.taken_from_repeat).str();
}

std::string block_json(const tape::BlockRead& b) {
  std::string bad = "[";
  for (std::size_t i = 0; i < b.bad.size(); ++i) bad += (i ? "," : "") + std::to_string(b.bad[i]);
  return JsonObject()
      .text("role", b.role)
      .integer("copy", b.copy)
      .integer("offset", static_cast<long long>(b.offset))
      .number("seconds", b.seconds)
      .number("end_seconds", b.end_seconds)
      .integer_or_null("start", b.start)
      .integer("size", static_cast<long long>(b.size))
      .raw("state", copy_json(b.state))
      .raw("bad", bad + "]")
      .str();
}

}  // namespace

std::string file_json(const tape::TapeFile& f, int number, const std::string& recording,
                      const std::string& extracted) {
  const bool addresses = f.kind == Kind::kProgram || f.kind == Kind::kHeaderOnly;
  const bool header = f.header.copy[0].found || f.header.copy[1].found;
  std::string name_bytes;
  for (std::uint8_t c : f.name) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", c);
    name_bytes += two;
  }
  std::string notes = "[";
  for (std::size_t i = 0; i < f.notes.size(); ++i)
    notes += (i ? "," : "") + json_string(f.notes[i]);
  std::string blocks = "[";
  for (std::size_t i = 0; i < f.blocks.size(); ++i)
    blocks += (i ? "," : "") + block_json(f.blocks[i]);
  // The data's check byte, from the copy the file was read from.
  const tape::CopyReport& data_copy = f.body.copy[0].found ? f.body.copy[0] : f.body.copy[1];
  const std::string checksum = data_copy.sum_found < 0
                                   ? "null"
                                   : JsonObject()
                                         .integer("found", data_copy.sum_found)
                                         .integer("computed", data_copy.sum_computed)
                                         .str();
  JsonObject o;
  o.text("type", "file")
      .integer("version", kJsonVersion)
      .text("recording", recording)
      .integer("number", number)
      .integer("offset", static_cast<long long>(f.offset))
      .integer_or_null("end_offset", f.end_offset > 0 ? static_cast<long long>(f.end_offset) : -1)
      .number("seconds", f.seconds)
      .number("end_seconds", f.end_seconds)
      .text("loader", f.loader->name)
      .text("kind", kind_text(f.kind))
      .integer("type_byte", f.type)
      .text("name", tape::readable_name(f.name))
      .text("name_bytes", name_bytes)
      .integer_or_null("start", addresses ? f.start : -1)
      .integer_or_null("end", addresses ? f.end : -1)
      .integer_or_null("size", f.body_blocks > 0 ? static_cast<long long>(f.data.size()) : -1)
      .raw("header", part_json(f, f.header, header))
      .raw("data", part_json(f, f.body, f.body_blocks > 0))
      .integer("data_blocks", f.body_blocks)
      .text("verdict", tape::verdict_text(f.verdict))
      .text("verdict_text", verdict_line(f))
      .raw("notes", notes + "]")
      .boolean("loader_checksum", f.loader->checksum)
      .raw("checksum", checksum)
      .text("crc32", hex(tape::crc32(f.data)))
      .raw("blocks", blocks + "]");
  if (!extracted.empty()) o.text("extracted", extracted);
  return o.str() + "\n";
}

std::string merged_verdict(const tape::TapeFile& f) {
  return tape::verdict_text(f.verdict) + notes_text(f);
}

Held held_whole(const tape::Matched& parts, std::size_t r) {
  std::vector<std::uint8_t> data;
  std::size_t held = 0;
  for (const auto& row : parts) {
    const tape::TapeFile* f = row[r];
    if (!f) continue;
    ++held;
    if (!tape::is_good(*f)) return {tape::verdict_text(f->verdict), ""};
    data.insert(data.end(), f->data.begin(), f->data.end());
  }
  if (held == 0) return {"missing", ""};
  if (held < parts.size()) return {"blocks missing", ""};
  return {"good", hex(tape::crc32(data))};
}

namespace {

// The fields that say which file a merged or compared one is.
JsonObject& which_file(JsonObject& o, const tape::TapeFile& f, int number) {
  const bool addresses = f.kind == Kind::kProgram || f.kind == Kind::kHeaderOnly;
  return o.integer("number", number)
      .text("loader", f.loader->name)
      .text("kind", kind_text(f.kind))
      .text("name", tape::readable_name(f.name))
      .integer_or_null("start", addresses ? f.start : -1)
      .integer_or_null("end", addresses ? f.end : -1)
      .integer_or_null("size", f.body_blocks > 0 ? static_cast<long long>(f.data.size()) : -1);
}

std::string takes_json(const std::vector<Take>& takes) {
  std::string out = "[";
  for (std::size_t i = 0; i < takes.size(); ++i)
    out += (i ? "," : "") + JsonObject()
                                .text("label", takes[i].label)
                                .text("recording", takes[i].recording)
                                .integer("files", takes[i].files)
                                .integer("good", takes[i].good)
                                .text("fingerprint", hex(takes[i].fingerprint))
                                .str();
  return out + "]";
}

}  // namespace

std::string merged_json(const tape::MergedFile& m, int number, const std::vector<Take>& takes,
                        const std::string& extracted) {
  const tape::TapeFile& f = m.file;
  std::string copies = "[";
  for (std::size_t r = 0; r < takes.size(); ++r) {
    const std::string held = copies_text(m.parts, r);
    copies += (r ? "," : "") + JsonObject()
                                   .text("label", takes[r].label)
                                   .text("recording", takes[r].recording)
                                   .raw("held", held == "-" ? "null" : json_string(held))
                                   .boolean("good_alone", m.good_in[r])
                                   .str();
  }
  std::string notes = "[";
  for (std::size_t i = 0; i < f.notes.size(); ++i)
    notes += (i ? "," : "") + json_string(f.notes[i]);
  JsonObject o;
  o.text("type", "merged_file").integer("version", kJsonVersion);
  which_file(o, f, number)
      .raw("copies", copies + "]")
      .text("crc32", hex(tape::crc32(f.data)))
      .text("verdict", tape::verdict_text(f.verdict))
      .text("verdict_text", merged_verdict(f))
      .raw("notes", notes + "]")
      .boolean("only_by_merging", m.only_by_merging)
      .integer_or_null("conflict_at", m.conflict_at)
      .integer("conflicts", m.conflicts);
  if (!extracted.empty()) o.text("extracted", extracted);
  return o.str() + "\n";
}

std::string merge_json(const std::vector<Take>& takes, const Counts& c, std::uint32_t fingerprint,
                       int only_by_merging) {
  return JsonObject()
             .text("type", "merge")
             .integer("version", kJsonVersion)
             .raw("recordings", takes_json(takes))
             .verdict_counts(c.files, c.verdicts)
             .text("fingerprint", hex(fingerprint))
             .integer("only_by_merging", only_by_merging)
             .str() +
         "\n";
}

std::string compared_json(const tape::MergedFile& m, const tape::Comparison& c, int number,
                          const std::vector<Take>& takes) {
  std::string copies = "[";
  for (std::size_t r = 0; r < takes.size(); ++r) {
    const Held held = held_whole(m.parts, r);
    copies +=
        (r ? "," : "") + JsonObject()
                             .text("label", takes[r].label)
                             .text("recording", takes[r].recording)
                             .text("state", held.state)
                             .raw("crc32", held.crc32.empty() ? "null" : json_string(held.crc32))
                             .str();
  }
  JsonObject o;
  o.text("type", "compared_file").integer("version", kJsonVersion);
  which_file(o, m.file, number)
      .raw("copies", copies + "]")
      .boolean("same", c.same)
      .integer_or_null("differ_at", c.differ_at);
  return o.str() + "\n";
}

std::string comparison_json(const std::vector<Take>& takes, int files, int differ) {
  return JsonObject()
             .text("type", "comparison")
             .integer("version", kJsonVersion)
             .raw("recordings", takes_json(takes))
             .integer("files", files)
             .integer("differ", differ)
             .boolean("same", files > 0 && differ == 0)
             .str() +
         "\n";
}

std::string summary_json(const tape::Summary& s, const Assumptions& a, const Counts& c,
                         std::uint32_t fingerprint, const std::string& recording,
                         const std::string& format) {
  std::string stretches = "[";
  for (std::size_t i = 0; i < s.unrecognised.size(); ++i)
    stretches +=
        (i ? "," : "") + JsonObject()
                             .number("start", s.unrecognised[i].start)
                             .number("end", s.unrecognised[i].start + s.unrecognised[i].length)
                             .str();
  std::string marks = "[";
  for (std::size_t i = 0; i < s.marks.size(); ++i)
    marks += (i ? "," : "") + JsonObject()
                                  .text("name", s.marks[i].name)
                                  .number("cycles", s.marks[i].cycles, 1)
                                  .boolean("threshold", s.marks[i].threshold)
                                  .str();
  const double other = std::max(0.0, s.seconds - s.block_seconds - s.pause_seconds);
  return JsonObject()
             .text("type", "recording")
             .integer("version", kJsonVersion)
             .text("recording", recording)
             .text("format", format)
             .text("machine", tape::machine_text(s.machine))
             .text("video", s.video ? "NTSC" : "PAL")
             .text("machine_known",
                   s.machine_guessed ? "guessed from the loaders found" : a.machine)
             .boolean("half_waves", a.half_waves)
             .text("edges_known", a.edges)
             .number("seconds", s.seconds)
             .integer("pulses", static_cast<long long>(s.pulses))
             .number("block_seconds", s.block_seconds)
             .number("pause_seconds", s.pause_seconds)
             .number("unrecognised_seconds", other)
             .integer("block_pulses", static_cast<long long>(s.block_pulses))
             .number("recognised_share",
                     s.seconds > 0 ? (s.block_seconds + s.pause_seconds) / s.seconds : 0)
             .raw("unrecognised", stretches + "]")
             .raw("marks", marks + "]")
             .verdict_counts(c.files, c.verdicts)
             .text("fingerprint", hex(fingerprint))
             .str() +
         "\n";
}

Report::Report(ReportSettings settings, Channel& channel)
    : settings_(std::move(settings)), channel_(channel) {
  if (settings_.table && !settings_.json) channel_.out(header_row());
}

void Report::on_file(const tape::TapeFile& f) {
  ++counts_.files;
  ++counts_.verdicts[static_cast<int>(f.verdict)];
  fingerprint_.add(f);
  if (settings_.table && !settings_.json) channel_.out(file_row(f, counts_.files));
  const std::string written = settings_.extract_dir.empty() ? "" : extract(f);
  last_extracted_ = written;
  if (settings_.json) channel_.out(file_json(f, counts_.files, settings_.recording, written));
  if (const std::string own = tape::readable_name(f.name); !own.empty()) last_name_ = own;
  if (settings_.images) settings_.images->add(f);
  if (settings_.places) {
    FilePlace p;
    p.seconds = f.seconds;
    p.end_seconds = std::max(f.seconds, f.end_seconds);
    const std::string name = tape::readable_name(f.name);
    p.label = (name.empty() ? std::string() : name + " ") + "(" + f.loader->name + ")";
    p.verdict = f.verdict;
    for (const auto& b : f.blocks) {
      const double per_byte =
          b.size > 0 ? (b.end_seconds - b.seconds) / static_cast<double>(b.size) : 0;
      for (std::uint32_t i : b.bad) p.bad_at.push_back(b.seconds + per_byte * i);
      if (!b.state.complete) p.bad_at.push_back(b.end_seconds);  // where it was cut off
    }
    places_.push_back(std::move(p));
  }
}

void Report::finish(const tape::Summary& summary, const Assumptions& assumed) {
  if (settings_.json) {
    channel_.out(summary_json(summary, assumed, counts_, fingerprint_.value(), settings_.recording,
                              settings_.format));
  } else if (settings_.table) {
    char line[64];
    std::snprintf(line, sizeof line, "; fingerprint %08x\n", fingerprint_.value());
    channel_.out(counts_text(counts_) + line + summary_text(summary, assumed));
  }
}

// The file written whole under a temporary name, then given the first free one: a name
// already taken, by an earlier file or by anything in the folder, gets a number, counted on
// from where the last file of that name stopped. A file found on the way that holds these very
// bytes (from an earlier run: this run's own are behind the count) is left as it is, and no
// copy is added. The path written or found, or "".
std::string Report::extract(const tape::TapeFile& f) {
  const bool good = tape::is_good(f);
  if (f.data.empty() || (!good && !settings_.keep_bad)) return "";
  // A file whose name reads as nothing (a turbo block without one, a file saved without one) is
  // called after the name before it, as the disk images call it.
  std::string name = tape::safe_file_name(f.name);
  if (f.kind == Kind::kDataWithoutHeader) {
    name = "NO HEADER AT " + std::to_string(f.offset);
  } else if (tape::readable_name(f.name).empty()) {
    name = tape::safe_name(tape::nameless_name(last_name_, counts_.files, f.start), "TAPE");
  }
  if (!good) name += std::string(" (") + tape::verdict_text(f.verdict) + ")";
  const char* ext = f.kind == Kind::kProgram ? ".prg" : f.kind == Kind::kDataFile ? ".seq" : ".bin";
  std::vector<std::uint8_t> bytes;
  if (f.kind == Kind::kProgram)
    bytes = {static_cast<std::uint8_t>(f.start), static_cast<std::uint8_t>(f.start >> 8)};
  bytes.insert(bytes.end(), f.data.begin(), f.data.end());
  const std::string& dir = settings_.extract_dir;
  platform::OutputFile out;
  std::string path = dir + "/" + name + ext;
  bool written = out.create_in(dir) && out.write(bytes.data(), bytes.size());
  bool same = false;
  int& number = next_number_[name + ext];
  for (number = std::max(number, 1); written && !same; ++number) {
    path = dir;
    path.append("/").append(name);
    if (number > 1) path.append("~").append(std::to_string(number));
    path.append(ext);
    if (out.commit(path)) break;
    written = out.name_taken();
    same = written && holds(path, bytes);
  }
  if (!written) {
    channel_.err("tapewren-scan: " + path + ": " + out.error() + "\n");
    extracted_ = false;
    return "";
  }
  if (!same) ++number;
  if (!settings_.json && !settings_.quiet)
    channel_.out(same ? "same as " + path + ", left as it is\n"
                      : "wrote " + path + " (" + std::to_string(bytes.size()) + " bytes)\n");
  return path;
}

}  // namespace tapewren::scan
