// WAV files read back into pulses: the header, the samples of one channel, the edges.
#include "audio/wav_in.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace tapewren::audio {

namespace {

std::uint32_t le16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] | p[1] << 8);
}
std::uint32_t le32(const std::uint8_t* p) {
  return le16(p) | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

constexpr double kMinLevel = 0.01;           // of full scale (-40 dB): quieter is silence
constexpr double kHysteresis = 0.2;          // of the level between the peaks
constexpr double kEnvelopeSeconds = 0.05;    // the peaks, for the middle
constexpr double kLevelSeconds = 1;          // the level, for the hysteresis: pauses keep it
constexpr double kProbeSeconds = 2;          // of stereo, to find the louder channel
constexpr std::size_t kHeldEdges = 1 << 17;  // at most, while the polarity is not known
constexpr double kPauseSeconds = 0.005;      // silence in a wave longer than this is a pause
// No edge for this long ends a stretch: longer than half of the longest wave (a pulse word,
// 33 ms), far shorter than the silence between two recordings.
constexpr double kSilenceSeconds = 0.1;
// The evidence for a polarity, in samples: each edge lies on its sample to half a sample (a
// sound made by a program puts it on the nearest one), so halves a sample apart or less are
// equal for all they tell, and a half of under two samples is mostly rounding. Without these
// a second of hiss at 22.05 kHz outweighs a whole tape.
constexpr double kRoundingSamples = 1;
constexpr double kShortestHalf = 2;
// Evidence that settles a stretch early, and evidence too weak to overrule the stretch before.
constexpr double kSureEvidence = 50;
constexpr double kWeakEvidence = 10;

}  // namespace

bool is_wav(const std::uint8_t* data, std::size_t size) {
  return size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WAVE", 4) == 0;
}

bool parse_wav(const std::uint8_t* data, std::size_t size, WavInput& out, std::string& error) {
  if (!is_wav(data, size)) {
    error = "not a WAV file";
    return false;
  }
  bool have_format = false;
  std::size_t at = 12;
  while (at + 8 <= size) {
    const std::uint8_t* id = data + at;
    const std::uint32_t length = le32(data + at + 4);
    const std::size_t body = at + 8;
    if (std::memcmp(id, "fmt ", 4) == 0) {
      if (length < 16 || body + 16 > size) break;
      out.encoding = static_cast<int>(le16(data + body));
      out.channels = static_cast<int>(le16(data + body + 2));
      out.rate = le32(data + body + 4);
      out.bits = static_cast<int>(le16(data + body + 14));
      if (out.encoding == 0xFFFE && length >= 40 && body + 26 <= size)  // extensible: its subformat
        out.encoding = static_cast<int>(le16(data + body + 24));
      have_format = true;
    } else if (std::memcmp(id, "data", 4) == 0) {
      if (!have_format) {
        error = "the WAV file's samples come before their format";
        return false;
      }
      out.data_offset = body;
      out.data_size = length == 0xFFFFFFFFu ? 0 : length;  // a stream's header: to the end
      const bool pcm = out.encoding == 1 && (out.bits == 8 || out.bits == 16 || out.bits == 24);
      const bool fp = out.encoding == 3 && out.bits == 32;
      if (!pcm && !fp) {
        error = "WAV samples of " + std::to_string(out.bits) + " bits (encoding " +
                std::to_string(out.encoding) +
                "): only 8, 16 and 24-bit PCM and 32-bit float are read";
        return false;
      }
      if (out.channels < 1 || out.channels > 2) {
        error = "a WAV file of " + std::to_string(out.channels) +
                " channels: only mono and stereo are read";
        return false;
      }
      if (out.rate < 8000 || out.rate > 192000) {
        error = "a WAV file of " + std::to_string(out.rate) +
                " samples a second: 8,000 to 192,000 are read";
        return false;
      }
      return true;
    }
    at = body + length + (length & 1);
  }
  error = have_format ? "no samples (data chunk) in the WAV file's first 128 KiB"
                      : "no format (fmt chunk) in the WAV file's first 128 KiB";
  return false;
}

EdgeReader::EdgeReader(const WavInput& input, const EdgeSettings& settings)
    : in_(input),
      settings_(settings),
      channel_(input.channels == 1 ? 0 : settings.channel),
      polarity_(settings.polarity),
      silence_(kSilenceSeconds * input.rate),
      decay_(1.0 / (kEnvelopeSeconds * input.rate)),
      level_decay_(1.0 / (kLevelSeconds * input.rate)),
      block_decay_(std::pow(1 - decay_, kBlock)),
      block_keep_(std::pow(1 - level_decay_, kBlock)),
      held_samples_(4096) {
  if (channel_ > input.channels - 1) channel_ = input.channels - 1;
  probing_ = channel_ < 0;
}

