// Tapes made from programs: the files read, then written by the synthesiser's encoders with
// nominal pulses and the machines' own lead-ins.
#include "programs.hpp"

#include <algorithm>
#include <cctype>
#include <memory>

#include "platform/tool_io.hpp"
#include "synth/tape_synth.hpp"

namespace tapewren::convert {

namespace {

// Bigger than any image or program this reads (a 40-track D64 with error bytes is 197,376).
constexpr std::size_t kMaxInput = 1 << 20;

std::string lower_extension(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool read_whole(const std::string& path, image::Bytes& bytes, std::string& error) {
  auto file = platform::InputFile::open(path, error);
  if (!file) return false;
  std::uint8_t buffer[65536];
  for (;;) {
    const long long n = file->read(buffer, sizeof buffer);
    if (n < 0) {
      error = file->error();
      return false;
    }
    if (n == 0) return true;
    bytes.insert(bytes.end(), buffer, buffer + n);
    if (bytes.size() > kMaxInput) {
      error = "over 1 MiB: no program or image this reads is so big";
      return false;
    }
  }
}

// The addresses a BASIC program is saved from: a program there goes on tape as one BASIC loads
// wherever BASIC starts (the VIC20's depend on its memory expansion).
bool basic_start(int machine, std::size_t address) {
  if (machine == 1) return address == 0x1001 || address == 0x0401 || address == 0x1201;
  return address == (machine == 2 ? 0x1001 : 0x0801);
}

}  // namespace

ProgramKind program_kind(const std::string& path) {
  const std::string ext = lower_extension(path);
  if (ext == ".prg") return ProgramKind::kPrg;
  if (ext == ".seq") return ProgramKind::kSeq;
  if (ext == ".t64") return ProgramKind::kT64;
  if (ext == ".d64") return ProgramKind::kD64;
  return ProgramKind::kNone;
}

std::string tape_name(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (!lower_extension(name).empty()) name.erase(name.rfind('.'));
  std::string out;
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (out.size() == 16) break;
    // PETSCII shares ASCII's 0x20-0x5D; its 0x60-0x7F are graphics, not lower-case letters.
    if (c >= 'a' && c <= 'z') {
      out += static_cast<char>(c - 'a' + 'A');
    } else if (c >= 0x20 && c <= 0x5D) {
      out += static_cast<char>(c);
    } else if (c < 0x80 || (c & 0xC0) == 0xC0) {  // a UTF-8 character counts once
      out += '?';
    }
  }
  return out;
}

bool read_programs(const std::vector<std::string>& paths, std::vector<image::File>& files,
                   std::vector<std::string>& notes, std::string& error) {
  for (const auto& path : paths) {
    image::Bytes bytes;
    if (!read_whole(path, bytes, error)) {
      error.insert(0, path + ": ");
      return false;
    }
    const ProgramKind kind = program_kind(path);
    if (kind == ProgramKind::kPrg || kind == ProgramKind::kSeq) {
      files.push_back({tape_name(path),
                       kind == ProgramKind::kPrg ? image::FileType::kPrg : image::FileType::kSeq,
                       std::move(bytes)});
      continue;
    }
    const image::Contents contents =
        kind == ProgramKind::kT64 ? image::read_t64(bytes) : image::read_d64(bytes);
    if (!contents.error.empty()) {
      error = path + ": " + contents.error;
      return false;
    }
    for (const auto& note : contents.notes) {
      notes.push_back(path + ": ");
      notes.back() += note;
    }
    if (contents.files.empty()) {
      error = path + ": no PRG or SEQ file on it";
      return false;
    }
    files.insert(files.end(), contents.files.begin(), contents.files.end());
  }
  return true;
}

bool program_tape(const std::vector<image::File>& files, const MadeTape& how,
                  std::vector<std::uint8_t>& words, std::string& error) {
  synth::TapeLayout layout;
  layout.exact = true;
  layout.vic20 = how.machine == 1;
  // The ROM's lead-ins (0x6A00 short pulses before a header, 0x1500 before the data, 0x4F
  // before each repeat); about a second's pause between files.
  layout.header_lead_in = 0x6A00;
  layout.data_lead_in = 0x1500;
  layout.repeat_lead_in = 0x4F;
  layout.gap_words = 30;
  std::vector<synth::TapeFile> tape;
  for (const auto& f : files) {
    const std::string what = "\"" + f.name + "\": ";
    synth::TapeFile t;
    t.name = f.name;
    t.encoding = how.turbo          ? synth::Encoding::kCountdown9
                 : how.machine == 2 ? synth::Encoding::kC16
                                    : synth::Encoding::kStandard;
    if (f.type == image::FileType::kSeq) {
      if (how.turbo) {
        error = what + "a SEQ file: Turbo Tape carries programs only";
        return false;
      }
      // The machine reads a data file up to its first 0x00: one in it would cut it there.
      if (f.bytes.empty() || std::find(f.bytes.begin(), f.bytes.end(), 0) != f.bytes.end()) {
        error = what + "a SEQ file " +
                (f.bytes.empty() ? std::string("with nothing in it")
                                 : "holding a 0x00 byte: the machine reads a tape's data file "
                                   "only up to its first 0x00") +
                "; not put on the tape";
        return false;
      }
      t.header_type = 4;
      t.data = f.bytes;
      // The header holds the tape buffer's addresses, as the machine writes it.
      t.start_address = how.machine == 2 ? 0x0333 : 0x033C;
      t.announced_size = 192;
    } else {
      const std::size_t start = f.bytes.size() >= 2 ? f.bytes[0] | f.bytes[1] << 8 : 0;
      if (f.bytes.size() < 3 || start + f.bytes.size() - 2 > 0xFFFF) {
        error = what +
                (f.bytes.size() < 3 ? "no program in it (" + std::to_string(f.bytes.size()) +
                                          " bytes, its load address and nothing more)"
                                    : "it would load past $FFFE, which a tape header "
                                      "cannot say") +
                "; not put on the tape";
        return false;
      }
      t.start_address = static_cast<std::uint16_t>(start);
      t.data.assign(f.bytes.begin() + 2, f.bytes.end());
      // ROM: 1 relocatable, 3 at its address; Turbo Tape: 1 BASIC, 2 binary.
      const bool basic = basic_start(how.machine, start);
      t.header_type = basic ? 1 : how.turbo ? 2 : 3;
    }
    tape.push_back(std::move(t));
  }
  words = synth::synthesize(tape, layout);
  return true;
}

}  // namespace tapewren::convert
