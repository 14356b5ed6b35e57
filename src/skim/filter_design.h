// Filter and window design for the skimmer's channel bank and per-signal filters.
//
// Pure functions: they return taps and keep no state. Frequencies are in Hz at the given
// sample rate; attenuations in dB (positive numbers).
#pragma once

#include <vector>

namespace kestrix::skim {

// Kaiser window shape parameter for a stop-band attenuation of `stopDb` dB (> 0).
double KaiserBeta(double stopDb);

// Taps a Kaiser-windowed low-pass needs for a transition band `transitionHz` wide at
// `rate` Hz and `stopDb` of stop-band attenuation (at least 3, always odd).
int KaiserLength(double transitionHz, double rate, double stopDb);

// A linear-phase low-pass of `taps` taps with its -6 dB point at `cutoffHz` (0 < cutoffHz
// < rate / 2), Kaiser window for `stopDb`, scaled to unity gain at 0 Hz.
std::vector<float> KaiserLowPass(int taps, double cutoffHz, double rate, double stopDb);

// The 4-term Blackman-Harris window of length `n` (periodic form, for spectra): side lobes
// below -92 dB, main lobe +-4 bins.
std::vector<float> BlackmanHarris(int n);

}  // namespace kestrix::skim
