// Cyberload's game data (F3) and multiload (F4).
//
// One pulse a bit, most significant bit first; the pulse lengths, the pilot byte and the
// sync are each tape's own, set in the loader that the tape loads before: its code sets the
// timer (LDA #lo / STA $DC04 / LDA #hi / STA $DC05: the threshold in cycles) and compares
// (CMP #pilot / BEQ / CMP #sync / BNE). That loader is F2's file when one was read: the first
// of each pattern in it, as the loader runs it (later code compares other bytes), and no
// file after it changes them; otherwise the last pattern in any file before (F1's files hold
// F1's own loader, not this one); where no loader seen tells them, the common ones:
// 0 about 0x30 and 1 about 0x5A TAP units, pilot 0x0F, sync 0xCC (F3) or one of 0x96, 0xAA,
// 0x99, 0x55 (F4). F3: sub-blocks, each after about 8 pilot bytes and the sync: the load
// address (little-endian), the size (0: 256), a check byte and 4 more, the data; everything
// XORs to 0. F4: the name (16), the load address and the size (little-endian), in later
// versions a threshold (2 bytes) and, after the check byte, a 0; before it all, in the last
// version, an ID byte; the header's check byte is the XOR of the header bytes before it;
// then the data in sub-blocks of up to 256 bytes, each followed by its XOR, and a closing 0.
// Sub-blocks that load back to back are one file. (F1 and F2: cyberload_f1.cpp, _f2.cpp.)
#include "tape/loaders/cyberload.hpp"

#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kCyberloadF1Entry;
extern const LoaderEntry kCyberloadF2Entry;
extern const LoaderEntry kCyberloadF3Entry;
extern const LoaderEntry kCyberloadF4Entry;

namespace {

const LoaderInfo kF3Info = {.name = "Cyber F3",
                            .machines = kC64,
                            .checksum = true,
                            .encoding = "one pulse a bit, MSB first",
                            .description =
                                "Cyberload's third stage: pilot and sync set per tape (by F2's "
                                "file); load address, size, check byte; XOR",
                            .recordings = "3D Pool"};
const LoaderInfo kF4Info = {
    .name = "Cyber F4",
    .machines = kC64,
    .checksum = true,
    .encoding = "one pulse a bit, MSB first",
    .description = "Cyberload's fourth stage: the tape's pilot, 4 syncs; a named header; XORs"};
constexpr BitFormat kBits = {1104, 30, true};
constexpr std::uint8_t kF4Syncs[] = {0x96, 0xAA, 0x99, 0x55};

class Cyberload : public TurboLoader<Cyberload> {
 public:
  Cyberload(const LoaderInfo& info, FileSink& sink, bool multiload)
      : TurboLoader(info, sink, kBits), f4_(multiload) {}

  // The loader before: its timer, pilot and sync.
  void seen(const TapeFile& f) override {
    const bool f2 = f.loader == &kCyberloadF2Entry.info;
    if (f.loader == &kCyberloadF1Entry.info || (from_f2_ && !f2)) return;
    from_f2_ |= f2;
    bool timer = false, compare = false;  // in F2's file: the first of each
    const auto& d = f.data;
    for (std::size_t i = 0; i + 10 <= d.size(); ++i) {
      if (d[i] == 0xA9 && d[i + 2] == 0x8D && d[i + 3] == 0x04 && d[i + 4] == 0xDC &&
          d[i + 5] == 0xA9 && d[i + 7] == 0x8D && d[i + 8] == 0x05 && d[i + 9] == 0xDC &&
          !(f2 && timer)) {
        threshold_ = static_cast<std::uint32_t>(d[i + 6] << 8 | d[i + 1]);
        nominal_pulses(cyberload_pulses(threshold_));
        timer = true;
        boot_seen();
      }
      if (d[i] == 0xC9 && d[i + 2] == 0xF0 && d[i + 4] == 0xC9 && d[i + 6] == 0xD0 &&
          !(f2 && compare)) {
        pilot_ = d[i + 1];
        sync_ = d[i + 5];
        compare = true;
        boot_seen();
      }
    }
  }

  bool accepts(const Pilot& pilot) {
    if (!pilot_of(pilot, pilot_, true)) return false;
    if (threshold_ != 0 && !fits_threshold(pilot, threshold_)) return false;  // the loader's timer
    bits_.begin_at(pilot_);
    pilots_ = 1;
    synced_ = false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced_) {
      if (v == pilot_) {
        ++pilots_;
        return true;
      }
      const bool sync =
          f4_ ? std::find(std::begin(kF4Syncs), std::end(kF4Syncs), v) != std::end(kF4Syncs)
              : v == sync_;
      synced_ = sync && pilots_ >= 2;
      return synced_;
    }
    bytes_.push_back(v);
    return f4_ ? f4_byte() : f3_byte();
  }

