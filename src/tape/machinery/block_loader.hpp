// A loader whose every file is one block: a pilot of one byte value, a sync, a head of fixed
// size that tells the addresses (and perhaps a name), the data, and perhaps a check byte and
// a tail. A loader of this kind is its layout and a function that reads its head.
#pragma once

#include "tape/machinery/turbo.hpp"

namespace tapewren::tape {

struct BlockHead {
  std::uint16_t start = 0;
  std::size_t size = 0;
  std::array<std::uint8_t, 16> name{};
  bool ok = true;  // false: the head is not this loader's
};

struct BlockLayout {
  BitFormat bits;
  std::uint8_t pilot;
  int min_pilot;  // pilot bytes before the sync counts
  const std::uint8_t* sync;
  std::size_t sync_size;
  std::size_t head;  // bytes before the data
  BlockHead (*read_head)(const std::uint8_t* head);
  enum class Sum { kNone, kXorData, kXorHeadAndData } sum;
  std::size_t tail = 0;            // bytes after the check byte (an execution address)
  bool lsb_after_first = false;    // every byte after the first least significant bit first
  const char* bad_note = nullptr;  // told beside a bad verdict
  bool (*boot)(const TapeFile&) = nullptr;  // whether a file is this loader's boot file
  // Bytes after all that, fixed by the format (byte i is post_byte(i)): the block ends with
  // the last of them, and only then is its structure whole; one that differs ends it short.
  std::size_t post = 0;
  std::uint8_t (*post_byte)(std::size_t i) = nullptr;
  // Whether a file is its boot file, one that tells the tape's own pilot and sync byte.
  bool (*boot_sync)(const TapeFile&, std::uint8_t& pilot, std::uint8_t& sync) = nullptr;
  // The pilot's 1s at least this long (x16) against its 0s, where another loader's pilot
  // and sync read as this one's from another bit, its pulses nearer each other; 0: any.
  std::uint32_t min_one_ratio16 = 0;
  // At most this long (x16), where another loader's 0s are about as long as this one's and
  // its 1s far longer, near enough in speed for either to take the other's pilot; 0: any.
  std::uint32_t max_one_ratio16 = 0;
  // The byte a trailer after the block repeats, as long as the tone lasts; -1: none.
  int trailer = -1;
  // The loader's fixed threshold in cycles, where its pilot alone must fit it (0: any pilot
  // at about the speed of `bits`): a faster loader's pilot reads as all 0 bits with it.
  std::uint32_t timer = 0;
  // Where loaders share one block at speeds of their own: the pilot's 0|1 threshold in cycles
  // from `from_cycles` up to below `below_cycles` (0: no bound), so that one speed is one
  // loader's however far a deck is off.
  std::uint32_t from_cycles = 0, below_cycles = 0;
  // The check byte's place in the head, where it is there and not after the data; -1: after.
  int sum_in_head = -1;
  // Filler bytes (any) after the data up to a whole number of pages, the block's end after
  // them; or, where bits stop right after the data, none (a variant without).
  bool page_filler = false;
};

class BlockLoader : public TurboLoader<BlockLoader> {
 public:
  BlockLoader(const LoaderInfo& info, FileSink& sink, const BlockLayout& layout)
      : TurboLoader(info, sink, layout.bits,
                    {layout.pilot, layout.min_pilot, layout.sync, layout.sync_size}),
        layout_(layout) {}

  void seen(const TapeFile& f) override {
    if (layout_.boot && layout_.boot(f)) boot_seen();
    std::uint8_t pilot = 0;
    if (layout_.boot_sync && layout_.boot_sync(f, pilot, own_sync_)) {
      boot_seen();
      use_sync({pilot, layout_.min_pilot, &own_sync_, 1});
    }
  }

  bool accepts(const Pilot& pilot) {
    if (pilot.one16 * 16 < pilot.zero16 * layout_.min_one_ratio16) return false;
    if (layout_.max_one_ratio16 != 0 && pilot.one16 * 16 > pilot.zero16 * layout_.max_one_ratio16)
      return false;
    if (layout_.timer != 0 && !fits_threshold(pilot, layout_.timer)) return false;
    const std::uint32_t cycles = (pilot.zero16 + pilot.one16) / 64;
    if (cycles < layout_.from_cycles ||
        (layout_.below_cycles != 0 && cycles >= layout_.below_cycles))
      return false;
    if (!sync_pilot(pilot)) return false;
    bytes_.clear();
    return true;
  }

