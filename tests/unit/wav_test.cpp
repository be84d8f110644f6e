// Recordings made with a sound card: the real tapes as sound in the forms a deck and a sound
// card give (rates, sample formats, stereo, inverted, noise, a DC offset, a fading level, a
// deck's low-pass), read back into the tape's own pulses and files; and WAV headers refused
// with their reason.
#include "audio/wav.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "audio/wav_in.hpp"
#include "common/real_tapes.hpp"
#include "recording/recording.hpp"
#include "report.hpp"
#include "tape/tape.hpp"

namespace tapewren::recording {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::uint64_t> pulses_of(const Bytes& recording, const ReadSettings& rs = {}) {
  io::MemorySource source(recording);
  Reader reader(source, rs);
  EXPECT_TRUE(reader.open()) << reader.error();
  std::vector<std::uint64_t> out;
  auto p = std::make_unique<Pulses>();
  while (reader.next(*p)) out.insert(out.end(), p->length, p->length + p->count);
  EXPECT_EQ(reader.error(), "");
  return out;
}

// What a sound card would store: the signal (and, in stereo, a quiet other channel first).
struct Store {
  int encoding = 1, bits = 16, channels = 1;
  bool extensible = false;  // WAVE_FORMAT_EXTENSIBLE, its encoding in the subformat
};
Bytes wav_of(const std::vector<double>& x, std::uint32_t rate, const Store& s) {
  const int bytes = s.bits / 8;
  const auto data =
      static_cast<std::uint32_t>(x.size() * static_cast<std::size_t>(bytes * s.channels));
  Bytes out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  const auto put = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  put(s.extensible ? 40 : 16, 4);
  put(s.extensible ? 0xFFFE : static_cast<std::uint32_t>(s.encoding), 2);
  put(static_cast<std::uint32_t>(s.channels), 2);
  put(rate, 4);
  put(rate * static_cast<std::uint32_t>(bytes * s.channels), 4);
  put(static_cast<std::uint32_t>(bytes * s.channels), 2);
  put(static_cast<std::uint32_t>(s.bits), 2);
  if (s.extensible) {
    put(22, 2);
    put(static_cast<std::uint32_t>(s.bits), 2);
    put(s.channels == 2 ? 3 : 4, 4);  // the speakers
    put(static_cast<std::uint32_t>(s.encoding), 2);
    out.insert(out.end(), {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
  }
  // A chunk of an odd length and its pad byte, skipped.
  out.insert(out.end(), {'L', 'I', 'S', 'T', 5, 0, 0, 0, 'I', 'N', 'F', 'O', '!', 0});
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  put(data, 4);
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (int c = 0; c < s.channels; ++c) {
      const double v =
          std::clamp(c + 1 < s.channels ? 0.02 * std::sin(i * 0.01) : x[i], -1.0, 0.999);
      if (s.encoding == 3) {
        float f = static_cast<float>(v);
        std::uint32_t u = 0;
        std::memcpy(&u, &f, 4);
        put(u, 4);
      } else if (s.bits == 8) {
        put(static_cast<std::uint32_t>(std::lround(128 + 127 * v)), 1);
      } else {
        const long full = s.bits == 16 ? 32767 : 8388607;
        put(static_cast<std::uint32_t>(std::lround(full * v)), bytes);
      }
    }
  }
  out.insert(out.end(), {'i', 'd', '3', ' ', 4, 0, 0, 0, 0x7F, 0x7F, 0x80, 0x80});  // after them
  const auto riff = static_cast<std::uint32_t>(out.size() - 8);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
  return out;
}

// Our own WAV writer's samples, as numbers from -1 to 1.
std::vector<double> samples_of(const Bytes& wav, int bits) {
  std::vector<double> x;
  for (std::size_t i = 44; i + static_cast<std::size_t>(bits / 8) <= wav.size();
       i += static_cast<std::size_t>(bits / 8))
    x.push_back(bits == 8 ? (wav[i] - 128) / 128.0
                          : static_cast<std::int16_t>(wav[i] | wav[i + 1] << 8) / 32768.0);
  return x;
}

std::string files_and_fingerprint(const Bytes& recording, bool c16) {
  struct Files : tape::FileListener {
    std::string rows;
    tape::Fingerprint print;
    int n = 0;
    void on_file(const tape::TapeFile& f) override {
      rows += scan::file_row(f, ++n).substr(24);  // without the offset and the time
      print.add(f);
    }
  } files;
  tape::DecoderSettings settings;
  settings.default_machine = c16 ? 2 : 0;
  tape::Decoder decoder(settings, files);
  io::MemorySource source(recording);
  Reader reader(source);
  reader.open();
  auto p = std::make_unique<Pulses>();
  while (reader.next(*p)) decoder.feed(*p);
  decoder.finish();
  char line[32];
  std::snprintf(line, sizeof line, "fingerprint %08x\n", files.print.value());
  return files.rows + line;
}

// Each pulse within about a sample (the sound's edges lie on the nearest sample) and a TAP
// unit; each edge, measured from the first, within about a sample of where the tape has it,
// all along the side. The last wave's end is not in the sound: left out.
void expect_close(const std::vector<std::uint64_t>& got, const std::vector<std::uint64_t>& want,
                  double sample) {
  ASSERT_EQ(got.size(), want.size());
  std::uint64_t at_want = 0, at_got = 0, worst_pulse = 0, worst_edge = 0;
  for (std::size_t i = 1; i + 1 < want.size(); ++i) {
    at_want += want[i];
    at_got += got[i];
    const std::uint64_t d = want[i] > got[i] ? want[i] - got[i] : got[i] - want[i];
    if (want[i] < kContinues) worst_pulse = std::max(worst_pulse, d);
    worst_edge = std::max(worst_edge, at_want > at_got ? at_want - at_got : at_got - at_want);
  }
  EXPECT_LE(static_cast<double>(worst_pulse), 1.5 * sample + 16);
  EXPECT_LE(static_cast<double>(worst_edge), 1.5 * sample);
}

TEST(WavInput, RealTapesThroughSoundComeBack) {
  TAPEWREN_NEEDS_REAL_TAPES();
  struct Case {
    const char* what;
    std::uint32_t rate;
    int bits;  // of our writer: 8 or 16
    bool invert;
    double noise, dc, fade, lowpass_hz;
    Store store;  // as stored for reading; bits 0: our writer's bytes as they are
  };
  // clang-format off
  const std::vector<Case> cases = {
    {"44.1 kHz, 16 bits", 44100, 16, false, 0, 0, 0, 0, {1, 0, 1}},
    {"22.05 kHz, 8 bits", 22050, 8, false, 0, 0, 0, 0, {1, 0, 1}},
    {"96 kHz, inverted", 96000, 16, true, 0, 0, 0, 0, {1, 0, 1}},
    {"48 kHz with noise, 24 bits", 48000, 16, false, 0.03, 0, 0, 0, {1, 24, 1}},
    {"44.1 kHz with a DC offset, float, extensible header", 44100, 16, false, 0, 0.3, 0, 0, {3, 32, 1, true}},
    {"44.1 kHz fading to a fifth, stereo", 44100, 16, false, 0, 0, 0.8, 0, {1, 16, 2}},
    {"44.1 kHz through a deck's low-pass, inverted", 44100, 16, true, 0.01, 0.05, 0.3, 6000, {1, 16, 1}},
  };
  // clang-format on
  for (const char* name : {"c64-pal-normal-errors", "c64-pal-turbo", "plus4-pal"}) {
    SCOPED_TRACE(name);
    const bool c16 = std::string(name).rfind("plus4", 0) == 0;
    const double clock = machine_clock_hz(c16 ? 2 : 0, 0);
    const Bytes tap = testing::read_real_tape(name);
    const std::vector<std::uint64_t> want = pulses_of(tap);
    const std::string files = files_and_fingerprint(tap, c16);
    ASSERT_NE(files.find(" ok"), std::string::npos) << files;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      audio::WavFormat format;
      format.rate = c.rate;
      format.bits = c.bits;
      format.invert = c.invert;
      io::MemorySink sink;
      audio::WavWriter writer(format, static_cast<std::uint64_t>(2 * clock), sink);
      for (const auto p : want) ASSERT_TRUE(writer.pulse(p, p >= kContinues));
      ASSERT_TRUE(writer.finish());
      Bytes wav = sink.bytes;
      if (c.store.bits != 0) {
        std::vector<double> x = samples_of(wav, c.bits);
        std::uint32_t random = 7;
        double y = 0;
        const double a =
            c.lowpass_hz > 0 ? 1 - std::exp(-2 * 3.14159265358979 * c.lowpass_hz / c.rate) : 1;
        for (std::size_t i = 0; i < x.size(); ++i) {
          random = random * 1664525u + 1013904223u;
          const double along = static_cast<double>(i) / static_cast<double>(x.size());
          y += a * (x[i] - y);
          x[i] = 0.8 * y * (1 - c.fade * along) + c.dc +
                 c.noise * ((random >> 8) / 16777216.0 - 0.5) * 2;
        }
        wav = wav_of(x, c.rate, c.store);
      }
      ReadSettings rs;
      rs.clock_hz = clock;
      expect_close(pulses_of(wav, rs), want, 2 * clock / c.rate);
      // The files, where a sample is finer than the gap between a loader's pulse classes (at
      // 22.05 kHz, a sample is 5.6 TAP units: Turbo Tape's 0x1C and 0x28 run into each other).
      if (c.rate >= 44100 || std::string(name) != "c64-pal-turbo") {
        EXPECT_EQ(files_and_fingerprint(wav, c16), files);
      }
    }
  }
}

// The sound of pulses as our writer makes it, as numbers from -1 to 1.
std::vector<double> sound_of(const std::vector<std::uint64_t>& pulses, std::uint32_t rate,
                             bool invert) {
  audio::WavFormat format;
  format.rate = rate;
  format.invert = invert;
  io::MemorySink sink;
  audio::WavWriter writer(format, 2 * 985248, sink);
  for (const auto p : pulses) writer.pulse(p, p >= kContinues);
  writer.finish();
  return samples_of(sink.bytes, 16);
}

// Which way the waves go is read for each stretch of signal between silences, and not from
// what rounding does to short waves: a real two-file tape read back whole after another
// recording of the other polarity, or after hiss at the start of its own leader.
TEST(WavInput, PolarityReadForEachStretch) {
  TAPEWREN_NEEDS_REAL_TAPES();
  std::vector<std::uint64_t> tape = pulses_of(testing::read_real_tape("c64-pal-normal"));
  const std::vector<std::uint64_t> second = pulses_of(testing::read_real_tape("c128-pal"));
  tape.insert(tape.end(), second.begin(), second.end());
  Bytes dump;
  for (const auto p : tape)
    for (std::uint64_t left = p;; left -= kContinues) {
      const auto word = static_cast<std::uint16_t>(std::min<std::uint64_t>(left, kContinues));
      dump.insert(dump.end(),
                  {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8)});
      if (left <= kContinues) break;
    }
  const std::string files = files_and_fingerprint(dump, false);
  ASSERT_NE(files.find(" ok\n"), files.rfind(" ok\n")) << files;  // two files, both good
  enum class Noise { kOtherRecording, kHiss };
  struct Case {
    const char* what;
    std::uint32_t rate;
    Noise noise;    // another recording, then a silence; or hiss right before the leader
    bool inverted;  // the tape's waves start falling
    int hiss_waves, shortest, longest;  // in cycles
  };
  // clang-format off
  const std::vector<Case> cases = {
    {"another recording of the other polarity, a silence, the tape", 44100, Noise::kOtherRecording, false, 0, 0, 0},
    {"the same, the tape inverted", 44100, Noise::kOtherRecording, true, 0, 0, 0},
    {"two seconds of hiss, waves of one to three samples, right before the leader, 22.05 kHz", 22050, Noise::kHiss, false, 20000, 64, 136},
    {"the same before the leader of an inverted tape", 22050, Noise::kHiss, true, 20000, 64, 136},
    {"five seconds of hiss, waves of three to five samples, right before the leader, 22.05 kHz", 22050, Noise::kHiss, false, 30000, 144, 224},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::uint32_t random = 11;
    const auto between = [&](std::uint64_t low, std::uint64_t high) {
      random = random * 1664525u + 1013904223u;
      return low + (random >> 8) % (high - low + 1);
    };
    std::vector<std::uint64_t> noise;
    std::vector<double> x;
    if (c.noise == Noise::kOtherRecording) {
      // A second of waves of 0.3 to 1.5 ms, the other way round, then a second of silence,
      // the tape, a second of silence and a leader alone, which tells nothing of its polarity.
      for (int i = 0; i < 1100; ++i) noise.push_back(between(600, 3000));
      std::vector<std::uint64_t> leader(1000, 752);
      x = sound_of(noise, c.rate, !c.inverted);
      for (const auto* part : {&tape, &leader}) {
        x.resize(x.size() + c.rate, 0.0);
        const std::vector<double> sound = sound_of(*part, c.rate, c.inverted);
        x.insert(x.end(), sound.begin(), sound.end());
      }
      // Every wave back in its place: the other recording's last one closed before the
      // silence, which takes in the tape's first half wave (the signal stands on that side
      // already), the rest of the tape, the silence, and the leader read as the tape was.
      ASSERT_LT(tape[0], kContinues);
      ASSERT_LT(tape.back(), kContinues);
      std::vector<std::uint64_t> want = noise;
      want.push_back(2 * 985248 + tape[0]);
      want.insert(want.end(), tape.begin() + 1, tape.end());
      want.push_back(2 * 985248);
      want.insert(want.end(), leader.begin(), leader.end());
      expect_close(pulses_of(wav_of(x, c.rate, {1, 16, 1})), want, 2 * 985248.0 / c.rate);
    } else {
      // Waves whose halves are a few samples long, which rounding makes unequal by up to a
      // sample.
      for (int i = 0; i < c.hiss_waves; ++i)
        noise.push_back(between(2 * static_cast<std::uint64_t>(c.shortest),
                                2 * static_cast<std::uint64_t>(c.longest)));
      noise.insert(noise.end(), tape.begin(), tape.end());
      x = sound_of(noise, c.rate, c.inverted);
    }
    EXPECT_EQ(files_and_fingerprint(wav_of(x, c.rate, {1, 16, 1}), false), files);
  }
}

