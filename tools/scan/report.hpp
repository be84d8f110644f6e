// What tapewren-scan shows and writes about a decoded recording: the table of its files, the
// files themselves, and the picture of its pulse lengths.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

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
std::string file_row(const tape::TapeFile& file, int number);
std::string summary_text(const tape::Summary& summary, const Assumptions& assumed);

// Shows each file as the decoder finishes it: a row of the table, and the file itself written
// into a folder when asked (never over anything; bad and incomplete ones only with keep_bad,
// marked in their names). Memory does not grow with the number of files.
class Report : public tape::FileListener {
 public:
  Report(bool table, const char* extract_dir, bool keep_bad);
  void on_file(const tape::TapeFile& file) override;
  // The summary lines.
  void finish(const tape::Summary& summary, const Assumptions& assumed);
  int files() const { return files_; }
  // Every file ok, repaired or named.
  bool all_good() const { return count_[2] == 0 && count_[3] == 0; }
  // False when a file could not be written.
  bool extracted() const { return extracted_; }

 private:
  void extract(const tape::TapeFile& file);
  bool table_;
  const char* dir_;
  bool keep_bad_, extracted_ = true;
  int files_ = 0, count_[5] = {};
  std::string boot_name_;  // the last file's name of its own: what nameless ones are called after
  std::map<std::string, int> next_number_;  // per extracted name: the number to try next
  tape::Fingerprint fingerprint_;
};

// The histogram with the pulse lengths the decoder found marked: as an SVG picture, or as
// text when path is "-". False, with the reason, when the picture could not be written; it is
// never written over an existing file.
bool write_histogram(const tape::Histogram& histogram, const std::vector<tape::Mark>& marks,
                     double clock_hz, const std::string& path, std::string& error);

}  // namespace tapewren::scan
