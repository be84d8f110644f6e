// tapewren-scan's D64 and T64 images: the good files kept in tape order, the images built by
// the image library and written through the never-overwrite writer.
#include "images.hpp"

#include "platform/tool_io.hpp"

namespace tapewren::scan {

namespace {

std::string files_text(std::size_t n) {
  return std::to_string(n) + (n == 1 ? " file" : " files");
}

std::string message(const std::string& file, const std::string& text) {
  return "tapewren-scan: " + file + ": " + text + "\n";
}

// The name as a person reads it, for messages.
std::string readable(const std::string& petscii) {
  std::array<std::uint8_t, 16> padded{};
  padded.fill(0x20);
  for (std::size_t i = 0; i < petscii.size() && i < 16; ++i)
    padded[i] = static_cast<std::uint8_t>(petscii[i]);
  return tape::readable_name(padded);
}

}  // namespace

std::string petscii_name(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (out.size() == 16) break;
    if (c >= 'a' && c <= 'z') {
      out += static_cast<char>(c - 'a' + 'A');
    } else if ((c >= ' ' && c <= '[') || c == ']') {
      out += c;
    } else {
      out += '-';  // '_', '~', braces and bytes beyond ASCII: no such sign in PETSCII
    }
  }
  return out;
}

std::string disk_name_of(const std::string& path) {
  std::string name = path.substr(path.find_last_of("/\\") + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return petscii_name(name);
}

Images::Images(ImageSettings settings, Channel& channel)
    : settings_(std::move(settings)), channel_(channel) {}

void Images::add(const tape::TapeFile& f) {
  ++number_;
  const std::string own = tape::readable_name(f.name);
  const bool good = tape::is_good(f);
  const bool kind = f.kind == tape::Kind::kProgram || f.kind == tape::Kind::kDataFile;
  if (!own.empty()) last_name_ = own;
  if (!good || !kind || f.data.empty()) return;
  image::File file;
  if (f.kind == tape::Kind::kProgram) {
    file.bytes = {static_cast<std::uint8_t>(f.start), static_cast<std::uint8_t>(f.start >> 8)};
  } else {
    file.type = image::FileType::kSeq;
  }
  // The tape's own PETSCII name; one that reads as nothing (control codes alone, spaces) is
  // called after the name before it, as --extract calls it, cut to fit.
  file.name = own.empty() ? petscii_name(tape::nameless_name(last_name_, number_, f.start, 16))
                          : image::trimmed(std::string(f.name.begin(), f.name.end()));
  file.bytes.insert(file.bytes.end(), f.data.begin(), f.data.end());
  fingerprint_.add(f);
  files_.push_back(std::move(file));
}

bool Images::write(const std::string& path, const image::Built& built, const std::string& what) {
  platform::OutputFile out;
  if (!out.create(path) || !out.write(built.image.data(), built.image.size()) || !out.commit()) {
    channel_.err(message(path, out.error()));
    return false;
  }
  if (!settings_.quiet) channel_.out("wrote " + path + " (" + what + ")\n");
  return true;
}

cli::Exit Images::finish() {
  if (files_.empty()) {
    for (const std::string* path : {&settings_.d64, &settings_.t64})
      if (!path->empty()) channel_.err(message(*path, "no good program or data file: not written"));
    return cli::Exit::kBad;
  }
  cli::Exit code = cli::Exit::kOk;
  bool failed = false;
  const std::vector<std::string> names = image::unique_names(files_);
  const auto report = [&](const std::string& path, const image::Built& built, const char* why) {
    for (std::size_t i : built.left_out) {
      channel_.err(message(path, std::string(why) + " " + readable(names[i]) + " (" +
                                     std::to_string(files_[i].bytes.size()) + " bytes, " +
                                     std::to_string(image::blocks(files_[i].bytes.size())) +
                                     " blocks)"));
      code = cli::Exit::kBad;
    }
  };
  if (!settings_.d64.empty()) {
    // The disk ID from the files, so that disks of different tapes differ, as a drive expects.
    const std::uint32_t print = fingerprint_.value();
    const char* const kSigns = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const image::DiskLabel label{settings_.disk_name,
                                 {kSigns[print % 36], kSigns[print / 36 % 36]}};
    const image::Built disk = image::d64(files_, label);
    int used = 0;
    for (std::size_t i = 0, k = 0; i < files_.size(); ++i) {
      if (k < disk.left_out.size() && disk.left_out[k] == i) {
        ++k;
      } else {
        used += image::blocks(files_[i].bytes.size());
      }
    }
    const std::size_t in = files_.size() - disk.left_out.size();
    if (write(settings_.d64, disk,
              files_text(in) + ", " + std::to_string(image::kD64Blocks - used) + " blocks free")) {
      report(settings_.d64, disk, "no room for");
    } else {
      failed = true;
    }
  }
  if (!settings_.t64.empty()) {
    const image::Built tape = image::t64(files_, settings_.disk_name);
    if (write(settings_.t64, tape, files_text(files_.size() - tape.left_out.size()))) {
      report(settings_.t64, tape, "no entry can hold");
    } else {
      failed = true;
    }
  }
  return failed ? cli::Exit::kFailed : code;
}

}  // namespace tapewren::scan
