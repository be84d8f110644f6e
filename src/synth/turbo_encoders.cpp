// The commercial turbo loaders' encoders, each written from its format's public description
// (the tape tools' format notes), never from the decoders' constants. Pulse lengths are the
// formats' nominal TAP values; a file's data goes in as the format lays it out, with the
// file's damage (a flipped bit, a dropout) in its data bytes.
#include <algorithm>

#include "synth/tape_synth.hpp"

namespace tapewren::synth {

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint8_t lo(unsigned v) {
  return static_cast<std::uint8_t>(v & 0xFF);
}
std::uint8_t hi(unsigned v) {
  return static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
std::uint8_t xor_of(const Bytes& bytes) {
  std::uint8_t x = 0;
  for (auto b : bytes) x ^= b;
  return x;
}
std::uint16_t end_of(const TapeFile& f) {
  return static_cast<std::uint16_t>(f.start_address + f.data.size());
}

struct Writer {
  TapeWriter& w;
  const TapeFile& f;
  TurboBits bits;
  int lead = 0;
  int block = 10;  // the placements of the file's blocks

  void bit(bool one, int n = 1) {
    for (int i = 0; i < n; ++i) w.bit(one, bits);
  }
  void put(std::uint8_t b) { w.byte(b, bits, lead); }
  void put(const Bytes& bytes) {
    for (auto b : bytes) put(b);
  }
  void pilot(std::uint8_t b, int n) {
    w.place(block++, 1);
    w.pilot();
    for (int i = 0; i < n; ++i) put(b);
  }
  // The sync is written: a scrambled file goes on in random bytes.
  void synced() { w.synced(f); }
  // The file's data bytes from `from`, `n` of them, with its damage.
  void data(std::size_t from, std::size_t n,
            std::uint8_t (*code)(std::size_t, std::uint8_t) = nullptr) {
    for (std::size_t i = from; i < from + n && i < f.data.size(); ++i)
      w.data_byte(f, i, code ? code(i, f.data[i]) : f.data[i], bits, lead);
  }
  void pause() { w.silence(2 * 985248 / 5); }  // a fifth of a second
};

// ---- Novaload: a pilot of about 2,000 0 bits, a 1, then 0xAA. Bits 0x24 / 0x56, LSB first.
// Normal: the name's length and the name, start - 256, end and size + 256 (little-endian),
// then the data in 256-byte sub-blocks, each after a check byte and the last followed by one:
// every check byte is the sum (mod 256) of everything from the name's length on, the earlier
// check bytes included. A trailer of 0 bits. Special: 0xAA 0x55, then sub-blocks of the
// load address's high byte, 256 bytes and the sum of the 257; a high byte of 0 ends them.
void novaload(Writer& o, bool special) {
  o.w.place(o.block++, 1);
  o.bit(false, 2000);
  o.bit(true);
  o.put(0xAA);
  if (special) {
    o.put(0x55);
    o.synced();
    for (std::size_t at = 0; at < o.f.data.size(); at += 256) {
      const std::uint8_t page = hi(o.f.start_address + static_cast<unsigned>(at));
      unsigned sum = page;
      o.put(page);
      for (std::size_t i = at; i < at + 256; ++i) sum += i < o.f.data.size() ? o.f.data[i] : 0;
      o.data(at, 256);
      for (std::size_t i = o.f.data.size(); i < at + 256; ++i) o.put(0);
      o.put(lo(sum));
    }
    o.put(0);
  } else {
    const Bytes name(o.f.name.begin(), o.f.name.end());
    Bytes header = {static_cast<std::uint8_t>(name.size())};
    header.insert(header.end(), name.begin(), name.end());
    const unsigned start = o.f.start_address - 256u, size = o.f.data.size() + 256u;
    for (unsigned v : {start, unsigned{end_of(o.f)}, size}) {
      header.push_back(lo(v));
      header.push_back(hi(v));
    }
    unsigned sum = 0;
    for (auto b : header) sum += b;
    o.synced();
    o.put(header);
    for (std::size_t at = 0;; at += 256) {
      o.put(lo(sum));  // the check byte counts in the sum after it
      sum += lo(sum);
      if (at >= o.f.data.size()) break;
      const std::size_t n = std::min<std::size_t>(256, o.f.data.size() - at);
      for (std::size_t i = at; i < at + n; ++i) sum += o.f.data[i];
      o.data(at, n);
    }
  }
  o.bit(false, 2000);
}

// ---- Freeload (and Graftgold, 180, Invade-a-load with half the pilot): a pilot of 0x40
// bytes, 0x5A, start and end (little-endian, the end exclusive), the data and the XOR of the
// data. Bits 0x24 / 0x42, MSB first.
void freeload_block(Writer& o, int pilot_bytes) {
  o.pilot(0x40, pilot_bytes);
  o.put(0x5A);
  o.synced();
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
}
void freeload(Writer& o) {
  freeload_block(o, o.f.variant == 1 ? 64 : 128);
}

// ---- Ocean/Imagine: the boot file, loaded at $0316 by the ROM loader, holds the loader's byte
// handler: BCC; LDY #$80; LDA $02; STY $02; LDY $03; BEQ; STA $000A,Y; DEC $03; BNE; ORA #0;
// BNE; INC $04. On tape: 4,112 0 bits (Arkanoid's pilot), a 1; F2 and F3 then 0xAA. Then
// sub-blocks of a flag (the loader's options for the page: which RAM to switch in, colour
// RAM), the high byte of the page they load to and 256 bytes; no checksum. F1 and F2 end with
// a high byte of 0 and 2,047 0 bits, F3 with 2 (and a trailer of 0x02 bytes). Bits 0x24 /
// 0x56, LSB first.
void ocean(Writer& o) {
  if (o.f.with_boot) {
    Bytes boot(400, 0xEA);
    const Bytes handler = {0x90, 0x4B, 0xA0, 0x80, 0xA5, 0x02, 0x84, 0x02, 0xA4,
                           0x03, 0xF0, 0x14, 0x99, 0x0A, 0x00, 0xC6, 0x03, 0xD0,
                           0x3A, 0x09, 0x00, 0xD0, 0x36, 0xE6, 0x04};
    std::copy(handler.begin(), handler.end(), boot.begin() + (0x047D - 0x0316));
    o.w.add_rom({Encoding::kStandard, 3, "OCEAN", boot, 0x0316});
    o.pause();
  }
  o.w.place(o.block++, 1);
  o.bit(false, 4112);
  o.bit(true);
  if (o.f.variant >= 2) o.put(0xAA);
  o.synced();
  for (std::size_t at = 0; at < o.f.data.size(); at += 256) {
    const std::uint8_t page = hi(o.f.start_address + static_cast<unsigned>(at));
    o.put(o.f.flag >= 0 ? static_cast<std::uint8_t>(o.f.flag) : page >= 0xA0 ? 1 : 0);
    o.put(page);
    o.data(at, 256);
    for (std::size_t i = o.f.data.size(); i < at + 256; ++i) o.put(0);
  }
  o.put(0);
  if (o.f.variant == 3) {
    for (int i = 0; i < 257; ++i) o.put(0x02);
  } else {
    o.put(0);
    o.bit(false, 2047);
  }
}

// ---- U.S. Gold: a pilot of 0x20 bytes, 0xFF, the 16-byte name, start and end, the data and
// the XOR of the data. Bits 0x24 / 0x42, MSB first.
void us_gold(Writer& o) {
  o.pilot(0x20, 64);
  o.put(0xFF);
  o.synced();
  o.put(padded_name(o.f.name));
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  o.put(static_cast<std::uint8_t>(xor_of(o.f.data) ^ (o.f.bad_checksum ? 0xFF : 0)));
}

// ---- Microload: 0xA0 bytes, the countdown 0x0A..0x01, the start, the size as 0x10000 -
// size (both little-endian), the data and its XOR. Bits 0x1C / 0x36, LSB first.
void microload(Writer& o) {
  o.pilot(0xA0, 255);
  for (int n = 10; n >= 1; --n) o.put(static_cast<std::uint8_t>(n));
  o.synced();
  const unsigned size = 0x10000u - static_cast<unsigned>(o.f.data.size());
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(size), hi(size)});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
}

// ---- Wildload: 0xA0 bytes, the countdown 0x0A..0x01, then sub-blocks end to end: the
// address of the last byte and the size (little-endian), one byte, the data backwards (the
// last byte first), each XORed with the low byte of its address, and the XOR of the data as
// it loads. A sub-block of end 0 and size 0 stops the chain. Bits 0x30 / 0x47, LSB first.
void wildload(Writer& o) {
  o.pilot(0xA0, 256);
  for (int n = 10; n >= 1; --n) o.put(static_cast<std::uint8_t>(n));
  o.synced();
  for (std::size_t at = 0; at < o.f.data.size(); at += 256) {
    const std::size_t n = std::min<std::size_t>(256, o.f.data.size() - at);
    const unsigned last = o.f.start_address + static_cast<unsigned>(at + n - 1);
    o.put({lo(last), hi(last), lo(static_cast<unsigned>(n)), hi(static_cast<unsigned>(n)), 0});
    std::uint8_t sum = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t i = at + n - 1 - k;
      sum ^= o.f.data[i];
      const auto address = static_cast<unsigned>(o.f.start_address + i);
      o.w.data_byte(o.f, i, static_cast<std::uint8_t>(o.f.data[i] ^ lo(address)), o.bits);
    }
    o.put(sum);
  }
  o.put({0, 0, 0, 0, 0xFF});
}

// ---- Bleepload: 2,000 1 bits, then blocks, each: its pilot byte (0x0F for the first) ten
// times, that byte inverted and itself, the next block's pilot byte, the block's number from
// 0, the load address, the data (64 bytes in block 0, 256 in the others), a count of bytes to
// skip and those bytes, the XOR of the data and an execution address; a short pause between
// blocks. After the last, an 8-byte trigger (its first byte 0) and 2,040 1 bits. Special:
// one pilot byte for all blocks, each with its number, the load address, the chain's end,
// the execution address, 256 bytes and their XOR; the last when end - load is 256. Bits 0x30
// / 0x5A, MSB first.
void bleepload(Writer& o, bool special) {
  o.w.place(o.block++, 1);
  o.bit(true, 2000);
  const std::uint8_t fixed = o.f.pilot_byte ? o.f.pilot_byte : 0x50;
  std::uint8_t pilot = special ? fixed : 0x0F;
  const unsigned end =
      o.f.start_address + static_cast<unsigned>((o.f.data.size() + 255) / 256 * 256);
  std::size_t at = 0;
  for (int number = 0; at < o.f.data.size() || number == 0; ++number) {
    const std::size_t n = special || number > 0 ? 256 : 64;
    // A block lost to a dropout: (its number, 1) in lost_copies; only the pause is left.
    const bool lost = std::find(o.f.lost_copies.begin(), o.f.lost_copies.end(),
                                std::pair<int, int>{number, 1}) != o.f.lost_copies.end();
    if (lost && number > 0) {
      at += n;
      if (!special) pilot = static_cast<std::uint8_t>(pilot == 0x0F ? 0x35 : pilot + 1);
      continue;
    }
    if (number > 0) {
      o.w.place(o.block++, 1);
      o.pause();
    }
    const std::uint8_t next = static_cast<std::uint8_t>(pilot == 0x0F ? 0x35 : pilot + 1);
    o.w.pilot();
    for (int i = 0; i < 10; ++i) o.put(pilot);
    o.put({static_cast<std::uint8_t>(pilot ^ 0xFF), pilot});
    o.synced();
    const unsigned load = o.f.start_address + static_cast<unsigned>(at);
    if (special) {
      o.put({static_cast<std::uint8_t>(number), lo(load), hi(load), lo(end), hi(end),
             lo(o.f.start_address), hi(o.f.start_address)});
    } else {
      o.put({next, static_cast<std::uint8_t>(number), lo(load), hi(load)});
    }
    Bytes block(n, 0);
    for (std::size_t i = 0; i < n && at + i < o.f.data.size(); ++i) block[i] = o.f.data[at + i];
    o.data(at, n);
    for (std::size_t i = o.f.data.size(); i < at + n; ++i) o.put(0);
    if (!special) o.put({2, 0xEA, 0xEA});  // two bytes skipped
    o.put(xor_of(block));
    if (!special) o.put({lo(o.f.start_address), hi(o.f.start_address)});
    at += n;
    if (!special) pilot = next;
  }
  if (!special)
    o.put({0x00, 0x04, lo(o.f.start_address), hi(o.f.start_address), lo(end), hi(end), 0, 0});
  o.bit(true, 2040);
}

