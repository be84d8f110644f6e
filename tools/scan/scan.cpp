// tapewren-scan: inspects recordings, dump files and TAP files alike, and folders of them. By
// default it prints every name the recorder's name interception finds, with the byte offset
// where the header ended; with --files (or --json) it decodes, verifies and repairs every file
// on the tape, and can extract them and draw the histogram and the map of the recording.
// Several recordings are scanned at once, their output kept in the order they were named.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli.hpp"
#include "cli/recording_output.hpp"
#include "job.hpp"
#include "json.hpp"
#include "loaders.hpp"
#include "merging.hpp"
#include "platform/tool_io.hpp"
#include "tape/tape.hpp"
#include "workers.hpp"

namespace {

namespace fs = std::filesystem;
namespace cli = tapewren::cli;
using tapewren::cli::Exit;
namespace platform = tapewren::platform;
using tapewren::scan::Channel;
using tapewren::scan::Counts;
using tapewren::scan::Input;
using tapewren::scan::Options;
using tapewren::scan::Outcome;

const char kUsage[] =
    "Usage: tapewren-scan [options] RECORDING|FOLDER...\n"
    "Reads recordings (dump, TAP or WAV files), and the recordings in folders (.dmp, .tap and\n"
    ".wav files, and any file that starts as a TAP or WAV file does; a pipe, a device or a\n"
    "broken link there gets a note). Without options it prints the name of every file whose\n"
    "tape header it finds, as tapewren-record does while recording, with the byte offset\n"
    "where the header ended.\n"
    "  --files            decode every file on the tape: where it starts, loader, type, name,\n"
    "                     addresses, size, each copy of its blocks, and a verdict (ok,\n"
    "                     repaired from the repeat, bad, incomplete); then a summary with the\n"
    "                     tape's fingerprint, the same for every good recording of one tape\n"
    "  --json             the same as JSON Lines: an object per file and per recording\n"
    "  --extract DIR      also write each good file to DIR as NAME.prg or NAME.seq (never over\n"
    "                     an existing file; one that holds the same bytes is left as it is);\n"
    "                     with several recordings, into a folder each\n"
    "  --keep-bad         with --extract: bad and incomplete files too, marked in their names\n"
    "  --d64 FILE         also write each good program and data file, in tape order, into a new\n"
    "                     35-track D64 disk image (never over an existing file); a name met\n"
    "                     again gets ~2, ~3...; files that do not fit are named and left out\n"
    "                     (exit status 3); with several recordings, one each: FILE-1.d64, ...\n"
    "  --t64 FILE         the same files into a T64 tape archive\n"
    "  --disk-name NAME   the images' name (default: the recording's file name in upper case)\n"
    "  --histogram OUT    the pulse-length histogram as an SVG picture, OUT ending in .svg (- :\n"
    "                     as text)\n"
    "  --map OUT          a picture (SVG) of the whole recording: every pulse over time, each\n"
    "                     file a band; with several recordings, one each: OUT-1.svg, ...\n"
    "  --merge            the recordings are of one side: match their files, rebuild each from\n"
    "                     every copy that any recording read without error (the majority where\n"
    "                     good copies differ), verify it, say which recordings held it; with\n"
    "                     --extract, --d64 or --t64, write the merged files; recordings that\n"
    "                     do not hold most of one another's files are refused (exit status 1)\n"
    "  --force            with --merge: merge them all the same\n"
    "  --clean OUT        with --merge: one clean tape of the side (OUT ending in .tap, .dmp\n"
    "                     or .wav): the first recording's blocks rewritten with their\n"
    "                     loaders' nominal pulses, each it read badly or missed taken from a\n"
    "                     recording that read it well; read back, every good merged file must\n"
    "                     be on it (exit status 3 if not)\n"
    "  --follow           read a recording that another program (tapewren-record) is still\n"
    "                     writing, as it grows, and print each file's line (--files, or\n"
    "                     --json) as soon as its verdict is known; at a terminal a status\n"
    "                     line shows how far it has come. Waits for the file to be made;\n"
    "                     ends when its writer has closed it and all of it is read, or on\n"
    "                     Ctrl-C, with the summary of what was read\n"
    "  --idle SECONDS     with --follow: end, too, when the file has not grown for SECONDS\n"
    "  --compare          the recordings are of one side: say file by file whether they hold\n"
    "                     the same data (CRC-32), and where not; both with --json too\n"
    "  -m, --machine M    c64, vic20 or c16 (or 0, 1, 2), for times and microseconds\n"
    "  -v, --video V      pal or ntsc (or 0, 1); default: the TAP header, or C64 PAL\n"
    "  -b                 a dump recorded with both edges (half waves), as with tapewren-record "
    "-b\n"
    "  --channel C        a stereo WAV file's left or right channel (default: the louder)\n"
    "  --polarity P       a WAV file's waves start rising (normal), falling (inverted), or as\n"
    "                     its signal says after each silence (auto, the default)\n"
    "  --invert           the same as --polarity inverted\n"
    "  -r, --recursive    the folders' folders too\n"
    "  --only NAME,...    run only these loaders (names as --loaders lists them, any case)\n"
    "  --without NAME,... run every loader but these: a way around a loader that misreads a\n"
    "                     tape\n"
    "  --loaders          list the loaders: machines, encoding, what checks their files, what\n"
    "                     they were checked against, what they are\n"
    "  -j, --jobs N       scan N recordings at once (default: one per processor)\n"
    "  -h, --help         this text\n"
    "  --version          the version\n"
    "Options take their values as --name VALUE or --name=VALUE.\n"
    "Exit status: 0 all well; 1 a file could not be read or written; 2 usage;\n"
    "3 (with --files) a file is bad or incomplete, or left out of an image; 4 (with --files)\n"
    "no file found at all; with --merge 3 a merged file is bad, with --compare 3 the\n"
    "recordings differ; 128 + N stopped by signal N. With several recordings the worst: 1\n"
    "before 3 before 4.\n";
const cli::Tool kTool = {"tapewren-scan", kUsage};

bool svg_name(const std::string& name) {
  std::string ext = name.size() >= 4 ? name.substr(name.size() - 4) : "";
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".svg";
}

// 0 to go on, else the exit status (help, version, usage error).
Exit parse(int argc, char** argv, Options& opt, bool& done) {
  cli::Args args(argc, argv);
  done = false;
  std::string only, without;
  while (args.next()) {
    const std::string a = args.name();
    if (!args.option()) {
      opt.inputs.push_back(a);
      continue;
    }
    Exit code = Exit::kOk;
    if (cli::wav_option(kTool, args, opt.wav, code)) {
      if (code != Exit::kOk) return code;
      continue;
    }
    const bool flag = a == "--files" || a == "--json" || a == "--keep-bad" || a == "-b" ||
                      a == "--merge" || a == "--compare" || a == "--force" || a == "-r" ||
                      a == "--recursive" || a == "-h" || a == "--help" || a == "--version" ||
                      a == "--loaders" || a == "--follow";
    if (flag && args.inline_value()) return cli::usage_error(kTool, cli::takes_no_value(a));
    std::string v;
    const auto value = [&] { return args.value(v); };
    if (a == "-h" || a == "--help") {
      done = true;
      return cli::help(kTool);
    }
    if (a == "--version") {
      done = true;
      return cli::version(kTool);
    }
    if (a == "--loaders") {
      done = true;
      return cli::print(tapewren::scan::loaders_listing());
    }
    if (a == "--files") {
      opt.files = true;
    } else if (a == "--json") {
      opt.json = true;
    } else if (a == "--merge") {
      opt.merge = true;
    } else if (a == "--compare") {
      opt.compare = true;
    } else if (a == "--force") {
      opt.force = true;
    } else if (a == "--follow") {
      opt.follow = true;
    } else if (a == "--idle") {
      long long seconds = 0;
      if (!value()) return cli::usage_error(kTool, cli::needs_value(a));
      if (!cli::parse_number(v, 1, 86400, seconds))
        return cli::usage_error(kTool, a + " needs a number of seconds from 1 to 86400");
      opt.idle = static_cast<double>(seconds);
    } else if (a == "--keep-bad") {
      opt.keep_bad = true;
    } else if (a == "-b") {
      opt.both_edges = true;
    } else if (a == "-r" || a == "--recursive") {
      opt.recursive = true;
    } else if (a == "--extract" || a == "--histogram" || a == "--map") {
      if (!value() || v.empty()) return cli::usage_error(kTool, cli::needs_value(a));
      (a == "--extract" ? opt.extract : a == "--map" ? opt.map : opt.histogram) = v;
    } else if (a == "--d64" || a == "--t64" || a == "--disk-name" || a == "--clean") {
      if (!value() || v.empty()) return cli::usage_error(kTool, cli::needs_value(a));
      (a == "--d64"     ? opt.d64
       : a == "--t64"   ? opt.t64
       : a == "--clean" ? opt.clean
                        : opt.disk_name) = v;
    } else if (a == "-m" || a == "--machine") {
      if (!value()) return cli::usage_error(kTool, cli::needs_value(a));
      opt.machine = cli::parse_machine(v);
      if (opt.machine < 0)
        return cli::usage_error(kTool, a + " needs c64, vic20 or c16 (0, 1 or 2)");
    } else if (a == "-v" || a == "--video") {
      if (!value()) return cli::usage_error(kTool, cli::needs_value(a));
      opt.video = cli::parse_video(v);
      if (opt.video < 0) return cli::usage_error(kTool, a + " needs pal or ntsc (0 or 1)");
    } else if (a == "--only" || a == "--without") {
      if (!value() || v.empty()) return cli::usage_error(kTool, cli::needs_value(a));
      (a == "--only" ? only : without) = v;
    } else if (a == "-j" || a == "--jobs") {
      if (!value()) return cli::usage_error(kTool, cli::needs_value(a));
      if (!cli::parse_number(v, 1, 256, opt.jobs))
        return cli::usage_error(kTool, a + " needs a number from 1 to 256");
    } else {
      return cli::usage_error(kTool, cli::unknown_option(a));
    }
  }
  std::string wrong;
  opt.loaders = tapewren::scan::choose_loaders(only, without, wrong);
  if (!wrong.empty()) return cli::usage_error(kTool, wrong);
  if (opt.inputs.empty()) return cli::usage_error(kTool, "no recording named");
  if (opt.keep_bad && opt.extract.empty())
    return cli::usage_error(kTool, "--keep-bad goes with --extract");
  if (opt.map == "-") return cli::usage_error(kTool, "--map writes a picture: name its file");
  // The pictures are SVG: a name that says otherwise would deceive whatever opens it.
  for (const auto& [name, option] : {std::pair{&opt.map, "--map"}, {&opt.histogram, "--histogram"}})
    if (!name->empty() && *name != "-" && !svg_name(*name))
      return cli::usage_error(
          kTool, *name + ": " + option + " draws an SVG picture: its name must end in .svg");
  if (opt.merge && opt.compare) return cli::usage_error(kTool, "--merge or --compare, not both");
  if (opt.force && !opt.merge) return cli::usage_error(kTool, "--force goes with --merge");
  const char* several = opt.merge ? "--merge" : opt.compare ? "--compare" : nullptr;
  if (several && (!opt.map.empty() || !opt.histogram.empty()))
    return cli::usage_error(
        kTool, std::string(several) + " draws no pictures: not with --map or --histogram");
  if (opt.compare && (!opt.extract.empty() || !opt.d64.empty() || !opt.t64.empty()))
    return cli::usage_error(kTool,
                            "--compare writes nothing: --merge with --extract, --d64 or "
                            "--t64 writes the merged files");
  if (opt.d64 == "-" || opt.t64 == "-")
    return cli::usage_error(kTool, "--d64 and --t64 write images: name their files");
  if (!opt.disk_name.empty() && opt.d64.empty() && opt.t64.empty())
    return cli::usage_error(kTool, "--disk-name goes with --d64 or --t64");
  if (!opt.clean.empty() && !opt.merge)
    return cli::usage_error(kTool,
                            "--clean goes with --merge (one recording: tapewren-convert "
                            "--clean)");
  if (!opt.clean.empty() && cli::output_of(opt.clean) == cli::Output::kUnknown)
    return cli::usage_error(kTool, opt.clean +
                                       ": --clean writes a tape: its name must end in "
                                       ".tap, .dmp, .raw or .wav");
  if (opt.idle > 0 && !opt.follow) return cli::usage_error(kTool, "--idle goes with --follow");
  std::error_code folder;
  if (opt.follow && (opt.inputs.size() != 1 || several || opt.recursive || opt.inputs[0] == "-" ||
                     fs::is_directory(opt.inputs[0], folder)))
    return cli::usage_error(kTool,
                            "--follow reads one recording file as it is written (a pipe is read "
                            "as it comes without it)");
  opt.files |=
      (!opt.extract.empty() || !opt.d64.empty() || !opt.t64.empty() || opt.follow) && !opt.json;
  return Exit::kOk;
}

// A file is taken from a folder when it is named as a recording or starts as a TAP or WAV file.
bool looks_like_recording(const fs::path& p) {
  std::string ext = p.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".dmp" || ext == ".tap" || ext == ".wav") return true;
  std::ifstream in(p, std::ios::binary);
  char head[12] = {};
  in.read(head, sizeof head);
  const std::string h(head, static_cast<std::size_t>(in.gcount()));
  return h == "C64-TAPE-RAW" || h == "C16-TAPE-RAW" ||
         (h.size() == 12 && h.compare(0, 4, "RIFF") == 0 && h.compare(8, 4, "WAVE") == 0);
}

