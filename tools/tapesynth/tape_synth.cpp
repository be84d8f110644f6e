// Tape synthesis: the standard loader's pulse pairs and markers, the turbo encodings' bits.
#include "tape_synth.hpp"

#include <algorithm>
#include <cmath>

namespace tapewren::synth {

namespace {

// Countdown encodings: the K..1 countdown and the name's place.
int countdown_length(Encoding e) {
  return e == Encoding::kCountdown12 ? 12 : 9;
}

// How far a pulse may stray and still stay inside every window it must meet.
constexpr int kStdJitterLimit = 15;
constexpr int kTurboJitterLimit = 10;

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
}

void TapeWriter::pulse(std::uint8_t value, int limit) {
  int v = value;
  const int j = std::min(layout_.jitter, limit);
  if (j > 0) v += static_cast<int>(next_random() % static_cast<std::uint32_t>(2 * j + 1)) - j;
  // The low three bits of a word are below what the scanners see: fill them too.
  const double speed = layout_.speed * (1 + layout_.drift * static_cast<double>(pulses_++) / 1e5);
  word(static_cast<std::uint16_t>(
      std::lround((v * 8 + static_cast<int>(next_random() % 8)) * speed)));
}

void TapeWriter::gap() {
  for (int i = 0; i < layout_.noise_spikes; ++i)
    word(static_cast<std::uint16_t>(8 + next_random() % 100));
  for (int i = 0; i < layout_.gap_words; ++i) word(0xFFFF);
}

void TapeWriter::std_lead_in(int pulses) {
  for (int i = 0; i < pulses; ++i) pulse(kStdShort, kStdJitterLimit);
}

void TapeWriter::std_byte(std::uint8_t byte, bool bad_parity, bool dropout) {
  pulse(kStdLong, kStdJitterLimit);  // byte marker
  pulse(kStdMedium, kStdJitterLimit);
  int ones = 0;
  for (int bit = 0; bit < 8; ++bit) {  // least significant bit first
    const bool one = (byte >> bit) & 1;
    ones += one;
    pulse(dropout && bit == 2 ? kStdLong : one ? kStdMedium : kStdShort, kStdJitterLimit);
    pulse(one ? kStdShort : kStdMedium, kStdJitterLimit);
  }
  const bool parity = ((ones % 2) == 0) != bad_parity;  // odd over the data bits and this one
  pulse(parity ? kStdMedium : kStdShort, kStdJitterLimit);
  pulse(parity ? kStdShort : kStdMedium, kStdJitterLimit);
}

// A block: countdown 0x89..0x81 (its repeat 0x09..0x01), the bytes, their XOR checksum and
// the end-of-data marker.
void TapeWriter::std_block(const std::vector<std::uint8_t>& bytes, bool repeat,
                           const TapeFile* damage) {
  for (int n = 9; n >= 1; --n) std_byte(static_cast<std::uint8_t>((repeat ? 0x00 : 0x80) + n));
  std::uint8_t checksum = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::pair<int, int> here{repeat ? 2 : 1, static_cast<int>(i)};
    const auto listed = [&](const std::vector<std::pair<int, int>>& list) {
      return std::find(list.begin(), list.end(), here) != list.end();
    };
    std_byte(bytes[i], damage && listed(damage->parity_errors), damage && listed(damage->dropouts));
    checksum ^= bytes[i];
  }
  std_byte(damage && damage->bad_checksum ? static_cast<std::uint8_t>(~checksum) : checksum);
  pulse(kStdLong, kStdJitterLimit);
  pulse(kStdShort, kStdJitterLimit);
}

void TapeWriter::add_standard(const TapeFile& file) {
  const std::uint16_t end = static_cast<std::uint16_t>(file.start_address + file.data.size());
  std::vector<std::uint8_t> header = {
      file.header_type, static_cast<std::uint8_t>(file.start_address & 0xFF),
      static_cast<std::uint8_t>(file.start_address >> 8), static_cast<std::uint8_t>(end & 0xFF),
      static_cast<std::uint8_t>(end >> 8)};
  const auto name = padded_name(file.name);
  header.insert(header.end(), name.begin(), name.end());
  header.resize(192, 0x20);
  auto twice = [&](int lead_in, const std::vector<std::uint8_t>& block, const TapeFile* damage) {
    std_lead_in(lead_in);
    std_block(block, false, damage);
    std_lead_in(layout_.repeat_lead_in);
    std_block(block, true, damage);
  };
  if (file.with_header) twice(layout_.header_lead_in, header, nullptr);
  if (!file.with_data) return;
  if (file.header_type != 4) return twice(layout_.data_lead_in, file.data, &file);
  for (std::size_t at = 0; at < file.data.size(); at += 191) {  // a data file's records
    std::vector<std::uint8_t> record = {2};
    record.insert(record.end(), file.data.begin() + static_cast<long>(at),
                  file.data.begin() + static_cast<long>(std::min(file.data.size(), at + 191)));
    record.resize(192, 0);
    twice(layout_.data_lead_in, record, &file);
  }
}

void TapeWriter::turbo_byte(std::uint8_t byte) {
  for (int bit = 7; bit >= 0; --bit)  // most significant bit first
    pulse(((byte >> bit) & 1) ? kTurboOne : kTurboZero, kTurboJitterLimit);
}

void TapeWriter::add_countdown(const TapeFile& file) {
  const Encoding e = file.encoding;
  const int k = countdown_length(e);
  auto block = [&](int pilot, std::uint8_t id, const std::vector<std::uint8_t>& body) {
    for (int i = 0; i < pilot; ++i) turbo_byte(0x02);
    for (int n = k; n >= 1; --n) turbo_byte(static_cast<std::uint8_t>(n));
    turbo_byte(id);
    for (auto b : body) turbo_byte(b);
  };
  const std::uint16_t end = static_cast<std::uint16_t>(file.start_address + file.data.size());
  std::vector<std::uint8_t> header = {static_cast<std::uint8_t>(file.start_address & 0xFF),
                                      static_cast<std::uint8_t>(file.start_address >> 8),
                                      static_cast<std::uint8_t>(end & 0xFF),
                                      static_cast<std::uint8_t>(end >> 8), 0x00};
  const auto name = padded_name(file.name);
  header.insert(header.end(), name.begin(), name.end());
  header.resize(191, 0x20);
  if (file.with_header) block(layout_.header_pilot, file.header_type, header);
  std::vector<std::uint8_t> body = file.data;
  std::uint8_t checksum = file.bad_checksum ? 0xFF : 0;
  for (auto b : body) checksum ^= b;
  body.push_back(checksum);
  if (file.with_data) block(layout_.data_pilot, 0x00, body);
}

void TapeWriter::add(const TapeFile& file) {
  if (file.encoding == Encoding::kStandard) {
    add_standard(file);
  } else {
    add_countdown(file);
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
