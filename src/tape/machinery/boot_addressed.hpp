// Loaders whose turbo file has no head: its boot file, the ROM program before it, holds
// where it loads (in its program or its header). On tape: a pilot, a sync, the data, the XOR of the
// data, a trailer of 0s.
#pragma once

#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

// Where the boot program holds the load and end address (end exclusive), a byte each.
struct BootAddresses {
  std::size_t load_lo, load_hi, end_lo, end_hi;
  bool end_0_is_top;       // an end of 0 means up to 0xFFFF
  bool in_header = false;  // in its header (from the type byte on), not its program
};

class BootAddressedLoader : public TurboLoader<BootAddressedLoader> {
 public:
  BootAddressedLoader(const LoaderInfo& info, FileSink& sink, const BitFormat& bits,
                      const PilotSync& sync, std::size_t sync_size, const BootAddresses& at)
      : TurboLoader(info, sink, bits, sync), sync_size_(sync_size), at_(at) {}

  // A ROM program long enough to hold the addresses: the last before the pilot counts.
  void seen(const TapeFile& f) override {
    const std::size_t last = std::max({at_.load_lo, at_.load_hi, at_.end_lo, at_.end_hi});
    const std::vector<std::uint8_t>& b = at_.in_header ? f.header_bytes : f.data;
    if (!f.loader->copies || f.kind != Kind::kProgram || b.size() <= last) return;
    const auto load = static_cast<std::uint16_t>(b[at_.load_lo] | b[at_.load_hi] << 8);
    const auto end = static_cast<std::uint16_t>(b[at_.end_lo] | b[at_.end_hi] << 8);
    if (end == 0 && at_.end_0_is_top ? load == 0 : end <= load) return;
    load_ = load;
    size_ = static_cast<std::uint16_t>(end - load);
    boot_seen();
  }

  bool accepts(const Pilot& pilot) {
    if (size_ == 0 || !sync_pilot(pilot)) return false;
    phase_ = Phase::kSync;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    switch (phase_) {
      case Phase::kSync:
        return sync_then(v, phase_, Phase::kData);
      case Phase::kData:
        bytes_.push_back(v);
        if (bytes_.size() <= size_) return true;  // and the check byte
        emit_file(true);
        phase_ = Phase::kTrailer;
        return true;
      case Phase::kTrailer:
        return zero_trailer(v);
    }
    return false;
  }

  bool no_bit(std::uint64_t) {
    if (phase_ == Phase::kData) emit_file(false);
    if (phase_ == Phase::kTrailer) end_span();
    return false;
  }
  void close() { no_bit(0); }

 private:
  enum class Phase { kSync, kData, kTrailer };
  void emit_file(bool complete) {
    std::vector<std::uint8_t> data = data_after(bytes_, 0, size_);
    const CopyReport report = xor_checked(data, complete ? bytes_.back() : -1);
    block_file(load_, size_, std::move(data), report, static_cast<int>(sync_size_));
  }

  std::size_t sync_size_;
  BootAddresses at_;
  Phase phase_ = Phase::kSync;
  std::uint16_t load_ = 0;
  std::size_t size_ = 0;  // 0: no boot seen
  std::vector<std::uint8_t> bytes_;
};

}  // namespace tapewren::tape
