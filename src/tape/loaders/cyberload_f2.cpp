// Cyberload's second stage (F2): the loader that F1's first file holds.
//
// F1's first file deciphers its own code before it runs it: LDX #n / TXA / AND #$0F / TAY /
// EOR region,X / EOR $0314,Y / DEY / BPL / STA region,X / DEX / BNE: each byte at region + x
// (x from n down to 1) XORed with x & 15 and with the key table's bytes from x & 15 down to
// 0. The key table is what the machine holds at $0314..$0323 then: the IRQ vector that the
// KERNAL puts back there after loading the boot (it saved it at $029F, which the boot's data
// overwrote), and the boot's own bytes from $0316 on. Deciphered, the code sets the timer
// (LDA #lo / STA $DC04 / LDA #hi / STA $DC05), compares CMP #pilot / BEQ / CMP #sync / BNE,
// and XORs what it reads: JSR (read a byte) / EOR #key, first for the header, then for the
// data. On tape, one pulse a bit, most significant bit first: pilot bytes, the sync, the
// load address and the size (little-endian), then the data; a byte 0 after it. The loader
// checks nothing: no checksum, the bytes counted to the size. Its file is known by F1's file
// that holds its loader, once the pulses stop after the data (or go on as a lead-in of 0
// bits); that loader reads one file.
#include "tape/loaders/cyberload.hpp"
#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

extern const LoaderEntry kCyberloadF1Entry;
extern const LoaderEntry kCyberloadF2Entry;

namespace {

const LoaderInfo kInfo = {.name = "Cyber F2",
                          .machines = kC64,
                          .needs_boot = true,
                          .boot_code = true,
                          .encoding = "one pulse a bit, MSB first",
                          .description =
                              "Cyberload's second stage: pilot, sync and key from F1's first file; "
                              "head and data XORed; no checksum",
                          .recordings = "3D Pool"};
constexpr BitFormat kBits = {1104, 30, true};
// The boot's data holds the vector the KERNAL restores at $0314 and the key table after it.
constexpr unsigned kSaved = 0x029F, kTable = 0x0314, kTableEnd = 0x0324;

constexpr std::array<std::int16_t, 16> kDecipher = {0xA2, -1,   0x8A, 0x29, 0x0F, 0xA8, 0x5D, -1,
                                                    -1,   0x59, 0x14, 0x03, 0x88, 0x10, 0xFA, 0x9D};
constexpr std::array<std::int16_t, 10> kTimer = {0xA9, -1, 0x8D, 0x04, 0xDC,
                                                 0xA9, -1, 0x8D, 0x05, 0xDC};
constexpr std::array<std::int16_t, 7> kCompare = {0xC9, -1, 0xF0, -1, 0xC9, -1, 0xD0};
constexpr std::array<std::int16_t, 5> kReadXor = {0x20, -1, -1, 0x49, -1};

class CyberloadF2 : public TurboLoader<CyberloadF2> {
 public:
  CyberloadF2(const LoaderInfo& info, FileSink& sink) : TurboLoader(info, sink, kBits) {}

  void seen(const TapeFile& f) override {
    if (!is_good(f)) return;
    if (f.header_bytes.size() == 192) {  // a boot file: the key table, where its data holds it
      if (f.start > kSaved || f.start + f.data.size() < kTableEnd) return;
      key_[0] = f.data[kSaved - f.start];
      key_[1] = f.data[kSaved + 1 - f.start];
      std::copy(f.data.begin() + (kTable + 2 - f.start), f.data.begin() + (kTableEnd - f.start),
                key_.begin() + 2);
      key_known_ = true;
      return;
    }
    if (f.loader == &kCyberloadF1Entry.info && key_known_) decipher(f);
  }

