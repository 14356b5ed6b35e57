#include "signalgen/morse_gen.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <random>

#include "morse/alphabet.h"
#include "signalgen/gaussian.h"

namespace kestrix::signalgen {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Bandwidth in which the SNR is quoted, Hz: the usual SSB receiver passband.
constexpr double kSnrBandwidthHz = 2500.0;

// Shortest an element or gap may be jittered to, as a fraction of its nominal length.
constexpr double kMinJitterFactor = 0.3;

struct KeyDown {
  double start;  // s
  double end;    // s
};

// Gaps between letters and words, in dots: 3 and 7, or Farnsworth's stretched ones for an
// overall speed of `overallWpm`. The usual rule: the time the slower overall speed adds to
// a word of 50 dots (PARIS) goes into its 19 dots of letter and word gaps (four letter gaps
// of 3, a word gap of 7), so that they keep their ratio.
struct Spacing {
  double letter = 3.0;
  double word = 7.0;
};

Spacing SpacingFor(double wpm, double overallWpm) {
  if (!(overallWpm > 0.0) || overallWpm >= wpm) return {};
  const double added = (60.0 * wpm - 37.2 * overallWpm) / (overallWpm * wpm);  // s a word
  const double unit = added / 19.0 / (1.2 / wpm);                              // dots
  return {3.0 * unit, 7.0 * unit};
}

// Lays out the key-down intervals of `text`, the first element starting at `startS`.
// Returns the time just after the last element.
double Layout(const std::string& text, double wpm, double dashRatio, double jitter, double startS,
              Gaussian& rng, std::vector<KeyDown>& out, Spacing spacing = {}) {
  const double dot = 1.2 / wpm;
  auto length = [&](double dots) {
    double factor = 1.0;
    if (jitter > 0.0) factor = std::max(kMinJitterFactor, 1.0 + jitter * rng.Next());
    return dots * dot * factor;
  };

  double t = startS;
  bool anyElement = false;
  double pendingGap = 0.0;  // dots of silence owed before the next element
  bool joined = false;      // inside <...>: no letter gaps
  for (char raw : text) {
    if (raw == '<') {
      joined = true;
      continue;
    }
    if (raw == '>') {
      joined = false;
      pendingGap = std::max(pendingGap, spacing.letter);
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(raw))) {
      pendingGap = spacing.word;
      continue;
    }
    const std::string pattern = MorsePattern(raw);
    if (pattern.empty()) continue;
    for (char element : pattern) {
      if (anyElement) t += length(std::max(pendingGap, 1.0));
      const double on = length(element == '-' ? dashRatio : 1.0);
      out.push_back({t, t + on});
      t += on;
      anyElement = true;
      pendingGap = 0.0;
    }
    if (!joined) pendingGap = spacing.letter;
  }
  return t;
}

// A text split into overs at '|', alternating between the two stations (see
// MorseSignalParams::other): the first station's keys into `first`, the second's into
// `second`, and the second's overs into `quiet` when they have no noise. Returns the time
// just after the last element.
double LayoutOvers(const std::string& text, const MorseSignalParams& p, double jitter,
                   double startS, Gaussian& rng, std::vector<KeyDown>& first,
                   std::vector<KeyDown>& second, std::vector<KeyDown>& quiet) {
  double t = startS;
  double lastWpm = 0.0;
  size_t from = 0;
  for (int over = 0; from <= text.size(); ++over) {
    const size_t bar = std::min(text.find('|', from), text.size());
    const std::string overText = text.substr(from, bar - from);
    from = bar + 1;
    const bool other = over % 2 == 1;
    const double wpm = other && p.other.wpm > 0.0 ? p.other.wpm : p.wpm;
    std::vector<KeyDown>& out = other ? second : first;
    const size_t before = out.size();
    const double start =
        lastWpm == 0.0 ? t : t + (p.other.gapS > 0.0 ? p.other.gapS : 7.0 * 1.2 / lastWpm);
    const double end = Layout(overText, wpm, p.dashRatio, jitter, start, rng, out,
                              SpacingFor(wpm, p.farnsworthWpm));
    if (out.size() == before) continue;
    if (other && p.other.noiseFree) quiet.push_back({out[before].start, end});
    t = end;
    lastWpm = wpm;
  }
  return t;
}

