// The receive chain of one capture block, GUI-free: the TEXT pass from a completed
// capture buffer to decoded text, the MANUAL pass (spectrum only), and the handlers that
// change the chain's state (tuning, CLEAR, options). The window and kestrix-decode drive
// the very same object, so a recording decodes to the same text in both.
//
// Everything here runs on one thread (the receive loop's, which is the window's GUI
// thread). All arrays are members sized at construction; processing allocates nothing.
#pragma once

#include <array>
#include <cstdint>

#include "decoder/characters.h"
#include "decoder/detector.h"
#include "decoder/noise_filter.h"
#include "decoder/options.h"
#include "decoder/state.h"
#include "decoder/text_sink.h"
#include "decoder/timing.h"
#include "receive/capture_format.h"
#include "receive/level.h"
#include "receive/spectrum.h"
#include "receive/tone.h"

namespace kestrix {

enum class ReceiveMode : int32_t { kScan = 0, kText = 2, kManual = 4 };
enum class DisplayType : int32_t { kLine = 0, kWaterfall = 1 };

class Receiver;

// What a window shows of the chain. Every call comes from inside ProcessTextBlock /
// ProcessManualBlock or a handler; the receiver's public state may be read during it.
class ReceiverSink {
 public:
  virtual ~ReceiverSink() = default;
  // "Peak Freq": truncated Hz, only when the three-bin sum is above 100.
  virtual void PeakFrequencyShown(int /*hz*/) {}
  // The AFC or a click moved the tuning bar.
  virtual void FrequencyBarMoved(int /*position*/) {}
  // The display step has scaled the spectrum: draw it now (Text or Manual mode).
  virtual void SpectrumFrame(const Receiver& /*rx*/) {}
  // A squelch measurement was made ("Squelch =").
  virtual void SquelchMeasured(int /*ratio*/) {}
  // After the detector: AvgSignalCntr and the input level bar.
  virtual void LevelsUpdated(const Receiver& /*rx*/) {}
  // Learn-phase indicator for the ticks of this block ("LEARN" or "DONE").
  virtual void LearnStateShown(bool /*learning*/) {}
  // The detector's per-step series for the timeline window (when it is enabled).
  virtual void TimelineBlock(const Receiver& /*rx*/) {}
  // End of the block: counters and speed labels.
  virtual void BlockFinished(const Receiver& /*rx*/) {}
};

class Receiver {
 public:
  explicit Receiver(TextSink& text, ReceiverSink* sink = nullptr);
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  // Where the read-outs go from now on (null: nowhere).
  void SetSink(ReceiverSink* sink) { sink_ = sink; }

  // --- Blocks ---------------------------------------------------------------
  // TEXT pass over a completed capture buffer (8192 frames in the capture format).
  void ProcessTextBlock(const uint8_t* buffer);
  // MANUAL pass: the first 2048 frames only, spectrum and display, no decoding.
  void ProcessManualBlock(const uint8_t* buffer);

  // --- Handlers -------------------------------------------------------------
  // START's detector start values and the tuned bin.
  void StartValues();
  // The tuning bar; clamps to 1..423.
  void SetFrequencyBar(int position);
  // Click-to-tune at x pixels on the spectrum.
  void SpectrumClick(int x);
  // CLEAR: in Text mode empties the panes and resets the decoder; otherwise nothing here.
  void Clear();
  // The decoder reset CLEAR runs in Text mode.
  void DecoderReset();
  // What choosing Text mode does to the chain: mode, CLEAR. The window then runs
  // RestartLearning from its Timer1 a moment later.
  void TextModeSetup();
  // RestartLearning (run by Timer1 after a switch to Text mode).
  void RestartLearning() { timing_.RestartLearning(); }
  void SetThresholdMode(ThresholdMode mode);
  void SetThresholdBar2(int position);
  // The second threshold bar only re-syncs the manual value from ThresholdBar2.
  void ThresholdBarChange() { SetThresholdBar2(Options.ThresholdBar2Position); }
  void SetNoiseFilter(bool on);
  // Receive speed from the menu; CLEAR runs unless reception was stopped with STOP.
  void SetReceiveSpeed(ReceiveSpeed speed, bool receptionStopped);
  void SetLockWpm(bool on);
  void SetAfcMode(AfcMode mode) { Tone.SetAfcMode(mode); }
  void SetDisplayType(DisplayType type) { Display = type; }

  // --- State (read by the window, the headless tool and the tests) ----------
  CaptureSettings Capture;
  ReceiveMode Mode = ReceiveMode::kText;
  DisplayType Display = DisplayType::kLine;
  int32_t FrequencyBar = kFrequencyBarDefault;
  ReceiveOptions Options;
  ReceiveGain Gain;
  Squelch Sq;
  ToneTracker Tone;
  DetectorState Detector;
  TimingState Timing;
  bool TimelineEnabled = false;

  // Per-block data.
  std::array<int32_t, kSampleBlockSize> SampleBlock{};
  std::array<int32_t, kBlockFrames> RawBlock{};
  PowerSpectrumArray PowerSpectrum;
  std::array<float, kSpectrumBins + 1> SmoothedSpectrum{};  // display memory, index = bin
  std::array<float, kToneBlockSize> ToneBlock{};
  std::array<float, kEnvelopeSize> Envelope{};
  double PeakFrequency = 0.0;
  int64_t PeakSum3 = 0;
  float FilterHalfWidthNow = 0.0f;
  float InputLevel = 0.0f;  // 9.5 ln(NoiseFloor), for the level bar

  const ToneFilter& Filter() const { return filter_; }
  ElementTiming& Timer() { return timing_; }
  KeyingDetector& Keying() { return detector_; }

 private:
  void DisplayStepText();
  void DecodeTicks();

  TextSink& text_;
  ReceiverSink* sink_;
  ReceiverSink nullSink_;
  SpectrumAnalyzer analyzer_;
  ToneFilter filter_;
  EnvelopeDetector envelope_;
  AdaptiveNoiseFilter noiseFilter_;
  KeyingDetector detector_;
  ElementTiming timing_;
  CharacterFinisher finisher_;
};

}  // namespace kestrix
