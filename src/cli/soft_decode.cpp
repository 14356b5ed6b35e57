#include "cli/soft_decode.h"

#include <vector>

#include "cli/decode_session.h"
#include "decoder/cp1252.h"
#include "platform/audio_file.h"
#include "receive/capture_format.h"
#include "receive/tone.h"
#include "receive/tone_finder.h"
#include "soft/soft_decoder.h"

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

}  // namespace

soft::SoftDecoderConfig SoftConfigFrom(const DecodeOptions& options) {
  soft::SoftDecoderConfig config;
  const SoftHints hints = SoftHintsFrom(options);
  config.initialWpm = hints.wpm;
  config.upperCase = hints.upperCase;
  return config;
}

std::string SoftReadFrames(const std::vector<int16_t>& frames, int channels, double toneHz,
                           const DecodeOptions& options) {
  const int pick = PickChannel(options, channels);
  const size_t count = frames.size() / static_cast<size_t>(channels);
  std::vector<float> mono(count);
  for (size_t i = 0; i < count; ++i) {
    mono[i] =
        static_cast<float>(frames[i * static_cast<size_t>(channels) + static_cast<size_t>(pick)]) /
        32768.0F;
  }
  soft::AudioSoftDecoder decoder(44100, toneHz, SoftConfigFrom(options));
  decoder.Process(mono.data(), mono.size());
  decoder.Flush();
  std::string text;
  decoder.TakeText(text);
  return text;
}

int RunSoftDecode(const DecodeOptions& options, std::ostream& out, std::string& error) {
  constexpr int kRate = 44100;
  RecordingReader reader;
  if (!reader.Open(options.input, kRate, error)) return kExitInputError;
  const int channels = reader.Channels();
  const int pick = PickChannel(options, channels);

  // The first seconds are held until the tone is known. A recording may open with noise:
  // while nothing stands out, the next seconds are looked at too (up to a minute; the
  // decoder itself skips the noise before the tone).
  constexpr int kMaxTuneRounds = 10;
  std::vector<float> held;
  std::vector<int16_t> frames(static_cast<size_t>(4096 * channels));
  double toneHz = options.toneHz.value_or(0.0);
  if (toneHz <= 0.0) {
    std::vector<int32_t> block(kBlockFrames);
    int position = 0;
    int firstPick = 0;
    bool ended = false;
    for (int round = 0; round < kMaxTuneRounds && position == 0 && !ended; ++round) {
      const size_t from = held.size();
      ToneFinder finder(kAutoTuneBlocks);
      int filled = 0;
      while (finder.Blocks() < kAutoTuneBlocks) {
        const int got = reader.Read(frames.data(), 4096);
        if (got <= 0) {
          ended = true;
          break;
        }
        for (int i = 0; i < got; ++i) {
          const int16_t v = frames[static_cast<size_t>(i * channels + pick)];
          held.push_back(static_cast<float>(v) / 32768.0F);
          block[static_cast<size_t>(filled++)] = v;
          if (filled == kBlockFrames) {
            finder.Add(block.data());
            filled = 0;
          }
        }
      }
      const int candidate = finder.ClickPosition();
      if (round == 0) firstPick = candidate;
      if (candidate > 0 && soft::ToneStandsOut(held.data() + from, held.size() - from, kRate,
                                               (candidate - 1) * kBinHz))
        position = candidate;
    }
    if (position == 0) position = firstPick;
    toneHz = position > 0 ? (position - 1) * kBinHz : 700.0;
  }

  soft::AudioSoftDecoder decoder(kRate, toneHz, SoftConfigFrom(options));
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
