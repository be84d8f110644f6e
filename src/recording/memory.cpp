// Whole recordings converted in memory.
#include "recording/recording.hpp"

namespace tapewren::recording {

namespace {

template <typename Writer>
bool copy_pulses(const std::vector<std::uint8_t>& recording, const ReadSettings& in, Writer& writer,
                 std::string* error) {
  io::MemorySource source(recording);
  Reader reader(source, in);
  bool ok = reader.open() && each_block(reader, [&](const Pulses& pulses) {
              for (std::size_t i = 0; i < pulses.count; ++i)
                if (!writer.pulse(pulses.length[i])) return false;
              return true;
            });
  ok = ok && reader.error().empty() && writer.finish();
  if (!ok && error) *error = reader.error();
  return ok;
}

}  // namespace

std::vector<std::uint8_t> dump_of(const std::vector<std::uint8_t>& recording,
                                  const ReadSettings& in, double tick_hz, double clock_hz,
                                  std::string* error) {
  io::MemorySink sink;
  DumpWriter writer(sink, tick_hz, clock_hz);
  if (!copy_pulses(recording, in, writer, error)) return {};
  return std::move(sink.bytes);
}

std::vector<std::uint8_t> tap_of(const std::vector<std::uint8_t>& recording,
                                 const TapHeader& header, const ReadSettings& in) {
  io::MemorySink sink;
  TapWriter writer(sink, header);
  if (!copy_pulses(recording, in, writer, nullptr)) return {};
  return std::move(sink.bytes);
}

}  // namespace tapewren::recording
