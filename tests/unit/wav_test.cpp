// Tape pulses as sound, measured back from the samples with a WAV reader of a few lines.
#include "audio/wav.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "wav_reader.hpp"

namespace tapewren::audio {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::edges;
using testing::le;
using testing::levels;

TEST(Wav, EdgesFallOnTheNearestSampleAllAlongASide) {
  struct Case {
    const char* what;
    std::uint64_t tick_hz;
    WavFormat format;
  };
  // clang-format off
  for (const Case& c : std::vector<Case>{
           {"C64 PAL, 16 bits, full waves", 2 * 985248, {44100, 16, false, false}},
           {"VIC20 PAL, 8 bits, full waves", 2 * 1108405, {22050, 8, false, false}},
           {"C16 NTSC, 16 bits, half waves", 2 * 894886, {48000, 16, false, true}},
           {"C64 NTSC at 192 kHz, half waves", 2 * 1022727, {192000, 8, false, true}}}) {
    // clang-format on
    SCOPED_TRACE(c.what);
    WavWriter writer(c.format, c.tick_hz);
    Bytes wav = writer.header();
    std::vector<std::uint64_t> pulses;
    std::uint32_t seed = 7;
    for (int i = 0; i < 300000; ++i) {  // about two and a half minutes of tape
      seed = seed * 1664525u + 1013904223u;
      pulses.push_back(600 + (seed >> 8) % 900);  // 300 to 750 cycles
      writer.pulse(pulses.back(), false, wav);
    }
    const auto at = edges(levels(wav), c.format.half_waves);
    ASSERT_EQ(at.size() + 1, pulses.size());  // the first pulse starts at sample 0
    double exact = 0;
    double worst = 0;
    for (std::size_t k = 0; k + 1 < pulses.size(); ++k) {
      exact += static_cast<double>(pulses[k]) * c.format.rate / static_cast<double>(c.tick_hz);
      worst = std::max(worst, std::fabs(static_cast<double>(at[k]) - exact));
    }
    EXPECT_LE(worst, 0.5 + 1e-6);  // never more than half a sample off, at the end as at the start
  }
}

TEST(Wav, PausesInversionAndTheHeader) {
  WavWriter writer({22050, 16, true, false}, 1000);  // ticks of a millisecond
  Bytes samples;
  writer.pulse(2, false, samples);    // 2 ms: 44 samples, low half first
  writer.pulse(1000, true, samples);  // a second of silence
  writer.pulse(2, false, samples);
  Bytes wav = writer.header();
  wav.insert(wav.end(), samples.begin(), samples.end());
  const auto l = levels(wav);
  ASSERT_EQ(l.size(), 22050u + 88);
  EXPECT_EQ(l[0], -1);
  EXPECT_EQ(l[22], 1);
  EXPECT_EQ(std::count(l.begin(), l.end(), 0), 22050);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(le(wav, 4, 4), wav.size() - 8);
  EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
  // PCM, mono, rate, bytes per second, block alignment, bits; the data's size.
  EXPECT_EQ(
      (std::vector<std::uint32_t>{le(wav, 20, 2), le(wav, 22, 2), le(wav, 24, 4), le(wav, 28, 4),
                                  le(wav, 32, 2), le(wav, 34, 2), le(wav, 40, 4)}),
      (std::vector<std::uint32_t>{1, 1, 22050, 44100, 2, 16,
                                  static_cast<std::uint32_t>(samples.size())}));
  WavWriter eight({44100, 8, false, false}, 1000);
  EXPECT_EQ((std::vector<std::uint32_t>{le(eight.header(), 28, 4), le(eight.header(), 32, 2),
                                        le(eight.header(), 34, 2)}),
            (std::vector<std::uint32_t>{44100, 1, 8}));
}

}  // namespace
}  // namespace tapewren::audio