  bool no_bit(std::uint64_t) {
    if (synced_ && !bytes_.empty()) cut();
    return false;
  }
  void close() { no_bit(0); }

 private:
  // ---- F3: one sub-block after each sync.
  std::uint16_t f3_start() const { return static_cast<std::uint16_t>(bytes_[0] | bytes_[1] << 8); }
  std::size_t f3_size() const { return bytes_[2] == 0 ? 256 : bytes_[2]; }
  bool f3_byte() {
    if (bytes_.size() < 8 || bytes_.size() < 8 + f3_size()) return true;
    std::uint8_t x = 0;
    for (auto b : bytes_) x ^= b;
    // The check byte (head byte 3) makes everything XOR to 0.
    chain_block(f3_start(), {bytes_.begin() + 8, bytes_.end()},
                {true, 0, x == 0, true, bytes_[3], static_cast<std::uint8_t>(x ^ bytes_[3])});
    end_span();
    return false;
  }

  // ---- F4: the header whose check byte verifies, then sub-blocks.
  bool f4_byte() {
    if (head_ == 0) {
      for (const auto& [size, from, sum_at] :
           {std::tuple{21u, 0u, 20u}, {24u, 0u, 22u}, {25u, 1u, 23u}}) {
        if (bytes_.size() != size) continue;
        std::uint8_t x = 0;
        for (std::size_t k = from; k < sum_at; ++k) x ^= bytes_[k];
        if (x != bytes_[sum_at]) continue;
        head_ = size;
        at_ = from;
        break;
      }
      if (head_ == 0 && bytes_.size() >= 25) return false;  // no header of any version
      return true;
    }
    const std::size_t size = le16(at_ + 18), data = bytes_.size() - head_;
    const std::size_t blocks = (size + 255) / 256, whole = size + blocks + 1;
    if (data < whole) return true;
    emit_f4(true);
    return false;
  }
  std::size_t le16(std::size_t at) const {
    return static_cast<std::size_t>(bytes_[at] | bytes_[at + 1] << 8);
  }
  void emit_f4(bool complete) {
    const std::size_t size = le16(at_ + 18);
    std::vector<std::uint8_t> data;
    std::vector<DataCheck> checks;
    bool sums = true;
    for (std::size_t k = head_; k < bytes_.size() && data.size() < size;) {
      const std::size_t n = std::min<std::size_t>(256, size - data.size());
      const std::size_t got = std::min(n, bytes_.size() - k);
      std::uint8_t x = 0;
      for (std::size_t j = 0; j < got; ++j) x ^= bytes_[k + j];
      const std::size_t begin = data.size();
      data.insert(data.end(), bytes_.begin() + static_cast<long>(k),
                  bytes_.begin() + static_cast<long>(k + got));
      const bool has_sum = got == n && k + n < bytes_.size();
      if (has_sum)
        checks.push_back(
            data_check(DataCheck::Op::kXor, data, begin, data.size(), bytes_[k + n], x));
      sums &= has_sum && bytes_[k + n] == x;
      k += n + 1;
    }
    TapeFile f = file(Kind::kProgram, name_of(bytes_.data() + at_, 16),
                      static_cast<std::uint16_t>(le16(at_ + 16)), std::move(data),
                      {true, 0, complete && sums, complete}, span_offset(), span_time());
    f.checks = std::move(checks);
    f.end = static_cast<std::uint16_t>(le16(at_ + 16) + size);
    end_span();
    emit(std::move(f), complete && bytes_.back() == 0);  // the header's check and the closing 0
    head_ = 0;
  }

  void cut() {
    if (f4_) {
      if (head_ != 0) emit_f4(false);
      head_ = 0;
      return;
    }
    if (bytes_.size() < 8) return;
    chain_block(f3_start(), {bytes_.begin() + 8, bytes_.end()}, {true, 0, false, false});
    end_span();
    flush();
  }

  bool f4_;
  bool from_f2_ = false;  // F2's file was read: its loader's parameters stand
  std::uint8_t pilot_ = 0x0F, sync_ = 0xCC;
  std::uint32_t threshold_ = 0;
  int pilots_ = 0;
  bool synced_ = false;
  std::vector<std::uint8_t> bytes_;
  std::size_t head_ = 0, at_ = 0;  // F4: the header's size, and where the name begins
};

std::unique_ptr<LoaderDecoder> make_f3(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Cyberload>(info, sink, false);
}
std::unique_ptr<LoaderDecoder> make_f4(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<Cyberload>(info, sink, true);
}

}  // namespace

const LoaderEntry kCyberloadF3Entry = {kF3Info, make_f3};
const LoaderEntry kCyberloadF4Entry = {kF4Info, make_f4};

}  // namespace tapewren::tape
