#include "skim/skim_run.h"

#include <chrono>
#include <cmath>
#include <complex>
#include <vector>

namespace kestrix::skim {

namespace {
// Samples per read: about 40 ms at 192 kHz, 170 ms at 48 kHz.
constexpr size_t kBlock = 8192;
}  // namespace

int RunSkimmer(SampleSource& source, Skimmer& skimmer, const RunConfig& config,
               std::string& error) {
  using Clock = std::chrono::steady_clock;
  const bool complex = source.IsComplex();
  // Complex storage, read through as floats (complex<float> is laid out as float[2]).
  std::vector<std::complex<float>> iq(kBlock);
  float* buf = reinterpret_cast<float*>(iq.data());
  const double rate = source.Rate();
  const Clock::time_point start = Clock::now();
  Clock::time_point lastReport = start;
  int64_t done = 0;
  const int64_t limit =
      config.stopAfterS > 0.0 ? static_cast<int64_t>(config.stopAfterS * rate) : -1;
  int status = 0;
  auto report = [&] {
    if (!config.progress) return;
    RunProgress p;
    p.streamS = static_cast<double>(done) / rate;
    p.totalS = static_cast<double>(source.TotalSamples()) / rate;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    p.speed = wall > 0.0 ? p.streamS / wall : 0.0;
    p.liveSignals = skimmer.LiveSignals();
    p.signalsStarted = skimmer.SignalsStarted();
    config.progress(p);
  };
  while (true) {
    if (config.stop != nullptr && config.stop->load(std::memory_order_relaxed) != 0) break;
    size_t want = kBlock;
    if (limit >= 0) {
      if (done >= limit) break;
      want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(want), limit - done));
    }
    const long n = source.Read(buf, want);
    if (n == kSourceAgain) continue;
    if (n < 0) {
      error = source.Error();
      status = 1;
      break;
    }
    if (n == 0) break;
    if (config.retune) {
      const double hz = config.retune();
      if (!std::isnan(hz)) skimmer.SetCentreHz(hz);
    }
    if (complex) {
      skimmer.Process(iq.data(), static_cast<size_t>(n));
    } else {
      skimmer.ProcessReal(buf, static_cast<size_t>(n));
    }
    done += n;
    const Clock::time_point now = Clock::now();
    if (std::chrono::duration<double>(now - lastReport).count() >= config.progressEveryS) {
      lastReport = now;
      report();
    }
  }
  skimmer.Flush();
  report();
  return status;
}

}  // namespace kestrix::skim