double EdgeReader::sample(const std::uint8_t* frame, int channel) const {
  const std::uint8_t* s = frame + static_cast<std::ptrdiff_t>(channel) * (in_.bits / 8);
  switch (in_.bits) {
    case 8:
      return (s[0] - 128) / 128.0;
    case 16:
      return static_cast<std::int16_t>(le16(s)) / 32768.0;
    case 24: {
      const std::uint32_t v = s[0] | s[1] << 8 | static_cast<std::uint32_t>(s[2]) << 16;
      return static_cast<std::int32_t>(v << 8) / 2147483648.0;
    }
    default: {
      float f = 0;
      std::memcpy(&f, s, 4);
      return std::isfinite(f) ? std::clamp(static_cast<double>(f), -4.0, 4.0) : 0.0;
    }
  }
}

void EdgeReader::feed(const std::uint8_t* bytes, std::size_t size, std::vector<EdgePulse>& out) {
  const auto fb = static_cast<std::size_t>(in_.frame_bytes());
  if (probing_) {
    probe_.insert(probe_.end(), bytes, bytes + size);
    if (probe_.size() / fb < static_cast<std::size_t>(kProbeSeconds * in_.rate)) return;
    finish_probe(out);
    return;
  }
  // The format chosen once for the whole buffer, the common ones read the short way.
  const std::size_t frames = size / fb;
  const std::uint8_t* first =
      bytes + static_cast<std::size_t>(channel_) * static_cast<std::size_t>(in_.bits / 8);
  const auto mono = [](const std::uint8_t* s) {
    std::int16_t v = 0;  // a sound card's byte order is the machine's (both little-endian)
    std::memcpy(&v, s, 2);
    return static_cast<float>(v) * (1.0F / 32768);
  };
  switch (in_.bits) {
    case 8:
      return convert(
          first, frames,
          [](const std::uint8_t* s) { return static_cast<float>(s[0] - 128) * (1.0F / 128); }, out);
    case 16:
      if (std::endian::native == std::endian::little && fb == 2)
        return convert<2>(first, frames, mono, out);
      return convert(
          first, frames,
          [](const std::uint8_t* s) {
            return static_cast<float>(static_cast<std::int16_t>(le16(s))) * (1.0F / 32768);
          },
          out);
    default:  // 24-bit and float
      return convert(
          bytes, frames,
          [this](const std::uint8_t* s) { return static_cast<float>(sample(s, channel_)); }, out);
  }
}

template <std::size_t kStride, typename Get>
void EdgeReader::convert(const std::uint8_t* samples, std::size_t frames, Get get,
                         std::vector<EdgePulse>& out) {
  // A stride known here makes the loop a vector one.
  const std::size_t fb = kStride != 0 ? kStride : static_cast<std::size_t>(in_.frame_bytes());
  float* x = held_samples_.data();
  const std::size_t room = held_samples_.size();
  while (frames > 0) {
    const std::size_t n = std::min(frames, room - held_count_);
    float* to = x + held_count_;
    std::size_t f = 0;
#if defined(__SSE2__) || defined(_M_X64)
    if constexpr (kStride == 2) {  // mono 16-bit, eight samples at a time
      const __m128 scale = _mm_set1_ps(1.0F / 32768);
      for (; f + 8 <= n; f += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 2 * f));
        const __m128i low = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
        const __m128i high = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
        _mm_storeu_ps(to + f, _mm_mul_ps(_mm_cvtepi32_ps(low), scale));
        _mm_storeu_ps(to + f + 4, _mm_mul_ps(_mm_cvtepi32_ps(high), scale));
      }
    }
#endif
    for (; f < n; ++f) to[f] = get(samples + f * fb);
    samples += n * fb;
    frames -= n;
    held_count_ += n;
    std::size_t at = 0;
    for (; held_count_ - at >= kBlock; at += kBlock) block(x + at, kBlock, out);
    std::copy(x + at, x + held_count_, x);
    held_count_ -= at;
  }
}

