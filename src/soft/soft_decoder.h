// A streaming soft-decision Morse decoder for one signal.
//
// Input is complex baseband at a low fixed rate (`SoftDecoderConfig::sampleRate`, a few
// hundred samples per second) with the wanted tone near 0 Hz (within about a quarter of the
// rate). The decoder keeps the evidence soft until it decides characters: it filters the
// power to the element length, turns every sample into a mark/space log-likelihood against
// tracked signal and noise levels, and searches the most likely sequence of marks and gaps
// with duration priors tied to a tracked dot length. Text comes out with a bounded lag
// (`SoftDecoderConfig::maxLagS`).
//
// All memory is taken at construction; Process() does not allocate. One instance belongs to
// one thread at a time; separate instances share nothing mutable.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrix::soft {

struct SoftDecoderConfig {
  double sampleRate = 250.0;  // complex samples per second (100..2000)
  double minWpm = 5.0;        // speed range the decoder searches
  double maxWpm = 60.0;
  double initialWpm = 0.0;  // a hint; 0 learns the speed from the signal
  double maxLagS = 1.5;     // text is final at most this long after it was keyed
  // Resolution of the search: observations per dot (the hop never goes below one input
  // sample). The search's cost grows with its square; four reads weak signals as well as
  // six and costs about half, six follows a change of speed a little sooner.
  double observationsPerDot = 6.0;
  bool languageModel = true;  // rescore character candidates with the text model
  bool upperCase = false;     // letters in upper case (lower case by default, as the window)
  // After a pause (no key down for two word gaps, at least 0.8 s) the next over is taken
  // as a new station's: held and its tone, levels and speed learnt again, as at the start.
  bool reacquireAfterPause = true;
};

// What the decoder believes about the signal right now.
struct SoftSignalState {
  double wpm = 0.0;        // tracked speed, words per minute (PARIS)
  double snrDb = -99.0;    // key-down power over the noise in 500 Hz, dB
  double signalPower = 0;  // key-down power, input units squared
  double noisePower = 0;   // noise power per sample, input units squared
  bool active = false;     // marks have been seen in the last few seconds
};

class SoftDecoder {
 public:
  explicit SoftDecoder(const SoftDecoderConfig& config);
  ~SoftDecoder();
  SoftDecoder(const SoftDecoder&) = delete;
  SoftDecoder& operator=(const SoftDecoder&) = delete;

  // Feeds `count` samples. Decided characters are appended to the internal text buffer,
  // read with TakeText(). Never blocks, never allocates.
  void Process(const std::complex<float>* samples, size_t count);
  // End of input: decides everything still held in the traceback.
  void Flush();
  // Back to the state after construction.
  void Reset();

  // Moves the text decided so far into `out` (appended) and clears the buffer; returns
  // how many characters were appended. Until the sender's spacing is known (his first
  // three gaps) the text from the first word space on waits: that space may yet turn out
  // to be his letter gap.
  size_t TakeText(std::string& out);

  SoftSignalState State() const;
  const SoftDecoderConfig& Config() const;
  int64_t SamplesSeen() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The single-signal tools' front end: real audio at `audioRate` with a tone at `toneHz`,
// mixed to baseband, low-passed and decimated to `config.sampleRate`, then decoded.
class AudioSoftDecoder {
 public:
  AudioSoftDecoder(double audioRate, double toneHz, const SoftDecoderConfig& config);
  ~AudioSoftDecoder();
  AudioSoftDecoder(const AudioSoftDecoder&) = delete;
  AudioSoftDecoder& operator=(const AudioSoftDecoder&) = delete;

  // Mono samples, full scale 1.0.
  void Process(const float* audio, size_t count);
  void Flush();
  void Reset();
  size_t TakeText(std::string& out);
  SoftDecoder& Decoder();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Whether a keyed tone at `toneHz` stands out of the noise in `count` samples of mono
// audio: in at least 0.3 s of 50 ms pieces its power is 10 dB over the median of forty
// other frequencies of the passband (300..2800 Hz). A tone picked from noise alone, or a
// recording's silent opening, does not.
bool ToneStandsOut(const float* audio, size_t count, double audioRate, double toneHz);

}  // namespace kestrix::soft