  bool accepts(const Pilot& pilot) {
    if (!armed_ || pilot.offset < after_ || !fits_threshold(pilot, threshold_)) return false;
    if (!sync_pilot(pilot, 1)) return false;  // its loader counts from the byte found
    at_ = At::kPilot;
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    switch (at_) {
      case At::kPilot:
        if (!sync_on(v)) return false;
        if (!synced()) return true;
        armed_ = false;  // its loader reads one file
        head_.clear();
        at_ = At::kHead;
        return true;
      case At::kHead:
        head_.push_back(static_cast<std::uint8_t>(v ^ head_key_));
        if (head_.size() < 4) return true;
        size_ = static_cast<std::size_t>(head_[2] | head_[3] << 8);
        if (size_ == 0) {
          at_ = At::kIdle;
          return false;
        }
        data_.clear();
        at_ = At::kData;
        return true;
      case At::kData:
        data_.push_back(static_cast<std::uint8_t>(v ^ data_key_));
        if (data_.size() < size_) return true;
        hold(make_file(true));
        at_ = At::kIdle;
        return expect_end(pilot_, 0x00, 2);  // else the size was not this file's
      case At::kIdle:
        break;
    }
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (at_ == At::kData && !data_.empty()) hold(make_file(false));  // cut inside the data
    if (at_ == At::kData) release();
    at_ = At::kIdle;
    return false;
  }
  void close() { no_bit(0); }

 private:
  enum class At { kIdle, kPilot, kHead, kData };

  // F1's file with the loader: deciphered as it deciphers itself, its parameters read.
  void decipher(const TapeFile& f) {
    const std::size_t at = find_code(f.data, kDecipher);
    if (at == f.data.size()) return;
    std::vector<std::uint8_t> d = f.data;
    const unsigned region = f.data[at + 7] | f.data[at + 8] << 8;
    std::array<std::uint8_t, 16> upto{};  // the key table's bytes from 0 to each XORed
    std::uint8_t x = 0;
    for (std::size_t y = 0; y < 16; ++y) upto[y] = x ^= key_[y];
    for (unsigned n = f.data[at + 1]; n > 0; --n) {
      const unsigned address = (region + n) & 0xFFFF;
      if (address < f.start || address >= f.start + d.size()) continue;  // beyond the file
      std::uint8_t& b = d[address - f.start];
      b = static_cast<std::uint8_t>(b ^ (n & 15) ^ upto[n & 15]);
    }
    const std::size_t t = find_code(d, kTimer), c = find_code(d, kCompare);
    const std::size_t k1 = c < d.size() ? find_code(d, kReadXor, c) : d.size();
    const std::size_t k2 = k1 < d.size() ? find_code(d, kReadXor, k1 + 1) : d.size();
    if (t == d.size() || k2 == d.size()) return;
    threshold_ = static_cast<std::uint32_t>(d[t + 6] << 8 | d[t + 1]);
    nominal_pulses(cyberload_pulses(threshold_));
    pilot_ = d[c + 1];
    sync_byte_ = d[c + 5];
    use_sync({pilot_, 2, &sync_byte_, 1});
    head_key_ = d[k1 + 4];
    data_key_ = d[k2 + 4];
    armed_ = true;
    after_ = f.end_offset;
    boot_seen();
  }

  TapeFile make_file(bool whole) {
    const auto start = static_cast<std::uint16_t>(head_[0] | head_[1] << 8);
    TapeFile f =
        file(Kind::kProgram, {}, start, data_, {true, 0, whole, whole}, span_offset(), span_time());
    f.end = static_cast<std::uint16_t>(start + size_);
    end_span();
    return f;
  }
  void release() {
    settle(true);
    at_ = At::kIdle;
  }

  std::array<std::uint8_t, 16> key_{};
  bool key_known_ = false, armed_ = false;
  std::uint64_t after_ = 0;  // where the file that holds its loader ends: no pilot before
  std::uint8_t pilot_ = 0, sync_byte_ = 0, head_key_ = 0, data_key_ = 0;
  std::uint32_t threshold_ = 0;  // cycles
  At at_ = At::kIdle;
  std::size_t size_ = 0;
  std::vector<std::uint8_t> head_, data_;
};

std::unique_ptr<LoaderDecoder> make(const LoaderInfo& info, FileSink& sink) {
  return std::make_unique<CyberloadF2>(info, sink);
}

}  // namespace

const LoaderEntry kCyberloadF2Entry = {kInfo, make};

}  // namespace tapewren::tape