// The louder channel of the first seconds (its level around its own middle), then its samples.
void EdgeReader::finish_probe(std::vector<EdgePulse>& out) {
  probing_ = false;
  const auto fb = static_cast<std::size_t>(in_.frame_bytes());
  const std::size_t frames = probe_.size() / fb;
  double sum[2] = {0, 0}, squares[2] = {0, 0};
  for (std::size_t f = 0; f < frames; ++f)
    for (int c = 0; c < 2; ++c) {
      const double x = sample(probe_.data() + f * fb, c);
      sum[c] += x;
      squares[c] += x * x;
    }
  const auto level = [&](int c) {
    const double n = frames > 0 ? static_cast<double>(frames) : 1;
    return squares[c] / n - (sum[c] / n) * (sum[c] / n);
  };
  channel_ = level(1) > level(0) ? 1 : 0;
  std::vector<std::uint8_t> held;
  held.swap(probe_);
  feed(held.data(), held.size(), out);
}

namespace {

// Which of a block's samples lie above each of three levels, a bit each, and its peaks.
struct BlockMasks {
  std::uint64_t above = 0, high = 0, low = 0;
};
void peaks(const float* x, int n, float& most, float& least) {
  int i = 0;
#if defined(__SSE2__) || defined(_M_X64)
  if (n >= 4) {
    __m128 hi = _mm_loadu_ps(x), lo = hi;
    for (i = 4; i + 4 <= n; i += 4) {
      const __m128 v = _mm_loadu_ps(x + i);
      hi = _mm_max_ps(hi, v);
      lo = _mm_min_ps(lo, v);
    }
    alignas(16) float h[4], l[4];
    _mm_store_ps(h, hi);
    _mm_store_ps(l, lo);
    most = std::max(std::max(h[0], h[1]), std::max(h[2], h[3]));
    least = std::min(std::min(l[0], l[1]), std::min(l[2], l[3]));
  } else {
    most = least = x[0];
  }
#else
  most = least = x[0];
#endif
  for (; i < n; ++i) {
    most = std::max(most, x[i]);
    least = std::min(least, x[i]);
  }
}
BlockMasks masks(const float* x, int n, float middle, float high, float low) {
  BlockMasks m;
  int i = 0;
#if defined(__SSE2__) || defined(_M_X64)
  const __m128 vm = _mm_set1_ps(middle), vh = _mm_set1_ps(high), vl = _mm_set1_ps(low);
  for (; i + 4 <= n; i += 4) {
    const __m128 v = _mm_loadu_ps(x + i);
    m.above |= static_cast<std::uint64_t>(_mm_movemask_ps(_mm_cmpgt_ps(v, vm))) << i;
    m.high |= static_cast<std::uint64_t>(_mm_movemask_ps(_mm_cmpgt_ps(v, vh))) << i;
    m.low |= static_cast<std::uint64_t>(_mm_movemask_ps(_mm_cmplt_ps(v, vl))) << i;
  }
#endif
  for (; i < n; ++i) {
    m.above |= static_cast<std::uint64_t>(x[i] > middle) << i;
    m.high |= static_cast<std::uint64_t>(x[i] > high) << i;
    m.low |= static_cast<std::uint64_t>(x[i] < low) << i;
  }
  return m;
}

// The bits at and below `i`.
std::uint64_t up_to(int i) {
  return i >= 63 ? ~std::uint64_t{0} : (std::uint64_t{2} << i) - 1;
}

}  // namespace

// The detector a sample at a time: the peaks follow the signal at once and sink toward the
// middle between them, so that the middle follows a drifting offset; the level sinks more
// slowly still, so that it keeps through a pause, and sets the hysteresis.
void EdgeReader::samples(const float* x, int n, std::vector<EdgePulse>& out) {
  Detector& d = d_;
  const auto fb = static_cast<std::uint64_t>(in_.frame_bytes());
  const double keep = 1 - level_decay_;
  for (int i = 0; i < n; ++i) {
    const auto t = static_cast<double>(d.n++);
    const std::uint64_t offset = in_.data_offset + static_cast<std::uint64_t>(t) * fb;
    const double v = x[i], p = d.prev;
    const double middle = (d.hi + d.lo) / 2;
    d.hi = v > d.hi ? v : d.hi - (d.hi - middle) * decay_;
    d.lo = v < d.lo ? v : d.lo + (middle - d.lo) * decay_;
    const double mid = (d.hi + d.lo) / 2;
    d.level = std::max(std::abs(v - mid), d.level * keep);
    const double h = std::max(kHysteresis * d.level, kMinLevel);
    if (p <= mid && v > mid) {
      d.up = t - 1 + (mid - p) / (v - p);
      d.up_offset = offset;
    } else if (p >= mid && v < mid) {
      d.down = t - 1 + (p - mid) / (p - v);
      d.down_offset = offset;
    }
    d.prev = x[i];
    if (d.state != 1 && v > mid + h) {
      d.state = 1;
      const bool fresh = d.up >= 0 && d.up > d.last_edge;
      d.last_edge = fresh ? d.up : t - 0.5;
      edge(d.last_edge, 1, fresh ? d.up_offset : offset, out);
    } else if (d.state != -1 && v < mid - h) {
      d.state = -1;
      const bool fresh = d.down >= 0 && d.down > d.last_edge;
      d.last_edge = fresh ? d.down : t - 0.5;
      edge(d.last_edge, -1, fresh ? d.down_offset : offset, out);
    }
  }
}

