// The 12-to-1 countdown loader of a commercial tape: only its headers' names are read.
//
// Framed as Turbo Tape 250 is (one pulse a bit, short = 0 and long = 1 of about the same
// lengths, most significant bit first): a pilot of 0x02 bytes, the countdown 0x0C..0x01, a
// type byte (1 or 2), five bytes not examined and the 16-byte name. Its data blocks are the
// loader's own business; the file is reported as named.
#include <algorithm>
#include <limits>

#include "tape/machinery/countdown.hpp"

namespace tapewren::tape {

extern const LoaderEntry kCountdown12Entry;

namespace {

const LoaderInfo kInfo = {
    "12-to-1", "C64", -1,
    false,     false, "one pulse a bit, MSB first; 0x02 pilot, 12..1 countdown; named only"};
constexpr CountdownFormat kFormat = {0x02, 12, 32, 68 * 8, true};
constexpr std::size_t kNameAt = 6, kNameEnd = 22;  // after the type byte and five others

class Countdown12 : public LoaderDecoder {
 public:
  Countdown12(const LoaderInfo& info, FileSink& sink) : info_(info), sink_(sink) {}

  bool engage(const Pilot& pilot, std::size_t from) override {
    if (!reader_.engage(pilot)) return false;
    offset_ = pilot.offset;
    time_ = pilot.time;
    pulses_ = pilot.count - (pilot.end - from);
    bytes_.clear();
    return true;
  }

  std::size_t take(const PulseBlock& b, std::size_t from) override {
    for (std::size_t i = from; i < b.count; ++i) {
      ++pulses_;
      const auto step = reader_.step(b.length[i]);
      if (step == CountdownReader::Step::kMore) continue;
      if (step == CountdownReader::Step::kEnd) return i;
      bytes_.push_back(reader_.byte());
      if (bytes_[0] != 1 && bytes_[0] != 2) {
        reader_.stop();
        return i + 1;
      }
      if (bytes_.size() == kNameEnd) {
        reader_.stop();
        TapeFile f;
        f.loader = &info_;
        f.kind = Kind::kNamed;
        f.verdict = Verdict::kNamed;
        f.type = bytes_[0];
        std::copy(bytes_.begin() + kNameAt, bytes_.end(), f.name.begin());
        f.offset = offset_;
        f.half_cycles = time_;
        f.seconds = sink_.seconds(time_);
        sink_.span(time_, b.time[i] + b.length[i], pulses_);
        sink_.file(std::move(f));
        return i + 1;
      }
    }
    return b.count;
  }

  bool engaged() const override { return reader_.engaged(); }
  std::uint64_t holding() const override {
    return reader_.engaged() ? offset_ : std::numeric_limits<std::uint64_t>::max();
  }
  void finish() override { reader_.stop(); }

 private:
  const LoaderInfo& info_;
  FileSink& sink_;
  CountdownReader reader_{kFormat};
  std::vector<std::uint8_t> bytes_;  // after the countdown: the type byte, ..., the name
  std::uint64_t offset_ = 0, time_ = 0, pulses_ = 0;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Countdown12>(info, sink);
}

}  // namespace

const LoaderEntry kCountdown12Entry = {kInfo, make};

}  // namespace tapewren::tape
