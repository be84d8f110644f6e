// Tape synthesis, each encoding written from its format's description.
#include "synth/tape_synth.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace tapewren::synth {

namespace {

// How far a pulse may stray and still stay inside every window it must meet.
constexpr int kStdJitterLimit = 15;
constexpr int kTurboJitterLimit = 10;
// The C16's full waves: about 45, 90 and 181 TAP units of 8 TED cycles, in half cycles.
constexpr double kC16Short = 45 * 16, kC16Medium = 90 * 16, kC16Long = 181 * 16;
// Shorts after a C16 block: the first copy's trailer is its repeat's lead-in.
constexpr int kC16TrailerFirst = 450, kC16TrailerRepeat = 190;
constexpr double kC64Clock = 985248;

}  // namespace

std::vector<std::uint8_t> padded_name(const std::string& name) {
  std::vector<std::uint8_t> out(16, 0x20);
  std::copy_n(name.begin(), std::min<std::size_t>(16, name.size()), out.begin());
  return out;
}

std::uint32_t TapeWriter::next_random() {
  random_ = random_ * 1664525u + 1013904223u;
  return random_ >> 8;
}

void TapeWriter::word(std::uint16_t w) {
  out_.push_back(static_cast<std::uint8_t>(w & 0xFF));
  out_.push_back(static_cast<std::uint8_t>(w >> 8));
  half_cycles_ += w;
}

void TapeWriter::emit(double half_cycles, int limit) {
  const int j = layout_.exact ? 0 : std::min(layout_.jitter, limit);
  double v = half_cycles;
  if (j > 0)
    v += 8.0 * (static_cast<int>(next_random() % static_cast<std::uint32_t>(2 * j + 1)) - j);
  // The low three bits of a word are below what the name scanners see: fill them too.
  if (!layout_.exact) v += next_random() % 8;
  v *= layout_.speed * (1 + layout_.drift * static_cast<double>(pulses_++) / 1e5);
  const auto whole = static_cast<long>(std::lround(v));
  if (!layout_.both_edges) {
    word(static_cast<std::uint16_t>(std::min(whole, 0xFFFEL)));
    return;
  }
  // The two halves of a recorded wave are never quite equal; an exact one's are.
  const long first = layout_.exact ? whole / 2 : whole / 2 + whole / 40;
  word(static_cast<std::uint16_t>(first));
  word(static_cast<std::uint16_t>(whole - first));
}

void TapeWriter::silence(std::uint64_t half_cycles) {
  for (; half_cycles >= 0xFFFF; half_cycles -= 0xFFFF) word(0xFFFF);
  word(static_cast<std::uint16_t>(half_cycles));  // the rest ends the pause
}

void TapeWriter::place(int block, int copy) {
  placed_.push_back({file_, block, copy, out_.size(), half_cycles_});
}

template <typename Write>
void TapeWriter::copy(const TapeFile& file, int block, int copy, Write write) {
  const auto lost = std::find(file.lost_copies.begin(), file.lost_copies.end(),
                              std::pair<int, int>{block, copy}) != file.lost_copies.end();
  if (!lost) place(block, copy);
  const std::size_t size = out_.size();
  const std::uint64_t start = half_cycles_;
  write();
  if (!lost) return;
  const std::uint64_t length = half_cycles_ - start;
  out_.resize(size);
  half_cycles_ = start;
  silence(length);
}

void TapeWriter::gap() {
  for (int i = 0; i < layout_.noise_spikes; ++i)
    word(static_cast<std::uint16_t>(8 + next_random() % 100));
  const double noise_end =
      static_cast<double>(half_cycles_) + layout_.noise_seconds * 2 * kC64Clock;
  while (static_cast<double>(half_cycles_) < noise_end)
    word(static_cast<std::uint16_t>(150 + next_random() % 1500));
  for (int i = 0; i < layout_.gap_words; ++i) word(0xFFFF);
  word(0);  // the pause ends
}

