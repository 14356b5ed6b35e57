// A band scene: a whole band segment of CW stations, for the skimmer's tests and for
// measuring it (kestrix-bandscene). Pure functions of the plan and its seed; any thread, one
// renderer per thread. Many stations with their own calls, speeds, levels, fists and fading;
// runners calling CQ with callers answering near them; ragchews; beacons; birdies (steady
// carriers); a hard-keyed strong station whose key clicks spread across the band. The
// scene knows the truth: every station's call, frequency, speed, level, role and how often
// it sends its call.
//
// Levels: SNR is key-down carrier power over the noise in 500 Hz. For complex I/Q that is
// A^2 over (noise density x 500 Hz); for real audio a tone of peak A has power A^2 / 2 and
// the noise is measured one-sided in 500 Hz. Noise is white (I/Q) or band-limited to the
// receiver's passband (audio, about 200-3000 Hz).
//
// Rendering streams: RenderIq()/RenderAudio() fill the next block of any size, so an hour
// at 192 kHz never lives in memory. The same plan and seed give the same samples every
// time, block sizes notwithstanding.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrix::signalgen {

enum class StationRole {
  Cq,       // calls CQ ("CQ TEST K1ABC K1ABC TEST", "CQ CQ DE K1ABC K1ABC K") and works callers
  Caller,   // answers a runner near its frequency with its own call, then the exchange
  Ragchew,  // a long contact with one partner on the same frequency
  Beacon,   // "VVV VVV DE K1ABC/B K1ABC/B", over and over
};

const char* StationRoleName(StationRole role);  // "CQ", "CALLER", "RAGCHEW", "BEACON"

// One keyed transmission of a station.
struct SceneTransmission {
  double startS = 0;  // first element, seconds from the scene start
  std::string text;   // Morse text (as for GenerateMorse: <AR>-style prosigns allowed)
};

struct SceneStation {
  std::string call;
  StationRole role = StationRole::Cq;
  double offsetHz = 0;  // from the centre (I/Q) or the audio frequency (audio)
  double wpm = 25;
  double snrDb = 10;       // key-down power over the noise in 500 Hz
  double jitter = 0;       // fist: element/gap standard deviation, fraction of nominal
  double dashRatio = 3.0;  // fist: dash length in dots
  double riseMs = 5.0;     // keying edge; 0 = hard keying with key clicks
  double fadeDepthDb = 0;  // slow fading, peak-to-trough
  double fadePeriodS = 8.0;
  double driftHz = 0;  // total slide of the tone over the scene
  std::vector<SceneTransmission> sends;
  // Filled by PlanScene()/Finish(): how often `call` is sent as a word of its own.
  int callCount = 0;
};

struct SceneBirdie {
  double offsetHz = 0;
  double snrDb = 20;
};

struct BandScenePlan {
  double durationS = 60;
  std::vector<SceneStation> stations;
  std::vector<SceneBirdie> birdies;
  uint32_t seed = 1;  // the noise and the fists' timing
};

// Fills each station's callCount from its transmissions. PlanScene() calls it; call it
// again after editing a plan by hand.
void Finish(BandScenePlan& plan);

// What a random scene holds. Frequencies are spread over [lowHz, highHz] (offsets from
// the centre for I/Q, audio frequencies for audio) with at least `minSpacingHz` between
// runners, ragchews and beacons; callers sit within `callerSpreadHz` of their runner.
struct SceneRecipe {
  double durationS = 120;
  double lowHz = -80000;
  double highHz = 80000;
  int runners = 20;          // CQ stations, each with 0..3 callers over the scene
  int callersPerRunner = 2;  // average
  int ragchews = 4;          // pairs
  int beacons = 2;
  int birdies = 2;
  int clickers = 1;  // strong hard-keyed runners (key clicks)
  double minSnrDb = 0, maxSnrDb = 25;
  double minWpm = 16, maxWpm = 36;
  double minSpacingHz = 300;
  double callerSpreadHz = 150;
  double fadingShare = 0.3;   // stations that fade
  double handKeyShare = 0.2;  // stations with a hand-key fist (jitter, long dashes)
  bool contest = true;        // runners send "CQ TEST" (else "CQ CQ DE")
  uint32_t seed = 1;
};

BandScenePlan PlanScene(const SceneRecipe& recipe);

// Random, unique, ITU-valid calls in the usual shapes (1x2, 1x3, 2x1, 2x2, 2x3).
std::vector<std::string> RandomCalls(size_t count, uint32_t seed);

// Streams a plan as samples. Complex I/Q at `sampleRate` (stations at their offsets around
// 0 Hz) or real audio (stations at their audio frequencies; noise band-limited to
// [passLowHz, passHighHz]).
class BandSceneRenderer {
 public:
  struct Options {
    double sampleRate = 48000;
    bool audio = false;
    double passLowHz = 200, passHighHz = 3000;  // audio only
    // Noise power in 500 Hz, full scale 1.0 (so a 0 dB station's carrier has this power).
    // Low enough that a 45 dB station among 90 others stays well inside full scale.
    double noiseIn500Hz = 1e-6;
  };
  BandSceneRenderer(const BandScenePlan& plan, const Options& options);
  ~BandSceneRenderer();
  BandSceneRenderer(const BandSceneRenderer&) = delete;
  BandSceneRenderer& operator=(const BandSceneRenderer&) = delete;

  // The next `count` samples; fewer (possibly 0) at the end of the scene. Returns how many.
  size_t RenderIq(std::complex<float>* out, size_t count);
  size_t RenderAudio(float* out, size_t count);

  size_t TotalSamples() const;
  size_t Position() const;  // samples rendered so far

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Truth table as CSV: header "call,role,offset_hz,freq_khz,wpm,snr_db,call_count" and one
// row per station; freq_khz = centreKhz + offset / 1000 (I/Q) or dial +/- audio (audio,
// `lsb` mirrors).
std::string TruthCsv(const BandScenePlan& plan, double centreKhz, bool audio = false,
                     bool lsb = false);

}  // namespace kestrix::signalgen