// ---- Burner: the boot file's header holds the loader, XORed with 0x59: the bit order
// (0x26 for ROL, most significant bit first; 0x66 for ROR) at 0x83, the pilot byte at 0x88,
// the sync at 0x93 (the variant: 0x84, 0x89, 0x94) and the number of blocks at 0x7F. Each
// block: 95 pilot bytes, the sync, start and end, the data; no checksum. The variant follows
// the data with a marker (0 after the last block) and an execution address. Bits 0x22 / 0x42.
void burner(Writer& o) {
  const bool variant = o.f.variant == 1;
  TapeFile boot{Encoding::kStandard, 3, "BURNER", Bytes(101, 0xEA), 0x02A7};
  boot.header_filler.assign(171, 0x20);  // the header from byte 21 on
  const auto put = [&](std::size_t at, std::uint8_t v) {
    boot.header_filler[at - 21] = static_cast<std::uint8_t>(v ^ 0x59);
  };
  put(variant ? 0x84 : 0x83, o.f.lsb_first ? 0x66 : 0x26);
  put(variant ? 0x89 : 0x88, o.f.pilot_byte);
  put(variant ? 0x94 : 0x93, o.f.sync_byte);
  put(0x7F, 1);  // one block
  if (o.f.with_boot) {
    o.w.add_rom(boot);
    o.pause();
  }
  o.pilot(o.f.pilot_byte, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 95);
  o.put(o.f.sync_byte);
  o.synced();
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  if (variant) o.put({0, lo(o.f.start_address), hi(o.f.start_address)});
}

// ---- The Turbo Tape family: a pilot of 0x02 bytes and a countdown 0x09..0x01 (or ..0x00),
// most significant bit first, each member with its own layout after it. MMS and Biturbo count
// down from bytes of their own, after longer pilots.
void countdown(Writer& o, int last, int first = 9, int pilot_bytes = 256) {
  o.pilot(0x02, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : pilot_bytes);
  for (int n = first; n >= last; --n) o.put(static_cast<std::uint8_t>(n));
  o.synced();
}

// Anirog: its loader sits in the boot file's ROM header, after the name: JSR $039E; CMP #0;
// BEQ; then four times JSR $03D4 and STA $C1, $C2, $2D, $2E. On tape: a flag (1), load and end
// address, the data; no checksum.
void anirog(Writer& o) {
  if (o.f.with_boot) {
    TapeFile boot{Encoding::kStandard, 3, "ANIROG", Bytes(64, 0xEA), 0x0334};
    boot.header_filler = {0x20, 0x9E, 0x03, 0xC9, 0x00, 0xF0, 0xF9};
    for (const std::uint8_t to : {0xC1, 0xC2, 0x2D, 0x2E})
      boot.header_filler.insert(boot.header_filler.end(), {0x20, 0xD4, 0x03, 0x85, to});
    o.w.add_rom(boot);
    o.pause();
  }
  countdown(o, 1);
  const auto flag = static_cast<std::uint8_t>(o.f.flag >= 0 ? o.f.flag : 1);
  o.put({flag, lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
}
// Turbo 220: load and end, the execution address high byte first, the data; no checksum.
void turbo220(Writer& o) {
  countdown(o, 1);
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f)),
         hi(o.f.start_address), lo(o.f.start_address)});
  o.data(0, o.f.data.size());
}
// American Action: a flag, the name (its length not stored), the size - 1 and the load address
// high byte first, the data; no checksum.
void american_action(Writer& o) {
  countdown(o, 1);
  o.put(1);
  o.put(Bytes(o.f.name.begin(), o.f.name.end()));
  const unsigned size = static_cast<unsigned>(o.f.data.size()) - 1;
  o.put({hi(size), lo(size), hi(o.f.start_address), lo(o.f.start_address)});
  o.data(0, o.f.data.size());
}
// Tequila Sunrise: the block's number, then everything least significant bit first: load and
// end, the data, and the execution address - 1 high byte first; no checksum.
void tequila(Writer& o) {
  countdown(o, 1);
  o.put(1);
  o.bits.msb_first = false;
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  const unsigned exec = o.f.start_address - 1u;
  o.put({hi(exec), lo(exec)});
}
// LK Avalon: the countdown to 0, end and load high byte first, the data, and the XOR of the
// four address bytes and the data.
void lk_avalon(Writer& o) {
  countdown(o, 0);
  const Bytes head = {hi(end_of(o.f)), lo(end_of(o.f)), hi(o.f.start_address),
                      lo(o.f.start_address)};
  o.put(head);
  o.data(0, o.f.data.size());
  o.put(static_cast<std::uint8_t>(xor_of(head) ^ xor_of(o.f.data)));
}
// Power Load: the boot file's data holds the load and end address (at its bytes 1 and 3, and
// 9 and 11); on tape the countdown to 0, the data, its XOR and a trailer of zeros.
void power_load(Writer& o) {
  Bytes boot_data(0xC2, 0xEA);
  boot_data[1] = lo(o.f.start_address);
  boot_data[3] = hi(o.f.start_address);
  boot_data[9] = lo(end_of(o.f));
  boot_data[11] = hi(end_of(o.f));
  if (o.f.with_boot) {
    o.w.add_rom({Encoding::kStandard, 1, "POWER", boot_data, 0x0801});
    o.pause();
  }
  countdown(o, 0);
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
  for (int i = 0; i < 255; ++i) o.put(0);
}
// Turbotape 526: Turbo Tape's header and data blocks with longer pulses: ID 1 or 2 and 192
// bytes (start, end, one byte, the name, spaces), then one byte 0x02; ID 0, the data, its XOR,
// and a trailer of 0 bits.
void turbotape526(Writer& o) {
  countdown(o, 1);
  Bytes header = {o.f.header_type, lo(o.f.start_address), hi(o.f.start_address),
                  lo(end_of(o.f)), hi(end_of(o.f)),       0};
  const auto name = padded_name(o.f.name);
  header.insert(header.end(), name.begin(), name.end());
  header.resize(193, 0x20);
  header.push_back(0x02);
  o.put(header);
  countdown(o, 1);
  o.put(0);
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
  o.bit(false, 2040);
}
// Lexpeed: a master loader of 256 bytes that begins A9 00 85 B4 A9 xx 85 BE A9 yy 85 BF and
// loads at yy x 256, holding at 0xB7 the load, end and execution address of each file after
// it; each file on tape: the countdown to 0, the data and its XOR. Bits 0x4C / 0x72.
void lexpeed(Writer& o) {
  Bytes master(256, 0xEA);
  const Bytes code = {0xA9, 0x00, 0x85, 0xB4, 0xA9, 0x00, 0x85, 0xBE, 0xA9, 0xC0, 0x85, 0xBF};
  std::copy(code.begin(), code.end(), master.begin());
  const Bytes entry = {lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)),
                       hi(end_of(o.f)),       lo(o.f.start_address), hi(o.f.start_address)};
  std::copy(entry.begin(), entry.end(), master.begin() + 0xB7);
  countdown(o, 0);
  o.put(master);
  o.put(xor_of(master));
  for (int i = 0; i < 255; ++i) o.put(0);
  o.pause();
  countdown(o, 0);
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
}

// ---- Jiffy Load (type 1): about 3,071 pilot bytes 0x10, the sync 0x20, the load and end
// address (the end exclusive) and the execution address, each high byte first; the data; then
// 256 bytes counting down from 0: 0x00, 0xFF, 0xFE ... 0x01. No checksum. Bits 0x17 / 0x21,
// MSB first. The end address as the file announces it.
void jiffy_load(Writer& o) {
  o.pilot(0x10, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 3071);
  o.put(0x20);
  o.synced();
  const unsigned end =
      o.f.announced_size < 0 ? end_of(o.f) : o.f.start_address + unsigned(o.f.announced_size);
  o.put({hi(o.f.start_address), lo(o.f.start_address), hi(end), lo(end), hi(o.f.start_address),
         lo(o.f.start_address)});
  o.data(0, o.f.data.size());
  for (unsigned i = 0; i < 256; ++i) o.put(lo(256 - i));
}

