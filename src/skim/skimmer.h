// The skimmer engine: every CW signal in a band decoded at once.
//
// Complex samples of a band (or a receiver's real audio) go to two stages side by side: the
// channel bank (Channelizer), which splits the band into narrow overlapping channels at
// the soft decoder's rate, and the signal finder (SignalFinder), which watches an averaged
// fine spectrum for carriers over the noise. For every signal the finder tracks, the
// engine runs one chain: the nearest channel, mixed by the signal's own fine frequency to
// 0 Hz, a narrow low-pass that keeps a neighbour in the same channel out, and a
// soft::SoftDecoder. A receiver's audio first goes through a SidebandCanceller that takes
// the keying sidebands of the loudest stations out of it. A new signal's decoder is first fed the
// last few seconds of its channel, so the call that made the station stand out is read too. When
// the finder retires a signal its decoder is flushed and returned to a pool. While a station is
// quiet for more than a few seconds its decoder sleeps (it is not fed noise) and wakes
// with the channel from a moment before the station keys again.
//
// Decoded text goes to a SkimListener as it comes, tagged with the signal, its RF
// frequency (centre + offset for I/Q; dial +- audio frequency for a receiver's audio), its
// speed and SNR. The engine is the same for kestrix-skim and the window's band map; it has
// no threads and no clocks of its own: stream time is samples / rate.
//
// Threads: one thread at a time calls everything; the listener is called on that thread.
// Memory: the bank, finder and history are sized at construction; decoders are made as
// signals first need them and reused afterwards.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "skim/channelizer.h"
#include "skim/click_blanker.h"
#include "skim/sideband_canceller.h"
#include "skim/signal_finder.h"
#include "soft/soft_decoder.h"

namespace kestrix::skim {

struct SkimmerConfig {
  double inputRate = 192000.0;      // samples per second (complex, or real with `audio`)
  bool audio = false;               // real input: a receiver's audio passband
  double centreHz = 0.0;            // RF of 0 Hz in the input (I/Q) or the dial (audio)
  bool lowerSideband = false;       // audio only: RF = dial - audio frequency
  double loHz = 0.0;                // search range from 0 Hz of the input; both 0: the whole
  double hiHz = 0.0;                // band (I/Q) or 200..3000 Hz (audio)
  double decoderRate = 250.0;       // the channels' sample rate, about
  double chainRate = 125.0;         // the decoders' rate, about: the channels' over a whole number
  double historyS = 4.0;            // channel history a new signal's decoder starts with
  double signalPassHz = 25.0;       // each signal's low-pass: flat to this, 40 dB down at
  double signalStopHz = 50.0;       // this, either side of its carrier
  double audioPassHz = 20.0;        // the same for a receiver's audio, where callers crowd a
  double audioStopHz = 40.0;        // runner closer
  double audioNarrowPassHz = 10.0;  // audio: a signal with another within
  double audioNarrowStopHz = 22.0;  // audioNarrowWithinHz gets this low-pass instead
  double audioNarrowWithinHz = 60.0;  // (0: never)
  double audioMinSpacingHz = 15.0;    // audio: the finder's least spacing of two signals
  double onDb = 6.5;                  // the finder's thresholds (see SignalFinderConfig)
  double offDb = 2.5;
  double retireS = 15.0;
  int maxSignals = 250;
  bool blankClicks = true;      // audio: cut key clicks out of the channels (ClickBlanker)
  bool cancelSidebands = true;  // audio: loud stations' keying sidebands out (SidebandCanceller)
  bool cancelCarriers = true;   // audio: steady carriers out of each signal's baseband
  bool measure = true;          // let FFTW time its plans
  soft::SoftDecoderConfig decoder;  // sampleRate is set from the bank
};

// One piece of decoded text.
struct SkimText {
  uint64_t signal = 0;  // the finder's id, unique per engine
  double timeS = 0.0;   // stream time, seconds
  double freqHz = 0.0;  // RF frequency
  double wpm = 0.0;
  double snrDb = 0.0;  // key-down carrier over the noise in 500 Hz
  std::string text;
};

// A signal being decoded now, for a band map's labels and list.
struct LiveSignal {
  uint64_t signal = 0;
  double freqHz = 0.0;      // RF
  double offsetHz = 0.0;    // from 0 Hz of the input (the audio frequency in audio mode)
  double wpm = 0.0;         // the decoder's estimate, 0 before it has one
  double lastKeyedS = 0.0;  // stream time the station was last heard keying
  bool asleep = false;      // quiet for a while
};

class SkimListener {
 public:
  virtual ~SkimListener() = default;
  virtual void OnSignalStarted(uint64_t /*signal*/, double /*timeS*/, double /*freqHz*/) {}
  virtual void OnText(const SkimText& text) = 0;
  virtual void OnSignalEnded(uint64_t /*signal*/, double /*timeS*/) {}
};

class Skimmer {
 public:
  Skimmer(const SkimmerConfig& config, SkimListener& listener);
  ~Skimmer();
  Skimmer(const Skimmer&) = delete;
  Skimmer& operator=(const Skimmer&) = delete;

