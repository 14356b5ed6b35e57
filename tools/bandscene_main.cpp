// kestrix-bandscene: writes a band scene (many CW stations at once) as an I/Q or audio
// recording plus its truth table, for measuring the skimmer. Not installed.
//
//   kestrix-bandscene --iq --rate 192000 --center-khz 14040 --duration 300 --runners 60
//       --out band.wav --truth band.csv
//   kestrix-bandscene --iq --rate 48000 --format sigmf --out band   (band.sigmf-meta/-data)
//   kestrix-bandscene --audio --rate 8000 --dial-khz 7030 --out pass.wav --truth pass.csv
//
// I/Q WAV: two channels, I left and Q right, 32-bit float. Audio WAV: mono 32-bit float.
// SigMF: cf32_le data and a meta file with the rate and centre frequency.
#include <sndfile.h>

#include <cerrno>
#include <clocale>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "signalgen/band_scene.h"

namespace {

using kestrix::signalgen::BandScenePlan;
using kestrix::signalgen::BandSceneRenderer;
using kestrix::signalgen::SceneRecipe;

void Usage() {
  std::fprintf(
      stderr,
      "usage: kestrix-bandscene (--iq | --audio) --out PATH [options]\n"
      "  --rate HZ            sample rate (I/Q 48000 by default, audio 8000)\n"
      "  --duration S         length of the scene (120)\n"
      "  --center-khz KHZ     I/Q centre frequency for the truth and SigMF (14040)\n"
      "  --dial-khz KHZ       audio: the receiver's dial (7030); --lsb mirrors\n"
      "  --format wav|sigmf   output (wav)\n"
      "  --truth FILE.csv     truth table (call,role,offset_hz,freq_khz,wpm,snr_db,call_count)\n"
      "  --runners N --callers N --ragchews N --beacons N --birdies N --clickers N\n"
      "  --snr-min DB --snr-max DB --wpm-min W --wpm-max W --spacing HZ\n"
      "  --fading SHARE --hand SHARE  stations that fade, that send by hand (0.3, 0.2)\n"
      "  --low HZ --high HZ   where stations sit (offsets for I/Q, audio Hz for audio)\n"
      "  --plain              runners call \"CQ CQ DE\" instead of \"CQ TEST\"\n"
      "  --noise-only         no stations (birdies and clickers only if asked)\n"
      "  --seed N\n");
}

bool WriteText(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "kestrix-bandscene: cannot write %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return false;
  }
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C");
  SceneRecipe recipe;
  bool iq = false, audio = false, lsb = false, noiseOnly = false, sigmf = false;
  double rate = 0, centreKhz = 14040, dialKhz = 7030;
  bool lowSet = false, highSet = false;
  std::string out, truth;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "kestrix-bandscene: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    auto number = [&]() {
      const char* v = value();
      char* end = nullptr;
      const double d = std::strtod(v, &end);
      if (end == v || *end != '\0') {
        std::fprintf(stderr, "kestrix-bandscene: %s: \"%s\" is not a number\n", a.c_str(), v);
        std::exit(2);
      }
      return d;
    };
    if (a == "--iq")
      iq = true;
    else if (a == "--audio")
      audio = true;
    else if (a == "--lsb")
      lsb = true;
    else if (a == "--plain")
      recipe.contest = false;
    else if (a == "--noise-only")
      noiseOnly = true;
    else if (a == "--rate")
      rate = number();
    else if (a == "--duration")
      recipe.durationS = number();
    else if (a == "--center-khz")
      centreKhz = number();
    else if (a == "--dial-khz")
      dialKhz = number();
    else if (a == "--format")
      sigmf = std::string(value()) == "sigmf";
    else if (a == "--out")
      out = value();
    else if (a == "--truth")
      truth = value();
    else if (a == "--runners")
      recipe.runners = static_cast<int>(number());
    else if (a == "--callers")
      recipe.callersPerRunner = static_cast<int>(number());
    else if (a == "--ragchews")
      recipe.ragchews = static_cast<int>(number());
    else if (a == "--beacons")
      recipe.beacons = static_cast<int>(number());
    else if (a == "--birdies")
      recipe.birdies = static_cast<int>(number());
    else if (a == "--clickers")
      recipe.clickers = static_cast<int>(number());
    else if (a == "--snr-min")
      recipe.minSnrDb = number();
    else if (a == "--snr-max")
      recipe.maxSnrDb = number();
    else if (a == "--wpm-min")
      recipe.minWpm = number();
    else if (a == "--wpm-max")
      recipe.maxWpm = number();
    else if (a == "--spacing")
      recipe.minSpacingHz = number();
    else if (a == "--fading")
      recipe.fadingShare = number();
    else if (a == "--hand")
      recipe.handKeyShare = number();
    else if (a == "--low") {
      recipe.lowHz = number();
      lowSet = true;
    } else if (a == "--high") {
      recipe.highHz = number();
      highSet = true;
    } else if (a == "--seed")
      recipe.seed = static_cast<uint32_t>(number());
    else if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else {
      std::fprintf(stderr, "kestrix-bandscene: unknown option %s\n", a.c_str());
      Usage();
      return 2;
    }
  }
  if (iq == audio || out.empty()) {
    Usage();
    return 2;
  }
  if (rate <= 0) rate = audio ? 8000 : 48000;
  if (!lowSet) recipe.lowHz = audio ? 300 : -0.45 * rate;
  if (!highSet) recipe.highHz = audio ? 2900 : 0.45 * rate;
  if (audio && !lowSet && !highSet) recipe.minSpacingHz = std::min(recipe.minSpacingHz, 120.0);
  if (noiseOnly) recipe.runners = recipe.ragchews = recipe.beacons = 0;

  const BandScenePlan plan = kestrix::signalgen::PlanScene(recipe);
  BandSceneRenderer::Options options;
  options.sampleRate = rate;
  options.audio = audio;
  BandSceneRenderer renderer(plan, options);

  constexpr size_t kBlock = 65536;
  std::vector<std::complex<float>> iqBlock(kBlock);
  std::vector<float> audioBlock(kBlock);
  std::string dataPath = out;
  if (sigmf) {
    if (audio) {
      std::fprintf(stderr, "kestrix-bandscene: SigMF output is for I/Q scenes\n");
      return 2;
    }
    dataPath = out + ".sigmf-data";
    FILE* f = std::fopen(dataPath.c_str(), "wb");
    if (!f) {
      std::fprintf(stderr, "kestrix-bandscene: cannot write %s: %s\n", dataPath.c_str(),
                   std::strerror(errno));
      return 1;
    }
    size_t n;
    while ((n = renderer.RenderIq(iqBlock.data(), kBlock)) > 0) {
      if (std::fwrite(iqBlock.data(), sizeof(std::complex<float>), n, f) != n) {
        std::fprintf(stderr, "kestrix-bandscene: write error on %s\n", dataPath.c_str());
        std::fclose(f);
        return 1;
      }
    }
    if (std::fclose(f) != 0) return 1;
    char meta[1024];
    std::snprintf(meta, sizeof meta,
                  "{\n  \"global\": {\n    \"core:datatype\": \"cf32_le\",\n"
                  "    \"core:sample_rate\": %.1f,\n    \"core:version\": \"1.0.0\",\n"
                  "    \"core:description\": \"Kestrix band scene, seed %u\"\n  },\n"
                  "  \"captures\": [\n    {\"core:sample_start\": 0, \"core:frequency\": %.1f}\n"
                  "  ],\n  \"annotations\": []\n}\n",
                  rate, recipe.seed, centreKhz * 1000.0);
    if (!WriteText(out + ".sigmf-meta", meta)) return 1;
  } else {
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = audio ? 1 : 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(out.c_str(), SFM_WRITE, &info);
    if (!file) {
      std::fprintf(stderr, "kestrix-bandscene: cannot write %s: %s\n", out.c_str(),
                   sf_strerror(nullptr));
      return 1;
    }
    size_t n;
    while (true) {
      if (audio) {
        n = renderer.RenderAudio(audioBlock.data(), kBlock);
        if (n == 0) break;
        if (sf_writef_float(file, audioBlock.data(), static_cast<sf_count_t>(n)) !=
            static_cast<sf_count_t>(n))
          break;
      } else {
        n = renderer.RenderIq(iqBlock.data(), kBlock);
        if (n == 0) break;
        // std::complex<float> is two floats, I then Q: the interleaved frame layout.
        if (sf_writef_float(file, reinterpret_cast<float*>(iqBlock.data()),
                            static_cast<sf_count_t>(n)) != static_cast<sf_count_t>(n))
          break;
      }
    }
    if (renderer.Position() != renderer.TotalSamples()) {
      std::fprintf(stderr, "kestrix-bandscene: write error on %s: %s\n", out.c_str(),
                   sf_strerror(file));
      sf_close(file);
      return 1;
    }
    sf_close(file);
  }
  if (!truth.empty() && !WriteText(truth, kestrix::signalgen::TruthCsv(
                                              plan, audio ? dialKhz : centreKhz, audio, lsb)))
    return 1;
  std::fprintf(stderr, "kestrix-bandscene: %zu stations, %zu birdies, %.0f s at %.0f Hz -> %s\n",
               plan.stations.size(), plan.birdies.size(), plan.durationS, rate,
               sigmf ? (out + ".sigmf-meta").c_str() : out.c_str());
  return 0;
}
