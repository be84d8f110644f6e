// Tape recordings made with a sound card: a RIFF/WAVE file's samples turned back into the
// pulses of the tape. Standard library only.
//
// The pulses come from the signal's edges: a zero crossing with hysteresis around a middle
// that follows a drifting DC offset and a level that falls along the side, each edge's time
// interpolated between the two samples around it. A pulse is a whole wave, from one edge to
// the next edge of the same direction; which direction starts the waves is read from the
// signal (the two halves of a wave are about as long as each other; halves paired the wrong
// way round differ wherever the pulse lengths change), afresh for each stretch of signal
// after a silence: noise or another recording before the tape decides nothing for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tapewren::audio {

struct WavInput {
  int encoding = 1;  // 1 integer PCM, 3 IEEE float
  int channels = 1;
  std::uint32_t rate = 44100;
  int bits = 16;                  // 8 (unsigned), 16, 24 (signed) or 32 (float)
  std::uint64_t data_offset = 0;  // where the samples start in the file
  std::uint64_t data_size = 0;    // bytes of samples the header gives (0: to the end)
  int frame_bytes() const { return channels * bits / 8; }
};

// True when the bytes start as a RIFF/WAVE file does.
bool is_wav(const std::uint8_t* data, std::size_t size);
// The format and where the samples begin, from the first bytes of the file (the "fmt " and
// "data" chunks must start in them); false with the reason when it is not a WAV file this
// reads (mono or stereo; 8, 16 or 24-bit PCM or 32-bit float; 8 to 192 kHz).
bool parse_wav(const std::uint8_t* data, std::size_t size, WavInput& out, std::string& error);

struct EdgeSettings {
  int channel = -1;  // 0 left, 1 right, -1 the louder (read from the first seconds)
  // +1 waves start rising, -1 falling (the whole file); 0 read from the signal, for each
  // stretch between silences from its first edges (at most 131,072 of them held, 3 MiB).
  int polarity = 0;
  bool half_waves = false;  // every edge ends a pulse (a recording of both edges)
};

// One pulse: its length in samples (fractional) and the byte in the file where it starts.
struct EdgePulse {
  double samples;
  std::uint64_t offset;
};

class EdgeReader {
 public:
  EdgeReader(const WavInput& input, const EdgeSettings& settings);

  // Sample bytes, whole frames, in order; the pulses they end are appended to `out`. What is
  // held to choose the channel and the polarity stays bounded (a few MiB at most).
  void feed(const std::uint8_t* bytes, std::size_t size, std::vector<EdgePulse>& out);
  // The end of the samples: what was held, and the last wave.
  void finish(std::vector<EdgePulse>& out);
  int channel() const { return channel_; }

 private:
  double sample(const std::uint8_t* frame, int channel) const;
  // The channel's samples as numbers from -1 to 1, behind those held from the last call;
  // `get` reads one, `kStride` bytes apart (0: a frame's bytes).
  template <std::size_t kStride = 0, typename Get>
  void convert(const std::uint8_t* samples, std::size_t frames, Get get,
               std::vector<EdgePulse>& out);
  // The detector over one block of samples (a whole block, but at the end of the file).
  void block(const float* x, int n, std::vector<EdgePulse>& out);
  void samples(const float* x, int n, std::vector<EdgePulse>& out);
  void edge(double at, int direction, std::uint64_t offset, std::vector<EdgePulse>& out);
  void finish_probe(std::vector<EdgePulse>& out);
  void choose_polarity(std::vector<EdgePulse>& out);
  void close_wave(std::vector<EdgePulse>& out);
  struct Edge {
    double at;
    int direction;
    std::uint64_t offset;
  };
  void wave_edge(const Edge& e, std::vector<EdgePulse>& out);

  WavInput in_;
  EdgeSettings settings_;
  int channel_;
  int polarity_;         // of the waves now; 0 while the stretch's is not known
  int previous_ = 0;     // the last stretch's, 0 before the first
  double silence_;       // samples without an edge that end a stretch
  double edge_at_ = -1;  // the last edge's time, in samples
  // Held until the louder channel is known: the first frames' bytes.
  std::vector<std::uint8_t> probe_;
  bool probing_ = false;
  // The detector. The envelope and the level change slowly (50 ms, 1 s): they are followed
  // a block of samples at a time, and the block's edges found among its samples at once.
  static constexpr int kBlock = 64;
  struct Detector {
    std::uint64_t n = 0;  // samples seen
    float prev = 0;       // the last sample
    double hi = 0, lo = 0;
    double level = 0;           // the signal's height, for the hysteresis
    int state = 0;              // +1 high, -1 low, 0 not yet known
    double up = -1, down = -1;  // the last crossings of the middle, in samples
    std::uint64_t up_offset = 0, down_offset = 0;
    double last_edge = -1;  // when the last edge was, in samples
  } d_;
  double decay_, level_decay_;       // a sample's
  double block_decay_, block_keep_;  // what is left after a block
  // Samples converted and not yet in a block (fewer than a block), then room for more.
  std::vector<float> held_samples_;
  std::size_t held_count_ = 0;
  // Edges held until the stretch's polarity is known, and the evidence for each choice.
  std::vector<Edge> held_;
  double mismatch_[2] = {0, 0};  // pairs starting rising, falling
  // The wave being measured: where its first edge was (its direction the wave's polarity),
  // and the last edge seen.
  bool have_start_ = false;
  Edge start_{0, 0, 0}, last_{0, 0, 0};
  // A silence where the polarity turned: it runs from here to the next wave's start.
  bool pause_ = false;
  double pause_from_ = 0;
  std::uint64_t pause_offset_ = 0;
};

}  // namespace tapewren::audio
