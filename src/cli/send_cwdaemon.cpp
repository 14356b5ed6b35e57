#include "cli/send_cwdaemon.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <exception>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/monotonic_wait.h"
#include "transmit/morse_send_table.h"
#include "transmit/port_keyer.h"
#include "transmit/tone_output.h"
#include "transmit/tone_synth.h"

namespace kestrix::cli {

namespace {

bool ParsePortNumber(std::string_view text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v > 65535) return false;
  port = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

bool ParseUdpPort(std::string_view text, uint16_t& port, std::string& error) {
  if (!ParsePortNumber(text, port)) {
    error = "--udp-port: \"" + std::string(text) + "\" is not a port number 0..65535";
    return false;
  }
  return true;
}

bool ParseListenAddress(std::string_view text, std::string& address, uint16_t& port,
                        std::string& error) {
  auto bad = [&](const char* why) {
    error = "--listen: \"" + std::string(text) + "\" " + why +
            " (expected ADDR:PORT, e.g. 127.0.0.1:6789 or [::1]:6789)";
    return false;
  };
  std::string_view host = text;
  std::string_view portText;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return bad("has no closing ']'");
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return bad("has text after ']'");
      portText = rest.substr(1);
      if (portText.empty()) return bad("has no port after ':'");
    }
  } else {
    const size_t colon = text.rfind(':');
    if (colon != std::string_view::npos) {
      if (text.find(':') != colon) return bad("is an IPv6 address without brackets");
      host = text.substr(0, colon);
      portText = text.substr(colon + 1);
      if (portText.empty()) return bad("has no port after ':'");
    }
  }
  if (host.empty()) return bad("has no address");
  uint16_t p = port;
  if (!portText.empty() && !ParsePortNumber(portText, p)) return bad("has a bad port");
  address = std::string(host);
  port = p;
  return true;
}

namespace {

// The server until `stop`, ESC 5 or `failed()`: on the key line, or with `sound` set on the
// sound card with the tone timing in `toneTiming`.
int Serve(const CwdaemonOptions& options, transmit::KeyLine& line, transmit::Waiter& waiter,
          std::atomic<uint8_t>& keyState, transmit::SendKeyers* sound,
          transmit::ElementTiming* toneTiming, std::function<void()> abortTone,
          const std::function<bool()>& failed, std::atomic<bool>& stop, transmit::LineLog& log) {
  using namespace transmit;
  CwdaemonKeyerOptions keyerOptions;
  keyerOptions.startWpm = options.wpm;
  keyerOptions.ratios = options.ratios;
  keyerOptions.startToneHz = options.toneHz;
  keyerOptions.queueCapacity = options.queueCapacity;
  keyerOptions.setTone = options.setTone;
  keyerOptions.sound = sound;
  keyerOptions.toneTiming = toneTiming;
  keyerOptions.abortOutput = std::move(abortTone);
  keyerOptions.text = options.text;
  if (options.text && !keyerOptions.abortOutput) {
    transmit::TextKeyer* text = options.text;
    keyerOptions.abortOutput = [text] { text->Stop(); };
  }
  keyerOptions.ptt = options.ptt;
  keyerOptions.startPttDelayMs = options.pttDelayMs;
  keyerOptions.pttTailMs = options.pttTailMs;
  CwdaemonKeyer keyer(line, waiter, keyState, log, keyerOptions);
  CwdaemonServer server(keyer, log);

  keyer.Start();
  std::string error;
  if (!server.Start({options.listenAddress, options.udpPort}, error)) {
    log.Line(error);
    return 1;  // the keyer's destructor keys up
  }
  log.Line("listening on " + options.listenAddress + " UDP port " + std::to_string(server.Port()) +
           ", " + std::to_string(options.wpm) + " wpm" +
           (options.text ? ", keying through " + options.textName : std::string()) +
           (options.ptt ? ", PTT " + options.pttName : std::string()));
  if (options.onListening) options.onListening(server.Port());

  // Ctrl-C arrives as `stop`; ESC 5 as the keyer's exit request. 20 ms is far below
  // anything an operator notices and costs nothing.
  while (!stop.load() && !keyer.ExitRequested() && !failed())
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const bool exitRequested = keyer.ExitRequested();
  server.Stop();  // no new requests, no more echoes
  keyer.Stop();   // abort, join, key up, PTT released
  if (failed()) return 1;
  if (exitRequested) log.Line("exit requested by the logger");
  return 0;
}

// A run without a keying line: the sound card's. Tune has nothing to key.
class NoKeyLine final : public transmit::KeyLine {
 public:
  void SetKeyLine(uint8_t) override {}
};

// The sound-card keyers once more, with two rules for a device that has failed: nothing
// more is streamed (the tone keyer sees to that), and the character that met the failure
// does not return until the server stops. Its message then never counts as keyed, so no
// caret echo or "h" reply claims a message the card did not play.
class ServerToneKeyers final : public transmit::SendKeyers {
 public:
  ServerToneKeyers(transmit::ToneOutput& tone, transmit::PortKeyer& port, SendToneHost& host)
      : tone_(tone), port_(port), host_(host) {}
  void SendCharToPort(uint8_t code) override { port_.SendCharToPort(code); }
  void SoundKeyChar(uint8_t code, int32_t firstBlock) override {
    if (!host_.Failed()) tone_.SoundKeyChar(code, firstBlock);
    if (host_.Failed()) stopped_.wait(false);
  }
  void SoundKeyBuffer(const char* text, int32_t& position,
                      const std::atomic<uint8_t>& stopRequested) override {
    if (!host_.Failed()) tone_.SoundKeyBuffer(text, position, stopRequested);
    if (host_.Failed()) stopped_.wait(false);
  }
  // Called by the keyer's Stop only (ESC 4 aborts the tone output directly).
  void AbortTone() override {
    tone_.AbortTone();
    stopped_.store(true);
    stopped_.notify_all();
  }