// Raised-cosine keying envelope. Each edge lasts riseS from 0 to 100 % and is centred on the
// nominal key-down or key-up instant, so the envelope crosses 50 % exactly there and a
// half-amplitude measurement gives the nominal element length. Overlapping edges of
// adjacent elements (very fast or jittered sending) take the larger value.
void RenderEnvelope(const std::vector<KeyDown>& keys, double riseS, int rate,
                    std::vector<float>& env) {
  const double half = riseS / 2.0;
  auto edge = [&](double x) {  // x = seconds after the nominal edge instant
    if (riseS <= 0.0) return x >= 0.0 ? 1.0 : 0.0;
    if (x <= -half) return 0.0;
    if (x >= half) return 1.0;
    return 0.5 * (1.0 + std::sin(kPi * x / riseS));
  };
  const long total = static_cast<long>(env.size());
  for (const KeyDown& k : keys) {
    const long first = std::max(0L, static_cast<long>(std::floor((k.start - half) * rate)));
    const long last = std::min(total, static_cast<long>(std::ceil((k.end + half) * rate)) + 1);
    for (long i = first; i < last; ++i) {
      const double t = static_cast<double>(i) / rate;
      const double g = std::min(edge(t - k.start), edge(k.end - t));
      env[static_cast<size_t>(i)] = std::max(env[static_cast<size_t>(i)], static_cast<float>(g));
    }
  }
}

// A receiver's CW filter: four identical second-order bandpass sections (constant 0 dB
// peak gain) centred on `centreHz`, run in cascade so that the skirts fall steeply and the
// noise outside a few hundred Hz is gone. `widthHz` is the -3 dB width of the cascade;
// each section is 1 / sqrt(2^(1/4) - 1) = 2.3 times wider.
void NarrowFilter(std::vector<double>& x, double centreHz, double widthHz, int rate) {
  const double w0 = 2.0 * kPi * centreHz / rate;
  const double q = centreHz / (widthHz / std::sqrt(std::pow(2.0, 0.25) - 1.0));
  const double alpha = std::sin(w0) / (2.0 * q);
  const double a0 = 1.0 + alpha;
  const double b0 = alpha / a0;
  const double a1 = -2.0 * std::cos(w0) / a0;
  const double a2 = (1.0 - alpha) / a0;
  for (int section = 0; section < 4; ++section) {
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (double& v : x) {
      const double y = b0 * v - b0 * x2 - a1 * y1 - a2 * y2;
      x2 = x1;
      x1 = v;
      y2 = y1;
      y1 = y;
      v = y;
    }
  }
}

}  // namespace

std::string MorsePattern(char c) {
  return std::string(morse::PatternOf(c));
}

