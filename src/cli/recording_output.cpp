// Recordings made in memory written out: TAP, dump or WAV.
#include "cli/recording_output.hpp"

#include <cctype>

#include "platform/tool_io.hpp"
#include "recording/recording.hpp"

namespace tapewren::cli {

namespace rec = tapewren::recording;

Output output_of(const std::string& name) {
  const auto slash = name.find_last_of("/\\");
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return Output::kUnknown;
  std::string ext = name.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".tap") return Output::kTap;
  if (ext == ".dmp" || ext == ".raw") return Output::kDump;
  if (ext == ".wav") return Output::kWav;
  return Output::kUnknown;
}

Exit write_words(const std::vector<std::uint8_t>& words, const Written& how,
                 const std::string& path, std::string& error) {
  platform::OutputFile out;
  if (!out.create(path)) {
    error = out.error();
    return Exit::kFailed;
  }
  const double clock_hz = rec::machine_clock_hz(how.machine, how.video);
  // A run of 0xFFFF words and the word after it are one pulse: a pause.
  const auto write = [&](auto& writer, auto put) {
    std::uint64_t pulse = 0;
    for (std::size_t i = 0; i + 1 < words.size(); i += 2) {
      const auto w = static_cast<std::uint16_t>(words[i] | words[i + 1] << 8);
      pulse += w;
      if (w == rec::kContinues) continue;
      if (!put(writer, pulse)) return false;
      pulse = 0;
    }
    return writer.finish();
  };
  bool ok = false;
  std::string limit;
  if (how.kind == Output::kTap) {
    rec::TapHeader header;
    header.version = how.half_waves ? 2 : 1;
    header.platform = static_cast<std::uint8_t>(how.machine);
    header.video = static_cast<std::uint8_t>(how.video);
    header.c16_signature = how.machine == 2;
    rec::TapWriter tap(out, header);
    ok = write(tap, [](auto& w, std::uint64_t p) { return w.pulse(p); });
    limit = tap.error();
  } else if (how.kind == Output::kDump) {
    rec::DumpWriter dump(out, 0, clock_hz);
    ok = write(dump, [](auto& w, std::uint64_t p) { return w.pulse(p); });
  } else {
    audio::WavFormat format = how.wav;
    format.invert = how.invert;
    format.half_waves = how.half_waves;
    audio::WavWriter wav(format, static_cast<std::uint64_t>(2 * clock_hz), out);
    ok = write(wav, [](auto& w, std::uint64_t p) { return w.pulse(p, p >= rec::kContinues); });
    limit = wav.error();
  }
  if (const int signal = platform::termination_signal(); signal != 0) return signalled(signal);
  if (!ok || !out.commit()) {
    error = ok || limit.empty() ? out.error() : limit;
    return Exit::kFailed;
  }
  return Exit::kOk;
}

}  // namespace tapewren::cli