 private:
  transmit::ToneOutput& tone_;
  transmit::PortKeyer& port_;
  SendToneHost& host_;
  std::atomic<bool> stopped_{false};
};

// The keyer's waits on a device without a clock (a WAV file): silence of the same length
// written to the device, 44.1 samples per millisecond as a card would play it, the tenths
// carried from one wait to the next. Keyer thread only, between the tone keyer's runs.
class SilenceWaiter final : public transmit::Waiter {
 public:
  SilenceWaiter(PlaybackDevice& device, transmit::ToneHost& host) : device_(device), host_(host) {}
  void WaitMs(int32_t ms) override {
    if (ms <= 0 || failed_) return;
    tenths_ += static_cast<int64_t>(ms) * 441;  // samples x 10
    int64_t samples = tenths_ / 10;
    tenths_ %= 10;
    while (samples > 0) {
      const int64_t n = std::min<int64_t>(samples, transmit::kToneBlockSamples);
      header_.Set(zeros_.data(), static_cast<uint32_t>(2 * n));
      if (device_.Prepare(header_) != kPlaybackOk || device_.Write(header_) != kPlaybackOk ||
          device_.Unprepare(header_) != kPlaybackOk) {
        failed_ = true;
        host_.ShowMessage(transmit::kWaveDeviceMessageTitle, transmit::kToneWriteText[0]);
        host_.HandleWaveError(transmit::kToneWriteError);
        return;
      }
      samples -= n;
    }
  }

 private:
  PlaybackDevice& device_;
  transmit::ToneHost& host_;
  std::array<uint8_t, 2 * transmit::kToneBlockSamples> zeros_{};
  PlaybackHeader header_;
  int64_t tenths_ = 0;
  bool failed_ = false;
};

}  // namespace

int RunCwdaemon(const CwdaemonOptions& options, transmit::KeyLine& line, std::atomic<bool>& stop,
                std::ostream& err) {
  platform::MonotonicWaiter waiter;
  return RunCwdaemon(options, line, waiter, nullptr, stop, err);
}

