#include "signalgen/band_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <string_view>

#include "morse/alphabet.h"
#include "signalgen/gaussian.h"

namespace kestrix::signalgen {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Uniform in [lo, hi) from a mt19937, the same on every platform.
double Uniform(std::mt19937& rng, double lo, double hi) {
  return lo + (hi - lo) * (static_cast<double>(rng()) / 4294967296.0);
}
int UniformInt(std::mt19937& rng, int lo, int hi) {  // inclusive
  return lo + static_cast<int>(rng() % static_cast<uint32_t>(hi - lo + 1));
}

// Length of `text` in dots at a given dash ratio (element gap 1, letter gap 3, word gap 7),
// the same layout as the renderer's.
double TextDots(const std::string& text, double dashRatio) {
  double dots = 0;
  bool any = false;
  double pendingGap = 0;
  bool joined = false;
  for (char c : text) {
    if (c == '<') {
      joined = true;
      continue;
    }
    if (c == '>') {
      joined = false;
      pendingGap = std::max(pendingGap, 3.0);
      continue;
    }
    if (c == ' ') {
      pendingGap = 7.0;
      continue;
    }
    const std::string_view pattern = morse::PatternOf(c);
    for (char e : pattern) {
      if (any) dots += std::max(pendingGap, 1.0);
      dots += e == '-' ? dashRatio : 1.0;
      any = true;
      pendingGap = 0;
    }
    if (!joined && !pattern.empty()) pendingGap = 3.0;
  }
  return dots;
}

double TextSeconds(const std::string& text, const SceneStation& s) {
  return TextDots(text, s.dashRatio) * 1.2 / s.wpm;
}

struct KeyDown {
  double start, end;  // s
};

// Key-down intervals of a station's transmissions with its fist.
std::vector<KeyDown> Layout(const SceneStation& s, uint32_t seed) {
  Gaussian rng(seed);
  std::vector<KeyDown> keys;
  const double dot = 1.2 / s.wpm;
  auto length = [&](double dots) {
    double f = 1.0;
    if (s.jitter > 0) f = std::max(0.3, 1.0 + s.jitter * rng.Next());
    return dots * dot * f;
  };
  for (const SceneTransmission& tx : s.sends) {
    double t = tx.startS;
    bool any = false;
    double pendingGap = 0;
    bool joined = false;
    for (char c : tx.text) {
      if (c == '<') {
        joined = true;
        continue;
      }
      if (c == '>') {
        joined = false;
        pendingGap = std::max(pendingGap, 3.0);
        continue;
      }
      if (c == ' ') {
        pendingGap = 7.0;
        continue;
      }
      const std::string_view pattern = morse::PatternOf(c);
      for (char e : pattern) {
        if (any) t += length(std::max(pendingGap, 1.0));
        const double on = length(e == '-' ? s.dashRatio : 1.0);
        keys.push_back({t, t + on});
        t += on;
        any = true;
        pendingGap = 0;
      }
      if (!joined && !pattern.empty()) pendingGap = 3.0;
    }
  }
  std::sort(keys.begin(), keys.end(),
            [](const KeyDown& a, const KeyDown& b) { return a.start < b.start; });
  return keys;
}

int CountWord(const std::string& text, const std::string& word) {
  std::istringstream in(text);
  std::string w;
  int n = 0;
  while (in >> w) n += w == word;
  return n;
}

const char* kRagchewLines[] = {
    "GE OM TNX FER CALL UR RST 579 579 NAME JOHN JOHN QTH BOSTON BOSTON HW?",
    "R R FB OM TNX FER RPT UR 599 NAME IS PETE QTH NR DENVER RIG HR IS 100W ES DIPOLE",
    "SOLID CPY OM WX HR IS SUNNY ES WARM TEMP 25C",
    "OK TNX FER NICE QSO HPE CU AGN 73",
    "FB ON ALL OM RIG IS HOMEBREW ES ANT IS A LOOP UP 10M",
};

}  // namespace

const char* StationRoleName(StationRole role) {
  switch (role) {
    case StationRole::Cq:
      return "CQ";
    case StationRole::Caller:
      return "CALLER";
    case StationRole::Ragchew:
      return "RAGCHEW";
    case StationRole::Beacon:
      return "BEACON";
  }
  return "?";
}

void Finish(BandScenePlan& plan) {
  for (SceneStation& s : plan.stations) {
    s.callCount = 0;
    for (const SceneTransmission& tx : s.sends) s.callCount += CountWord(tx.text, s.call);
  }
}

