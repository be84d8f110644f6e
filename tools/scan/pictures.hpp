// The pictures of a recording: the histogram of its pulse lengths (as SVG or as text) and
// the map of the whole tape, every pulse a dot over time, each file a labelled band.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recording/recording.hpp"
#include "report.hpp"
#include "tape/tape.hpp"

namespace tapewren::scan {

// What a picture names in its title.
struct Caption {
  std::string recording;  // the input, as named
  std::string machine;    // "C64 PAL"
  double clock_hz = 985248;
};

// The histogram with the classes and thresholds the decoders settled on marked.
std::string histogram_svg(const tape::Histogram& histogram, const std::vector<tape::Mark>& marks,
                          const Caption& caption);
std::string histogram_text(const tape::Histogram& histogram, const std::vector<tape::Mark>& marks,
                           const Caption& caption);

// Every pulse of a recording counted into a grid of time columns and length rows, so that a
// side of any length makes a picture of the same size. Memory stays the same however long
// the recording; a pulse costs a shift, a compare and an add.
class PulseMap : public tape::PulseObserver {
 public:
  static constexpr std::size_t kColumns = 1024;  // the finest time steps kept
  static constexpr std::size_t kRows = 512;      // pulse lengths in steps of 4 cycles
  PulseMap();
  // The decoder's own pulses, so that the map shows what it read.
  void pulses(const std::uint64_t* time, const std::uint32_t* length, std::size_t count,
              std::uint64_t end_time) override;
  std::string svg(const Caption& caption, const std::vector<FilePlace>& files,
                  const std::vector<tape::Stretch>& unrecognised) const;

 private:
  void fold();             // halves the time resolution when the tape outgrows the columns
  std::uint64_t now_ = 0;  // half cycles: where the recording ends so far
  unsigned shift_ = 15;    // a column is 2^shift_ half cycles
  std::vector<std::uint16_t> cells_;
  std::vector<std::uint64_t> rows_;  // pulses per row, for the length range
};

}  // namespace tapewren::scan
