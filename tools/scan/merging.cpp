// Several recordings of one side, as tapewren-scan --merge and --compare show them: the
// files matched across the recordings, each rebuilt from all its copies (and extracted), or
// each recording's copy compared with the others'.
#include "merging.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "clean/clean.hpp"
#include "cli/recording_output.hpp"
#include "report.hpp"
#include "tape/merge.hpp"
#include "workers.hpp"

namespace tapewren::scan {

namespace {

using cli::Exit;
using tape::TapeFile;

// The recordings' short names in the table: a, b, c ...
std::string label(std::size_t i) {
  return i < 26 ? std::string(1, static_cast<char>('a' + i)) : "r" + std::to_string(i + 1);
}

// The columns that say which file a row is, from the copy it was made on.
std::string file_columns(const TapeFile& f, int number) {
  const bool addresses = f.kind == tape::Kind::kProgram || f.kind == tape::Kind::kHeaderOnly;
  char start[8] = "", end[8] = "", size[12] = "";
  if (addresses) {
    std::snprintf(start, sizeof start, "$%04X", f.start);
    std::snprintf(end, sizeof end, "$%04X", f.end);
  }
  if (f.body_blocks > 0) std::snprintf(size, sizeof size, "%zu", f.data.size());
  char line[256];
  std::snprintf(line, sizeof line, "%3d %-10s %-9s %-16s %5s %5s %5s", number, f.loader->name,
                kind_text(f.kind), tape::readable_name(f.name).c_str(), start, end, size);
  return line;
}

std::string heading(const char* last) {
  char line[256];
  std::snprintf(line, sizeof line, "%3s %-10s %-9s %-16s %5s %5s %5s  %s\n", "#", "loader", "type",
                "name", "start", "end", "size", last);
  return line;
}

std::string padded(std::string text, std::size_t width) {
  text.resize(std::max(width, text.size()), ' ');
  return text;
}

// A copies column past this width goes on lines of its own, under the file's.
constexpr std::size_t kWide = 60;

// The recordings' copies of a file on lines of their own, at most about 90 characters each,
// after a line break.
std::string wrapped(const std::string& cell) {
  std::string out, line = "     ";
  const auto end_line = [&] {
    while (line.back() == ' ') line.pop_back();
    out += "\n" + line;
    line = "     ";
  };
  for (std::size_t at = 0; at < cell.size();) {
    std::size_t next = cell.find(", ", at);
    next = next == std::string::npos ? cell.size() : next + 2;
    const std::string piece = cell.substr(at, next - at);
    if (line.size() > 5 && line.size() + piece.size() > 90) end_line();
    line += piece;
    at = next;
  }
  end_line();
  return out;
}

// Its CRC-32 where recording r holds all of a file good, else why not.
std::string same_text(const tape::Matched& parts, std::size_t r) {
  const Held held = held_whole(parts, r);
  return held.state == "good" ? held.crc32 : held.state == "missing" ? "-" : held.state;
}

// One clean tape of the side, written where --clean says; kBad when a good merged file is not
// on it whole.
Exit clean_merge(const Options& opt, const std::vector<std::string>& paths,
                 const std::vector<std::vector<TapeFile>>& recordings,
                 const std::vector<tape::MergedFile>& merged, Channel& channel) {
  std::vector<tapewren::clean::Source> sources(paths.size());
  for (std::size_t r = 0; r < paths.size(); ++r) {
    if (!recording_settings(opt, paths[r], sources[r].settings)) {
      channel.err("tapewren-scan: " + paths[r] + ": cannot be read again\n");
      return Exit::kFailed;
    }
    sources[r].files = &recordings[r];
    sources[r].replay = [&opt, &paths,
                         r](const std::function<void(const recording::Pulses&)>& use) {
      return replay_recording(opt, paths[r], use);
    };
  }
  tapewren::clean::MergeCleaned out;
  if (!tapewren::clean::merge_clean(sources, merged, out)) {
    channel.err("tapewren-scan: the recordings cannot be read again\n");
    return Exit::kFailed;
  }
  for (const std::size_t i : out.missing)
    channel.err("tapewren-scan: " + opt.clean + ": merged file " + std::to_string(i + 1) +
                " is not on the clean tape whole\n");
  cli::Written how;
  how.kind = cli::output_of(opt.clean);
  how.machine = out.machine;
  how.video = sources[0].settings.video;
  how.half_waves = sources[0].settings.half_waves;
  std::string error;
  const Exit wrote = cli::write_words(out.words, how, opt.clean, error);
  if (cli::is_signal(wrote)) return wrote;
  if (wrote != Exit::kOk) {
    channel.err("tapewren-scan: " + opt.clean + ": " + error + "\n");
    return Exit::kFailed;
  }
  if (!opt.json)
    channel.out(opt.clean + ": " + std::to_string(out.good - out.missing.size()) + " of " +
                std::to_string(out.good) + " good files on the clean tape; " +
                std::to_string(out.taken) + " blocks taken from other recordings" +
                (out.pieced > 0
                     ? " (" + std::to_string(out.pieced) + " of them pieced together from several)"
                     : std::string()) +
                ", " + std::to_string(out.kept) + " kept as the first recording has them\n");
  return out.missing.empty() ? Exit::kOk : Exit::kBad;
}

}  // namespace

Exit several_recordings(const Options& opt, const std::vector<std::string>& paths,
                        Channel& channel) {
  // Decoded --jobs at a time, each one's messages held and let through in input order.
  std::vector<std::vector<TapeFile>> recordings(paths.size());
  std::vector<Exit> read(paths.size(), Exit::kOk);
  std::vector<std::unique_ptr<Channel>> held;
  for (std::size_t i = 0; i < paths.size(); ++i) held.push_back(std::make_unique<Channel>());
  std::atomic<std::size_t> next{0};
  const auto worker = [&] {
    for (std::size_t i; (i = next++) < paths.size();)
      read[i] = decode_recording(opt, paths[i], *held[i], recordings[i]);
  };
  share_work(std::min(paths.size(), job_count(opt.jobs)), worker);
  Exit code = Exit::kOk;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    held[i]->go_live();
    if (cli::is_signal(read[i])) return read[i];
    code = cli::worst(code, read[i]);
  }
  if (code != Exit::kOk)
    return code;  // a merge of what could be read would not be what was asked for
  std::vector<Take> takes;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    tape::Fingerprint print;
    Take take{label(i), paths[i], static_cast<int>(recordings[i].size()), 0, 0};
    for (const TapeFile& f : recordings[i]) {
      print.add(f);
      take.good += tape::is_good(f);
    }
    take.fingerprint = print.value();
    if (!opt.json)
      channel.out(take.label + ": " + take.recording + ": " + std::to_string(take.files) +
                  (take.files == 1 ? " file, " : " files, ") + std::to_string(take.good) +
                  " good; fingerprint " + hex(take.fingerprint) + "\n");
    takes.push_back(std::move(take));
  }
  // Chains split into their blocks to be matched, put together again once merged.
  std::vector<std::vector<TapeFile>> pieces;
  pieces.reserve(recordings.size());
  for (const auto& files : recordings) pieces.push_back(tape::split_chains(files));
  const tape::Matched rows = tape::match_files(pieces);
  // Recordings of another tape would make files of both: refused unless asked for.
  if (const auto odd = tape::strangers(rows, paths.size());
      opt.merge && !opt.force && !odd.empty()) {
    if (odd.size() == paths.size()) {
      channel.err(
          "tapewren-scan: the recordings are not of one side: none holds most of "
          "another's files; --force merges them all the same\n");
    } else {
      for (const std::size_t r : odd)
        channel.err("tapewren-scan: " + paths[r] +
                    ": not of the side the other recordings hold; --force merges it all the "
                    "same\n");
    }
    return Exit::kFailed;
  }
  if (!opt.extract.empty()) {
    std::error_code ec;
    std::filesystem::create_directory(opt.extract, ec);
    if (ec) {
      channel.err("tapewren-scan: " + opt.extract + ": cannot create the folder: " + ec.message() +
                  "\n");
      return Exit::kFailed;
    }
  }
  std::vector<tape::MergedFile> merged;
  for (const auto& row : rows) merged.push_back(tape::merge_copies(row));
  merged = tape::join_chains(std::move(merged));
  std::vector<std::string> cells;
  for (const auto& m : merged) {
    std::string cell;
    for (std::size_t r = 0; r < paths.size(); ++r)
      cell += (r ? ", " : "") + label(r) + ": " +
              (opt.compare ? same_text(m.parts, r) : copies_text(m.parts, r));
    cells.push_back(cell);
  }
  // The copies column, as wide as the widest; past kWide, on lines of their own under the file.
  std::size_t width = 0;
  for (const auto& c : cells) width = std::max(width, c.size());
  const bool apart = width > kWide;
  const auto head = [&](const char* last) {
    return heading(apart ? last : (padded("copies", width) + "  " + last).c_str());
  };
  const auto line = [&](std::size_t i, const std::string& last) {
    const std::string file = file_columns(merged[i].file, static_cast<int>(i) + 1) + "  ";
    return apart ? file + last + wrapped(cells[i]) + "\n"
                 : file + padded(cells[i], width) + "  " + last + "\n";
  };
  if (opt.compare) {
    if (!opt.json) channel.out(head("same"));
    int differ = 0;
    for (std::size_t i = 0; i < merged.size(); ++i) {
      const tape::Comparison c = tape::compare_copies(merged[i].parts);
      std::string verdict = "same";
      if (!c.same) {
        ++differ;
        verdict = c.differ_at >= 0 ? "differ at byte " + std::to_string(c.differ_at)
                                   : "not good in every recording";
      }
      channel.out(opt.json ? compared_json(merged[i], c, static_cast<int>(i) + 1, takes)
                           : line(i, verdict));
    }
    const std::string n = std::to_string(merged.size());
    if (opt.json) {
      channel.out(comparison_json(takes, static_cast<int>(merged.size()), differ));
    } else {
      channel.out(differ == 0 && !merged.empty()
                      ? "the recordings hold the same " + n + " files\n"
                      : "the recordings differ in " + std::to_string(differ) + " of " + n +
                            " files\n");
    }
    return differ == 0 && !merged.empty() ? Exit::kOk
           : merged.empty()               ? Exit::kNothing
                                          : Exit::kBad;
  }
  if (!opt.json) channel.out(head("crc32     merged"));
  ReportSettings settings;
  settings.extract_dir = opt.extract;
  settings.keep_bad = opt.keep_bad;
  settings.quiet = opt.json;
  std::unique_ptr<Images> images;  // one of the merged files, named after the first recording
  if (!opt.d64.empty() || !opt.t64.empty()) {
    images = std::make_unique<Images>(
        ImageSettings{opt.d64, opt.t64,
                      opt.disk_name.empty() ? disk_name_of(paths[0]) : petscii_name(opt.disk_name),
                      opt.json},
        channel);
    settings.images = images.get();
  }
  Report report(settings, channel);
  int only_merged = 0;
  for (std::size_t i = 0; i < merged.size(); ++i) {
    const TapeFile& f = merged[i].file;
    const int number = static_cast<int>(i) + 1;
    if (!opt.json) channel.out(line(i, hex(tape::crc32(f.data)) + "  " + merged_verdict(f)));
    only_merged += merged[i].only_by_merging;
    report.on_file(f);
    if (opt.json) channel.out(merged_json(merged[i], number, takes, report.last_extracted()));
  }
  if (opt.json) {
    channel.out(merge_json(takes, report.counts(), report.fingerprint(), only_merged));
  } else {
    char line[64];
    std::snprintf(line, sizeof line, "; fingerprint %08x\n", report.fingerprint());
    channel.out(counts_text(report.counts()) + line);
    channel.out(std::to_string(only_merged) + (only_merged == 1 ? " file" : " files") +
                " recovered only by merging\n");
  }
  const Exit imaged = images ? images->finish() : Exit::kOk;
  if (!report.extracted() || imaged == Exit::kFailed) return Exit::kFailed;
  if (!opt.clean.empty()) {
    const Exit cleaned = clean_merge(opt, paths, recordings, merged, channel);
    if (cleaned != Exit::kOk) return cleaned;
  }
  if (report.counts().files == 0) return Exit::kNothing;
  return report.counts().all_good() && imaged == Exit::kOk ? Exit::kOk : Exit::kBad;
}

}  // namespace tapewren::scan