  // I/Q input (config.audio false).
  void Process(const std::complex<float>* samples, size_t count);
  // Audio input (config.audio true), full scale 1.0.
  void ProcessReal(const float* samples, size_t count);
  // End of input: every signal is retired and its decoder flushed.
  void Flush();

  // The dial moved (audio with rig control) or the SDR was retuned.
  void SetCentreHz(double hz) { config_.centreHz = hz; }
  void SetLowerSideband(bool lower) { config_.lowerSideband = lower; }
  double CentreHz() const { return config_.centreHz; }
  // RF frequency of `offsetHz` from 0 Hz of the input.
  double RfHz(double offsetHz) const;

  double TimeS() const { return static_cast<double>(samples_) / config_.inputRate; }
  size_t LiveSignals() const { return chains_.size(); }
  // Signals whose decoders run now (the others sleep while their stations are quiet).
  size_t AwakeSignals() const;
  // Every live signal, in order of birth, into `out` (cleared first).
  void LiveSignalsInto(std::vector<LiveSignal>& out) const;
  uint64_t SignalsStarted() const { return started_; }
  const Channelizer& Bank() const { return *bank_; }
  // Channel samples cut out as key clicks so far.
  uint64_t ClicksBlanked() const { return blanker_ ? blanker_->Blanked() : 0; }
  // Loud stations' key edges whose sidebands were subtracted so far.
  uint64_t EdgesCancelled() const { return sidebands_ ? sidebands_->EdgesCancelled() : 0; }
  const SignalFinder& Finder() const { return *finder_; }
  const SkimmerConfig& Config() const { return config_; }

 private:
  struct Chain;
  class FrameRouter;
  template <typename T>
  void Run(const T* samples, size_t count);
  void OnFinderFrame();
  void StartChain(const TrackedSignal& signal);
  void EndChain(size_t index);
  void Tune(Chain& chain, double offsetHz);
  void OnBankFrame(const std::complex<float>* channels);
  void Feed(Chain& chain, const std::complex<float>* channels);
  // A fresh decoder, fed the whole history.
  void Restart(Chain& chain);
  // Feeds the last `frames` frames of the history.
  void Replay(Chain& chain, size_t frames);
  void Drain(Chain& chain, bool flush);

  SkimmerConfig config_;
  SkimListener& listener_;
  std::unique_ptr<Channelizer> bank_;
  std::unique_ptr<SignalFinder> finder_;
  std::unique_ptr<FrameRouter> router_;
  std::unique_ptr<ClickBlanker> blanker_;
  std::unique_ptr<SidebandCanceller> sidebands_;
  std::vector<float> audio_;                     // a piece of audio on its way through sidebands_
  std::vector<std::pair<double, double>> loud_;  // loud carriers: SNR, Hz
  std::vector<double> loudHz_;                   // the loudest of them, for sidebands_
  std::vector<float> signalTaps_;
  std::vector<float> narrowTaps_;             // audio: for a signal with a close neighbour
  size_t lineTaps_ = 0;                       // the longer of the two, the chains' delay lines
  int decimation_ = 1;                        // bank samples per decoder sample
  std::vector<std::complex<float>> history_;  // ring of bank frames, historyFrames_ x M
  size_t historyFrames_ = 0;
  size_t historyHead_ = 0;    // next frame slot
  size_t historyFilled_ = 0;  // frames held
  std::vector<std::unique_ptr<Chain>> chains_;
  std::vector<std::unique_ptr<Chain>> pool_;
  int64_t samples_ = 0;
  uint64_t started_ = 0;
  std::string textScratch_;
};

}  // namespace kestrix::skim