void EdgeReader::block(const float* x, int n, std::vector<EdgePulse>& out) {
  Detector& d = d_;
  const auto fb = static_cast<std::uint64_t>(in_.frame_bytes());
  const std::uint64_t offset = in_.data_offset + d.n * fb;
  const auto t0 = static_cast<double>(d.n);
  if (d.n == 0) {
    d.last_edge = -2;
    // Before the file, as if the signal stood at the other side of the middle: a file that
    // starts high or low starts with that edge, half a sample before its first sample.
    d.prev = -x[0];
    d.hi = std::abs(x[0]);
    d.lo = -std::abs(x[0]);
  }
  // As a sample at a time, but for the whole block: the peaks, sunk over the block, then
  // raised to the block's own.
  float most = 0, least = 0;
  peaks(x, n, most, least);
  const bool whole = n == kBlock;
  const double middle0 = (d.hi + d.lo) / 2;
  const double half = (d.hi - d.lo) / 2 * (whole ? block_decay_ : std::pow(1 - decay_, n));
  // Where the signal outgrows its envelope (it starts after a silence, it jumps), the middle
  // moves within the block, and it is followed a sample at a time.
  const double margin = std::max(kHysteresis * d.level, kMinLevel) / 4;
  if (most > middle0 + half + margin || least < middle0 - half - margin) {
    samples(x, n, out);
    return;
  }
  d.hi = std::max(middle0 + half, static_cast<double>(most));
  d.lo = std::min(middle0 - half, static_cast<double>(least));
  const double mid = (d.hi + d.lo) / 2;
  d.level = std::max(
      {d.level * (whole ? block_keep_ : std::pow(1 - level_decay_, n)), most - mid, mid - least});
  const double h = std::max(kHysteresis * d.level, kMinLevel);
  const BlockMasks m = masks(x, n, static_cast<float>(mid), static_cast<float>(mid + h),
                             static_cast<float>(mid - h));
  // A crossing of the middle: a sample on the other side of it from the one before.
  const std::uint64_t valid = up_to(n - 1);
  const std::uint64_t before = m.above << 1 | static_cast<std::uint64_t>(d.prev > mid);
  const std::uint64_t ups = m.above & ~before, downs = ~m.above & before & valid;
  const auto before_sample = [&](int j) { return static_cast<double>(j > 0 ? x[j - 1] : d.prev); };
  // The last crossing up to sample i, or the one before the block.
  const auto crossing = [&](std::uint64_t crossings, int i, double earlier, std::uint64_t at,
                            double& when, std::uint64_t& where) {
    const std::uint64_t c = crossings & up_to(i);
    if (c == 0) {
      when = earlier;
      where = at;
      return;
    }
    const int j = 63 - std::countl_zero(c);
    const double p = before_sample(j);
    when = t0 + j - 1 + (mid - p) / (x[j] - p);
    where = offset + static_cast<std::uint64_t>(j) * fb;
  };
  // The edges, each where the signal goes past the hysteresis on the other side; the last
  // crossing made it, unless it is older than the last edge (the middle moved).
  for (int i = 0; i < n;) {
    const std::uint64_t rest = i == 0 ? ~std::uint64_t{0} : ~up_to(i - 1);
    const std::uint64_t rising = d.state != 1 ? m.high & rest : 0;
    const std::uint64_t falling = d.state != -1 ? m.low & rest : 0;
    if ((rising | falling) == 0) break;
    const int r = rising != 0 ? std::countr_zero(rising) : 64;
    const int f = falling != 0 ? std::countr_zero(falling) : 64;
    const int at = std::min(r, f);
    const int direction = r < f ? 1 : -1;
    double when = 0;
    std::uint64_t where = 0;
    if (direction > 0)
      crossing(ups, at, d.up, d.up_offset, when, where);
    else
      crossing(downs, at, d.down, d.down_offset, when, where);
    const bool fresh = when >= 0 && when > d.last_edge;
    d.last_edge = fresh ? when : t0 + at - 0.5;
    d.state = direction;
    edge(d.last_edge, direction, fresh ? where : offset + static_cast<std::uint64_t>(at) * fb, out);
    i = at + 1;
  }
  // The last crossings of the block, for the blocks after it.
  crossing(ups, n - 1, d.up, d.up_offset, d.up, d.up_offset);
  crossing(downs, n - 1, d.down, d.down_offset, d.down, d.down_offset);
  d.prev = x[n - 1];
  d.n += static_cast<std::uint64_t>(n);
}

