// WAV files read back into pulses: the header, the samples of one channel, the edges.
#include "audio/wav_in.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

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
      level_decay_(1.0 / (kLevelSeconds * input.rate)) {
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
  // The channel's samples, read the short way for the common formats.
  const std::size_t frames = size / fb;
  const std::uint8_t* first =
      bytes + static_cast<std::size_t>(channel_) * static_cast<std::size_t>(in_.bits / 8);
  switch (in_.bits) {
    case 8:
      return scan(
          first, frames, [](const std::uint8_t* s) { return (s[0] - 128) / 128.0; }, out);
    case 16:
      return scan(
          first, frames,
          [](const std::uint8_t* s) { return static_cast<std::int16_t>(le16(s)) / 32768.0; }, out);
    default:  // 24-bit and float
      return scan(
          bytes, frames, [this](const std::uint8_t* s) { return sample(s, channel_); }, out);
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

template <typename Get>
void EdgeReader::scan(const std::uint8_t* samples, std::size_t frames, Get get,
                      std::vector<EdgePulse>& out) {
  const auto fb = static_cast<std::size_t>(in_.frame_bytes());
  Detector d = d_;  // in registers for the loop: a sample costs a few nanoseconds
  const double decay = decay_, keep = 1 - level_decay_;
  std::uint64_t offset = in_.data_offset + d.n * fb;
  for (std::size_t f = 0; f < frames; ++f, offset += fb) {
    const double x = get(samples + f * fb);
    const auto t = static_cast<double>(d.n);
    if (d.n++ == 0) {
      d.last_edge = -2;
      // Before the file, as if the signal stood at the other side of the middle: a file that
      // starts high or low starts with that edge, half a sample before its first sample.
      d.prev = -x;
      d.hi = std::abs(x);
      d.lo = -std::abs(x);
    }
    // The peaks follow the signal at once and sink slowly toward the middle between them, so
    // that the middle follows a drifting offset; the level sinks more slowly still, so that
    // it keeps through a pause, and sets the hysteresis.
    const double middle = (d.hi + d.lo) / 2;
    d.hi = x > d.hi ? x : d.hi - (d.hi - middle) * decay;
    d.lo = x < d.lo ? x : d.lo + (middle - d.lo) * decay;
    const double mid = (d.hi + d.lo) / 2;
    d.level = std::max(std::abs(x - mid), d.level * keep);
    const double h = std::max(kHysteresis * d.level, kMinLevel);
    if (d.prev <= mid && x > mid) {
      d.up = t - 1 + (mid - d.prev) / (x - d.prev);
      d.up_offset = offset;
    } else if (d.prev >= mid && x < mid) {
      d.down = t - 1 + (d.prev - mid) / (d.prev - x);
      d.down_offset = offset;
    }
    d.prev = x;
    // The last crossing made the edge, unless it is older than the last edge (the middle moved).
    if (d.state != 1 && x > mid + h) {
      d.state = 1;
      const bool fresh = d.up >= 0 && d.up > d.last_edge;
      d.last_edge = fresh ? d.up : t - 0.5;
      edge(d.last_edge, 1, fresh ? d.up_offset : offset, out);
    } else if (d.state != -1 && x < mid - h) {
      d.state = -1;
      const bool fresh = d.down >= 0 && d.down > d.last_edge;
      d.last_edge = fresh ? d.down : t - 0.5;
      edge(d.last_edge, -1, fresh ? d.down_offset : offset, out);
    }
  }
  d_ = d;
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
  if (!settings_.half_waves && polarity_ == 0) choose_polarity(out);
  // The last wave, whose end the file does not hold: twice its first half.
  if (!settings_.half_waves && have_start_ && last_.direction == -start_.direction &&
      last_.at > start_.at)
    out.push_back({2 * (last_.at - start_.at), start_.offset});
  have_start_ = false;
}

}  // namespace tapewren::audio