// Why an entry of a folder that is neither a file nor a folder is not read: a pipe would
// never end, a device neither.
std::string not_a_file(const fs::file_status& target, const std::error_code& error) {
  switch (target.type()) {
    case fs::file_type::not_found:
      return "a link to nothing";
    case fs::file_type::fifo:
      return "a pipe, not a file";
    case fs::file_type::character:
    case fs::file_type::block:
      return "a device, not a file";
    case fs::file_type::socket:
      return "a socket, not a file";
    default:
      return error ? error.message() : "not a file";
  }
}

void note(const fs::path& path, const std::string& text) {
  std::fprintf(stderr, "tapewren-scan: %s: note: %s\n", path.string().c_str(), text.c_str());
}

// The recordings in a folder, in the order of their names; its folders' after them when
// recursive (links to folders are not followed: no loops). What is left out other than
// files that are no recordings and, without -r, folders is told; a folder that cannot be
// read is named. False when one could not be.
bool collect(const fs::path& folder, bool recursive, std::vector<std::string>& out) {
  std::vector<fs::directory_entry> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    entries.push_back(*it);
  if (ec) {
    std::fprintf(stderr, "tapewren-scan: %s: %s\n", folder.string().c_str(), ec.message().c_str());
    return false;
  }
  std::sort(entries.begin(), entries.end());
  std::vector<fs::path> folders;
  for (const auto& e : entries) {
    std::error_code link_error, error;
    const bool link = e.is_symlink(link_error);
    const fs::file_status target = e.status(error);
    if (fs::is_directory(target)) {
      if (!link) {
        folders.push_back(e.path());
      } else if (recursive) {
        note(e.path(), "a link to a folder, not followed");
      }
    } else if (fs::is_regular_file(target)) {
      if (looks_like_recording(e.path())) out.push_back(e.path().string());
    } else {
      note(e.path(), not_a_file(target, error) + ": skipped");
    }
  }
  bool read = true;
  if (recursive)
    for (const auto& f : folders) read &= collect(f, true, out);
  return read;
}