std::vector<std::string> RandomCalls(size_t count, uint32_t seed) {
  // Prefixes from the ITU blocks, in the shapes heard most.
  static const char* const kOneLetter[] = {"K", "W", "N", "G", "F", "I", "M", "R"};
  static const char* const kTwoLetter[] = {"DL", "DJ", "DK", "JA", "JH", "VE", "VK", "UA", "OH",
                                           "SM", "LA", "OK", "OM", "SP", "HA", "YO", "LZ", "PA",
                                           "ON", "OE", "HB", "CT", "EA", "EI", "ZL", "ZS", "PY",
                                           "LU", "YU", "9A", "S5", "4X", "UR", "ES", "YL", "LY"};
  std::mt19937 rng(seed ^ 0xc0ffee11u);
  std::set<std::string> seen;
  std::vector<std::string> out;
  auto letter = [&] { return static_cast<char>('A' + rng() % 26); };
  while (out.size() < count) {
    std::string call;
    const int shape = static_cast<int>(rng() % 10);
    if (shape < 4) {  // 1x2 / 1x3
      call = kOneLetter[rng() % (sizeof kOneLetter / sizeof *kOneLetter)];
      call += static_cast<char>('0' + rng() % 10);
      const int n = shape < 1 ? 2 : 3;
      for (int i = 0; i < n; ++i) call += letter();
    } else {  // 2x1 (rarely) / 2x2 / 2x3
      call = kTwoLetter[rng() % (sizeof kTwoLetter / sizeof *kTwoLetter)];
      call += static_cast<char>('0' + rng() % 10);
      const int n = shape == 4 ? 1 : shape < 7 ? 2 : 3;
      for (int i = 0; i < n; ++i) call += letter();
    }
    if (seen.insert(call).second) out.push_back(call);
  }
  return out;
}

