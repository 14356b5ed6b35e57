#include "receive/receiver.h"

#include <algorithm>
#include <cmath>

namespace kestrix {

Receiver::Receiver(TextSink& text, ReceiverSink* sink)
    : text_(text),
      sink_(sink != nullptr ? sink : &nullSink_),
      detector_(Detector, Timing, Options),
      timing_(Timing, Options),
      finisher_(Timing, timing_, Options, text) {
  // The filter exists before the first block; the startup band is a placeholder that the
  // first block redesigns.
  filter_.DesignBandpass(4.0f / 1024.0f - 0.0034351f, 4.0f / 1024.0f + 0.0034351f);
}

void Receiver::StartValues() {
  detector_.StartValues();
  Tone.ToneBin = FrequencyBar;
  Capture.HalfBufferBytes = static_cast<uint16_t>(Capture.BufferBytes / 2);
}

void Receiver::SetFrequencyBar(int position) {
  FrequencyBar = std::clamp(position, kFrequencyBarMin, kFrequencyBarMax);
  sink_->FrequencyBarMoved(FrequencyBar);
}

void Receiver::SpectrumClick(int x) {
  SetFrequencyBar(x > 480 ? 480 : x);
  const int p = FrequencyBar;
  Tone.MarkerHz = p * 22050 / 4096;
  Detector.IdleFlag = 0;
  Timing.DirectSpeed = true;
  Detector.NoiseFloor *= 0.2;
  Detector.PeakLevel = Detector.NoiseFloor;
  Detector.Threshold = 10.0 * Detector.NoiseFloor;
  Sq.Reset();
  Tone.ToneNorm = Tone.ToneNormSmoothed = (static_cast<float>(p) - 3.0f) / 2024.0f;
  Timing.SpeedWpm = 50;
  Timing.RawWpm = 50;
  Timing.AvgDash = 90;
  Timing.AvgDot = 30;
  filter_.DesignBandpass(Tone.ToneNormSmoothed - 0.00795f, Tone.ToneNormSmoothed + 0.00795f);
  if (Options.LockWpmOn) SetLockWpm(false);
}

void Receiver::TextModeSetup() {
  Mode = ReceiveMode::kText;
  Clear();
}

void Receiver::Clear() {
  if (Mode == ReceiveMode::kText) {
    text_.ClearPanes();
    DecoderReset();
  }
}

void Receiver::DecoderReset() {
  timing_.RestartLearning();
  detector_.LevelReset();
  Sq.Reset();
  Timing.SpeedWpm = 50;
  Timing.RawWpm = 50;
  Timing.DirectSpeed = true;
  Timing.AvgDash = 93;
  Timing.AvgDot = 31;
}

void Receiver::SetThresholdMode(ThresholdMode mode) {
  Options.Threshold = mode;
  if (mode == ThresholdMode::kManual) {
    // The menu first sets the quarter-scale value; the bar handler then replaces it.
    Detector.Threshold = 250000.0 - 250.0 * Options.ThresholdBar2Position;
    SetThresholdBar2(Options.ThresholdBar2Position);
  }
  Clear();
}

void Receiver::SetThresholdBar2(int position) {
  Options.ThresholdBar2Position = std::clamp(position, 0, 250);
  Detector.Threshold = Options.ManualThreshold();
  Detector.T = TruncToInt(Detector.Threshold);
}

void Receiver::SetNoiseFilter(bool on) {
  Options.NoiseFilter = on ? kOn3 : 0;
  if (on) noiseFilter_.Restart();
  Clear();
}

void Receiver::SetReceiveSpeed(ReceiveSpeed speed, bool receptionStopped) {
  Options.Speed = speed;
  if (!receptionStopped) Clear();
}

void Receiver::SetLockWpm(bool on) {
  timing_.SetLockWpm(on, Options);
}

void Receiver::DisplayStepText() {
  const float g = Gain.SpectrumGain;
  if (Display == DisplayType::kLine) {
    for (int j = 1; j <= 422; ++j) {
      PowerSpectrum[j] *= g;
      float& a = SmoothedSpectrum[static_cast<size_t>(j)];
      a = (3.0f * a + PowerSpectrum[j]) * 0.25f;
    }
    Tone.MarkerHz = static_cast<int32_t>((FrequencyBar - 1) * kBinHz);
  } else {
    for (int j = 1; j <= 423; ++j) {
      PowerSpectrum[j] *= g;
      SmoothedSpectrum[static_cast<size_t>(j)] = 6.0f * std::log(PowerSpectrum[j] + 1.0f);
    }
  }
  sink_->SpectrumFrame(*this);
}

void Receiver::ProcessTextBlock(const uint8_t* buffer) {
  ConvertSamples(buffer, Capture.Channel, kBlockFrames, SampleBlock.data());
  std::copy(SampleBlock.begin(), SampleBlock.begin() + kBlockFrames, RawBlock.begin());
  for (int i = 0; i < kSpectrumSize; ++i) {
    // Integer division truncates toward zero, as the averaging must.
    SampleBlock[static_cast<size_t>(i)] =
        (SampleBlock[static_cast<size_t>(2 * i)] + SampleBlock[static_cast<size_t>(2 * i + 1)]) / 2;
  }
  analyzer_.WindowedPowerSpectrum(SampleBlock.data(), PowerSpectrum);

  const int halfRate = static_cast<int>(Capture.Format.SamplesPerSecond / 2);
  PeakFrequency = CalcPeakFrequency(PowerSpectrum, PeakSum3, kSpectrumSize, halfRate, 423);
  if (PeakSum3 > 100) sink_->PeakFrequencyShown(static_cast<int>(PeakFrequency));

  bool resetPeak = false;
  const int bar = Tone.AfcStep(PowerSpectrum, FrequencyBar,
                               AfcInputs{Sq.SquelchCopy, Detector.IdleFlag != 0}, resetPeak);
  if (resetPeak) Detector.PeakLevel = Detector.NoiseFloor;
  if (bar != FrequencyBar) SetFrequencyBar(bar);

  DisplayStepText();

  Tone.Normalise(FrequencyBar);
  if (Options.LockWpmOn) Timing.SpeedWpm = Timing.LockedWpm;

  FilterHalfWidthNow = FilterHalfWidth(Options.Speed, Timing.SpeedWpm, Detector.IdleFlag != 0,
                                       Timing.AvgDot, Timing.AvgDash);
  filter_.DesignBandpass(Tone.ToneNormSmoothed - FilterHalfWidthNow,
                         Tone.ToneNormSmoothed + FilterHalfWidthNow);

  for (int j = 0; j < kToneBlockSize; ++j) {
    int32_t sum = 0;
    for (int i = 0; i < 8; ++i) sum += RawBlock[static_cast<size_t>(8 * j + i)];
    ToneBlock[static_cast<size_t>(j)] = static_cast<float>(sum / 8);
  }
  if (Options.NoiseFilterOn()) noiseFilter_.Process(ToneBlock.data(), kToneBlockSize);

  if (Tone.ToneBin > 25) {
    Sq.Measure(PowerSpectrum, FrequencyBar);
    sink_->SquelchMeasured(Sq.SquelchRatio);
  }

  filter_.Convolve(ToneBlock.data());
  envelope_.Process(ToneBlock.data(), Envelope.data());

  detector_.ProcessBlock(Envelope.data(), Sq.SquelchCopy);
  InputLevel = 9.5f * static_cast<float>(std::log(std::max(Detector.NoiseFloor, 1e-30)));
  sink_->LevelsUpdated(*this);

  DecodeTicks();

  if (TimelineEnabled) sink_->TimelineBlock(*this);
  timing_.PerBlockChecks();
  sink_->BlockFinished(*this);
}

void Receiver::DecodeTicks() {
  bool lastTickLearning = Timing.Learning;
  for (int k = 2; k <= 65; ++k) {
    const bool down = Detector.keys[static_cast<size_t>(k)] != 0;
    if (down) Timing.SpaceState = 0;
    lastTickLearning = Timing.Learning;
    if (Timing.Learning) {
      timing_.LearnStep(down);
    } else {
      timing_.Classify(down);
      finisher_.Step();
    }
    if (Options.SpacesOn()) timing_.WordSpaceStep();
  }
  // The panel is repainted once per block, so it shows what the last tick did.
  sink_->LearnStateShown(lastTickLearning);
}

void Receiver::ProcessManualBlock(const uint8_t* buffer) {
  ConvertSamples(buffer, Capture.Channel, kManualFrames, SampleBlock.data());
  for (int i = 0; i < kSpectrumSize; ++i) {
    // An arithmetic shift rounds toward minus infinity, unlike the TEXT pass's division.
    SampleBlock[static_cast<size_t>(i)] =
        (SampleBlock[static_cast<size_t>(2 * i)] + SampleBlock[static_cast<size_t>(2 * i + 1)]) >>
        1;
  }
  analyzer_.WindowedPowerSpectrum(SampleBlock.data(), PowerSpectrum);
  const float g = Gain.SpectrumGain;
  for (int i = 1; i <= 422; ++i) {
    PowerSpectrum[i] *= g;
    float& a = SmoothedSpectrum[static_cast<size_t>(i)];
    a = (a + PowerSpectrum[i]) * 0.5f;
  }
  sink_->SpectrumFrame(*this);
}

}  // namespace kestrix
