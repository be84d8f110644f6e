// The disk and tape images tapewren-scan writes (--d64, --t64): every good program and data
// file of a recording, in tape order, collected as the files come and written at the end.
#pragma once

#include <string>
#include <vector>

#include "channel.hpp"
#include "cli/cli.hpp"
#include "image/image.hpp"
#include "tape/tape.hpp"

namespace tapewren::scan {

struct ImageSettings {
  std::string d64, t64;   // the images' paths; empty: not asked for
  std::string disk_name;  // PETSCII: the D64's name and the T64's
  bool quiet = false;     // no "wrote" lines (JSON on standard output)
};

// PETSCII for a disk name: letters in upper case, other signs kept where PETSCII has them,
// cut to 16 characters.
std::string petscii_name(const std::string& text);
// The disk name a recording gives its images: its file name without the extension.
std::string disk_name_of(const std::string& path);

class Images {
 public:
  Images(ImageSettings settings, Channel& channel);
  // Every file of the tape in order; the good programs and data files with data are kept.
  void add(const tape::TapeFile& file);
  // The images built and written (never over an existing file). kOk; kBad when files were
  // left out (each named on standard error) or there was none to put in; kFailed when an
  // image could not be written.
  cli::Exit finish();

 private:
  bool write(const std::string& path, const image::Built& built, const std::string& what);
  ImageSettings settings_;
  Channel& channel_;
  std::vector<image::File> files_;
  int number_ = 0;         // of the files told, for the nameless ones' names
  std::string last_name_;  // the last name read: what nameless files are called after
  tape::Fingerprint fingerprint_;
};

}  // namespace tapewren::scan