int RunCwdaemon(const CwdaemonOptions& options, transmit::KeyLine& line, transmit::Waiter& waiter,
                transmit::SendKeyers* soundKeyers, std::atomic<bool>& stop, std::ostream& err) {
  using namespace transmit;
  LineLog log(err);
  line.SetKeyLine(kKeyUp);
  if (options.ptt) options.ptt->SetPtt(false);
  try {
    ElementTiming toneTiming;
    std::atomic<uint8_t> keyState{kKeyUp};
    std::function<void()> abortTone;
    if (soundKeyers) abortTone = [soundKeyers] { soundKeyers->AbortTone(); };
    return Serve(
        options, line, waiter, keyState, soundKeyers, soundKeyers ? &toneTiming : nullptr,
        abortTone, [] { return false; }, stop, log);
  } catch (const std::exception& e) {
    line.SetKeyLine(kKeyUp);
    if (options.ptt) options.ptt->SetPtt(false);
    log.Line(std::string("stopped: ") + e.what());
    return 1;
  }
}

int RunCwdaemonToneOn(PlaybackDevice& device, int deviceIndex, ToneClock clock,
                      const CwdaemonOptions& options, const ToneSendOptions& tone,
                      std::atomic<bool>& stop, std::ostream& err) {
  using namespace transmit;
  if (!CheckToneOptions(tone, err)) return kToneSendUsage;
  LineLog log(err);
  NoKeyLine line;
  SendToneHost host(device);
  // The tone keyer's own log: the reason is on the host's line already, and this stream is
  // written only by the keyer thread (and by Close once it has ended).
  std::ostringstream quiet;
  int status = 0;
  try {
    ElementTiming timing;
    std::atomic<uint8_t> keyState{kKeyUp};
    platform::MonotonicWaiter clockWaiter;
    DeadlineWatchdog watchdog(&DeadlineWatchdog::SteadyMs, nullptr);
    // Network keying's character set (the window's table keys '%' and lacks '<', '>', ...).
    ToneOutput output(device, NetworkSendTable(), timing, clockWaiter, watchdog, host, quiet);
    ApplyToneOptions(tone, output);
    if (!output.OpenToneOutput(deviceIndex)) {
      err << host.TakeLines();
      return kToneSendDeviceError;
    }
    SilenceWaiter silence(device, host);
    Waiter& waiter = clock == ToneClock::kFile ? static_cast<Waiter&>(silence) : clockWaiter;
    PortKeyer port(NetworkSendTable(), timing, line, waiter, keyState);
    ServerToneKeyers keyers(output, port, host);

    CwdaemonOptions c = options;
    // ESC 0 comes back to the start: --silent starts silent, and the start pitch is kept
    // exactly (the request carries whole Hz).
    const float startHz = tone.toneHz;
    const int startWhole = static_cast<int>(std::lround(startHz));
    c.toneHz = tone.silent ? 0 : startWhole;
    c.setTone = [&output, &options, startHz, startWhole](int hz) {
      if (hz > 0) output.SideToneFrequency = hz == startWhole ? startHz : static_cast<float>(hz);
      output.SideToneEnabled = hz > 0 ? 1 : 0;
      if (options.setTone) options.setTone(hz);
    };
    status = Serve(
        c, line, waiter, keyState, &keyers, &timing, [&output] { output.AbortTone(); },
        [&] { return host.Failed(); }, stop, log);
    // Closed here rather than by the keyer, so that a WAV file that cannot be finished is
    // reported.
    if (device.Close() != kPlaybackOk && !host.Failed()) {
      err << "kestrix-send: " << device.LastError() << '\n';
      status = kToneSendDeviceError;
    }
  } catch (const std::exception& e) {
    log.Line(std::string("stopped: ") + e.what());
    status = 1;
  }
  err << host.TakeLines();
  return status;
}

int RunCwdaemonTone(const CwdaemonOptions& options, const ToneSendOptions& tone,
                    std::atomic<bool>& stop, std::ostream& err) {
  if (!CheckToneOptions(tone, err)) return kToneSendUsage;
  int index = 0;
  const std::unique_ptr<PlaybackDevice> device = ChoosePlayback(tone, index, err);
  if (!device) return kToneSendDeviceError;
  return RunCwdaemonToneOn(*device, index,
                           tone.wavPath.empty() ? ToneClock::kRealTime : ToneClock::kFile, options,
                           tone, stop, err);
}

}  // namespace kestrix::cli
