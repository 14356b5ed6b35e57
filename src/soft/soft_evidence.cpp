#include "soft/soft_decoder_impl.h"

namespace kestrix::soft {

double SoftDecoder::Impl::Llr(double y, double noisePower, double markPowerTotal) {
  const double a2 = std::max(markPowerTotal - noisePower, noisePower * 1e-3);
  const double a = std::sqrt(a2);
  return -a2 / noisePower + LogI0(2.0 * a * std::sqrt(std::max(y, 0.0)) / noisePower);
}

void SoftDecoder::Impl::Step(std::complex<float> x) {
  const std::complex<double> z = std::complex<double>(x) * std::polar(1.0, -phase);
  phase += omega;
  if (phase > kTwoPi) phase -= kTwoPi;
  if (phase < -kTwoPi) phase += kTwoPi;
  const int out = (ringPos - window) & (kMaxWindow - 1);
  sum += z - ring[out];
  ring[ringPos] = z;
  ringPos = (ringPos + 1) & (kMaxWindow - 1);
  hopSum += z;
  ++hopCount;
  ++seen;
  sinceObs += 1.0;
  if (sinceObs >= hop) {
    sinceObs -= hop;
    Observe();
  }
}

void SoftDecoder::Impl::Observe() {
  const std::complex<double> s = sum / static_cast<double>(window);
  const double y = std::norm(s);
  if (noise <= 0) {
    noise = y + 1e-20;
    markPower = noise * 4;
  }
  envS[obsIn & (kEnvelopeRing - 1)] = s;
  envY[obsIn & (kEnvelopeRing - 1)] = static_cast<float>(y);
  envSeen[obsIn & (kEnvelopeRing - 1)] = seen;
  envHop[obsIn & (kEnvelopeRing - 1)] = hopSum;
  envHopCount[obsIn & (kEnvelopeRing - 1)] = hopCount;
  hopSum = {};
  hopCount = 0;
  ++obsIn;
  if (obsIn > kEnvelopeHalf) Decide(obsIn - 1 - kEnvelopeHalf);
}

double SoftDecoder::Impl::LocalLevel(int64_t j) const {
  const int64_t first = std::max<int64_t>(0, j - kEnvelopeHalf);
  const int64_t last = std::min<int64_t>(obsIn - 1, j + kEnvelopeHalf);
  // The strongest kEnvelopeRank, kept in order by insertion (a selection algorithm costs
  // more than this on 25 values).
  std::array<float, kEnvelopeRank> top;
  top.fill(-1.0f);
  int n = 0;
  for (int64_t i = first; i <= last; ++i, ++n) {
    const float v = envY[i & (kEnvelopeRing - 1)];
    if (v <= top[kEnvelopeRank - 1]) continue;
    int k = kEnvelopeRank - 1;
    for (; k > 0 && top[k - 1] < v; --k) top[k] = top[k - 1];
    top[k] = v;
  }
  return top[std::min(n - 1, kEnvelopeRank - 1)];
}

void SoftDecoder::Impl::Decide(int64_t j) {
  const std::complex<double> s = envS[j & (kEnvelopeRing - 1)];
  const double y = envY[j & (kEnvelopeRing - 1)];
  const double reference = std::max(markPower - noise, noise * 1e-3);
  const double local = LocalLevel(j);
  double a2 = reference;
  const bool recent =
      lastStrongObs >= 0 && static_cast<double>(j - lastStrongObs) * hop < FadeMemory();
  if (local - noise < reference * kFadeThreshold) {
    if (local > kOtherLevel * noise)
      a2 = local - noise;  // a station at another level, however long since the last one
    else if (recent && reference > kFadeMinReference * noise && local > kPresence * noise)
      a2 = std::max(local - noise, reference * kFloor);
  }
  const double llr = Llr(y, noise, noise + a2);
  const double p = 1.0 / (1.0 + std::exp(-std::clamp(llr + std::log(0.45 / 0.55), -30.0, 30.0)));
  // Levels follow slowly: noise over about 3 s, the key-down reference over about 1 s
  // of key-down time.
  const double secondsPerObs = hop / fs;
  // Weighted by (1 - p)^2 so that faint key-down stretches do not lift the noise, and
  // clipped at 4x (an observation half over an element edge is no noise sample; the
  // clipped mean of key-up power is 1 - e^-4 of the mean). In a fade the key-down is
  // faint throughout and its p middling: (1 - p)^4 keeps it out of the noise there, which
  // would otherwise rise into the trough and bury the marks a second time.
  const double clipped = std::min(y, 4.0 * noise) / (1.0 - std::exp(-4.0));
  const double keyUp = a2 == reference ? (1 - p) * (1 - p) : std::pow(1 - p, 4);
  noise += std::min(1.0, secondsPerObs / 3.0) * keyUp * (clipped - noise);
  // A drop of the noise floor (a receiver muted for the own sidetone's over), and its
  // return: the lower quartile of all observations, followed in log power, says where it
  // went. Upward it counts only after a drop: a run of dashes lifts it as far.
  if (!quartileSet) lowQuartile = std::log(0.2877 * noise);
  quartileSet = true;
  lowQuartile +=
      kQuartileStep * (std::log(std::max(y, markPower * 1e-8)) > lowQuartile ? 0.25 : -0.75);
  // While the noise is down it waits for its return: not far under the noise (digital
  // silence would take it down without end, and seconds to climb back).
  if (noiseDropped) lowQuartile = std::max(lowQuartile, std::log(0.2877 * noise) - 1.0);
  const double floorNoise = std::exp(lowQuartile) / 0.2877;
  if (floorNoise * kNoiseStep < noise) {
    noise = floorNoise;
    noiseDropped = true;
  } else if (noiseDropped && floorNoise > kNoiseStep * noise) {
    // The receiver's noise is back, and with it the other station: an over has ended.
    noise = floorNoise;
    noiseDropped = false;
    noiseReturned = true;
  }
  markPower += std::min(1.0, secondsPerObs / kReferenceS) * p * (y - markPower);
  // A clean signal has no noise to speak of: keep the ratio finite (40 dB per observation).
  noise = std::max(noise, markPower * 1e-4);
  markPower = std::max(markPower, noise * 1.05);
  // The tone offset follows the phase advance between key-down observations.
  if (p > 0.9 && prevP > 0.9) {
    const double turn = std::arg(s * std::conj(prevSum)) / hop;
    omega += 0.02 * turn;
  }
  prevSum = s;
  prevP = p;
  if (p > 0.5) lastMarkSample = envSeen[j & (kEnvelopeRing - 1)];
  if (p > 0.5) lastKeyDownSample = envSeen[j & (kEnvelopeRing - 1)];
  // Heard clearly: at the reference level, or faded but still well out of the noise (a
  // fade longer than kFadeMemoryS is no reason to stop following it).
  if (p > 0.9 && (a2 == reference || local > kFadeMinReference * noise)) lastStrongObs = j;

  obsSample[obsCount & (SegmentViterbi::kHistory - 1)] = envSeen[j & (kEnvelopeRing - 1)];
  ++obsCount;
  {
    // Per input sample: noise power `noise * window` (an observation is a mean over the
    // window), key-down amplitude sqrt(a2).
    const double noiseSample = noise * window;
    const double amp = std::sqrt(a2);
    viterbi.PushCoherent(static_cast<float>(kEvidenceScale * weight * llr),
                         envHop[j & (kEnvelopeRing - 1)] * (amp / noiseSample),
                         a2 * envHopCount[j & (kEnvelopeRing - 1)] / noiseSample);
  }
  // Characters wait for the one after them (see DecideCharacters()).
  const double lagS = config.maxLagS - (config.languageModel ? kCharacterWaitS : 0.0);
  const int64_t lagObs = static_cast<int64_t>(lagS * fs / hop) - 2 - kEnvelopeHalf;
  if ((obsCount & 3) == 0) {
    viterbi.Commit(viterbi.Time() - std::max<int64_t>(lagObs, 8),
                   [&](const Segment& seg) { OnSegment(seg); });
  }
}

void SoftDecoder::Impl::DrainEnvelope() {
  for (int64_t j = std::max<int64_t>(0, obsIn - kEnvelopeHalf); j < obsIn; ++j) Decide(j);
}

}  // namespace kestrix::soft
