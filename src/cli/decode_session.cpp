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

  block_.assign(static_cast<size_t>(kBlockFrames) * rx.Capture.Format.BlockAlign, 0);
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
  const bool stereo = rx_->Capture.Format.Channels == 2;
  auto put = [&](size_t index, int16_t v) {
    block_[2 * index] = static_cast<uint8_t>(static_cast<uint16_t>(v) & 0xFF);
    block_[2 * index + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
  };
  for (int i = 0; i < count; ++i) {
    const int16_t* f = frames + static_cast<ptrdiff_t>(i) * channels;
    const size_t at = static_cast<size_t>(filled_);
    if (stereo) {
      put(2 * at, f[0]);
      put(2 * at + 1, channels > 1 ? f[1] : f[0]);
    } else {
      // A mono capture of a stereo source hears both channels.
      put(at, channels > 1 ? static_cast<int16_t>((f[0] + f[1]) / 2) : f[0]);
    }
    if (++filled_ == kBlockFrames) QueueBlock();
  }
}

void DecodeSession::Finish() {
  const int flushFrames = static_cast<int>(options_.flushSeconds * 44100.0);
  if (filled_ > 0 || flushFrames > 0) {
    // Silence after the recording, as a receiver hears after the sender stops, so that
    // the last character and word are finished. The partial block is completed with it.
    int remaining = std::max(flushFrames, 0);
    std::fill(block_.begin() + static_cast<ptrdiff_t>(filled_) * rx_->Capture.Format.BlockAlign,
              block_.end(), 0);
    remaining -= kBlockFrames - filled_;
    filled_ = 0;
    QueueBlock();
    std::fill(block_.begin(), block_.end(), 0);
    while (remaining > 0) {
      QueueBlock();
      remaining -= kBlockFrames;
    }
  }
  if (!tuned_) Tune();
}

void DecodeSession::QueueBlock() {
  filled_ = 0;
  if (tuned_) {
    Process(block_.data());
    return;
  }
  held_.push_back(block_);
  if (static_cast<int>(held_.size()) >= kAutoTuneBlocks) Tune();
}

void DecodeSession::Tune() {
  tuned_ = true;
  ToneFinder finder(static_cast<int>(held_.size()));
  std::vector<int32_t> samples(kBlockFrames);
  for (const auto& block : held_) {
    ConvertSamples(block.data(), rx_->Capture.Channel, kBlockFrames, samples.data());
    finder.Add(samples.data());
  }
  const int position = finder.ClickPosition();
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
