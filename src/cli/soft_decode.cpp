#include "cli/soft_decode.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <span>
#include <vector>

#include "cli/decode_session.h"
#include "decoder/cp1252.h"
#include "platform/audio_file.h"
#include "receive/capture_format.h"
#include "receive/tone.h"
#include "receive/tone_finder.h"
#include "soft/soft_decoder.h"
#include "soft/station_channel.h"

namespace kestrix {

SoftHints SoftHintsFrom(const DecodeOptions& options) {
  SoftHints hints;
  if (options.speed) {
    switch (*options.speed) {
      case ReceiveSpeed::k10:
        hints.wpm = 10;
        break;
      case ReceiveSpeed::k20:
        hints.wpm = 20;
        break;
      case ReceiveSpeed::k30:
        hints.wpm = 30;
        break;
      case ReceiveSpeed::k50Plus:
        hints.wpm = 50;
        break;
      default:
        break;
    }
  }
  hints.upperCase = options.letterCase && *options.letterCase == LetterCase::kUpper;
  return hints;
}

namespace {

// The channel decoded: left (or mono) unless --channel right.
int PickChannel(const DecodeOptions& options, int channels) {
  return channels == 2 && options.channel && *options.channel == ChannelMode::kRight ? 1 : 0;
}

constexpr int kRate = 44100;
// Rounds of kAutoTuneBlocks blocks looked at for a tone that stands out (about a minute).
constexpr int kMaxTuneRounds = 10;

// One round of tuning on `count` samples (a round's worth, or what is left): the window's
// tone finder's pick (0: none) and whether a tone stands out there.
struct TuneRound {
  int position = 0;
  bool standsOut = false;
};

TuneRound Tune(const float* x, size_t count) {
  ToneFinder finder(kAutoTuneBlocks);
  std::vector<int32_t> block(kBlockFrames);
  for (size_t i = 0; i + kBlockFrames <= count; i += kBlockFrames) {
    for (int k = 0; k < kBlockFrames; ++k)
      block[static_cast<size_t>(k)] = static_cast<int32_t>(std::lround(x[i + k] * 32768.0F));
    finder.Add(block.data());
  }
  TuneRound round;
  round.position = finder.ClickPosition();
  round.standsOut =
      round.position > 0 && soft::ToneStandsOut(x, count, kRate, (round.position - 1) * kBinHz);
  return round;
}

double ToneOfPosition(int position) {
  return position > 0 ? (position - 1) * kBinHz : 700.0;
}

// The tone a soft reading starts on: the tone finder's pick in the first round of
// kAutoTuneBlocks blocks where a tone stands out, else in the first round. `fill(n)` is
// asked for the first n samples before a round is looked at and returns the samples it
// has (fewer at the end of the input).
template <typename Fill>
double TuneRounds(Fill&& fill) {
  const size_t roundSamples = static_cast<size_t>(kAutoTuneBlocks) * kBlockFrames;
  int firstPick = 0;
  for (int round = 0; round < kMaxTuneRounds; ++round) {
    const size_t from = static_cast<size_t>(round) * roundSamples;
    const std::span<const float> have = fill(from + roundSamples);
    if (have.size() <= from && round > 0) break;
    const size_t end = std::min(have.size(), from + roundSamples);
    const TuneRound r = Tune(have.data() + std::min(from, end), end - std::min(from, end));
    if (round == 0) firstPick = r.position;
    if (r.standsOut) return ToneOfPosition(r.position);
  }
  return ToneOfPosition(firstPick);
}

// The decoder's front end: with a tone given, the station at that tone through a narrow
// channel that follows its carrier; with the tone found here, the wider channel.
class SoftFront {
 public:
  SoftFront(double toneHz, bool given, const soft::SoftDecoderConfig& config) {
    if (given) {
      narrow_ = std::make_unique<soft::StationChannel>(kRate, toneHz, config);
    } else {
      wide_ = std::make_unique<soft::AudioSoftDecoder>(kRate, toneHz, config);
    }
  }
  void Process(const float* audio, size_t count) {
    if (narrow_) {
      narrow_->Process(audio, count);
    } else {
      wide_->Process(audio, count);
    }
  }
  void Flush() { narrow_ ? narrow_->Flush() : wide_->Flush(); }
  size_t TakeText(std::string& out) {
    return narrow_ ? narrow_->TakeText(out) : wide_->TakeText(out);
  }
  soft::SoftDecoder& Decoder() { return narrow_ ? narrow_->Decoder() : wide_->Decoder(); }