// ---- The ROM loaders --------------------------------------------------------------------
// A byte: a marker (long, medium), eight bits least significant first (short+medium = 0,
// medium+short = 1) and a parity bit that makes the ones odd. The C64's pulses; the C16's
// full waves of 1 : 2 : 4.

std::array<double, 3> TapeWriter::rom_pulses() const {
  if (!layout_.exact) {
    if (c16_) return {kC16Short, kC16Medium, kC16Long};
    return {8.0 * kStdShort, 8.0 * kStdMedium, 8.0 * kStdLong};
  }
  if (c16_) return {16.0 * 0x35, 16.0 * 0x6A, 16.0 * 0xD4};
  if (layout_.vic20) return {16.0 * 0x2B, 16.0 * 0x3F, 16.0 * 0x53};
  return {16.0 * 0x30, 16.0 * 0x42, 16.0 * 0x56};
}

void TapeWriter::rom_byte(std::uint8_t byte, bool bad_parity, bool dropout) {
  const auto [s, m, l] = rom_pulses();
  emit(l, kStdJitterLimit);  // byte marker
  emit(m, kStdJitterLimit);
  int ones = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const bool one = (byte >> bit) & 1;
    ones += one;
    emit(dropout && bit == 2 ? l : one ? m : s, kStdJitterLimit);
    emit(one ? s : m, kStdJitterLimit);
  }
  const bool parity = ((ones % 2) == 0) != bad_parity;  // odd over the data bits and this one
  emit(parity ? m : s, kStdJitterLimit);
  emit(parity ? s : m, kStdJitterLimit);
}

// A block: countdown 0x89..0x81 (its repeat 0x09..0x01), the bytes, their XOR checksum, and
// the end: long+short on the C64; one medium wave and the trailer's shorts on the C16.
void TapeWriter::rom_block(const std::vector<std::uint8_t>& bytes, bool repeat,
                           const TapeFile* damage) {
  for (int n = 9; n >= 1; --n) rom_byte(static_cast<std::uint8_t>((repeat ? 0x00 : 0x80) + n));
  std::uint8_t checksum = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::pair<int, int> here{repeat ? 2 : 1, static_cast<int>(i)};
    const auto listed = [&](const std::vector<std::pair<int, int>>& list) {
      return std::find(list.begin(), list.end(), here) != list.end();
    };
    rom_byte(bytes[i], damage && listed(damage->parity_errors), damage && listed(damage->dropouts));
    checksum ^= bytes[i];
  }
  rom_byte(damage && damage->bad_checksum ? static_cast<std::uint8_t>(~checksum) : checksum);
  if (!c16_) {
    emit(rom_pulses()[2], kStdJitterLimit);
    emit(rom_pulses()[0], kStdJitterLimit);
    return;
  }
  emit(rom_pulses()[1], kStdJitterLimit);
  for (int i = 0; i < (repeat ? kC16TrailerRepeat : kC16TrailerFirst); ++i)
    emit(rom_pulses()[0], kStdJitterLimit);
}

void TapeWriter::rom_copy(const std::vector<std::uint8_t>& bytes, bool repeat, bool c16) {
  c16_ = c16;
  rom_block(bytes, repeat, nullptr);
}