// ---- Ash & Dave: pilot bytes 0x80 (100 at least), the sync 0x40, the block's number (1 here),
// the load and end address (the end exclusive), little-endian; the data; then 0x00, 0x01, 0x02,
// 0x04 .. 0x80 (each bit in turn), 0x11, 0x22 .. 0x77, whose last pulse is lost as on tapes
// that TAPClean mends. No checksum. Bits 0x22 / 0x44, MSB first. The end address as the file
// announces it.
void ash_dave(Writer& o) {
  o.pilot(0x80, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.put(0x40);
  o.synced();
  const unsigned end =
      o.f.announced_size < 0 ? end_of(o.f) : o.f.start_address + unsigned(o.f.announced_size);
  o.put({1, lo(o.f.start_address), hi(o.f.start_address), lo(end), hi(end)});
  o.data(0, o.f.data.size());
  o.put(0);
  for (int b = 0; b < 8; ++b) o.put(static_cast<std::uint8_t>(1 << b));
  for (unsigned n = 1; n <= 6; ++n) o.put(static_cast<std::uint8_t>(n * 0x11));
  for (const bool one : {false, true, true, true, false, true, true}) o.bit(one);  // 0x77
}

// ---- Creative Sparks: the boot file's header (at 0x033C) holds, from byte 0x23 on, LDA #pages;
// STA $FD; LDA #lo; STA $FB; LDA #hi; STA $FC: the turbo file's size in pages and its load
// address, which the tape does not repeat. On tape: pilot bytes 0x01 (64 at least), 0xFF 0xAA
// 0xFF, then the data in pages, each followed by the XOR of its 256 bytes (the last page
// padded), and a trailer of 0 bits. Bits 0x22 / 0x33, MSB first.
void creative_sparks(Writer& o) {
  const std::size_t pages = (o.f.data.size() + 255) / 256;
  if (o.f.with_boot) {
    TapeFile boot{Encoding::kStandard, 1, "CREATIVE", Bytes(64, 0xEA), 0x0801};
    boot.header_filler.assign(171, 0x20);  // the header from byte 21 on
    const Bytes code = {0xA9, static_cast<std::uint8_t>(pages),
                        0x85, 0xFD,
                        0xA9, lo(o.f.start_address),
                        0x85, 0xFB,
                        0xA9, hi(o.f.start_address),
                        0x85, 0xFC};
    std::copy(code.begin(), code.end(), boot.header_filler.begin() + (0x23 - 21));
    o.w.add_rom(boot);
    o.pause();
  }
  o.pilot(0x01, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.put({0xFF, 0xAA, 0xFF});
  o.synced();
  for (std::size_t page = 0; page < pages; ++page) {
    Bytes bytes(256, 0);
    for (std::size_t i = 0; i < 256 && page * 256 + i < o.f.data.size(); ++i)
      bytes[i] = o.f.data[page * 256 + i];
    o.data(page * 256, 256);
    for (std::size_t i = o.f.data.size(); i < (page + 1) * 256; ++i) o.put(0);
    o.put(xor_of(bytes));
  }
  o.put(0);
}

// ---- Virgin, and Hi-Tec (Binary Design's loader at two speeds): 256 pilot bytes 0xAA (the
// loader counts 16), the sync 0xA0, the block's number (0: the first), the screen flag (0x10:
// shown while loading), the load address, the end address (exclusive) and the execution
// address (0: none), all little-endian, the data and the XOR of the data. Bits 0x21 / 0x3B
// (Virgin) or 0x25 / 0x45 (Hi-Tec), MSB first.
void virgin(Writer& o) {
  o.pilot(0xAA, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.put(0xA0);
  o.synced();
  o.put({0x00, 0x10, lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f)),
         lo(o.f.start_address), hi(o.f.start_address)});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
}

// ---- Visiload: the boot file, loaded to 0x029F-0x03C0, sets the loader's timer at 0x0378
// (LDA #lo; STA $DD04; LDA #hi; STA $DD05). A lead bit of 1 before every byte; a pilot of
// 0x00 bytes, 0x16, then blocks: the end and the start address high byte first (the end
// exclusive), the data; no checksum. Blocks loaded into the loader's code set the format of
// those after them: at 0x0347 the bit order (0x26 most significant bit first, 0x66 least), at
// 0x034B the bits a byte takes (9: one lead bit, 10: two), at 0x03A4 the header's bytes less
// one (4: a byte in front of the addresses). The next block follows at once, unless the last
// one loaded at 0x03BB: the code run after it looks for a pilot again (3 bytes and 0x16 come
// at once) or ends the load (the motor stops; the next load comes after 256 pilot bytes and
// 0x16 in the format in force). Bits 0x25 / 0x48 (type 1).
void visiload(Writer& o) {
  if (o.f.with_boot) {  // its boot file sets the timer (0x01B6 cycles) at 0x0378
    Bytes boot(0x03C0 - 0x029F, 0xEA);
    const Bytes timer = {0xA9, 0xB6, 0x8D, 0x04, 0xDD, 0xA9, 0x01, 0x8D, 0x05, 0xDD};
    std::copy(timer.begin(), timer.end(), boot.begin() + (0x0378 - 0x029F));
    o.w.add_rom({Encoding::kStandard, 3, "VISILOAD", boot, 0x029F});
    o.pause();
  }
  const int changes = o.f.variant;
  o.lead = 1;
  int extra = 0;  // header bytes in front of the addresses
  bool placed = true;
  const auto pilot = [&](int n) {
    o.pilot(0x00, n);
    o.put(0x16);
    o.synced();
    placed = true;
  };
  const auto block = [&](unsigned start, const Bytes& bytes, std::size_t data_from) {
    if (!placed) o.w.place(o.block++, 1);
    placed = false;
    const unsigned end = start + static_cast<unsigned>(bytes.size());
    for (int i = 0; i < extra; ++i) o.put(0xA5);
    o.put({hi(end), lo(end), hi(start), lo(start)});
    if (data_from == SIZE_MAX) {
      o.put(bytes);
    } else {
      o.data(data_from, bytes.size());
    }
  };
  // Blocks at 0x03BB, their code: the load's end (the motor off, back to the program), or
  // the pilot search again.
  const Bytes load_end(32, 0x60), search_again(64, 0xEA);
  pilot(256);
  block(0x0347, {0x66}, SIZE_MAX);
  o.bits.msb_first = false;
  if (changes & kVisiTenBits) {
    block(0x034B, {10}, SIZE_MAX);
    o.lead = 2;
  }
  if (changes & kVisiHeaderByte) {
    block(0x03A4, {4}, SIZE_MAX);
    extra = 1;
  }
  for (std::size_t at = 0; at < o.f.data.size(); at += 256) {
    const std::size_t n = std::min<std::size_t>(256, o.f.data.size() - at);
    if (at == 256 && (changes & kVisiPause)) {
      block(0x03BB, load_end, SIZE_MAX);
      o.w.silence(2ull * 985248);
      pilot(256);
    } else if (at > 0 && (changes & kVisiShortPilots)) {
      block(0x03BB, search_again, SIZE_MAX);
      pilot(3);
    }
    if (at + n == o.f.data.size() && at > 0 && (changes & kVisiMsbAgain)) {
      block(0x0347, {0x26}, SIZE_MAX);
      o.bits.msb_first = true;
    }
    block(o.f.start_address + static_cast<unsigned>(at),
          Bytes(o.f.data.begin() + static_cast<long>(at),
                o.f.data.begin() + static_cast<long>(at + n)),
          at);
  }
  if (changes & kVisiEnd) block(0x03BB, load_end, SIZE_MAX);
}

// ---- Cyberload's first stages. The boot: a ROM file of type 3 loading at $029F..$033B,
// whose header holds F1's loader enciphered: the boot deciphers it from $0350 + $AB down to
// $0351, each byte XORed with the one deciphered before it (the first with 3). F1's loader
// sets the timer with LDY #lo / STY $DC04 / LDY #hi / STY $DC05 ($01FE cycles), compares
// CMP #pilot / BEQ / CMP #sync / BNE (0x0F and 0xF0, unless the tape has its own) and keeps
// its load pointer in the operand of a store (STA $FFD5), moved by CLC / ADC / STA. The boot's
// data sets the IRQ vector at $029F, which the KERNAL puts back at $0314 after loading: with
// the boot's bytes from $0316 on, the key table that F1's first file deciphers F2's loader
// with. F1 on tape: 127 pilot bytes, the sync, then files: a load offset added to the end of
// the file before ($FFD5 at first), each byte followed by a bit 1, a last byte followed by a
// 0 (pushed on the stack: the last two pushed make the address the chain returns to, less
// one), and a bit: 1, another file follows; 0, one more byte ends the chain. F2's loader in
// F1's first file (at $0002) deciphers its own code (LDX #n / TXA / AND #$0F / TAY / EOR
// region,X / EOR $0314,Y / DEY / BPL / STA region,X: the byte XORed with x & 15 and the key
// table's bytes x & 15 down to 0); deciphered, it sets the timer with LDA/STA, compares the
// pilot and sync and reads JSR / EOR #$AE for the header, JSR / EOR #$D2 for the data. F2 on
// tape: 127 pilot bytes, the sync, the load address and size XORed with 0xAE, the data XORed
// with 0xD2, a byte 0. Bits 0x30 / 0x5A, MSB first.
constexpr unsigned kCyberFirst = 0xFFD5;
constexpr std::uint8_t kCyberHeadKey = 0xAE, kCyberDataKey = 0xD2;

// The tape's own key table: any 16 bytes.
Bytes cyber_key() {
  Bytes key(16);
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0x5B + 37 * i);
  return key;
}

void cyber_boot(Writer& o, std::uint8_t pilot, std::uint8_t sync) {
  Bytes plain(171, 0xEA);  // $0351..$03FB
  const auto code = [&](unsigned address, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), plain.begin() + (address - 0x0351));
  };
  code(0x0357, {0xA0, 0xFE, 0x8C, 0x04, 0xDC, 0xA0, 0x01, 0x8C, 0x05, 0xDC});
  code(0x0371, {0xC9, pilot, 0xF0, 0xF9, 0xC9, sync, 0xD0, 0xEB});
  code(0x037C, {0x18, 0x6D, 0x93, 0x03, 0x8D, 0x93, 0x03});
  code(0x0392, {0x8D, lo(kCyberFirst), hi(kCyberFirst)});
  Bytes header(171);
  for (std::size_t i = 0; i < header.size(); ++i)
    header[i] = static_cast<std::uint8_t>(plain[i] ^ (i + 1 < plain.size() ? plain[i + 1] : 3));
  const Bytes key = cyber_key();
  Bytes data(0x033B - 0x029F, 0xEA);
  data[0] = key[0];
  data[1] = key[1];
  data[0x0314 - 0x029F] = 0x2C;  // the tape IRQ while the boot loads
  data[0x0315 - 0x029F] = 0xF9;
  std::copy(key.begin() + 2, key.end(), data.begin() + (0x0316 - 0x029F));
  TapeFile boot{Encoding::kStandard, 3, "CYBERLOAD", data, 0x029F};
  boot.header_filler = header;
  o.w.add_rom(boot);
  o.pause();
}

// F1's chain of files (start, bytes; the first within 255 bytes after $FFD5, each after the
// one before within 255); the file's own data, with its damage, in file `own` (if any).
void cyber_f1(Writer& o, const std::vector<std::pair<unsigned, Bytes>>& files, std::size_t own,
              std::uint8_t pilot, std::uint8_t sync) {
  o.pilot(pilot, 127);
  o.put(sync);
  o.synced();
  unsigned pointer = kCyberFirst;
  const unsigned back = files.front().first - 1;  // where the chain returns to, less one
  for (std::size_t k = 0; k < files.size(); ++k) {
    if (k > 0) {
      o.w.place(o.block++, 1);
      o.bit(true);
    }
    const auto& [start, bytes] = files[k];
    o.put(lo(start - pointer));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (k == own) {
        o.data(i, 1);
      } else {
        o.put(bytes[i]);
      }
      o.bit(true);
    }
    o.put(k + 1 == files.size() ? lo(back) : k + 2 == files.size() ? hi(back) : 0xFF);
    o.bit(false);
    pointer = start + static_cast<unsigned>(bytes.size());
  }
  o.bit(false);
  o.put(0);
}

// F2's loader at $0002: the decipher loop, then its code enciphered.
Bytes cyber_f2_loader(std::uint8_t pilot, std::uint8_t sync) {
  constexpr unsigned kRegion = 0x0020, kCount = 0x60;
  Bytes code(0x0092 - 0x0002, 0xEA);
  const auto at = [&](unsigned address, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), code.begin() + (address - 0x0002));
  };
  at(0x0004, {0xA2, kCount, 0x8A, 0x29, 0x0F, 0xA8,    0x5D, kRegion, 0x00, 0x59, 0x14,
              0x03, 0x88,   0x10, 0xFA, 0x9D, kRegion, 0x00, 0xCA,    0xD0, 0xED});
  at(0x0030, {0xA9, 0xFE, 0x8D, 0x04, 0xDC, 0xA9, 0x01, 0x8D, 0x05, 0xDC});
  at(0x0040, {0xC9, pilot, 0xF0, 0xF9, 0xC9, sync, 0xD0, 0xE9});
  at(0x0050, {0x20, 0xAE, 0x03, 0x49, kCyberHeadKey, 0x95, 0x02});
  at(0x0060, {0x20, 0xAE, 0x03, 0x49, kCyberDataKey, 0xA0, 0x00});
  const Bytes key = cyber_key();
  for (unsigned x = 1; x <= kCount; ++x) {
    auto v = static_cast<std::uint8_t>(code[kRegion + x - 0x0002] ^ (x & 15));
    for (unsigned y = 0; y <= (x & 15); ++y) v ^= key[y];
    code[kRegion + x - 0x0002] = v;
  }
  return code;
}

// The boot, F1's chain and F2's file: the file's data in F1 (variant 1) or in F2 (2).
void cyberload_f1_f2(Writer& o) {
  const std::uint8_t pilot = o.f.pilot_byte ? o.f.pilot_byte : 0x0F,
                     sync = o.f.sync_byte ? o.f.sync_byte : 0xF0;
  if (o.f.with_boot) cyber_boot(o, pilot, sync);
  if (!o.f.with_data) return;
  if (o.f.variant == 1) return cyber_f1(o, {{o.f.start_address, o.f.data}}, 0, pilot, sync);
  const std::vector<std::pair<unsigned, Bytes>> loaders = {{0x0002, cyber_f2_loader(pilot, sync)},
                                                           {0x0100, Bytes(8, 0xEA)}};
  cyber_f1(o, loaders, loaders.size(), pilot, sync);
  o.pause();
  o.pilot(pilot, 127);
  o.put(sync);
  o.synced();
  const auto size = static_cast<unsigned>(o.f.data.size());
  for (std::uint8_t b : {lo(o.f.start_address), hi(o.f.start_address), lo(size), hi(size)})
    o.put(static_cast<std::uint8_t>(b ^ kCyberHeadKey));
  o.data(0, o.f.data.size(),
         [](std::size_t, std::uint8_t v) { return static_cast<std::uint8_t>(v ^ kCyberDataKey); });
  o.put(0);
}