std::vector<int16_t> GenerateMorse(const std::string& text, const MorseSignalParams& p) {
  const int rate = p.sampleRate;
  if (rate <= 0 || !(p.wpm > 0.0) || !(p.dashRatio > 0.0)) return {};
  const double riseS = std::max(0.0, p.riseMs) / 1000.0;
  const double jitter = std::max(0.0, p.jitter);
  const double leadIn = std::max(0.0, p.leadInS);
  const double tail = std::max(0.0, p.tailS);

  // Separate generators so that, for one seed, switching the noise or the interferer on
  // does not change the wanted signal's timing.
  Gaussian timingRng(p.seed);
  Gaussian interfererRng(p.seed ^ 0x5bd1e995u);
  Gaussian noiseRng(p.seed ^ 0x9e3779b9u);

  std::vector<KeyDown> keys;
  std::vector<KeyDown> otherKeys;  // the second station's, in a text with overs
  std::vector<KeyDown> quiet;      // stretches with no noise (the second station's overs)
  double end = 0.0;
  if (text.find('|') == std::string::npos) {
    end = Layout(text, p.wpm, p.dashRatio, jitter, leadIn, timingRng, keys,
                 SpacingFor(p.wpm, p.farnsworthWpm));
  } else {
    end = LayoutOvers(text, p, jitter, leadIn, timingRng, keys, otherKeys, quiet);
  }
  const size_t total = static_cast<size_t>(std::llround((end + tail) * rate));

  std::vector<double> mix(total, 0.0);
  std::vector<float> env(total, 0.0f);
  RenderEnvelope(keys, riseS, rate, env);
  const bool fading = p.fadeDepthDb > 0.0 && p.fadePeriodS > 0.0;
  for (size_t i = 0; i < total; ++i) {
    const double t = static_cast<double>(i) / rate;
    double gain = p.amplitude * env[i];
    if (fading) {
      // 0 dB at t = 0, down to -fadeDepthDb half a period later.
      const double db = -p.fadeDepthDb / 2.0 * (1.0 - std::cos(2.0 * kPi * t / p.fadePeriodS));
      gain *= std::pow(10.0, db / 20.0);
    }
    // Phase of a linearly sliding tone: the integral of f0 + rate * t.
    const double cycles = p.toneHz * t + 0.5 * (p.driftHzPerMin / 60.0) * t * t;
    mix[i] = gain * std::sin(2.0 * kPi * cycles);
  }

  // The second station of a text with overs, added after the noise (see below).
  std::vector<double> second;
  if (!otherKeys.empty()) {
    second.assign(total, 0.0);
    std::fill(env.begin(), env.end(), 0.0f);
    RenderEnvelope(otherKeys, riseS, rate, env);
    const double level = p.amplitude * std::pow(10.0, p.other.levelDb / 20.0);
    const double hz = p.toneHz + p.other.toneOffsetHz;
    for (size_t i = 0; i < total; ++i) {
      if (env[i] == 0.0f) continue;
      const double t = static_cast<double>(i) / rate;
      const double cycles = hz * t + 0.5 * (p.driftHzPerMin / 60.0) * t * t;
      second[i] = level * env[i] * std::sin(2.0 * kPi * cycles);
    }
  }

  // The interferer keys independently from the same start; whatever of it runs past the
  // wanted signal's end is cut off.
  if (p.interfererHz > 0.0 && p.interfererWpm > 0.0) {
    std::vector<KeyDown> other;
    Layout(p.interfererText, p.interfererWpm, p.dashRatio, jitter, leadIn, interfererRng, other);
    std::fill(env.begin(), env.end(), 0.0f);
    RenderEnvelope(other, riseS, rate, env);
    const double level = p.amplitude * std::pow(10.0, p.interfererDb / 20.0);
    for (size_t i = 0; i < total; ++i) {
      const double t = static_cast<double>(i) / rate;
      mix[i] += level * env[i] * std::sin(2.0 * kPi * p.interfererHz * t);
    }
  }

  // White noise over 0..fs/2 whose share in kSnrBandwidthHz is the tone power (A^2/2)
  // divided by the SNR.
  if (p.snrDb < 200.0) {
    const double tonePower = p.amplitude * p.amplitude / 2.0;
    const double variance =
        tonePower / std::pow(10.0, p.snrDb / 10.0) * (rate / 2.0) / kSnrBandwidthHz;
    const double sigma = std::sqrt(variance);
    for (double& x : mix) x += sigma * noiseRng.Next();
  }
  // A sidetone's overs with the receiver muted: nothing but the sidetone, digital silence
  // between its elements.
  for (const KeyDown& q : quiet) {
    const size_t from = static_cast<size_t>(std::max(0.0, (q.start - riseS) * rate));
    const size_t to = std::min(total, static_cast<size_t>((q.end + riseS) * rate) + 1);
    std::fill(mix.begin() + static_cast<std::ptrdiff_t>(from),
              mix.begin() + static_cast<std::ptrdiff_t>(to), 0.0);
  }
  for (size_t i = 0; i < second.size(); ++i) mix[i] += second[i];

  if (p.filterHz > 0.0) NarrowFilter(mix, p.toneHz, p.filterHz, rate);

  std::vector<int16_t> samples(total);
  for (size_t i = 0; i < total; ++i) {
    const double v = std::round(mix[i] * 32767.0);
    samples[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
  }
  return samples;
}

bool WriteWav16(const std::string& path, const std::vector<int16_t>& samples, int sampleRate,
                int channels) {
  if (sampleRate <= 0 || channels <= 0 || samples.size() % static_cast<size_t>(channels) != 0) {
    return false;
  }
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) return false;
  const sf_count_t items = static_cast<sf_count_t>(samples.size());
  const bool written = sf_write_short(file, samples.data(), items) == items;
  return sf_close(file) == 0 && written;
}

}  // namespace kestrix::signalgen