void EdgeReader::edge(double at, int direction, std::uint64_t offset, std::vector<EdgePulse>& out) {
  const Edge e{at, direction, offset};
  if (settings_.half_waves) {
    if (last_.direction != 0) out.push_back({at - last_.at, last_.offset});
    last_ = e;
    return;
  }
  // After a silence the signal may be another recording, from another deck: its own polarity.
  if (settings_.polarity == 0 && edge_at_ >= 0 && at - edge_at_ > silence_) {
    if (polarity_ == 0) choose_polarity(out);
    previous_ = polarity_;
    polarity_ = 0;
    mismatch_[0] = mismatch_[1] = 0;
  }
  edge_at_ = at;
  if (polarity_ == 0) {
    // Each run of three edges is a wave's two halves paired one way: the way the waves go
    // pairs two halves of about one length, the other way halves of two pulses.
    if (held_.size() >= 2) {
      const Edge& a = held_[held_.size() - 2];
      const Edge& b = held_.back();
      const double first = b.at - a.at, second = at - b.at;
      if (first >= kShortestHalf && second >= kShortestHalf)
        mismatch_[a.direction > 0 ? 0 : 1] +=
            std::max(std::abs(first - second) - kRoundingSamples, 0.0) / (first + second);
    }
    held_.push_back(e);
    if (held_.size() >= kHeldEdges ||
        (held_.size() > 1000 && std::abs(mismatch_[0] - mismatch_[1]) > kSureEvidence))
      choose_polarity(out);
    return;
  }
  wave_edge(e, out);
}

// The stretch's polarity from its evidence; where that is too weak to tell, the stretch
// before's. Then its held edges.
void EdgeReader::choose_polarity(std::vector<EdgePulse>& out) {
  const double lean = mismatch_[1] - mismatch_[0];  // more than 0: the waves start rising
  polarity_ = previous_ != 0 && std::abs(lean) <= kWeakEvidence ? previous_ : lean >= 0 ? 1 : -1;
  if (have_start_ && start_.direction != polarity_) close_wave(out);
  for (const Edge& e : held_) wave_edge(e, out);
  held_.clear();
}

// The last wave before a silence, when the waves after it start the other way: twice its
// first half, as at the end of the file; the silence reaches to the next wave's start.
void EdgeReader::close_wave(std::vector<EdgePulse>& out) {
  pause_from_ = start_.at;
  pause_offset_ = start_.offset;
  if (last_.direction == -start_.direction && last_.at > start_.at) {
    out.push_back({2 * (last_.at - start_.at), start_.offset});
    pause_from_ = 2 * last_.at - start_.at;
    pause_offset_ = last_.offset;
  }
  pause_ = true;
  have_start_ = false;
}

// A wave ends where the next one starts. Silence after its second half is a pause: the wave
// is taken as twice its first half, and the pause as the rest.
void EdgeReader::wave_edge(const Edge& e, std::vector<EdgePulse>& out) {
  if (e.direction == polarity_) {
    if (pause_) {
      out.push_back({e.at - pause_from_, pause_offset_});
      pause_ = false;
    } else if (have_start_) {
      const double whole = e.at - start_.at;
      const bool second = last_.direction == -start_.direction && last_.at > start_.at;
      const double half = second ? last_.at - start_.at : whole;
      if (second && e.at - last_.at > 8 * half && e.at - last_.at > kPauseSeconds * in_.rate) {
        out.push_back({2 * half, start_.offset});
        out.push_back({whole - 2 * half, last_.offset});
      } else {
        out.push_back({whole, start_.offset});
      }
    }
    start_ = e;
    have_start_ = true;
  }
  last_ = e;
}

void EdgeReader::finish(std::vector<EdgePulse>& out) {
  if (probing_) finish_probe(out);
  if (held_count_ > 0) block(held_samples_.data(), static_cast<int>(held_count_), out);
  held_count_ = 0;
  if (!settings_.half_waves && polarity_ == 0) choose_polarity(out);
  // The last wave, whose end the file does not hold: twice its first half.
  if (!settings_.half_waves && have_start_ && last_.direction == -start_.direction &&
      last_.at > start_.at)
    out.push_back({2 * (last_.at - start_.at), start_.offset});
  have_start_ = false;
}

}  // namespace tapewren::audio