// ---- Cyberload: the tape's loader sets the timer, the pilot (commonly 0x0F) and the sync;
// bits 0x30 / 0x5A, MSB first. F3: sub-blocks of up to 256 bytes, each after 8 pilot bytes
// and the sync 0xCC: the load address, the size (0: 256), a check byte and 4 bytes, the
// data; all of it XORs to 0. F4: 8 pilot bytes, the sync 0x96, the name, the load address
// and the size, the XOR of those 20 bytes, then the data in sub-blocks of up to 256 bytes,
// each followed by its XOR, and a 0.
void cyberload(Writer& o) {
  if (o.f.variant == 1 || o.f.variant == 2) return cyberload_f1_f2(o);
  if (o.f.variant == 4) {
    o.pilot(0x0F, 8);
    o.put(0x96);
    o.synced();
    Bytes head = padded_name(o.f.name);
    head.insert(head.end(), {lo(o.f.start_address), hi(o.f.start_address),
                             lo(static_cast<unsigned>(o.f.data.size())),
                             hi(static_cast<unsigned>(o.f.data.size()))});
    head.push_back(xor_of(head));
    o.put(head);
    for (std::size_t at = 0; at < o.f.data.size(); at += 256) {
      const std::size_t n = std::min<std::size_t>(256, o.f.data.size() - at);
      o.data(at, n);
      o.put(xor_of(Bytes(o.f.data.begin() + static_cast<long>(at),
                         o.f.data.begin() + static_cast<long>(at + n))));
    }
    o.put(0);
    return;
  }
  // A tape's own pilot and sync: its loader, a ROM file before, sets them and the timer (the
  // threshold, 0x45 TAP units: 552 cycles) with LDA #lo / STA $DC04 / LDA #hi / STA $DC05 and
  // CMP #pilot / BEQ / CMP #sync / BNE.
  const std::uint8_t pilot = o.f.pilot_byte ? o.f.pilot_byte : 0x0F,
                     sync = o.f.sync_byte ? o.f.sync_byte : 0xCC;
  if (o.f.pilot_byte && o.f.with_boot) {
    Bytes loader(40, 0xEA);
    const Bytes code = {0xA9, 0x28, 0x8D,  0x04, 0xDC, 0xA9, 0x02, 0x8D, 0x05,
                        0xDC, 0xC9, pilot, 0xF0, 0x02, 0xC9, sync, 0xD0, 0xF0};
    std::copy(code.begin(), code.end(), loader.begin() + 4);
    o.w.add_rom({Encoding::kStandard, 1, "CYBER", loader, 0x0801});
    o.pause();
  }
  for (std::size_t at = 0; at < o.f.data.size(); at += 256) {
    const std::size_t n = std::min<std::size_t>(256, o.f.data.size() - at);
    const unsigned load = o.f.start_address + static_cast<unsigned>(at);
    Bytes head = {lo(load), hi(load), static_cast<std::uint8_t>(n == 256 ? 0 : n), 0, 0, 0, 0, 0};
    head[3] = static_cast<std::uint8_t>(
        xor_of(head) ^ xor_of(Bytes(o.f.data.begin() + static_cast<long>(at),
                                    o.f.data.begin() + static_cast<long>(at + n))));
    o.pilot(pilot, 8);
    o.put(sync);
    o.synced();
    o.put(head);
    o.data(at, n);
  }
}

// ---- Rack-It (Hewson): the boot, a ROM file loaded at $0316, deciphers the loader it holds
// from $04BD on with LDA #cipher (or LDA $7C, where the ROM loader leaves 0x24) / EOR $04BD,X
// / STA $0200,X. The loader, deciphered, reads a bit with LSR $DD0D / LDA #$19 / STA $DD0E /
// ROL (most significant bit first) or ROR (least) and looks for the tape's pilot and sync
// with CMP #pilot / BEQ / CMP #sync / BNE; where its check byte's XOR starts at 0, not 0x80,
// it sets it with DEX / STX $FC; where the header has 7 bytes, not 8, it stores it with STA
// $F3,X. On tape each block: the pilot bytes, the sync, the header (8 bytes: an XOR key for
// the data, the value for $01, the check byte, the end address (exclusive) and the load
// address both high byte first, the block's number; 7 bytes: the same without the key), the
// data XORed with the key, and 8 bits of 1. The check byte: 0x80 (or 0) XOR the data as it
// loads. Bits 0x1D / 0x3D.
constexpr std::uint8_t kRackItKey = 0xC5;  // the tape's own