void TapeWriter::add_rom(const TapeFile& file) {
  c16_ = file.encoding == Encoding::kC16;
  const std::size_t size =
      file.announced_size >= 0 ? static_cast<std::size_t>(file.announced_size) : file.data.size();
  const auto end = static_cast<std::uint16_t>(file.start_address + size);
  std::vector<std::uint8_t> header = {
      file.header_type, static_cast<std::uint8_t>(file.start_address & 0xFF),
      static_cast<std::uint8_t>(file.start_address >> 8), static_cast<std::uint8_t>(end & 0xFF),
      static_cast<std::uint8_t>(end >> 8)};
  const auto name = padded_name(file.name);
  header.insert(header.end(), name.begin(), name.end());
  header.insert(header.end(), file.header_filler.begin(), file.header_filler.end());
  header.resize(192, 0x20);
  const double s = rom_pulses()[0];
  const auto twice = [&](int block, int lead_in, const std::vector<std::uint8_t>& bytes,
                         const TapeFile* damage) {
    copy(file, block, 1, [&] {
      for (int i = 0; i < lead_in; ++i) emit(s, kStdJitterLimit);
      rom_block(bytes, false, damage);
    });
    copy(file, block, 2, [&] {
      if (!c16_)  // on the C16 the first copy's trailer leads into the repeat
        for (int i = 0; i < layout_.repeat_lead_in; ++i) emit(s, kStdJitterLimit);
      rom_block(bytes, true, damage);
    });
  };
  if (file.with_header) twice(0, layout_.header_lead_in, header, nullptr);
  if (!file.with_data) return;
  if (layout_.header_data_gap_words > 0) silence(0xFFFFull * layout_.header_data_gap_words);
  if (file.header_type != 4) return twice(1, layout_.data_lead_in, file.data, &file);
  for (std::size_t at = 0, block = 1; at < file.data.size(); at += 191, ++block) {
    std::vector<std::uint8_t> record = {2};  // a data file's records
    record.insert(record.end(), file.data.begin() + static_cast<long>(at),
                  file.data.begin() + static_cast<long>(std::min(file.data.size(), at + 191)));
    record.resize(192, 0);
    twice(static_cast<int>(block), layout_.data_lead_in, record, &file);
  }
}

// ---- The countdown encodings ------------------------------------------------------------
// One pulse a bit, most significant first; a pilot of 0x02 bytes, the countdown K..1, an ID
// or type byte, then the block.

void TapeWriter::turbo_byte(std::uint8_t byte) {
  if (scramble_) byte = static_cast<std::uint8_t>(next_random());
  // Exact: Turbo Tape's own 0x1A and 0x28 TAP units.
  const double zero = layout_.exact ? 16.0 * 0x1A : 8.0 * kTurboZero,
               one = layout_.exact ? 16.0 * 0x28 : 8.0 * kTurboOne;
  for (int bit = 7; bit >= 0; --bit) emit(((byte >> bit) & 1) ? one : zero, kTurboJitterLimit);
}

void TapeWriter::add_countdown(const TapeFile& file) {
  const int k = file.encoding == Encoding::kCountdown12 ? 12 : 9;
  const auto block = [&](int index, int pilot, std::uint8_t id,
                         const std::vector<std::uint8_t>& body) {
    copy(file, index, 1, [&] {
      this->pilot();
      for (int i = 0; i < pilot; ++i) turbo_byte(0x02);
      for (int n = k; n >= 1; --n) turbo_byte(static_cast<std::uint8_t>(n));
      synced(file);
      turbo_byte(id);
      for (auto b : body) turbo_byte(b);
    });
  };
  const std::size_t size =
      file.announced_size >= 0 ? static_cast<std::size_t>(file.announced_size) : file.data.size();
  const auto end = static_cast<std::uint16_t>(file.start_address + size);
  std::vector<std::uint8_t> header = {static_cast<std::uint8_t>(file.start_address & 0xFF),
                                      static_cast<std::uint8_t>(file.start_address >> 8),
                                      static_cast<std::uint8_t>(end & 0xFF),
                                      static_cast<std::uint8_t>(end >> 8), 0x00};
  const auto name = padded_name(file.name);
  header.insert(header.end(), name.begin(), name.end());
  header.resize(191, 0x20);
  if (file.with_header) block(0, layout_.header_pilot, file.header_type, header);
  if (!file.with_data) return;
  if (layout_.header_data_gap_words > 0) silence(0xFFFFull * layout_.header_data_gap_words);
  std::vector<std::uint8_t> body = file.data;
  std::uint8_t checksum = file.bad_checksum ? 0xFF : 0;
  for (auto b : body) checksum ^= b;
  body.push_back(checksum);
  block(1, layout_.data_pilot, 0x00, body);
}

