// One recording scanned: its names, or its files decoded and reported, its pictures drawn.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "channel.hpp"
#include "cli/cli.hpp"
#include "recording/recording.hpp"
#include "report.hpp"

namespace tapewren::scan {

struct Options {
  bool files = false, json = false, keep_bad = false, recursive = false, both_edges = false;
  bool merge = false, compare = false;  // the inputs are recordings of one side
  bool force = false;                   // merge them even when they do not look so
  std::string extract, histogram, map;  // empty: not asked for
  std::string d64, t64, disk_name;      // empty: not asked for; the disk name as given
  std::string clean;                    // --merge: the clean tape's path; empty: none
  bool follow = false;                  // the recording is still being written: read as it grows
  double idle = 0;                      // --follow: seconds without growth that end it; 0: none
  int machine = -1, video = -1;         // -1: not given
  cli::WavReading wav;                  // how to read WAV files: channel, polarity
  long long jobs = 0;                   // 0: as many as there are processors
  std::vector<std::string> inputs;      // recordings and folders, as named
  std::vector<std::string> loaders;     // the loaders to run; empty: every one
};

// A recording to scan, with where its outputs go.
struct Input {
  std::string path;
  std::string extract_dir;  // empty: nothing extracted
  std::string histogram;    // "-": as text on standard output
  std::string map;
  std::string d64, t64;   // the images' paths, empty: none
  bool prefixed = false;  // several recordings: names are prefixed, tables headed, by the input
};

struct Outcome {
  cli::Exit code = cli::Exit::kOk;
  bool read = false;  // the recording was read to its end
  Counts counts;
};

Outcome scan_recording(const Options& options, const Input& input, Channel& channel);

// A recording decoded whole, every file kept. kOk, or the status of what failed.
cli::Exit decode_recording(const Options& options, const std::string& path, Channel& channel,
                           std::vector<tape::TapeFile>& files);

// What decode_recording tells the decoder of a recording; false when it cannot be opened.
bool recording_settings(const Options& options, const std::string& path,
                        tape::DecoderSettings& settings);

// Every pulse of a recording again, a block at a time; false when it cannot be read whole.
bool replay_recording(const Options& options, const std::string& path,
                      const std::function<void(const recording::Pulses&)>& use);

}  // namespace tapewren::scan