void rackit(Writer& o) {
  const bool short_header = (o.f.variant & kRackItShortHeader) != 0,
             from0 = (o.f.variant & kRackItCheckFrom0) != 0;
  const std::uint8_t pilot = o.f.pilot_byte ? o.f.pilot_byte : 0x25,
                     sync = o.f.sync_byte ? o.f.sync_byte : 0x3D;
  if (o.f.with_boot) {
    const bool zp = (o.f.variant & kRackItCipherZp) != 0;
    const std::uint8_t cipher = zp ? 0x24 : 0x6B;
    Bytes boot(0x0540 - 0x0316, 0xEA), loader(0x0540 - 0x04BD, 0xEA);
    const Bytes decipher = {static_cast<std::uint8_t>(zp ? 0xA5 : 0xA9),
                            static_cast<std::uint8_t>(zp ? 0x7C : cipher),
                            0x5D,
                            0xBD,
                            0x04,
                            0x9D,
                            0x00,
                            0x02};
    std::copy(decipher.begin(), decipher.end(), boot.begin() + (0x046F - 0x0316));
    const auto at = [&](std::size_t k, const Bytes& code) {
      std::copy(code.begin(), code.end(), loader.begin() + static_cast<long>(k));
    };
    at(0x10, {0x4E, 0x0D, 0xDD, 0xA9, 0x19, 0x8D, 0x0E, 0xDD,
              static_cast<std::uint8_t>(o.f.lsb_first ? 0x66 : 0x26), 0xF7});
    at(0x30, {0xC9, pilot, 0xF0, 0xF7, 0xC9, sync, 0xD0, 0xF3});
    if (from0) at(0x50, {0xCA, 0x86, 0xFC});
    if (short_header) at(0x60, {0x95, 0xF3});
    for (std::size_t k = 0; k < loader.size(); ++k)
      boot[0x04BD - 0x0316 + k] = static_cast<std::uint8_t>(loader[k] ^ cipher);
    o.w.add_rom({Encoding::kStandard, 3, "RACK-IT", boot, 0x0316});
    o.pause();
  }
  o.pilot(pilot, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.put(sync);
  o.synced();
  if (!short_header) o.put(kRackItKey);
  o.put({0x37, static_cast<std::uint8_t>(xor_of(o.f.data) ^ (from0 ? 0 : 0x80)), hi(end_of(o.f)),
         lo(end_of(o.f)), hi(o.f.start_address), lo(o.f.start_address), 0});
  if (short_header) {
    o.data(0, o.f.data.size());
  } else {
    o.data(0, o.f.data.size(),
           [](std::size_t, std::uint8_t v) { return static_cast<std::uint8_t>(v ^ kRackItKey); });
  }
  o.bit(true, 8);
}

// ---- Steve Snake's loaders: a pilot of 0 bits and a 1, then a sync of several bytes, most
// significant bit first. 5.0: the sync "eilyK" ("Kylie" backwards), the block's number, the
// load and end address (little-endian, the end exclusive), the data and the sum of the data;
// a trailer of 0 bits. Bits 0x3F / 0x5F (T1) or 0x60 / 0xA0 (T2). 5.1: a sync of 8 bytes
// set by the tape's loader (Eldritch's "ELDRITCH" backwards, C8 C3 D4 C9 D2 C4 CC C5; SWIV's
// 85 8C 8C 85 88 83 89 8D; one more beginning B2 B4 B2 D4), the block's number, the end
// (exclusive) and the load address high byte first, the data and its check: the XOR of the
// data, 1 added after each byte loaded at an address ending in 0xFF; a trailer of 0 bits.
// Bits 0x28 / 0x48.
void snakeload50(Writer& o) {
  o.w.place(o.block++, 1);
  o.w.pilot();
  o.bit(false, 2000);
  o.bit(true);
  o.put(Bytes{'e', 'i', 'l', 'y', 'K'});
  o.synced();
  o.put({1, lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  std::uint8_t sum = 0;
  for (const auto b : o.f.data) sum = static_cast<std::uint8_t>(sum + b);
  o.put(sum);
  o.bit(false, 1000);
}
void snakeload51(Writer& o) {
  const Bytes syncs[] = {{0xC8, 0xC3, 0xD4, 0xC9, 0xD2, 0xC4, 0xCC, 0xC5},
                         {0x85, 0x8C, 0x8C, 0x85, 0x88, 0x83, 0x89, 0x8D},
                         {0xB2, 0xB4, 0xB2, 0xD4, 0xA0, 0xA0, 0xA0, 0xA0}};
  o.w.place(o.block++, 1);
  o.w.pilot();
  o.bit(false, 2000);
  o.bit(true);
  o.put(syncs[o.f.sync_byte % 3]);
  o.synced();
  o.put({1, hi(end_of(o.f)), lo(end_of(o.f)), hi(o.f.start_address), lo(o.f.start_address)});
  o.data(0, o.f.data.size());
  std::uint8_t check = 0;
  for (std::size_t i = 0; i < o.f.data.size(); ++i) {
    check ^= o.f.data[i];
    if (lo(o.f.start_address + static_cast<unsigned>(i)) == 0xFF) ++check;
  }
  o.put(check);
  o.bit(false, 1000);
}

// ---- ODEload: a Freeload of its own speed. The boot file's header (type 3, $02AB-$0304)
// holds the loader, which compares each byte with the pilot byte at 0x0368 and at 0x037C
// (CMP #pilot) and with the sync at 0x0380 (CMP #sync): the tape's own, 0x20 and 0xDB as a
// rule. Each file a block: pilot bytes, the sync, the load and end address (little-endian, the
// end exclusive), the data and the XOR of the data. Bits 0x25 / 0x50, MSB first.
void odeload(Writer& o) {
  const std::uint8_t pilot = o.f.pilot_byte ? o.f.pilot_byte : 0x20,
                     sync = o.f.sync_byte ? o.f.sync_byte : 0xDB;
  if (o.f.with_boot) {
    TapeFile boot{Encoding::kStandard, 3, "ODELOAD", Bytes(0x59, 0xEA), 0x02AB};
    boot.header_filler.assign(171, 0xEA);  // the header from byte 21 (0x0351) on
    const auto code = [&](unsigned at, const Bytes& bytes) {
      std::copy(bytes.begin(), bytes.end(), boot.header_filler.begin() + (at - 0x0351));
    };
    code(0x0368, {0xC9, pilot, 0xD0, 0xF6});
    code(0x037C, {0xC9, pilot, 0xF0, 0xF8, 0xC9, sync, 0xD0, 0xEE});
    o.w.add_rom(boot);
    o.pause();
  }
  o.pilot(pilot, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 128);
  o.put(sync);
  o.synced();
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
}

// ---- Jetload: a run of 0 bits (256 bytes of them unless told), then 0xD1, whose first bit is
// the 1 that ends the run, and 0x2E; the start and end address (little-endian, the end
// exclusive) and the data; no checksum. Bits 0x33 / 0x58, LSB first.
void jetload(Writer& o) {
  o.pilot(0x00, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.put({0xD1, 0x2E});
  o.synced();
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
}

// ---- Flashload: the boot file, at $CE00-$CFFF, holds the loader with each byte b stored as
// 0x20 - b: at 0x18 it sets the timer (LDA #lo; STA $DD04; LDA #hi; STA $DD05: 280 cycles),
// at 0x3C it compares with the sync (CMP #sync; BNE), 0x33 as a rule. Each file: a run of 1
// bits (2,048 unless told), a 0, the sync, the load and end address (little-endian, the end
// inclusive), the data and the XOR of the data. Bits 0x1F / 0x31, MSB first.
void flashload(Writer& o) {
  const std::uint8_t sync = o.f.sync_byte ? o.f.sync_byte : 0x33;
  if (o.f.with_boot) {
    Bytes boot(0x01FF, 0xEA);
    const Bytes timer = {0xA9, 0x18, 0x8D, 0x04, 0xDD, 0xA9, 0x01, 0x8D, 0x05, 0xDD};
    const Bytes compare = {0xC9, sync, 0xD0, 0xE7};
    std::copy(timer.begin(), timer.end(), boot.begin() + 0x18);
    std::copy(compare.begin(), compare.end(), boot.begin() + 0x3C);
    for (auto& b : boot) b = static_cast<std::uint8_t>(0x20 - b);
    o.w.add_rom({Encoding::kStandard, 3, "FLASHLOAD", boot, 0xCE00});
    o.pause();
  }
  o.pilot(0xFF, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.bit(false);
  o.put(sync);
  o.synced();
  const unsigned last = end_of(o.f) - 1u;
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(last), hi(last)});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
}

// ---- Pavloda (the earliest): a 0 is one pulse 0x3F, a 1 two pulses 0x1F (the loader times
// a bit from the end of its timer, so the second only starts the next bit's timing); MSB
// first. About 2,063 0 bits (unless told, eight a pilot byte), a 1, the load and end address
// (little-endian, the end exclusive), the data, and the sum of the data plus one for each
// byte. No trailer.
void pavloda(Writer& o) {
  o.w.place(o.block++, 1);
  o.w.pilot();
  o.bit(false, o.f.pilot_bytes > 0 ? 8 * o.f.pilot_bytes : 2063);
  o.bit(true);
  o.synced();
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  unsigned sum = 0;
  for (auto b : o.f.data) sum += b + 1u;
  o.put(lo(sum));
}

// ---- Super Pavloda: three pulse lengths read in two states (TurboBits::medium), MSB first.
// A chain of sub-blocks, each a run of short pulses (0 bits, 2,068 before the first, 40
// before the others unless told, eight a pilot byte), a medium (a 1), 0x66 0x1B, the block
// number and the sub-block's number. The first holds the data's first size % 256 bytes (256
// where that is 0): after its number 0, the load address less the load offset, the number of
// sub-blocks after it, the load offset (256 less its size) and the sum of those six bytes plus
// one for each; then its data and their sum plus one a byte. The others hold 256 bytes each,
// their sum taken over the two numbers too. The tone runs on for a few short pulses after
// the last (tapes show four to six before the pause).
void super_pavloda(Writer& o) {
  const std::uint8_t number = o.f.flag >= 0 ? static_cast<std::uint8_t>(o.f.flag) : 0;
  const std::size_t total = o.f.data.size();
  const std::size_t first = total % 256 != 0 ? total % 256 : std::min<std::size_t>(total, 256);
  const auto offset = static_cast<std::uint8_t>(256 - first);
  const auto more = static_cast<std::uint8_t>((total - first) / 256);
  const auto sum_of = [](const Bytes& bytes) {
    unsigned sum = 0;
    for (auto b : bytes) sum += b + 1u;
    return lo(sum);
  };
  std::size_t at = 0;
  for (unsigned sub = 0; sub <= more; ++sub) {
    o.w.place(o.block++, 1);
    o.w.pilot();
    const int pilot = sub == 0 ? 2068 : 40;
    o.bit(false, o.f.pilot_bytes > 0 ? 8 * o.f.pilot_bytes : pilot);
    o.bit(true);
    o.put({0x66, 0x1B});
    o.synced();
    Bytes head = {number, static_cast<std::uint8_t>(sub)};
    if (sub == 0) {
      const unsigned load = o.f.start_address - offset;
      head.insert(head.end(), {lo(load), hi(load), more, offset});
      head.push_back(sum_of(head));
    }
    o.put(head);
    const std::size_t n = sub == 0 ? first : 256;
    Bytes summed = sub == 0 ? Bytes{} : Bytes{number, static_cast<std::uint8_t>(sub)};
    summed.insert(summed.end(), o.f.data.begin() + static_cast<long>(at),
                  o.f.data.begin() + static_cast<long>(at + n));
    o.data(at, n);
    o.put(sum_of(summed));
    o.w.end_bits(o.bits);
    at += n;
  }
  o.w.pilot();
  o.bit(false, 4);
}

// ---- Pavloda Penetrator: three pulse lengths read in two states (TurboBits::medium), MSB
// first. Each file a block: 1,280 lead-in bytes 0x08 unless told, the sync 0x55, the load and
// end address (little-endian, the end exclusive), the data and the sum of the data plus one
// for each byte; the bits end as a lead-in's begin (state 2).
void pavloda_penetrator(Writer& o) {
  o.pilot(0x08, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 1280);
  o.put(0x55);
  o.synced();
  o.bits.long_after_zero = o.f.variant == 1;
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  unsigned sum = 0;
  for (auto b : o.f.data) sum += b + 1u;
  o.put(lo(sum));
  o.w.end_bits(o.bits);
}

// ---- Super Tape: bits as half waves (TurboBits::half_waves: a 0 two short half waves, a 1 one
// twice as long; each two in a row a pulse of 0x21, 0x32 or 0x43), least significant bit
// first. A header block, a fifth of a second's pause, a data block; each after 64 pilot bytes
// 0x16 (unless told) and a sync byte, and followed by the count of its 1 bits (16 bits,
// little-endian; one more for a bad checksum, or in the header's for variant 1) and one pulse
// more before the pause (TAPClean reads a block that the pause follows at once into the
// pause). The header, after 0x2A (or the file's sync_byte: the loader ANDs it with 0xEF): the
// name (16 bytes, padded with spaces), a 0, the load address and the size (little-endian),
// four 0s. The data, after 0xC5.
void super_tape(Writer& o) {
  const auto count = [&](const Bytes& bytes, bool bad) {
    unsigned n = bad ? 1 : 0;
    for (auto b : bytes)
      for (int k = 0; k < 8; ++k) n += (b >> k) & 1u;
    o.put({lo(n), hi(n)});
    o.w.end_bits(o.bits);
  };
  const int pilot = o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 64;
  if (o.f.with_header) {
    o.pilot(0x16, pilot);
    o.put(o.f.sync_byte != 0 ? o.f.sync_byte : 0x2A);
    o.synced();
    Bytes head = padded_name(o.f.name);
    const auto size = static_cast<unsigned>(o.f.data.size());
    head.insert(head.end(),
                {0, lo(o.f.start_address), hi(o.f.start_address), lo(size), hi(size), 0, 0, 0, 0});
    o.put(head);
    count(head, o.f.variant == 1);
    o.pause();
  }
  if (!o.f.with_data) return;
  o.block = 11;
  o.pilot(0x16, pilot);
  o.put(0xC5);
  o.synced();
  o.data(0, o.f.data.size());
  count(o.f.data, o.f.bad_checksum);
}

// ---- Atlantis: 256 pilot bytes 0x02 (unless told), the sync 0x52 0x42, the execution address
// (0x036F: back to the loader), the end (exclusive) and the load address, each high byte
// first; the data, the XOR of the data, one byte more (0 here) and a trailer of eight 0 bits.
// Bits 0x1D / 0x42, LSB first.
void atlantis(Writer& o) {
  o.pilot(0x02, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.put({0x52, 0x42});
  o.synced();
  o.put(
      {0x03, 0x6F, hi(end_of(o.f)), lo(end_of(o.f)), hi(o.f.start_address), lo(o.f.start_address)});
  o.data(0, o.f.data.size());
  o.put({xor_of(o.f.data), 0x00});
  o.bit(false, 8);
}

// ---- TES Tape: 160 pilot bytes 0x02 (unless told), the sync 0x52 0x42, the load and end
// address (low byte first, the end exclusive), the data, the XOR of the data and a trailer of
// 0 bits, eight unless the variant tells fewer. Bits 0x1D / 0x44, LSB first.
void tes_tape(Writer& o) {
  o.pilot(0x02, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 160);
  o.put({0x52, 0x42});
  o.synced();
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
  o.bit(false, o.f.variant > 0 ? o.f.variant : 8);
}

// ---- MMS: the boot file's header holds the turbo file's load address (low byte at 0x6B,
// high at 0x71) and end (exclusive; low at 0x77, high at 0x7B), counted from the header's
// type byte. On tape: 500 pilot bytes 0x02 (unless told), the countdown 0x07..0x00, the data,
// the XOR of the data and a trailer of 0 bits. Bits 0x1B / 0x28, MSB first.
void mms(Writer& o) {
  if (o.f.with_boot) {
    constexpr std::size_t kAfterName = 21;  // type, load, end, name: the filler from here
    Bytes filler(171, 0x20);
    filler[0x6B - kAfterName] = lo(o.f.start_address);
    filler[0x71 - kAfterName] = hi(o.f.start_address);
    filler[0x77 - kAfterName] = lo(end_of(o.f));
    filler[0x7B - kAfterName] = hi(end_of(o.f));
    TapeFile boot{Encoding::kStandard, 3, "MMS", Bytes(0x20, 0xEA), 0x02A7};
    boot.header_filler = filler;
    o.w.add_rom(boot);
    o.pause();
  }
  countdown(o, 0, 0x07, 500);
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
  for (int i = 0; i < 255; ++i) o.put(0);
}

// ---- Ace of Aces: 64 pilot bytes 0x80 (unless told), the sync 0xFF, the load and end address
// (little-endian, the end exclusive), the 16-byte name, the data and the XOR of the data.
// Bits 0x22 / 0x47, MSB first.
void ace_of_aces(Writer& o) {
  o.pilot(0x80, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 64);
  o.put(0xFF);
  o.synced();
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.put(padded_name(o.f.name));
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
}

// ---- Cauldron/Hewson/Rainbird: Turbo Tape's pulse lengths, MSB first; pilot bytes 0x63,
// then every byte from 0x64 up to 0xFF in turn; a marker byte (not 0), load and end address
// (little-endian, end exclusive), six bytes the loader keeps, the data, the XOR of the data.
void cauldron(Writer& o) {
  o.pilot(0x63, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 32);
  for (unsigned v = 0x64; v <= 0xFF; ++v) o.put(static_cast<std::uint8_t>(v));
  o.synced();
  o.put({0x01, lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.put(Bytes(6, 0));
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
}

// ---- Accolade (and EA's clone): eight pilot bytes 0x0F (unless told), the sync 0xAA, the
// 16-byte name, the load address and the data's size (little-endian), the XOR of those 20
// bytes; the data in sub-blocks of 256 bytes (the last one shorter), each followed by its XOR;
// a trailer of eight 0 bits and a longer pulse. Bits 0x29 / 0x4A, MSB first.
void accolade(Writer& o) {
  o.pilot(0x0F, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 8);
  o.put(0xAA);
  o.synced();
  Bytes head = padded_name(o.f.name);
  const auto size = static_cast<unsigned>(o.f.data.size());
  head.insert(head.end(), {lo(o.f.start_address), hi(o.f.start_address), lo(size), hi(size)});
  head.push_back(xor_of(head));
  o.put(head);
  for (std::size_t at = 0; at < o.f.data.size(); at += 256) {
    const std::size_t n = std::min<std::size_t>(256, o.f.data.size() - at);
    o.data(at, n);
    o.put(xor_of(Bytes(o.f.data.begin() + static_cast<long>(at),
                       o.f.data.begin() + static_cast<long>(at + n))));
  }
  o.bit(false, 8);
  o.bit(true);
}

// ---- Alien Syndrome: a short pilot of 0xE3 bytes (TAPClean asks for 4; 16 here unless told),
// the sync 0xED, the XOR of the data, the end (exclusive) and load address, each high byte
// first, the file's number (1 here); the data, and seven 0 bits (TAPClean counts seven pulses
// after the data in the block). Bits 0x20 / 0x43, MSB first.
void alien_syndrome(Writer& o) {
  o.pilot(0xE3, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 16);
  o.put(0xED);
  o.synced();
  o.put({xor_of(o.f.data), hi(end_of(o.f)), lo(end_of(o.f)), hi(o.f.start_address),
         lo(o.f.start_address), 0x01});
  o.data(0, o.f.data.size());
  o.bit(false, 7);
}

// ---- Biturbo: the boot file, a ROM program at $0801, holds the turbo file's load address
// (low byte at 0x4B, high at 0x5D) and end (exclusive; low at 0x59, high at 0x52). On tape: 600
// pilot bytes 0x02 (unless told), the countdown 0x10..0x00, the data, the XOR of the data and
// a trailer of 0 bits. Bits 0x1B / 0x27, MSB first.
void biturbo(Writer& o) {
  if (o.f.with_boot) {
    Bytes boot(0x80, 0xEA);
    boot[0x4B] = lo(o.f.start_address);
    boot[0x5D] = hi(o.f.start_address);
    boot[0x59] = lo(end_of(o.f));
    boot[0x52] = hi(end_of(o.f));
    o.w.add_rom({Encoding::kStandard, 1, "BITURBO", boot, 0x0801});
    o.pause();
  }
  countdown(o, 0, 0x10, 600);
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
  for (int i = 0; i < 255; ++i) o.put(0);
}

// ---- Palace F1 and F2: a pilot of 0x01 bytes (256 unless told), the file's sync "JPG)", then
// blocks end to end, each the block's sync "JPG" 0x10, its number (from 0 here), 256 bytes
// (the data, padded with 0 after its end) and their XOR; F1 one byte more after each (0
// here). No load address on tape. Bits 0x30 / 0x57, MSB first.
void palace(Writer& o) {
  const int pilot = o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256;
  o.pilot(0x01, pilot);
  o.put({'J', 'P', 'G', ')'});
  o.synced();
  for (std::size_t at = 0, number = 0; at < o.f.data.size(); at += 256, ++number) {
    o.put({'J', 'P', 'G', 0x10, lo(static_cast<unsigned>(number))});
    const std::size_t n = std::min<std::size_t>(256, o.f.data.size() - at);
    o.data(at, n);
    Bytes page(o.f.data.begin() + static_cast<long>(at),
               o.f.data.begin() + static_cast<long>(at + n));
    for (std::size_t i = n; i < 256; ++i) o.put(0);
    o.put(xor_of(page));
    if (at + 256 < o.f.data.size()) o.w.place(o.block++, 1);  // the next block from here
    if (o.f.variant == 1) o.put(0);
  }
}

// ---- TDI F1 and F2: a pilot of 0xA0 bytes (256 unless told), the countdown 0x0A..0x01, the
// data's size (little-endian); F1 then the block's number (1 here), F2 the load address
// (little-endian) and the name in 4, 2 or 1 bytes (the file's, cut or padded with spaces to
// the next of those). The data, each byte XORed with its index (modulo 256), the XOR of the
// data; F1 then eight 0 bits, F2 the marker 0x20 and sixteen 0 bits. Bits 0x44 / 0x65, LSB
// first.
void tdi(Writer& o) {
  o.pilot(0xA0, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.put({10, 9, 8, 7, 6, 5, 4, 3, 2, 1});
  o.synced();
  const auto size = static_cast<unsigned>(o.f.data.size());
  o.put({lo(size), hi(size)});
  if (o.f.variant == 1) {
    o.put(1);
  } else {
    o.put({lo(o.f.start_address), hi(o.f.start_address)});
    std::string name = o.f.name;
    name.resize(name.size() <= 1 ? 1 : name.size() <= 2 ? 2 : 4, ' ');
    o.put(Bytes(name.begin(), name.end()));
  }
  o.data(0, o.f.data.size(),
         [](std::size_t i, std::uint8_t b) { return static_cast<std::uint8_t>(b ^ (i & 0xFF)); });
  o.put(xor_of(o.f.data));
  if (o.f.variant == 1) {
    o.bit(false, 8);
  } else {
    o.put(0x20);
    o.bit(false, 16);
  }
}

// ---- Firebird: the boot file's header holds the loader, which sets its timer (LDX #lo; STX
// $DD06; LDX #hi; STX $DD07): 0x0320 cycles for T1, 0x029A for T2. Each file: 256 pilot bytes
// 0x02 (unless told), the sync 0x52 0x42, the load and end address (little-endian, the end
// exclusive), the data and the XOR of the data. Bits 0x44 / 0x7E (T1) or 0x45 / 0x65 (T2), LSB
// first.
void firebird(Writer& o) {
  if (o.f.with_boot) {
    const unsigned timer = o.f.variant == 1 ? 0x029A : 0x0320;
    TapeFile boot{Encoding::kStandard, 3, "FIREBIRD", Bytes(64, 0xEA), 0x02A7};
    boot.header_filler.assign(171, 0xEA);  // the header from byte 21 on
    const Bytes code = {0xA2, lo(timer), 0x8E, 0x06, 0xDD, 0xA2, hi(timer), 0x8E, 0x07, 0xDD};
    std::copy(code.begin(), code.end(), boot.header_filler.begin() + 16);
    o.w.add_rom(boot);
    o.pause();
  }
  o.pilot(0x02, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.put(0x52);  // the sync
  o.put(0x42);
  o.synced();
  const unsigned end = end_of(o.f);  // exclusive
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end), hi(end)});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
}

// ---- Rasterload: 256 pilot bytes 0x80 (unless told), the sync 0xFF, the load and end address
// (little-endian, the end inclusive), the data, the XOR of the data and a trailer of 1 bits (32
// here). Bits 0x26 / 0x58, MSB first.
void rasterload(Writer& o) {
  o.pilot(0x80, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.put(0xFF);  // the sync
  o.synced();
  const unsigned end = end_of(o.f) - 1u;  // inclusive
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end), hi(end)});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
  o.bit(true, 32);
}

// ---- Easy-Tape System C: 256 pilot bytes 0x02 (unless told), the sync 0x52 0x4D, the load
// and end address (little-endian, the end exclusive), the data, the XOR of the data and a
// trailer of eight 0 bits. Bits 0x1D / 0x40, LSB first.
void easy_tape(Writer& o) {
  o.pilot(0x02, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.put({0x52, 0x4D});
  o.synced();
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
  o.bit(false, 8);
}

// ---- Audiogenic: each 256-byte page of the file a block of its own, back to back: 4 pilot
// bytes 0xF0 (unless told), the sync 0xAA, the page's number (the high byte of where it loads),
// the 256 bytes and their XOR, then 0x01, of which only the 0 bits follow the last block. Bits
// 0x1A / 0x36, MSB first.
void audiogenic(Writer& o) {
  for (std::size_t at = 0; at < o.f.data.size(); at += 256) {
    o.pilot(0xF0, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 4);
    o.put(0xAA);
    o.synced();
    o.put(hi(o.f.start_address + static_cast<unsigned>(at)));
    o.data(at, 256);
    for (std::size_t i = o.f.data.size(); i < at + 256; ++i) o.put(0);
    const Bytes page(o.f.data.begin() + static_cast<long>(at),
                     o.f.data.begin() + static_cast<long>(std::min(at + 256, o.f.data.size())));
    o.put(xor_of(page));
    if (at + 256 < o.f.data.size()) {
      o.put(0x01);
    } else {
      o.bit(false, 7);
    }
  }
}

// ---- Gremlin GBH: two blocks, each after a pilot of 0x80 pulses (2,400 of them unless told)
// and a 0 bit: a head of 48 bytes, the load and end address first (little-endian, the end
// exclusive), the rest 0 here; then the data. No checksum. Bits 0x2F / 0x49, MSB first.
void gremlin_gbh(Writer& o) {
  const auto pilot = [&o] {
    o.w.place(o.block++, 1);
    o.w.pilot();
    for (int i = 0; i < (o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 2400); ++i)
      o.w.bit(true, {0x2F, 0x80, true});
    o.bit(false);
    o.synced();
  };
  pilot();
  Bytes head = {lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))};
  head.resize(48);
  o.put(head);
  pilot();
  o.data(0, o.f.data.size());
}

// ---- Ocean New 3: each 256-byte page of the file a block of its own: a pilot of 0x80 pulses
// (256 unless told), a 0 bit, a head of four bytes (one not used, 0 here; the block's number,
// the page less 0x0D, as it loads at $0D00 + 256 x number; one not used, 0 here; the XOR of the
// page), the page's 256 bytes. Bits 0x2E / 0x49, MSB first.
void ocean_new3(Writer& o) {
  for (std::size_t at = 0; at < o.f.data.size(); at += 256) {
    o.w.place(o.block++, 1);
    o.w.pilot();
    for (int i = 0; i < (o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256); ++i)
      o.w.bit(true, {0x2E, 0x80, true});
    o.bit(false);
    o.synced();
    const Bytes page(o.f.data.begin() + static_cast<long>(at),
                     o.f.data.begin() + static_cast<long>(std::min(at + 256, o.f.data.size())));
    const auto number =
        static_cast<std::uint8_t>(hi(o.f.start_address + static_cast<unsigned>(at)) - 0x0D);
    o.put({0x00, number, 0x00, xor_of(page)});
    o.data(at, 256);
    for (std::size_t i = o.f.data.size(); i < at + 256; ++i) o.put(0);
  }
}

// ---- Freeload Slowload: Freeload's block layout (pilot 0x40, at least 45 bytes of it; sync
// 0x5A; load and end address, low byte first, the end one past the last byte; data; XOR of
// the data) at slower pulses: T1 0x5A / 0x85, T2 0x66 / 0xCD TAP units, MSB first.
void freeload_slow(Writer& o) {
  o.bits = o.f.variant == 2 ? TurboBits{0x66, 0xCD, true} : TurboBits{0x5A, 0x85, true};
  freeload_block(o, 100);
}

// ---- Ocean New 1: 128 pilot bytes 0x40 (unless told), the sync 0x5A, the block's number (1
// here), the load and end address (little-endian, the end exclusive), the data, the XOR of the
// data and a few trailer pulses. MSB first; bits 0x22 / 0x42 (T1) or 0x35 / 0x65 (T2).
void ocean_new1(Writer& o) {
  o.pilot(0x40, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 128);
  o.put(0x5A);
  o.synced();
  o.put({0x01, lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
  o.bit(false, 8);
}

// ---- Thunderload: the boot is the ROM data at $02A7-$0316: LDA #$51; STA $FFFA; STA $DD04
// at $02D4, and at $02F4 LDA #lo; STA $DC04; LDA #hi; STA $DC05, the timer (cycles) between
// a 0 and a 1, 0x1A0 as a rule. Each block: 1 bits (256 here), a 0, the bits 101010, F0 96.
// The intro after the boot: a byte not used, load and end address (little-endian, the end
// exclusive), its code, the XOR of the code. Its code scans the block numbers (CPX #0 after
// LDA $05; BEQ; LDX; INC; LDA; JSR) and sets the timer of the blocks after it the same way.
// Then the file: block 0 of one, the load address, 1 (the blocks of this part), the end, the
// XOR of those six bytes from 0xAA ^ 0xF0 ^ 0x96 (inverted for a file with a bad checksum),
// the data and their XOR. Pulses 0.69 and 1.31 of the timer, MSB first.
TurboBits thunderload_bits(unsigned timer) {
  return {timer * 0.69 / 8, timer * 1.31 / 8, true};
}
void thunderload(Writer& o, unsigned timer, unsigned later) {
  const auto block_sync = [&] {
    o.w.place(o.block++, 1);
    o.w.pilot();
    o.bit(true, 256);
    o.bit(false);
    for (int i = 0; i < 3; ++i) {
      o.bit(true);
      o.bit(false);
    }
    o.put({0xF0, 0x96});
    o.synced();
  };
  if (o.f.with_boot) {
    Bytes boot(0x0316 - 0x02A7, 0xEA);
    const Bytes own = {0xA9, 0x51, 0x8D, 0xFA, 0xFF, 0x8D, 0x04, 0xDD};
    const Bytes set = {0xA9, lo(timer), 0x8D, 0x04, 0xDC, 0xA9, hi(timer), 0x8D, 0x05, 0xDC};
    std::copy(own.begin(), own.end(), boot.begin() + (0x02D4 - 0x02A7));
    std::copy(set.begin(), set.end(), boot.begin() + (0x02F4 - 0x02A7));
    o.w.add_rom({Encoding::kStandard, 3, "THUNDER", boot, 0x02A7});
    o.pause();
    Bytes intro(64, 0xEA);
    const Bytes scan = {0xA5, 0x05, 0xF0, 0x10, 0xAE, 0x00, 0xC1, 0xEE, 0x00, 0xC1,
                        0xAD, 0x00, 0xC1, 0x20, 0x00, 0xC1, 0xE0, 0x00, 0xF0, 0x02};
    const Bytes setup = {0xA9, 0x00,      0x8D, 0xFE, 0xFF, 0xA9, 0xC0,      0x8D, 0xFF, 0xFF,
                         0xA9, 0x00,      0x8D, 0xFA, 0xFF, 0xA9, 0xC0,      0x8D, 0xFB, 0xFF,
                         0xA9, 0x90,      0x8D, 0x0D, 0xDC, 0xA9, lo(later), 0x8D, 0x04, 0xDC,
                         0xA9, hi(later), 0x8D, 0x05, 0xDC, 0xAD, 0x0D,      0xDC, 0x60};
    std::copy(scan.begin(), scan.end(), intro.begin());
    std::copy(setup.begin(), setup.end(), intro.begin() + 21);
    block_sync();
    o.put({0x00, 0x00, 0xC0, 0x40, 0xC0});
    o.put(intro);
    o.put(xor_of(intro));
    o.pause();
    o.bits = thunderload_bits(later);
  }
  block_sync();
  Bytes head = {0x00, lo(o.f.start_address), hi(o.f.start_address),
                0x01, lo(end_of(o.f)),       hi(end_of(o.f))};
  head.push_back(
      static_cast<std::uint8_t>(xor_of(head) ^ 0xAA ^ 0xF0 ^ 0x96 ^ (o.f.bad_checksum ? 0xFF : 0)));
  o.put(head);
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
}

// ---- Ocean New 2: Freeload's pilot (0x40 bytes, 128 here) and sync 0x5A, the load and end
// address (little-endian, the end exclusive), an ID byte (2 here), the data and the XOR of the
// data. MSB first; bits 0x22 / 0x42.
void ocean_new2(Writer& o) {
  o.pilot(0x40, 128);
  o.put(0x5A);
  o.synced();
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f)), 0x02});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
}

