#include "cli/decode_session.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "decoder/cp1252.h"
#include "platform/audio_file.h"

namespace kestrix {

void ApplyStartOptions(Receiver& rx, const DecodeOptions& o) {
  // Stored settings are applied in the order the settings file holds them.
  if (o.gain) rx.Gain.SetSignalGainPosition(*o.gain);
  if (o.bar) rx.SetFrequencyBar(*o.bar);
  if (o.letterCase) rx.Options.Case = *o.letterCase;
  if (o.speed) rx.SetReceiveSpeed(*o.speed, false);
  if (o.spaces) rx.Options.WordSpaces = *o.spaces ? kOn3 : 0;
  if (o.spaceTime) rx.Options.Spacing = *o.spaceTime;
  if (o.afc) rx.SetAfcMode(*o.afc);
  if (o.threshold) rx.SetThresholdMode(*o.threshold);
  if (o.noiseFilter) rx.SetNoiseFilter(*o.noiseFilter);
  if (o.dispGain) rx.Gain.SetCoarseTrackPosition(*o.dispGain);
  if (o.channel) rx.Capture.SetChannel(*o.channel);
  if (o.prosigns) rx.Options.Prosigns = *o.prosigns ? 1 : 0;
  if (o.nonEnglish) rx.Options.NonEnglish = *o.nonEnglish ? 1 : 0;
  if (o.manualLevel) rx.SetThresholdBar2(*o.manualLevel);

  // First Timer1 tick: Text-mode setup, then the learning restart it schedules.
  rx.TextModeSetup();
  rx.RestartLearning();
}

int ApplyToneClick(Receiver& rx, const DecodeOptions& o) {
  if (!o.toneHz || *o.toneHz <= 0.0) return 0;
  const int position = ToneClickPosition(*o.toneHz);
  rx.SpectrumClick(position);
  return position;
}

DecodeSession::DecodeSession(const DecodeOptions& options,
                             std::function<void(std::string_view)> output)
    : options_(options), output_(std::move(output)) {
  rx_ = std::make_unique<Receiver>(*static_cast<TextSink*>(this), static_cast<ReceiverSink*>(this));
  Receiver& rx = *rx_;
  ApplyStartOptions(rx, options_);
  // START.
  rx.StartValues();

  packer_ = CaptureBlockPacker(rx.Capture.Format.Channels);
  if (options_.toneHz) {
    tuned_ = true;
    tunedPosition_ = ApplyToneClick(rx, options_);
  }
}

DecodeSession::~DecodeSession() = default;

bool DecodeSession::OpenTrace(const std::string& path, std::string& error) {
  trace_.open(path, std::ios::out | std::ios::trunc);
  if (!trace_) {
    error = "cannot write trace file '" + path + "'";
    return false;
  }
  trace_ << "block,FrequencyBar,ToneBin,SquelchRatio,NoiseFloor,PeakLevel,Threshold,IdleFlag,"
            "Learning,SpeedWpm,RawWpm,AvgDot,AvgDash,PeakFreq,Text\n";
  return true;
}

void DecodeSession::Feed(const int16_t* frames, int count, int channels) {
  packer_.Feed(frames, static_cast<size_t>(std::max(count, 0)), channels,
               [this](const CaptureBlock& block) { QueueBlock(block); });
}

void DecodeSession::Finish() {
  // Silence after the recording, as a receiver hears after the sender stops, so that the
  // last character and word are finished.
  packer_.Finish(static_cast<int>(options_.flushSeconds * 44100.0),
                 [this](const CaptureBlock& block) { QueueBlock(block); });
  if (!tuned_) Tune();
}

void DecodeSession::QueueBlock(const CaptureBlock& block) {
  if (tuned_) {
    Process(block.data());
    return;
  }
  held_.push_back(block);
  if (static_cast<int>(held_.size()) >= kAutoTuneBlocks) Tune();
}

void DecodeSession::Tune() {
  tuned_ = true;
  const int position = FindTone(held_, rx_->Capture.Channel);
  if (position > 0) {
    tunedPosition_ = position;
    rx_->SpectrumClick(tunedPosition_);
  }
  for (const auto& block : held_) Process(block.data());
  held_.clear();
}

void DecodeSession::Process(const uint8_t* block) {
  blockText_.clear();
  rx_->ProcessTextBlock(block);
  ++blocks_;
  if (!blockText_.empty() && output_) output_(blockText_);
}

void DecodeSession::InsertText(const char* bytes, size_t length) {
  blockText_.append(bytes, length);
}

void DecodeSession::PeakFrequencyShown(int hz) {
  peakShown_ = std::to_string(hz);
}

void DecodeSession::BlockFinished(const Receiver& rx) {
  if (!trace_.is_open()) return;
  std::string text = Cp1252ToUtf8(blockText_);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  trace_ << blocks_ << ',' << rx.FrequencyBar << ',' << rx.Tone.ToneBin << ',' << rx.Sq.SquelchRatio
         << ',' << rx.Detector.NoiseFloor << ',' << rx.Detector.PeakLevel << ','
         << rx.Detector.Threshold << ',' << int{rx.Detector.IdleFlag} << ','
         << (rx.Timing.Learning ? 1 : 0) << ',' << rx.Timing.SpeedWpm << ',' << rx.Timing.RawWpm
         << ',' << rx.Timing.AvgDot << ',' << rx.Timing.AvgDash << ',' << peakShown_ << ','
         << quoted << '\n';
}

int RunDecode(const DecodeOptions& options, std::ostream& out, std::string& error) {
  RecordingReader reader;
  if (!reader.Open(options.input, 44100, error)) return kExitInputError;

  DecodeSession session(options, [&out](std::string_view text) {
    out << Cp1252ToUtf8(text);
    out.flush();
  });
  if (!options.tracePath.empty() && !session.OpenTrace(options.tracePath, error)) {
    return kExitInputError;
  }
  const int channels = reader.Channels();
  std::vector<int16_t> frames(static_cast<size_t>(4096 * channels));
  for (;;) {
    const int got = reader.Read(frames.data(), 4096);
    if (got <= 0) break;
    session.Feed(frames.data(), got, channels);
  }
  session.Finish();
  out << '\n';
  out.flush();
  return kExitOk;
}

}  // namespace kestrix