// The samples come in whatever pieces a pipe or a disk gives: the pulses do not depend on
// them, to the byte where each starts (pieces of an odd number of frames, stereo, 8-bit).
TEST(WavInput, PulsesDoNotDependOnThePieces) {
  std::vector<std::uint64_t> pulses;
  for (int i = 0; i < 3000; ++i) pulses.push_back(i % 7 == 0 ? 1400 : 700 + 37 * (i % 5));
  pulses.insert(pulses.begin() + 1500, 2 * 985248);  // a pause
  for (const Store& store : {Store{1, 16, 1}, Store{1, 8, 2}}) {
    SCOPED_TRACE(store.bits);
    const Bytes wav = wav_of(sound_of(pulses, 44100, false), 44100, store);
    audio::WavInput input;
    std::string error;
    ASSERT_TRUE(audio::parse_wav(wav.data(), wav.size(), input, error)) << error;
    const auto read = [&](std::size_t frames_a_piece) {
      audio::EdgeReader reader(input, {});
      std::vector<audio::EdgePulse> out;
      const auto fb = static_cast<std::size_t>(input.frame_bytes());
      const std::size_t end = input.data_offset + input.data_size;
      for (std::size_t at = input.data_offset; at < end; at += frames_a_piece * fb)
        reader.feed(wav.data() + at, std::min(frames_a_piece * fb, end - at), out);
      reader.finish(out);
      std::vector<std::pair<double, std::uint64_t>> got;
      for (const auto& p : out) got.emplace_back(p.samples, p.offset);
      return got;
    };
    const auto whole = read(1 << 30);
    EXPECT_EQ(whole.size(), pulses.size());
    EXPECT_EQ(read(1), whole);
    EXPECT_EQ(read(4097), whole);
  }
}