BandScenePlan PlanScene(const SceneRecipe& r) {
  BandScenePlan plan;
  plan.durationS = r.durationS;
  plan.seed = r.seed;
  std::mt19937 rng(r.seed);
  const int maxCallers = std::max(0, r.callersPerRunner * 2);
  const size_t needed = static_cast<size_t>(r.runners + r.clickers) * (1 + maxCallers) +
                        static_cast<size_t>(r.ragchews) * 2 + static_cast<size_t>(r.beacons);
  const std::vector<std::string> calls = RandomCalls(needed, r.seed);
  size_t nextCall = 0;

  // Frequencies at least minSpacingHz apart (a few tries each, then anywhere).
  std::vector<double> used;
  auto pickFrequency = [&]() {
    double f = Uniform(rng, r.lowHz, r.highHz);
    for (int attempt = 0; attempt < 200; ++attempt) {
      f = Uniform(rng, r.lowHz, r.highHz);
      bool clear = true;
      for (double u : used) clear = clear && std::fabs(u - f) >= r.minSpacingHz;
      if (clear) break;
    }
    used.push_back(f);
    return f;
  };
  auto makeStation = [&](StationRole role, double offset) {
    SceneStation s;
    s.call = calls[nextCall++];
    s.role = role;
    s.offsetHz = offset;
    s.wpm = std::round(Uniform(rng, r.minWpm, r.maxWpm));
    s.snrDb = Uniform(rng, r.minSnrDb, r.maxSnrDb);
    if (Uniform(rng, 0, 1) < r.handKeyShare) {
      s.jitter = Uniform(rng, 0.06, 0.12);
      s.dashRatio = Uniform(rng, 3.2, 3.8);
      s.wpm = std::min(s.wpm, 24.0);
    } else {
      s.jitter = Uniform(rng, 0.0, 0.03);
    }
    if (Uniform(rng, 0, 1) < r.fadingShare) {
      s.fadeDepthDb = Uniform(rng, 6, 20);
      s.fadePeriodS = Uniform(rng, 3, 15);
    }
    s.driftHz = Uniform(rng, -3, 3);
    return s;
  };
  auto send = [&](SceneStation& s, double t, const std::string& text) {
    const double end = t + TextSeconds(text, s);
    if (end > r.durationS - 0.2) return -1.0;
    s.sends.push_back({t, text});
    return end;
  };

  // Runners and their callers.
  for (int i = 0; i < r.runners + r.clickers; ++i) {
    SceneStation runner = makeStation(StationRole::Cq, pickFrequency());
    if (i >= r.runners) {  // a loud hard-keyed station: key clicks across its neighbours
      runner.riseMs = 0;
      runner.snrDb = Uniform(rng, 35, 45);
      runner.jitter = 0;
    }
    const int callers = maxCallers > 0 ? UniformInt(rng, 0, maxCallers) : 0;
    std::vector<SceneStation> answering;
    for (int k = 0; k < callers; ++k) {
      answering.push_back(
          makeStation(StationRole::Caller,
                      runner.offsetHz + Uniform(rng, -r.callerSpreadHz, r.callerSpreadHz)));
    }
    const std::string& me = runner.call;
    double t = Uniform(rng, 0.2, 6.0);
    int serial = UniformInt(rng, 1, 300);
    size_t nextCaller = 0;
    while (t < r.durationS) {
      const std::string cq =
          r.contest ? "CQ TEST " + me + " " + me + " TEST" : "CQ CQ DE " + me + " " + me + " K";
      double end = send(runner, t, cq);
      if (end < 0) break;
      t = end + Uniform(rng, 0.6, 1.5);
      // Answered about every other CQ while callers remain.
      if (nextCaller < answering.size() && Uniform(rng, 0, 1) < 0.6) {
        SceneStation& caller = answering[nextCaller++];
        const std::string& him = caller.call;
        const bool twice = Uniform(rng, 0, 1) < 0.5;
        const std::string nr = std::to_string(serial++);
        const std::string theirs = std::to_string(UniformInt(rng, 1, 999));
        std::vector<std::pair<SceneStation*, std::string>> exchange;
        if (r.contest) {
          exchange = {{&caller, twice ? him + " " + him : him},
                      {&runner, him + " 5NN " + nr},
                      {&caller, "TU 5NN " + theirs},
                      {&runner, "TU " + me + " TEST"}};
        } else {
          exchange = {{&caller, me + " DE " + him + " " + him + " K"},
                      {&runner, him + " DE " + me + " GM TNX FER CALL UR 579 579 BK"},
                      {&caller, "R TNX UR 599 599 73 " + me + " DE " + him + " SK"},
                      {&runner, "TU 73 " + him + " DE " + me + " SK"}};
        }
        for (auto& [who, text] : exchange) {
          end = send(*who, t, text);
          if (end < 0) break;
          t = end + Uniform(rng, 0.3, 0.9);
        }
        if (end < 0) break;
      } else {
        t += Uniform(rng, 0.5, 2.0);
      }
    }
    plan.stations.push_back(std::move(runner));
    for (SceneStation& c : answering)
      if (!c.sends.empty()) plan.stations.push_back(std::move(c));
  }

  // Ragchews: two stations on one frequency taking long overs.
  for (int i = 0; i < r.ragchews; ++i) {
    const double f = pickFrequency();
    SceneStation a = makeStation(StationRole::Ragchew, f);
    SceneStation b = makeStation(StationRole::Ragchew, f + Uniform(rng, -20, 20));
    double t = Uniform(rng, 0.2, 5.0);
    bool aTurn = true;
    size_t line = rng() % (sizeof kRagchewLines / sizeof *kRagchewLines);
    while (true) {
      SceneStation& me = aTurn ? a : b;
      SceneStation& him = aTurn ? b : a;
      const std::string over =
          him.call + " DE " + me.call + " " +
          kRagchewLines[line++ % (sizeof kRagchewLines / sizeof *kRagchewLines)] + " " + him.call +
          " DE " + me.call + " KN";
      const double end = send(me, t, over);
      if (end < 0) break;
      t = end + Uniform(rng, 1.0, 2.5);
      aTurn = !aTurn;
    }
    plan.stations.push_back(std::move(a));
    plan.stations.push_back(std::move(b));
  }

  // Beacons.
  for (int i = 0; i < r.beacons; ++i) {
    SceneStation s = makeStation(StationRole::Beacon, pickFrequency());
    s.call += "/B";
    s.jitter = 0;
    s.dashRatio = 3.0;
    double t = Uniform(rng, 0.2, 3.0);
    while (true) {
      const double end = send(s, t, "VVV VVV DE " + s.call + " " + s.call);
      if (end < 0) break;
      t = end + Uniform(rng, 3.0, 5.0);
    }
    plan.stations.push_back(std::move(s));
  }

  for (int i = 0; i < r.birdies; ++i)
    plan.birdies.push_back({Uniform(rng, r.lowHz, r.highHz), Uniform(rng, 10, 30)});

  Finish(plan);
  return plan;
}