  bool byte(std::uint8_t v, const PulseBlock&, std::size_t) {
    if (!synced()) return sync_on(v);
    bytes_.push_back(v);
    if (layout_.lsb_after_first && bytes_.size() == 1) bits_.set_msb_first(false);
    if (bytes_.size() == layout_.head) {
      head_ = layout_.read_head(bytes_.data());
      if (!head_.ok) return false;
    }
    if (bytes_.size() < layout_.head) return true;
    const std::size_t read = whole();
    // The next block's pilot right after the data: a block without filler, whole.
    if (filler() > 0 && bytes_.size() == read - filler() + 1 && rotation_of(v, layout_.pilot)) {
      bytes_.pop_back();
      emit_file(true, true);
      return false;
    }
    if (bytes_.size() > read) {  // the fixed bytes after the block
      const std::size_t at = bytes_.size() - 1 - read;
      const bool same = v == layout_.post_byte(at);
      if (same && at + 1 < layout_.post) return true;
      emit_file(true, same);
      return false;
    }
    if (bytes_.size() < read || layout_.post > 0) return true;
    emit_file(true);
    return expect_end(layout_.pilot, layout_.trailer);
  }

  bool no_bit(std::uint64_t) {
    if (!synced() || bytes_.size() < layout_.head) return false;
    // Bits that stop right after the data end a block without filler, whole.
    const bool no_filler = layout_.page_filler && bytes_.size() == whole() - filler();
    emit_file(no_filler, no_filler);
    return false;
  }
  void close() { no_bit(0); }

 private:
  std::size_t sum_bytes() const {
    return layout_.sum == BlockLayout::Sum::kNone || layout_.sum_in_head >= 0 ? 0 : 1;
  }
  std::size_t filler() const {
    return layout_.page_filler ? (0x100 - head_.size % 0x100) % 0x100 : 0;
  }
  std::size_t whole() const {
    return layout_.head + head_.size + sum_bytes() + layout_.tail + filler();
  }

  // `whole`: the fixed bytes after it came, all of them.
  void emit_file(bool complete, bool whole = false) {
    const auto data_end = std::min(bytes_.size(), layout_.head + head_.size);
    std::vector<std::uint8_t> data(bytes_.begin() + static_cast<long>(layout_.head),
                                   bytes_.begin() + static_cast<long>(data_end));
    bool sum_ok = true;
    int found = -1, computed = -1;
    if (layout_.sum != BlockLayout::Sum::kNone) {
      std::uint8_t x = 0;
      for (auto b : data) x ^= b;
      if (layout_.sum == BlockLayout::Sum::kXorHeadAndData)
        for (std::size_t i = 0; i < layout_.head; ++i) x ^= bytes_[i];
      const std::size_t at = layout_.sum_in_head >= 0
                                 ? static_cast<std::size_t>(layout_.sum_in_head)
                                 : layout_.head + head_.size;
      sum_ok = complete && x == bytes_[at];
      if (complete) {
        found = bytes_[at];
        computed = x;
      }
    }
    const CopyReport report{true, 0, complete && sum_ok, complete, found, computed};
    TapeFile f = file(Kind::kProgram, head_.name, head_.start, std::move(data), report,
                      span_offset(), span_time());
    f.end = static_cast<std::uint16_t>(head_.start + head_.size);
    if (f.verdict == Verdict::kBad && layout_.bad_note) f.notes.push_back(layout_.bad_note);
    f.evidence = static_cast<int>(layout_.sync_size) + 1;  // and a head that checked out
    end_span();
    emit(std::move(f), whole);
  }

  const BlockLayout& layout_;
  std::vector<std::uint8_t> bytes_;  // from the head on
  BlockHead head_;
  std::uint8_t own_sync_ = 0;  // the sync its boot file told
};

// The little-endian and big-endian words in a head.
inline std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint16_t be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
// A head's start and exclusive end.
inline BlockHead start_end(std::uint16_t start, std::uint16_t end) {
  BlockHead h;
  h.start = start;
  h.size = static_cast<std::uint16_t>(end - start);
  return h;
}
// The same where an end of 0 is the top of memory (the data up to $FFFF): a head whose end
// is not above its start, or that would load the whole of memory, is none.
inline BlockHead start_end_to_top(std::uint16_t start, std::uint16_t end) {
  BlockHead h = start_end(start, end);
  h.ok = end == 0 ? start != 0 : end > start;
  return h;
}

}  // namespace tapewren::tape