// ---- Empire: the boot file, a ROM program at $0801-$08E8, holds the loader: at $081E it sets
// the timer (LDA #lo; STA $DC04; LDA #hi; STA $DC05: 360 cycles); it compares (CMP #) at
// $0880, at $088C with the same operand, and at $0890 (here the pilot byte, the pilot byte and
// the sync). Each file: pilot bytes 0x80 (127 at least; 256 unless told), the sync 0x40, the
// start and end address (little-endian, the end exclusive; as the file announces it), the
// data; no checksum. Bits 0x1E / 0x3C, MSB first.
void empire(Writer& o) {
  if (o.f.with_boot) {
    Bytes boot(0x08E8 - 0x0801, 0xEA);
    const auto code = [&](unsigned at, const Bytes& bytes) {
      std::copy(bytes.begin(), bytes.end(), boot.begin() + (at - 0x0801));
    };
    code(0x081E, {0xA9, 0x68, 0x8D, 0x04, 0xDC, 0xA9, 0x01, 0x8D, 0x05, 0xDC});
    code(0x0880, {0xC9, 0x80, 0xD0, 0xF8});
    code(0x088C, {0xC9, 0x80, 0xF0, 0xF0, 0xC9, 0x40, 0xD0, 0xEC});
    o.w.add_rom({Encoding::kStandard, 1, "EMPIRE", boot, 0x0801});
    o.pause();
  }
  o.pilot(0x80, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 256);
  o.put(0x40);
  o.synced();
  const unsigned end =
      o.f.announced_size < 0 ? end_of(o.f) : o.f.start_address + unsigned(o.f.announced_size);
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end), hi(end)});
  o.data(0, o.f.data.size());
}

