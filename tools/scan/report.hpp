// What tapewren-scan shows and writes about a decoded recording: the table of its files or
// their JSON lines, the summary, and the files themselves.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "channel.hpp"
#include "images.hpp"
#include "tape/merge.hpp"
#include "tape/tape.hpp"

namespace tapewren::scan {

// How the machine and the edge mode came to be known, for the summary: "given", "from the
// TAP header", "guessed", "assumed"...
struct Assumptions {
  std::string machine;
  bool half_waves = false;
  std::string edges;
};

// The table's lines and the summary, as tapewren-scan prints them.
std::string header_row();
// m:ss, or h:mm:ss from an hour on.
std::string clock_text(double seconds);
std::string file_row(const tape::TapeFile& file, int number);
// A file's kind as the table names it, and its data block's copies as they read ("ok ok",
// "3e -", "cut"...; the header's for a file without data).
const char* kind_text(tape::Kind kind);
std::string copies_text(const tape::TapeFile& file);
// What recording r held of a merged file: the copies of its blocks, one text when all read
// alike, else each block's joined by '+'; "-" for none.
std::string copies_text(const tape::Matched& parts, std::size_t r);
std::string summary_text(const tape::Summary& summary, const Assumptions& assumed);

// The version of the JSON objects' layout, in each of them.
constexpr int kJsonVersion = 1;

// The counts of one recording or of many.
struct Counts {
  int files = 0;
  int verdicts[6] = {};  // by tape::Verdict
  // Nothing bad, cut short or unproven.
  bool all_good() const { return verdicts[2] == 0 && verdicts[3] == 0 && verdicts[5] == 0; }
  void add(const Counts& other) {
    files += other.files;
    for (int i = 0; i < 6; ++i) verdicts[i] += other.verdicts[i];
  }
};
std::string counts_text(const Counts& counts);
// The line shown while a recording is followed at a terminal: how far it has come, how much of
// it the loaders recognised, the files so far.
std::string status_text(const tape::Summary& summary, const Counts& counts);
// A CRC-32 or fingerprint as the reports write it: eight lower-case hex digits.
std::string hex(std::uint32_t value);

// The JSON objects, one line each: a file, a recording's summary.
std::string file_json(const tape::TapeFile& file, int number, const std::string& recording,
                      const std::string& extracted);
std::string summary_json(const tape::Summary& summary, const Assumptions& assumed,
                         const Counts& counts, std::uint32_t fingerprint,
                         const std::string& recording, const std::string& format);

// A merged file's verdict and what the merge took to make it.
std::string merged_verdict(const tape::TapeFile& file);

// What recording r holds of a merged file as a whole: "good" with the CRC-32 of its bytes,
// "missing", "blocks missing", or the verdict of a part that is not good.
struct Held {
  std::string state, crc32;
};
Held held_whole(const tape::Matched& parts, std::size_t r);

// One recording of several of one side, as the merge and the comparison name it.
struct Take {
  std::string label, recording;
  int files = 0, good = 0;
  std::uint32_t fingerprint = 0;
};

// The JSON objects of --merge and --compare: each file, then the whole.
std::string merged_json(const tape::MergedFile& m, int number, const std::vector<Take>& takes,
                        const std::string& extracted);
std::string merge_json(const std::vector<Take>& takes, const Counts& counts,
                       std::uint32_t fingerprint, int only_by_merging);
std::string compared_json(const tape::MergedFile& m, const tape::Comparison& c, int number,
                          const std::vector<Take>& takes);
std::string comparison_json(const std::vector<Take>& takes, int files, int differ);

// A file as the map shows it: where it lies on the tape and what became of it.
struct FilePlace {
  double seconds = 0, end_seconds = 0;
  std::string label;  // name and loader
  tape::Verdict verdict = tape::Verdict::kOk;
  std::vector<double> bad_at;  // seconds: where bytes failed
};

struct ReportSettings {
  bool table = false;       // the table of files and the summary
  bool json = false;        // JSON lines instead of the table
  bool places = false;      // keep where each file lies, for the map
  std::string recording;    // the input, as named
  std::string format;       // "dump" or "TAP"
  std::string extract_dir;  // empty: nothing extracted
  bool keep_bad = false;
  bool quiet = false;        // no "wrote" lines (the files are told of in JSON)
  Images* images = nullptr;  // told of every file, for --d64 and --t64
};

// Shows each file as the decoder finishes it: a row of the table or a JSON line, and the
// file itself written into a folder when asked (never over anything; bad and incomplete ones
// only with keep_bad, marked in their names). Memory does not grow with the number of files,
// unless their places are kept for the map.
class Report : public tape::FileListener {
 public:
  Report(ReportSettings settings, Channel& channel);
  void on_file(const tape::TapeFile& file) override;
  // The summary lines, or the summary object.
  void finish(const tape::Summary& summary, const Assumptions& assumed);
  const Counts& counts() const { return counts_; }
  std::uint32_t fingerprint() const { return fingerprint_.value(); }
  // False when a file could not be written.
  bool extracted() const { return extracted_; }
  const std::vector<FilePlace>& places() const { return places_; }
  // Where the last file was extracted to ("": it was not).
  const std::string& last_extracted() const { return last_extracted_; }

 private:
  std::string extract(const tape::TapeFile& file);
  ReportSettings settings_;
  Channel& channel_;
  bool extracted_ = true;
  Counts counts_;
  std::string last_name_;  // the last name read: what nameless files are called after
  std::map<std::string, int> next_number_;  // per extracted name: the number to try next
  tape::Fingerprint fingerprint_;
  std::vector<FilePlace> places_;
  std::string last_extracted_;
};

}  // namespace tapewren::scan