// The picture's name for input number n of several: OUT-n.svg.
std::string numbered(const std::string& path, std::size_t n) {
  const auto slash = path.find_last_of("/\\");
  const auto dot = path.rfind('.');
  const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::size_t at = has_ext ? dot : path.size();
  return path.substr(0, at) + "-" + std::to_string(n) + path.substr(at);
}

// Whether a folder name is given out already, in any case: Windows would make one folder of
// "A" and "a".
bool taken(const std::vector<std::string>& names, const std::string& name) {
  const auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return lower(n) == lower(name); });
}

// The inputs with where their outputs go. False, with the reason printed, when a folder
// could not be read or holds no recording.
bool plan(const Options& opt, std::vector<Input>& inputs, Exit& code) {
  std::vector<std::string> paths;
  bool folders = false;
  for (const auto& named : opt.inputs) {
    std::error_code ec;
    if (!fs::is_directory(named, ec)) {
      paths.push_back(named);
      continue;
    }
    folders = true;
    const std::size_t before = paths.size();
    const bool read = collect(named, opt.recursive, paths);
    if (read && paths.size() == before)
      std::fprintf(stderr,
                   "tapewren-scan: %s: no recordings in it (.dmp, .tap or .wav files, or files "
                   "that start as TAP or WAV files)\n",
                   named.c_str());
    if (!read || paths.size() == before) code = Exit::kFailed;
  }
  const bool several = paths.size() > 1 || folders;
  std::vector<std::string> stems;  // of the extraction folders given out
  for (std::size_t n = 0; n < paths.size(); ++n) {
    Input in;
    in.path = paths[n];
    in.prefixed = several;
    if (!opt.extract.empty()) {
      in.extract_dir = opt.extract;
      if (several) {  // a folder each, named after the recording, the first of a name first
        // Cleaned as a program's name is: "...tap" must not give "..", nor "CON.tap" a device.
        const std::string stem =
            tapewren::tape::safe_name(fs::path(in.path).stem().string(), "recording");
        std::string name = stem;
        for (int k = 2; taken(stems, name); ++k) name = stem + "~" + std::to_string(k);
        stems.push_back(name);
        in.extract_dir = opt.extract + "/" + name;
      }
    }
    if (!opt.histogram.empty())
      in.histogram =
          several && opt.histogram != "-" ? numbered(opt.histogram, n + 1) : opt.histogram;
    if (!opt.map.empty()) in.map = several ? numbered(opt.map, n + 1) : opt.map;
    if (!opt.d64.empty()) in.d64 = several ? numbered(opt.d64, n + 1) : opt.d64;
    if (!opt.t64.empty()) in.t64 = several ? numbered(opt.t64, n + 1) : opt.t64;
    inputs.push_back(std::move(in));
  }
  return !inputs.empty();
}

