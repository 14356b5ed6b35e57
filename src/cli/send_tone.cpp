#include "cli/send_tone.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/monotonic_wait.h"
#include "platform/portaudio_playback.h"
#include "platform/sound_cards.h"
#include "platform/wav_playback.h"
#include "transmit/tone_output.h"

namespace kestrix::cli {

bool CheckToneOptions(const ToneSendOptions& o, std::ostream& err) {
  if (!(o.toneHz > 0.0f && o.toneHz < 22050.0f)) {
    err << "kestrix-send: --tone must be above 0 and below 22050 Hz\n";
    return false;
  }
  if (o.wpm < transmit::kMinTransmitWpm || o.wpm > transmit::kMaxTransmitWpm) {
    err << "kestrix-send: the speed must be 5..100 wpm\n";
    return false;
  }
  for (float r : {o.ratios.DotRatio, o.ratios.DashRatio, o.ratios.CharRatio, o.ratios.WordRatio}) {
    if (!(r >= 50.0f && r <= 200.0f)) {
      err << "kestrix-send: timing ratios must be 50..200 percent\n";
      return false;
    }
  }
  return true;
}

void SendToneHost::ShowMessage(const std::string& /*title*/, const std::string& text) {
  std::string line = "kestrix-send: " + text;
  const std::string reason = device_.LastError();
  if (!reason.empty()) line += " (" + reason + ")";
  std::lock_guard<std::mutex> lock(mu_);
  lines_ += line + '\n';
}

void SendToneHost::HandleWaveError(int code) {
  if (code != 1) failed_.store(true, std::memory_order_release);
}

std::string SendToneHost::TakeLines() {
  std::lock_guard<std::mutex> lock(mu_);
  std::string lines;
  lines.swap(lines_);
  return lines;
}

bool ParseToneHz(std::string_view text, float& hz, std::string& error) {
  double value = 0.0;
  const std::string s(text);
  std::istringstream in(s);
  in >> value;
  if (s.empty() || in.fail() || !in.eof() || !std::isfinite(value) || value <= 0.0 ||
      value >= 22050.0) {
    error = "--tone: '" + s + "' is not a frequency above 0 and below 22050 Hz";
    return false;
  }
  hz = static_cast<float>(value);
  return true;
}

void ApplyToneOptions(const ToneSendOptions& options, transmit::ToneOutput& tone) {
  tone.SideToneFrequency = options.toneHz;
  tone.ToneWaveform = options.square ? 1 : 0;
  tone.SideToneEnabled = options.silent ? 0 : 1;
  tone.OutputDevice = 0;
}

int RunToneSendOn(PlaybackDevice& device, int deviceIndex, const ToneSendOptions& options,
                  std::string_view text, std::ostream& err) {
  if (!CheckToneOptions(options, err)) return kToneSendUsage;
  transmit::ElementTiming timing;
  transmit::ComputeElementTiming(timing, options.wpm, options.ratios);
  platform::MonotonicWaiter waiter;
  transmit::DeadlineWatchdog watchdog(&transmit::DeadlineWatchdog::SteadyMs, nullptr);
  SendToneHost host(device);
  std::ostringstream quiet;  // the reason is on the message line already
  int status = kToneSendOk;
  {
    transmit::ToneOutput tone(device, transmit::SendTable(), timing, waiter, watchdog, host, quiet);
    ApplyToneOptions(options, tone);
    if (!tone.OpenToneOutput(deviceIndex)) {
      err << host.TakeLines();
      return kToneSendDeviceError;
    }
    const std::string buffer(text.substr(0, text.find('\0')));
    auto stopped = [&] { return options.stop != nullptr && options.stop->load(); };
    // The PTT: up `pttLeadMs` before the first sample; down on every way out below (the
    // guard's destructor covers an exception).
    struct PttGuard {
      transmit::PttLine* ptt = nullptr;
      bool up = false;
      void Release() {
        if (up) ptt->SetPtt(false);
        up = false;
      }
      ~PttGuard() { Release(); }
    } ptt{options.ptt};
    bool& pttUp = ptt.up;
    if (options.ptt != nullptr) {
      if (!options.ptt->SetPtt(true)) {
        options.ptt->SetPtt(false);
        err << "kestrix-send: the PTT could not be raised; nothing keyed\n";
        return kToneSendDeviceError;  // the tone output closes the device
      }
      pttUp = true;
      for (int ms = 0; ms < options.pttLeadMs && !stopped(); ++ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // A watcher ends the tone at its next block on Ctrl-C or a PTT gone away.
    std::atomic<bool> keyed{false};
    std::atomic<bool> pttLost{false};
    std::thread watcher;
    if (options.stop != nullptr || options.pttAlive) {
      watcher = std::thread([&] {
        auto lastCheck = std::chrono::steady_clock::now();
        while (!keyed.load()) {
          if (stopped()) tone.AbortTone();
          const auto now = std::chrono::steady_clock::now();
          if (options.pttAlive && now - lastCheck >= std::chrono::milliseconds(250)) {
            lastCheck = now;
            if (!options.pttAlive()) {
              pttLost.store(true);
              tone.AbortTone();
            }
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      });
    }
    std::atomic<uint8_t> stop{0};
    int32_t position = 0;
    if (!stopped()) tone.SoundKeyBuffer(buffer.c_str(), position, stop);
    keyed.store(true);
    if (watcher.joinable()) watcher.join();
    err << host.TakeLines();
    if (host.Failed() || tone.Failed()) {
      status = kToneSendDeviceError;
    } else if (stopped()) {
      status = 130;
    } else if (pttLost.load()) {
      err << "kestrix-send: the PTT went away; the tone was stopped\n";
      status = kToneSendDeviceError;
    } else if (static_cast<size_t>(position) < buffer.size() || tone.CutRuns() > 0) {
      // Every character may be in the mask while the card stopped playing it halfway:
      // the watchdog ended the run, and that is not a send.
      err << "kestrix-send: the sound card stopped taking samples; ";
      if (tone.CutRuns() > 0) {
        err << "the text was cut short\n";
      } else {
        err << "sent " << position << " of " << buffer.size() << " characters\n";
      }
      status = kToneSendDeviceError;
    }
    if (auto* card = dynamic_cast<PortAudioPlayback*>(&device); card != nullptr) {
      // The last buffer is done when the callback has taken it; the card still has the
      // output latency's worth to play.
      const double tail = card->OutputLatency() + 0.1;
      std::this_thread::sleep_for(std::chrono::duration<double>(tail));
    }
    // Closed here rather than by the keyer, so that a WAV file that cannot be finished
    // is reported.
    const int closed = device.Close();
    if (closed != kPlaybackOk && status == kToneSendOk) {
      err << "kestrix-send: " << device.LastError() << '\n';
      status = kToneSendDeviceError;
    }
    // The last sample has been played: the tail, then the PTT down.
    if (pttUp && status == kToneSendOk) {
      std::this_thread::sleep_for(std::chrono::milliseconds(options.pttTailMs));
    }
    ptt.Release();
  }
  return status;
}

std::unique_ptr<PlaybackDevice> ChoosePlayback(const ToneSendOptions& options, int& index,
                                               std::ostream& err) {
  index = 0;
  if (!options.wavPath.empty()) return std::make_unique<WavPlayback>(options.wavPath);
  auto card = std::make_unique<PortAudioPlayback>();
  if (!card->InitError().empty()) {
    err << "kestrix-send: " << card->InitError() << '\n';
    return nullptr;
  }
  if (!options.device.empty()) {
    std::string error;
    index = ResolveOutputDevice(*card, options.device, error);
    if (index < 0) {
      err << "kestrix-send: " << error << '\n';
      return nullptr;
    }
  } else if (card->DeviceCount() == 0) {
    err << "kestrix-send: " << kNoSoundCardText << '\n';
    return nullptr;
  }
  return card;
}

int RunToneSend(const ToneSendOptions& options, std::string_view text, std::ostream& err) {
  if (!CheckToneOptions(options, err)) return kToneSendUsage;
  int index = 0;
  const std::unique_ptr<PlaybackDevice> device = ChoosePlayback(options, index, err);
  if (!device) return kToneSendDeviceError;
  return RunToneSendOn(*device, index, options, text, err);
}

int ListOutputDevices(std::ostream& out) {
  PortAudioPlayback devices;
  if (!devices.InitError().empty()) {
    out << "kestrix-send: " << devices.InitError() << '\n';
    return kToneSendDeviceError;
  }
  ListSoundCards(devices, out);
  return kToneSendOk;
}

int ResolveOutputDevice(PlaybackDevice& device, const std::string& spec, std::string& error) {
  return ChooseSoundCard(device, spec, error);
}

}  // namespace kestrix::cli