// --- Rendering -------------------------------------------------------------------------------

struct BandSceneRenderer::Impl {
  struct Voice {
    double amplitude = 0;
    double f0 = 0;     // Hz at t = 0
    double slope = 0;  // Hz per second
    double riseS = 0;
    double fadeDepthDb = 0, fadePeriodS = 1;
    std::vector<KeyDown> keys;
    size_t cursor = 0;  // first key that may still reach the current block
  };
  BandScenePlan plan;
  Options options;
  std::vector<Voice> voices;
  std::vector<Voice> birdies;
  size_t total = 0;
  size_t position = 0;
  double noiseSigma = 0;  // per real component (I/Q) or per sample (audio)
  Gaussian noise;
  // Audio passband filter for the noise: biquads in cascade, direct form I.
  struct Biquad {
    double b0, b1, b2, a1, a2;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double Run(double x) {
      const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
      x2 = x1;
      x1 = x;
      y2 = y1;
      y1 = y;
      return y;
    }
  };
  std::vector<Biquad> filter;
  std::vector<std::complex<double>> mix;

  Impl(const BandScenePlan& p, const Options& o)
      : plan(p), options(o), noise(p.seed ^ 0x9e3779b9u) {
    const double rate = options.sampleRate;
    total = static_cast<size_t>(std::llround(plan.durationS * rate));
    const double n0 = options.noiseIn500Hz / 500.0;  // noise power per Hz
    // Complex: total power n0 * rate, half in each of I and Q. Real: one-sided n0 over
    // rate / 2.
    noiseSigma = std::sqrt(n0 * rate / 2.0);
    auto amplitudeFor = [&](double snrDb) {
      const double carrier = std::pow(10.0, snrDb / 10.0) * options.noiseIn500Hz;
      return options.audio ? std::sqrt(2.0 * carrier) : std::sqrt(carrier);
    };
    uint32_t index = 0;
    for (const SceneStation& s : plan.stations) {
      Voice v;
      v.amplitude = amplitudeFor(s.snrDb);
      v.f0 = s.offsetHz;
      v.slope = plan.durationS > 0 ? s.driftHz / plan.durationS : 0;
      v.riseS = std::max(0.0, s.riseMs) / 1000.0;
      v.fadeDepthDb = s.fadeDepthDb;
      v.fadePeriodS = s.fadePeriodS > 0 ? s.fadePeriodS : 1;
      v.keys = Layout(s, plan.seed * 7919u + 104729u * ++index);
      voices.push_back(std::move(v));
    }
    for (const SceneBirdie& b : plan.birdies) {
      Voice v;
      v.amplitude = amplitudeFor(b.snrDb);
      v.f0 = b.offsetHz;
      v.keys.push_back({-1.0, plan.durationS + 1.0});
      birdies.push_back(std::move(v));
    }
    if (options.audio) {
      // Butterworth: 4th-order high-pass at passLowHz, 8th-order low-pass at passHighHz.
      auto section = [&](double fc, double q, bool high) {
        const double w0 = 2 * kPi * fc / rate;
        const double alpha = std::sin(w0) / (2 * q);
        const double c = std::cos(w0);
        const double a0 = 1 + alpha;
        Biquad b{};
        if (high) {
          b.b0 = (1 + c) / 2 / a0;
          b.b1 = -(1 + c) / a0;
          b.b2 = (1 + c) / 2 / a0;
        } else {
          b.b0 = (1 - c) / 2 / a0;
          b.b1 = (1 - c) / a0;
          b.b2 = (1 - c) / 2 / a0;
        }
        b.a1 = -2 * c / a0;
        b.a2 = (1 - alpha) / a0;
        filter.push_back(b);
      };
      if (options.passLowHz > 0) {
        for (double q : {0.5412, 1.3066}) section(options.passLowHz, q, true);
      }
      if (options.passHighHz > 0 && options.passHighHz < rate / 2) {
        for (double q : {0.5098, 0.6013, 0.9000, 2.5629}) section(options.passHighHz, q, false);
      }
    }
  }