// ---- The Edge: 1,500 0 bits (1,000 at least), 0xAA (its first bit the 1 that ends them) and
// 0x00; 256 bytes the loader passes over; the start and end address (little-endian, the end
// exclusive); right after, the 0 bits, 0xAA and 0x00 again; the data. No checksum. Bits
// 0x2B / 0x4A, MSB first.
void the_edge(Writer& o) {
  const auto pilot = [&](int zeros) {
    o.w.pilot();
    o.bit(false, zeros);
    o.put({0xAA, 0x00});
    o.synced();
  };
  o.w.place(o.block++, 1);
  pilot(o.f.pilot_bytes > 0 ? 8 * o.f.pilot_bytes : 1500);
  for (unsigned i = 0; i < 256; ++i) o.put(lo(i * 7 + 0x20));
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)), hi(end_of(o.f))});
  pilot(o.f.variant > 0 ? o.f.variant : 1500);
  o.data(0, o.f.data.size());
}

// ---- Special Agent and Strike Force Cobra (Audiogenic): the boot, a ROM program of type 3 at
// $02A7-$0314, holds the loader in its header, which from $035B on sets timer A ($DD04/$DD05,
// between a 0 and a 1) and timer B ($DD06/$DD07, between a 1 and the pilot's pulse): 712 and
// 1,256 cycles for Special Agent, 594 and 1,151 for Strike Force Cobra. Each 256-byte page of
// the file a block, back to back: 30 very long pulses (unless told), three bits of either
// value, the page's number (the high byte of where it loads), the 256 bytes and their XOR.
// Pulses 64 / 136 / 170 TAP units (Special Agent) or 46 / 102 / 181 (Strike Force Cobra), MSB
// first.
void special_agent(Writer& o) {
  const bool cobra = o.f.variant == 1;
  const unsigned timer_a = cobra ? 594 : 712, timer_b = cobra ? 1151 : 1256;
  const double pilot = cobra ? 181 : 170;
  if (o.f.with_boot) {
    TapeFile boot{Encoding::kStandard, 3, "SPECIAL", Bytes(0x0314 - 0x02A7, 0xEA), 0x02A7};
    boot.header_filler.assign(171, 0xEA);  // the header from byte 21 on
    // Strike Force Cobra's through X, Special Agent's through A.
    const std::uint8_t load = cobra ? 0xA2 : 0xA9, store = cobra ? 0x8E : 0x8D;
    Bytes code;
    for (const auto& [reg, value] : {std::pair{0x04, lo(timer_a)}, std::pair{0x05, hi(timer_a)},
                                     std::pair{0x06, lo(timer_b)}, std::pair{0x07, hi(timer_b)}})
      code.insert(code.end(), {load, value, store, static_cast<std::uint8_t>(reg), 0xDD});
    std::copy(code.begin(), code.end(), boot.header_filler.begin() + (0x035B - 0x033C - 21));
    o.w.add_rom(boot);
    o.pause();
  }
  for (std::size_t at = 0; at < o.f.data.size(); at += 256) {
    o.w.place(o.block++, 1);
    o.w.pilot();
    for (int i = 0; i < (o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 30); ++i)
      o.w.bit(true, {o.bits.zero, pilot, true});
    o.bit(true);
    o.bit(false);
    o.bit(true);
    o.synced();
    o.put(hi(o.f.start_address + static_cast<unsigned>(at)));
    o.data(at, 256);
    for (std::size_t i = o.f.data.size(); i < at + 256; ++i) o.put(0);
    const Bytes page(o.f.data.begin() + static_cast<long>(at),
                     o.f.data.begin() + static_cast<long>(std::min(at + 256, o.f.data.size())));
    o.put(xor_of(page));
  }
}

// ---- Mikro-Gen: the blocks have no head; the boot, a ROM program at $0801, holds their
// addresses in its code, and the last byte a block loads is its check byte, which makes the sum
// of all its bytes 0. Old (variant 0): one block, told by LDA #lo, STA $FD, LDA #hi, STA $FE,
// LDA $DC0E, AND #$FE, STA $DC0E and, after it, INC $FE, LDA $FE, CMP #page, BNE: it loads up
// to the last byte before that page (the data padded with 0s up to the check byte there); its
// pilot 1,024 pulses of 0xD2 TAP units, then a 0. New (variant 1): two blocks, a loading screen
// of 64 bytes at $0400 and the file, each told in turn by LDA #lo, STA $FD, LDA #hi, STA $FE,
// LDA #lo, STA $F8, LDA #hi, STA $F9, LDA $DC0E: from $FD/$FE up to $F8/$F9 (exclusive); each
// after 2,048 1s and a 0. The pilots' pulses as told. Bits 0x38 / 0x66, LSB first.
void mikro_gen(Writer& o) {
  const bool old = o.f.variant == 0;
  const unsigned start = o.f.start_address, size = static_cast<unsigned>(o.f.data.size());
  // Old: the check byte at the last byte of a page.
  const unsigned stop = old ? (start + size) | 0xFF : start + size;
  const unsigned screen = 0x0400;
  Bytes shown(64);
  for (std::size_t i = 0; i < shown.size(); ++i) shown[i] = lo(i * 3 + 0x20);
  if (o.f.with_boot) {
    Bytes boot(160, 0xEA);
    const auto code = [&](std::size_t at, const Bytes& bytes) {
      std::copy(bytes.begin(), bytes.end(), boot.begin() + static_cast<long>(at));
    };
    if (old) {
      code(0x20, {0xA9, lo(start), 0x85, 0xFD, 0xA9, hi(start), 0x85, 0xFE, 0xAD, 0x0E, 0xDC, 0x29,
                  0xFE, 0x8D, 0x0E, 0xDC});
      code(0x50, {0xE6, 0xFE, 0xA5, 0xFE, 0xC9, lo((stop + 1) >> 8), 0xD0, 0xF0});
    } else {
      const auto block = [&](std::size_t at, unsigned from, unsigned to) {
        code(at, {0xA9, lo(from), 0x85, 0xFD, 0xA9, hi(from), 0x85, 0xFE, 0xA9, lo(to), 0x85, 0xF8,
                  0xA9, hi(to), 0x85, 0xF9, 0xAD, 0x0E, 0xDC});
      };
      block(0x20, screen, screen + static_cast<unsigned>(shown.size()) + 1);
      block(0x50, start, stop + 1);
    }
    o.w.add_rom({Encoding::kStandard, 1, "MIKRO-GEN", boot, 0x0801});
    o.pause();
  }
  const auto block = [&](const Bytes* fixed, std::size_t n) {
    o.w.place(o.block++, 1);
    o.w.pilot();
    if (old) {
      for (int i = 0; i < (o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 1024); ++i)
        o.w.bit(true, {o.bits.zero, 0xD2, false});
    } else {
      o.bit(true, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 2048);
    }
    o.bit(false);
    o.synced();
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t v = fixed ? (*fixed)[i] : i < o.f.data.size() ? o.f.data[i] : 0;
      sum = static_cast<std::uint8_t>(sum + v);
      if (fixed || i >= o.f.data.size()) {
        o.put(v);
      } else {
        o.data(i, 1);
      }
    }
    o.put(static_cast<std::uint8_t>(0 - sum));
  };
  if (!old) block(&shown, shown.size());
  block(nullptr, stop - start);
}

// ---- Hitload: Freeload's block (pilot 0x40, at least 30 bytes of it; sync 0x5A; start and
// end address, low byte first, the end one past the last byte; data; XOR of the data) at
// 0x34 / 0x66 TAP units, MSB first.
void hitload(Writer& o) {
  o.bits = {0x34, 0x66, true};
  freeload_block(o, 80);
}

// ---- Rainbow Arts: at least 800 pilot bytes 0xA0 (1000 unless told), a countdown (F1 0x0A..0x01,
// F2 0x0B..0x01), the head, the data, the XOR of the data and a few trailer pulses. F1's head: the
// block's number, the start address, 0x10000 - the size; F2's: a 3-byte name, the start, 0x10000 -
// the size; the words low byte first. Bits 0x19 / 0x36, LSB first.
void rainbow_arts(Writer& o) {
  const bool f2 = o.f.variant == 2;
  o.bits = {0x19, 0x36, false};
  o.pilot(0xA0, o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 1000);
  for (int n = f2 ? 11 : 10; n >= 1; --n) o.put(static_cast<std::uint8_t>(n));
  o.synced();
  if (f2) {
    for (std::size_t i = 0; i < 3; ++i)
      o.put(static_cast<std::uint8_t>(i < o.f.name.size() ? o.f.name[i] : ' '));
  } else {
    o.put(0x01);
  }
  const unsigned size = 0x10000u - static_cast<unsigned>(o.f.data.size());
  o.put({lo(o.f.start_address), hi(o.f.start_address), lo(size), hi(size)});
  o.data(0, o.f.data.size());
  o.put(xor_of(o.f.data));
  o.bit(false, 8);
}

// ---- Ocean New 4: Freeload's pilot (0x40 bytes, 128 here) and sync 0x5A, then the block's
// number (1 here), the XOR of the data, the load and end address (little-endian, the end
// exclusive), the data and 0 bytes up to the page's end (variant 1: none). MSB first; bits
// 0x24 / 0x44.
void ocean_new4(Writer& o) {
  o.pilot(0x40, 128);
  o.put(0x5A);
  o.synced();
  o.put({0x01, xor_of(o.f.data), lo(o.f.start_address), hi(o.f.start_address), lo(end_of(o.f)),
         hi(end_of(o.f))});
  o.data(0, o.f.data.size());
  if (o.f.variant != 1)
    for (std::size_t n = o.f.data.size(); n % 256 != 0; ++n) o.put(0);
}