void TapeWriter::bit(bool one, const TurboBits& bits) {
  if (scramble_) one = (next_random() & 1) != 0;
  if (bits.half_waves) {
    for (int k = 0; k < (one ? 1 : 2); ++k) {
      const int half = one ? 2 : 1;
      if (half_ == 0) {
        half_ = half;
        continue;
      }
      const int sum = half_ + half;
      emit(16 * (sum == 2 ? bits.zero : sum == 3 ? bits.medium : bits.one), kTurboJitterLimit);
      half_ = 0;
    }
    return;
  }
  if (bits.medium > 0) {
    if (after_one_ && !waiting_zero_ && !one) {
      waiting_zero_ = true;
      return;
    }
    // A medium pulse turns the state over (1 after a 0, 00 after a 1), as a long 1 after a 0
    // does; a long one after a 1 (01) keeps it.
    const bool medium = after_one_ ? waiting_zero_ && !one : one;
    const double length = !medium                ? (waiting_zero_ ? bits.one : bits.zero)
                          : after_one_           ? bits.medium
                          : bits.long_after_zero ? bits.one
                                                 : bits.medium;
    emit(16 * length, kTurboJitterLimit);
    if (medium) after_one_ = !after_one_;
    waiting_zero_ = false;
    return;
  }
  emit(16 * (one ? bits.one : bits.zero), kTurboJitterLimit);
  if (one && bits.one_twice) emit(16 * bits.one, kTurboJitterLimit);
}

void TapeWriter::byte(std::uint8_t value, const TurboBits& bits, int lead) {
  if (scramble_) value = static_cast<std::uint8_t>(next_random());
  for (int i = 0; i < lead; ++i) bit(true, bits);
  for (int k = 0; k < 8; ++k) bit((value >> (bits.msb_first ? 7 - k : k)) & 1, bits);
}

void TapeWriter::end_bits(const TurboBits& bits) {
  if (bits.half_waves) {
    emit(16 * (half_ == 2 ? bits.medium : bits.zero), kTurboJitterLimit);
    half_ = 0;
    return;
  }
  // Back to reading short pulses as 0 (a pilot's): a medium pulse, 00, after a 1.
  if (bits.medium <= 0 || !after_one_) return;
  if (!waiting_zero_) bit(false, bits);
  bit(false, bits);
}

void TapeWriter::data_byte(const TapeFile& file, std::size_t index, std::uint8_t value,
                           const TurboBits& bits, int lead) {
  if (file.dropout_at >= 0 && index == static_cast<std::size_t>(file.dropout_at)) {
    silence(2ull * 985248);  // the tape lost its signal for a second
    return;
  }
  if (file.flip_bit >= 0 && index == static_cast<std::size_t>(file.flip_bit)) {
    if (lead > 0) {  // a format whose bytes are framed: the lead bit is the one flipped
      bit(false, bits);
      for (int i = 1; i < lead; ++i) bit(true, bits);
      byte(value, bits, 0);
      return;
    }
    value ^= 0x10;
  }
  byte(value, bits, lead);
}

void TapeWriter::synced(const TapeFile& file) {
  syncs_.push_back(out_.size());
  scramble_ = file.scrambled;
}

void TapeWriter::add(const TapeFile& file) {
  ++file_;
  scramble_ = false;
  switch (file.encoding) {
    case Encoding::kStandard:
    case Encoding::kC16:
      return add_rom(file);
    case Encoding::kCountdown9:
    case Encoding::kCountdown12:
      return add_countdown(file);
    default:
      return add_turbo(*this, file);
  }
}

std::vector<std::uint8_t> synthesize(const std::vector<TapeFile>& files, const TapeLayout& layout) {
  TapeWriter writer(layout);
  for (const auto& f : files) {
    writer.gap();
    writer.add(f);
  }
  writer.gap();
  return writer.words();
}

}  // namespace tapewren::synth