struct Totals {
  int recordings = 0, unreadable = 0, with_bad = 0, without_files = 0;
  Counts counts;
  void add(const Outcome& o) {
    ++recordings;
    unreadable += !o.read;
    with_bad += o.read && !o.counts.all_good();
    without_files += o.read && o.counts.files == 0;
    counts.add(o.counts);
  }
};

void print_totals(const Options& opt, const Totals& t) {
  if (opt.json) {
    using tapewren::scan::JsonObject;
    const Counts& c = t.counts;
    std::printf("%s\n", JsonObject()
                            .text("type", "totals")
                            .integer("version", tapewren::scan::kJsonVersion)
                            .integer("recordings", t.recordings)
                            .integer("unreadable", t.unreadable)
                            .integer("with_bad_files", t.with_bad)
                            .integer("without_files", t.without_files)
                            .verdict_counts(c.files, c.verdicts)
                            .str()
                            .c_str());
    return;
  }
  std::printf(
      "total: %d recordings, %d unreadable, %d with bad or incomplete files, %d without "
      "files; %s\n",
      t.recordings, t.unreadable, t.with_bad, t.without_files,
      tapewren::scan::counts_text(t.counts).c_str());
}

// Runs the recordings, `jobs` at a time, each one's output let through in input order: a
// recording's channel goes live when every one before it is done. Stops taking new ones
// after a signal.
Exit run(const Options& opt, const std::vector<Input>& inputs, std::size_t jobs, Totals& totals) {
  Exit code = Exit::kOk;
  const auto combine = [&](const Outcome& o) {
    totals.add(o);
    code = cli::worst(code, o.code);
    return cli::is_signal(o.code);  // stop
  };
  const std::size_t n = inputs.size();
  std::vector<std::unique_ptr<Channel>> channels;
  for (std::size_t i = 0; i < n; ++i) channels.push_back(std::make_unique<Channel>(i == 0));
  if (opt.follow) channels[0]->flush_each();
  std::vector<Outcome> outcomes(n);
  std::vector<char> done(n, 0);
  std::mutex m;
  std::condition_variable cv;
  std::size_t next = 0, head = 0;  // the next to take, the first not yet done
  bool stop = false;
  const std::size_t window = 2 * jobs;  // recordings finished ahead of the one shown: bounded
  const auto worker = [&] {
    for (;;) {
      std::size_t i = 0;
      {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return stop || next >= n || next < head + window; });
        if (stop || next >= n) return;
        i = next++;
      }
      Outcome o = tapewren::scan::scan_recording(opt, inputs[i], *channels[i]);
      std::lock_guard<std::mutex> lock(m);
      outcomes[i] = o;
      done[i] = 1;
      while (!stop && head < n && done[head] != 0) {
        stop = combine(outcomes[head++]);
        if (!stop && head < n) channels[head]->go_live();
      }
      cv.notify_all();
    }
  };
  tapewren::scan::share_work(std::min(jobs, n), worker);
  return code;
}