// ---- CRL: the boot, a ROM program whose header holds the loader: LDX #pages; STX $04 for
// its first block, and the read loop LDA $DD0D; LSR; ROR abs,X; DEC $02; BNE; INX; BNE, the
// ROR's operand where the first block loads (kCrlBootMoves: $0000 there, and LDA #lo; STA;
// LDA #hi; STA into it before). The first block, a page at $CE00, holds the loop again and,
// for each block after it: LDA #lo; STA and LDA #hi; STA into the loop's ROR operand, LDA
// #pages; STA $04; JSR to the loop. The file's blocks follow, its data up to whole pages with
// 0s. Each block: 5 pulses of 0xF0 TAP units (or pilot_bytes), 5 of 0x84, then its bytes, LSB
// first, 0x30 a 0 and 0x50 a 1; no head, no checksum.
void crl(Writer& o) {
  constexpr std::uint16_t kMaster = 0xCE00, kLoop = 0x80, kHeader = 0x033C;
  const bool page_blocks = (o.f.variant & kCrlPageBlocks) != 0;
  const std::size_t pages = (o.f.data.size() + 255) / 256;
  // The loop with its bit counter's set-up in front, its ROR's operand `target`; the page
  // count's DEC $04 and branch back after it.
  const auto loop = [](unsigned target) {
    return Bytes{0xA9,       0x08,       0x85, 0x02, 0xAD, 0x0D, 0xDD, 0x4A, 0x7E,
                 lo(target), hi(target), 0xC6, 0x02, 0xD0, 0xF5, 0xE8, 0xD0, 0xEE,
                 0xEE,       0x00,       0x00, 0xC6, 0x04, 0xD0, 0xE7, 0x60};
  };
  if (o.f.with_boot) {
    TapeFile boot{Encoding::kStandard, 3, "CRL", Bytes(16, 0xEA), 0x02A7};
    boot.header_filler.assign(171, 0xEA);  // the header from byte 21 on
    const bool moves = (o.f.variant & kCrlBootMoves) != 0;
    constexpr std::size_t kAt = 0x40;  // the loop in the filler
    const unsigned operand = kHeader + 21 + kAt + 9;
    Bytes code = {0xA2, 0x01, 0x86, 0x04, 0xA9, 0x06, 0x85, 0x05, 0x85, 0x01};
    if (moves)
      code.insert(code.end(), {0xA9, lo(kMaster), 0x8D, lo(operand), hi(operand), 0xA9, hi(kMaster),
                               0x8D, lo(operand + 1), hi(operand + 1)});
    Bytes l = loop(moves ? 0 : kMaster);
    l[19] = lo(operand + 1), l[20] = hi(operand + 1);  // INC the operand's high byte
    std::copy(code.begin(), code.end(), boot.header_filler.begin());
    std::copy(l.begin(), l.end(), boot.header_filler.begin() + kAt);
    o.w.add_rom(boot);
    o.pause();
  }
  const auto block = [&](const auto& write) {
    o.w.place(o.block++, 1);
    o.w.pilot();
    for (int i = 0; i < (o.f.pilot_bytes > 0 ? o.f.pilot_bytes : 5); ++i)
      o.w.bit(true, {0x30, 0xF0, false});
    for (int i = 0; i < 5; ++i) o.w.bit(true, {0x30, 0x84, false});
    o.synced();
    write();
  };
  // The first block: a JSR to the loop for each block after it, the loop at kLoop.
  const unsigned operand = kMaster + kLoop + 9;
  Bytes master(256, 0xEA);
  std::size_t at = 0;
  for (std::size_t page = 0; page < pages; page += page_blocks ? 1 : pages) {
    const unsigned start = o.f.start_address + 256 * static_cast<unsigned>(page);
    const std::uint8_t n = page_blocks ? 1 : static_cast<std::uint8_t>(pages);
    const Bytes setup = {0xA9,
                         lo(start),
                         0x8D,
                         lo(operand),
                         hi(operand),
                         0xA9,
                         hi(start),
                         0x8D,
                         lo(operand + 1),
                         hi(operand + 1),
                         0xA9,
                         n,
                         0x85,
                         0x04,
                         0x20,
                         lo(kMaster + kLoop),
                         hi(kMaster + kLoop)};
    std::copy(setup.begin(), setup.end(), master.begin() + static_cast<long>(at));
    at += setup.size();
  }
  Bytes l = loop(0);
  l[19] = lo(operand + 1), l[20] = hi(operand + 1);
  std::copy(l.begin(), l.end(), master.begin() + kLoop);
  block([&] { o.put(master); });
  const std::size_t per = page_blocks ? 256 : 256 * pages;
  for (std::size_t from = 0; from < 256 * pages; from += per) {
    block([&] {
      const bool last = from + per == 256 * pages;
      const std::size_t n = last && (o.f.variant & kCrlLongLast) ? per - 1 : per;
      o.data(from, n);
      for (std::size_t i = std::max(o.f.data.size(), from); i < from + n; ++i) o.put(0);
      if (n == per) return;
      const std::uint8_t v = from + n < o.f.data.size() ? o.f.data[from + n] : 0;
      for (int b = 0; b < 7; ++b) o.bit((v >> b) & 1);
      o.w.bit(true, {0x30, 0xE0, false});  // read as a 1, whatever it was
    });
  }
}

}  // namespace

void add_turbo(TapeWriter& w, const TapeFile& f) {
  constexpr TurboBits kNova{0x24, 0x56, false}, kFree{0x24, 0x42, true}, kMicro{0x1C, 0x36, false},
      kWild{0x30, 0x47, false}, kBleep{0x30, 0x5A, true}, kTurbo{0x1A, 0x28, true},
      kPower{0x1C, 0x29, true}, k526{0x31, 0x4B, true}, kLexpeed{0x4C, 0x72, true},
      kVisi{0x25, 0x48, true};
  Writer o{w, f, kFree};
  switch (f.encoding) {
    case Encoding::kNovaload:
    case Encoding::kNovaloadSpecial:
      o.bits = kNova;
      return novaload(o, f.encoding == Encoding::kNovaloadSpecial);
    case Encoding::kFreeload:
      return freeload(o);
    case Encoding::kFreeloadSlow:
      return freeload_slow(o);
    case Encoding::kHitload:
      return hitload(o);
    case Encoding::kRainbowArts:
      return rainbow_arts(o);
    case Encoding::kOcean:
      o.bits = kNova;
      return ocean(o);
    case Encoding::kUsGold:
      return us_gold(o);
    case Encoding::kMicroload:
      o.bits = kMicro;
      return microload(o);
    case Encoding::kWildload:
      o.bits = kWild;
      return wildload(o);
    case Encoding::kBleepload:
    case Encoding::kBleeploadSpecial:
      o.bits = kBleep;
      return bleepload(o, f.encoding == Encoding::kBleeploadSpecial);
    case Encoding::kBurner:
      o.bits = {0x22, 0x42, !f.lsb_first};
      return burner(o);
    case Encoding::kAnirog:
      o.bits = kTurbo;
      return anirog(o);
    case Encoding::kTurbo220:
      o.bits = kTurbo;
      return turbo220(o);
    case Encoding::kAmericanAction:
      o.bits = kTurbo;
      return american_action(o);
    case Encoding::kTequila:
      o.bits = kTurbo;
      return tequila(o);
    case Encoding::kLkAvalon:
      o.bits = kTurbo;
      return lk_avalon(o);
    case Encoding::kPowerLoad:
      o.bits = kPower;
      return power_load(o);
    case Encoding::kTurbotape526:
      o.bits = k526;
      return turbotape526(o);
    case Encoding::kLexpeed:
      o.bits = kLexpeed;
      return lexpeed(o);
    case Encoding::kVirgin:
      o.bits = f.variant == 1 ? TurboBits{0x25, 0x45, true} : TurboBits{0x21, 0x3B, true};
      return virgin(o);
    case Encoding::kJiffyLoad:
      o.bits = {0x17, 0x21, true};
      return jiffy_load(o);
    case Encoding::kAshDave:
      o.bits = {0x22, 0x44, true};
      return ash_dave(o);
    case Encoding::kCreativeSparks:
      o.bits = {0x22, 0x33, true};
      return creative_sparks(o);
    case Encoding::kSnakeload50:
      o.bits = f.variant == 1 ? TurboBits{0x60, 0xA0, true} : TurboBits{0x3F, 0x5F, true};
      return snakeload50(o);
    case Encoding::kSnakeload51:
      o.bits = {0x28, 0x48, true};
      return snakeload51(o);
    case Encoding::kRackIt:
      o.bits = {0x1D, 0x3D, !f.lsb_first};
      return rackit(o);
    case Encoding::kOdeload:
      o.bits = {0x25, 0x50, true};
      return odeload(o);
    case Encoding::kJetload:
      o.bits = {0x33, 0x58, false};
      return jetload(o);
    case Encoding::kFlashload:
      o.bits = {0x1F, 0x31, true};
      return flashload(o);
    case Encoding::kAtlantis:
      o.bits = {0x1D, 0x42, false};
      return atlantis(o);
    case Encoding::kAceOfAces:
      o.bits = {0x22, 0x47, true};
      return ace_of_aces(o);
    case Encoding::kAccolade:
      o.bits = {0x29, 0x4A, true};
      return accolade(o);
    case Encoding::kAlienSyndrome:
      o.bits = {0x20, 0x43, true};
      return alien_syndrome(o);
    case Encoding::kBiturbo:
      o.bits = {0x1B, 0x27, true};
      return biturbo(o);
    case Encoding::kPalace:
      o.bits = {0x30, 0x57, true};
      return palace(o);
    case Encoding::kTdi:
      o.bits = {0x44, 0x65, false};
      return tdi(o);
    case Encoding::kFirebird:
      o.bits = f.variant == 1 ? TurboBits{0x45, 0x65, false} : TurboBits{0x44, 0x7E, false};
      return firebird(o);
    case Encoding::kRasterload:
      o.bits = {0x26, 0x58, true};
      return rasterload(o);
    case Encoding::kCauldron:
      o.bits = {0x1A, 0x28, true};
      return cauldron(o);
    case Encoding::kEasyTape:
      o.bits = {0x1D, 0x40, false};
      return easy_tape(o);
    case Encoding::kAudiogenic:
      o.bits = {0x1A, 0x36, true};
      return audiogenic(o);
    case Encoding::kGremlinGbh:
      o.bits = {0x2F, 0x49, true};
      return gremlin_gbh(o);
    case Encoding::kOceanNew3:
      o.bits = {0x2E, 0x49, true};
      return ocean_new3(o);
    case Encoding::kPavloda:
      o.bits = {0x3F, 0x1F, true, true};
      return pavloda(o);
    case Encoding::kThunderload: {
      const unsigned timer = f.variant > 0 ? static_cast<unsigned>(f.variant) : 0x1A0;
      o.bits = thunderload_bits(timer);
      return thunderload(o, timer, f.flag > 0 ? static_cast<unsigned>(f.flag) : timer);
    }
    case Encoding::kOceanNew1:
      o.bits = f.variant == 1 ? TurboBits{0x35, 0x65, true} : TurboBits{0x22, 0x42, true};
      return ocean_new1(o);
    case Encoding::kEmpire:
      o.bits = {0x1E, 0x3C, true};
      return empire(o);
    case Encoding::kTheEdge:
      o.bits = {0x2B, 0x4A, true};
      return the_edge(o);
    case Encoding::kTesTape:
      o.bits = {0x1D, 0x44, false};
      return tes_tape(o);
    case Encoding::kMms:
      o.bits = {0x1B, 0x28, true};
      return mms(o);
    case Encoding::kSpecialAgent:
      o.bits = f.variant == 1 ? TurboBits{46, 102, true} : TurboBits{64, 136, true};
      return special_agent(o);
    case Encoding::kSuperPavloda:
      o.bits = f.variant == 1 ? TurboBits{0x3E, 0x7C, true, false, 0x5D}
                              : TurboBits{0x2E, 0x5C, true, false, 0x45};
      return super_pavloda(o);
    case Encoding::kOceanNew2:
      o.bits = {0x22, 0x42, true};
      return ocean_new2(o);
    case Encoding::kOceanNew4:
      o.bits = {0x24, 0x44, true};
      return ocean_new4(o);
    case Encoding::kPavlodaPenetrator:
      o.bits = {0x2C, 0x57, true, false, 0x41};
      return pavloda_penetrator(o);
    case Encoding::kMikroGen:
      o.bits = {0x38, 0x66, false};
      return mikro_gen(o);
    case Encoding::kSuperTape:
      o.bits = {.zero = 0x21, .one = 0x43, .msb_first = false, .medium = 0x32, .half_waves = true};
      return super_tape(o);
    case Encoding::kVisiload:
      o.bits = kVisi;
      return visiload(o);
    case Encoding::kCyberload:
      o.bits = kBleep;
      return cyberload(o);
    case Encoding::kCrl:
      o.bits = {0x30, 0x50, false};
      return crl(o);
    default:
      return;
  }
}

}  // namespace tapewren::synth