  static double Edge(double x, double rise) {  // x: seconds after the nominal edge
    if (rise <= 0) return x >= 0 ? 1.0 : 0.0;
    if (x <= -rise / 2) return 0.0;
    if (x >= rise / 2) return 1.0;
    return 0.5 * (1.0 + std::sin(kPi * x / rise));
  }

  void AddVoice(Voice& v, size_t first, size_t count) {
    const double rate = options.sampleRate;
    const double t0 = static_cast<double>(first) / rate;
    const double t1 = static_cast<double>(first + count) / rate;
    const double half = v.riseS / 2;
    while (v.cursor < v.keys.size() && v.keys[v.cursor].end + half < t0) ++v.cursor;
    for (size_t k = v.cursor; k < v.keys.size() && v.keys[k].start - half < t1; ++k) {
      const KeyDown& key = v.keys[k];
      const long a = std::max<long>(static_cast<long>(first),
                                    static_cast<long>(std::floor((key.start - half) * rate)));
      const long b = std::min<long>(static_cast<long>(first + count),
                                    static_cast<long>(std::ceil((key.end + half) * rate)) + 1);
      if (a >= b) continue;
      double gain = v.amplitude;
      if (v.fadeDepthDb > 0) {
        const double mid = 0.5 * (key.start + key.end);
        const double db = -v.fadeDepthDb * 0.5 * (1 - std::cos(2 * kPi * mid / v.fadePeriodS));
        gain *= std::pow(10.0, db / 20.0);
      }
      // Phase from the absolute time, so block sizes don't matter; a rotator inside.
      const double ta = static_cast<double>(a) / rate;
      const double phase = 2 * kPi * (v.f0 * ta + 0.5 * v.slope * ta * ta);
      const double f = v.f0 + v.slope * ta;
      std::complex<double> rot = std::polar(1.0, std::fmod(phase, 2 * kPi));
      const std::complex<double> step = std::polar(1.0, 2 * kPi * f / rate);
      for (long i = a; i < b; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double env = std::min(Edge(t - key.start, v.riseS), Edge(key.end - t, v.riseS));
        mix[static_cast<size_t>(i) - first] += gain * env * rot;
        rot *= step;
      }
    }
  }

  size_t Render(size_t count) {
    count = std::min(count, total - position);
    mix.assign(count, {0.0, 0.0});
    for (Voice& v : voices) AddVoice(v, position, count);
    for (Voice& v : birdies) AddVoice(v, position, count);
    position += count;
    return count;
  }
};

BandSceneRenderer::BandSceneRenderer(const BandScenePlan& plan, const Options& options)
    : impl_(std::make_unique<Impl>(plan, options)) {}

BandSceneRenderer::~BandSceneRenderer() = default;

size_t BandSceneRenderer::RenderIq(std::complex<float>* out, size_t count) {
  const size_t n = impl_->Render(count);
  for (size_t i = 0; i < n; ++i) {
    const double ni = impl_->noiseSigma * impl_->noise.Next();
    const double nq = impl_->noiseSigma * impl_->noise.Next();
    out[i] = {static_cast<float>(impl_->mix[i].real() + ni),
              static_cast<float>(impl_->mix[i].imag() + nq)};
  }
  return n;
}

size_t BandSceneRenderer::RenderAudio(float* out, size_t count) {
  const size_t n = impl_->Render(count);
  for (size_t i = 0; i < n; ++i) {
    double noise = impl_->noiseSigma * impl_->noise.Next();
    for (auto& b : impl_->filter) noise = b.Run(noise);
    out[i] = static_cast<float>(impl_->mix[i].real() + noise);
  }
  return n;
}

size_t BandSceneRenderer::TotalSamples() const {
  return impl_->total;
}
size_t BandSceneRenderer::Position() const {
  return impl_->position;
}

std::string TruthCsv(const BandScenePlan& plan, double centreKhz, bool audio, bool lsb) {
  std::string out = "call,role,offset_hz,freq_khz,wpm,snr_db,call_count\n";
  char row[256];
  for (const SceneStation& s : plan.stations) {
    const double khz =
        audio && lsb ? centreKhz - s.offsetHz / 1000.0 : centreKhz + s.offsetHz / 1000.0;
    std::snprintf(row, sizeof row, "%s,%s,%.1f,%.4f,%.0f,%.1f,%d\n", s.call.c_str(),
                  StationRoleName(s.role), s.offsetHz, khz, s.wpm, s.snrDb, s.callCount);
    out += row;
  }
  return out;
}

}  // namespace kestrix::signalgen