// Headers that are not what a sound card writes, or not a tape's: refused with the reason.
TEST(WavInput, HeadersRefusedWithTheirReason) {
  const auto refused = [](Bytes wav) {
    io::MemorySource source(wav);
    Reader reader(source);
    return reader.open()
               ? std::string("read as ") + (reader.format() == Format::kWav ? "WAV" : "other")
               : reader.error();
  };
  const std::vector<double> x(1000, 0.5);
  Bytes mu = wav_of(x, 8000, {1, 16, 1});
  mu[20] = 7;  // mu-law
  Bytes wide = wav_of(x, 44100, {1, 16, 1});
  wide[22] = 6;  // six channels
  Bytes slow = wav_of(x, 4000, {1, 16, 1});
  Bytes twelve = wav_of(x, 44100, {1, 16, 1});
  twelve[34] = 12;
  Bytes no_data = wav_of(x, 44100, {1, 16, 1});
  no_data.resize(50);
  EXPECT_EQ(
      refused(mu),
      "WAV samples of 16 bits (encoding 7): only 8, 16 and 24-bit PCM and 32-bit float are read");
  EXPECT_EQ(refused(wide), "a WAV file of 6 channels: only mono and stereo are read");
  EXPECT_EQ(refused(slow), "a WAV file of 4000 samples a second: 8,000 to 192,000 are read");
  EXPECT_EQ(
      refused(twelve),
      "WAV samples of 12 bits (encoding 1): only 8, 16 and 24-bit PCM and 32-bit float are read");
  EXPECT_EQ(refused(no_data), "no samples (data chunk) in the WAV file's first 128 KiB");
  EXPECT_EQ(refused(wav_of(x, 44100, {3, 32, 2})), "read as WAV");
}

}  // namespace
}  // namespace tapewren::recording