// The whole run; its exit status.
Exit scan(int argc, char** argv) {
  Options opt;
  bool done = false;
  const Exit parsed = parse(argc, argv, opt, done);
  if (parsed != Exit::kOk || done) return parsed;
  if (!opt.extract.empty() && !opt.merge) {  // a merge makes it once it knows it will write
    std::error_code ec;
    fs::create_directory(opt.extract, ec);
    if (ec) {
      std::fprintf(stderr, "tapewren-scan: %s: cannot create the folder: %s\n", opt.extract.c_str(),
                   ec.message().c_str());
      return Exit::kFailed;
    }
  }
  std::vector<Input> inputs;
  Exit code = Exit::kOk;
  if (!plan(opt, inputs, code)) return code;
  if (opt.merge || opt.compare) {
    if (code != Exit::kOk) return code;
    if (inputs.size() < 2) {
      std::fprintf(stderr, "tapewren-scan: %s needs two recordings or more\n",
                   opt.merge ? "--merge" : "--compare");
      return Exit::kUsage;
    }
    std::vector<std::string> paths;
    paths.reserve(inputs.size());
    for (const auto& in : inputs) paths.push_back(in.path);
    Channel live(true);
    return tapewren::scan::several_recordings(opt, paths, live);
  }
  Totals totals;
  code = cli::worst(code, run(opt, inputs, tapewren::scan::job_count(opt.jobs), totals));
  if (inputs.size() > 1 && (opt.files || opt.json) && !cli::is_signal(code))
    print_totals(opt, totals);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  platform::open_missing_tool_streams();
  platform::catch_termination();
  const Exit code = scan(argc, argv);  // before the output's error is asked for
  return cli::status(cli::close_output(kTool, code, Channel::out_error()));
}