 private:
  std::unique_ptr<soft::AudioSoftDecoder> wide_;
  std::unique_ptr<soft::StationChannel> narrow_;
};

}  // namespace

double SoftToneHz(const float* mono, size_t count) {
  return TuneRounds([=](size_t) { return std::span<const float>(mono, count); });
}

soft::SoftDecoderConfig SoftConfigFrom(const DecodeOptions& options) {
  soft::SoftDecoderConfig config;
  const SoftHints hints = SoftHintsFrom(options);
  config.initialWpm = hints.wpm;
  config.upperCase = hints.upperCase;
  return config;
}

std::string SoftReadFrames(const std::vector<int16_t>& frames, int channels, double toneHz,
                           const DecodeOptions& options, double* snrDb) {
  const int pick = PickChannel(options, channels);
  const size_t count = frames.size() / static_cast<size_t>(channels);
  std::vector<float> mono(count);
  for (size_t i = 0; i < count; ++i) {
    mono[i] =
        static_cast<float>(frames[i * static_cast<size_t>(channels) + static_cast<size_t>(pick)]) /
        32768.0F;
  }
  const bool given = toneHz > 0.0;
  if (!given) toneHz = SoftToneHz(mono.data(), mono.size());
  SoftFront decoder(toneHz, given, SoftConfigFrom(options));
  std::vector<double> heard;  // SNR each second the signal was heard
  for (size_t at = 0; at < mono.size(); at += kRate) {
    decoder.Process(mono.data() + at, std::min<size_t>(kRate, mono.size() - at));
    const soft::SoftSignalState state = decoder.Decoder().State();
    if (state.active) heard.push_back(state.snrDb);
  }
  decoder.Flush();
  if (snrDb != nullptr) {
    *snrDb = -99.0;
    if (!heard.empty()) {
      std::nth_element(heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(heard.size() / 2),
                       heard.end());
      *snrDb = heard[heard.size() / 2];
    }
  }
  std::string text;
  decoder.TakeText(text);
  return text;
}

int RunSoftDecode(const DecodeOptions& options, std::ostream& out, std::string& error) {
  RecordingReader reader;
  if (!reader.Open(options.input, kRate, error)) return kExitInputError;
  const int channels = reader.Channels();
  const int pick = PickChannel(options, channels);

  // The first seconds are held until the tone is known. A recording may open with noise:
  // while nothing stands out, the next seconds are looked at too (up to a minute; the
  // decoder itself skips the noise before the tone).
  std::vector<float> held;
  std::vector<int16_t> frames(static_cast<size_t>(4096 * channels));
  double toneHz = options.toneHz.value_or(0.0);
  const bool given = toneHz > 0.0;
  if (!given) {
    // Rounds are read only as far as needed, so a live stream is tuned as soon as it can be.
    bool ended = false;
    toneHz = TuneRounds([&](size_t wanted) {
      while (!ended && held.size() < wanted) {
        const int got = reader.Read(frames.data(), 4096);
        if (got <= 0) {
          ended = true;
          break;
        }
        for (int i = 0; i < got; ++i)
          held.push_back(static_cast<float>(frames[static_cast<size_t>(i * channels + pick)]) /
                         32768.0F);
      }
      return std::span<const float>(held);
    });
  }

  SoftFront decoder(toneHz, given, SoftConfigFrom(options));
  std::string text;
  auto emit = [&] {
    text.clear();
    if (decoder.TakeText(text) > 0) {
      out << Cp1252ToUtf8(text);
      out.flush();
    }
  };
  decoder.Process(held.data(), held.size());
  emit();
  std::vector<float> mono(4096);
  for (;;) {
    const int got = reader.Read(frames.data(), 4096);
    if (got <= 0) break;
    for (int i = 0; i < got; ++i) {
      mono[static_cast<size_t>(i)] =
          static_cast<float>(frames[static_cast<size_t>(i * channels + pick)]) / 32768.0F;
    }
    decoder.Process(mono.data(), static_cast<size_t>(got));
    emit();
  }
  decoder.Flush();
  emit();
  out << '\n';
  out.flush();
  return kExitOk;
}

}  // namespace kestrix
