// The 12-to-1 countdown loader of a commercial tape: only its headers' names are read.
//
// Framed as Turbo Tape 250 is (one pulse a bit, short = 0 and long = 1 of about the same
// lengths, most significant bit first): a pilot of 0x02 bytes, the countdown 0x0C..0x01, a
// type byte (1 or 2), five bytes not examined and the 16-byte name. Its data blocks are the
// loader's own business; the file is reported as named.
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kCountdown12Entry;

namespace {

const LoaderInfo kInfo = {
    .name = "12-to-1",
    .machines = kC64,
    .encoding = "one pulse a bit, MSB first",
    .description =
        "a commercial loader's 0x02 pilot and 12..1 countdown: its files are only named"};
constexpr BitFormat kBits = {68 * 8, 25, true};
constexpr std::uint8_t kCountdown[] = {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
constexpr std::size_t kNameAt = 6, kNameEnd = 22;  // after the type byte and five others

class Countdown12 : public TurboLoader<Countdown12> {
 public:
  Countdown12(const LoaderInfo& info, FileSink& sink)
      : TurboLoader(info, sink, kBits, {0x02, 32, kCountdown, sizeof kCountdown}) {}

  bool accepts(const Pilot& pilot) {
    if (!sync_pilot(pilot)) return false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    bytes_.push_back(v);
    if (bytes_[0] != 1 && bytes_[0] != 2) return false;
    if (bytes_.size() < kNameEnd) return true;
    TapeFile f = file(Kind::kNamed, name_of(bytes_.data() + kNameAt, 16), 0, {}, {}, span_offset(),
                      span_time());
    f.kind = Kind::kNamed;
    f.verdict = Verdict::kNamed;
    f.type = bytes_[0];
    f.body_blocks = 0;
    end_span();
    emit(std::move(f));
    return false;
  }

  bool no_bit(std::uint64_t) { return false; }
  void close() {}

 private:
  std::vector<std::uint8_t> bytes_;  // after the countdown: the type byte, ..., the name
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Countdown12>(info, sink);
}

}  // namespace

const LoaderEntry kCountdown12Entry = {kInfo, make};

}  // namespace tapewren::tape
