// What a person and a file system see of a file: its name, its verdict, its fingerprint.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "tape/tape.hpp"

namespace tapewren::tape {

namespace {

std::uint32_t crc_update(std::uint32_t crc, const std::vector<std::uint8_t>& bytes) {
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc;
}

}  // namespace

void Fingerprint::add(const TapeFile& file) {
  crc_ = crc_update(crc_, file.data);
}

std::uint32_t crc32(const std::vector<std::uint8_t>& bytes) {
  return ~crc_update(0xFFFFFFFF, bytes);
}

std::string readable_name(const std::array<std::uint8_t, 16>& name) {
  std::string out;
  for (std::uint8_t c : name) {
    if ((c & 0x7F) < 0x20) continue;  // control codes: colours, clear screen, padding
    if ((c >= 0x20 && c <= 0x5B) || c == 0x5D)
      out += static_cast<char>(c);
    else if (c >= 0xC1 && c <= 0xDA)
      out += static_cast<char>(c - 0xC1 + 'a');  // shifted letters
    else if (c == 0xA0)
      out += ' ';
    else
      out += c == 0x5C ? '#' : c == 0x5E ? '^' : c == 0x5F ? '<' : '?';  // pound, arrows
  }
  return out.erase(out.find_last_not_of(' ') + 1);
}

std::string safe_name(std::string text, const std::string& if_empty) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F ||
        std::string("<>:\"/\\|?*").find(c) != std::string::npos)
      c = '_';
  text.erase(text.find_last_not_of(". ") + 1);  // Windows drops trailing dots and spaces
  if (text.empty()) text = if_empty;
  std::string base = text.substr(0, text.find('.'));
  std::transform(base.begin(), base.end(), base.begin(),
                 [](char c) { return static_cast<char>(std::toupper(c)); });
  base.erase(base.find_last_not_of(' ') + 1);
  static const char* const kReserved[] = {"CON", "PRN", "AUX", "NUL"};
  bool reserved =
      std::find(std::begin(kReserved), std::end(kReserved), base) != std::end(kReserved);
  reserved |= base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
              base[3] >= '0' && base[3] <= '9';
  // A leading '-' reads as an option to every command line tool, a leading '.' hides it.
  reserved |= text[0] == '-' || text[0] == '.';
  return reserved ? "_" + text : text;
}

std::string safe_file_name(const std::array<std::uint8_t, 16>& name) {
  return safe_name(readable_name(name), "UNNAMED");
}

std::string nameless_name(const std::string& before, int number, std::uint32_t start,
                          std::size_t width) {
  char place[32];
  std::snprintf(place, sizeof place, " %03d $%04X", number, start);
  const std::string base = before.empty() ? "TAPE" : before;
  const std::size_t room = width > std::strlen(place) ? width - std::strlen(place) : 0;
  return base.substr(0, room) + place;
}

const char* verdict_text(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return "ok";
    case Verdict::kRepaired:
      return "repaired";
    case Verdict::kBad:
      return "bad";
    case Verdict::kIncomplete:
      return "incomplete";
    case Verdict::kNamed:
      return "named only";
    case Verdict::kUnverified:
      return "unverified";
  }
  return "";
}

const char* machine_text(int machine) {
  static const char* const kNames[] = {"C64", "VIC20", "C16"};
  return machine >= 0 && machine < 3 ? kNames[machine] : "?";
}

}  // namespace tapewren::tape
