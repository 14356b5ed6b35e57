#include "cli/live_decode.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "cli/decode_session.h"
#include "cli/soft_decode.h"
#include "decoder/cp1252.h"
#include "platform/file_capture.h"
#include "platform/portaudio_capture.h"
#include "platform/sound_cards.h"
#include "receive/receive_loop.h"
#include "receive/receiver.h"
#include "soft/soft_decoder.h"
#include "transmit/partner_server.h"

namespace kestrix {

namespace {

using Clock = std::chrono::steady_clock;

// The partner server's messages (a refused announcement) as lines on the log.
class PartnerLog final : public transmit::PartnerHost {
 public:
  explicit PartnerLog(std::ostream& log) : log_(log) {}
  void ShowMessage(const std::string& title, const std::string& text) override {
    log_ << "kestrix-decode: " << title << ": " << text << '\n';
    log_.flush();
  }

 private:
  std::ostream& log_;
};

// How long the queued characters may take to reach the partners after the last block.
constexpr int kPartnerDrainMs = 2000;

// The window's part of the receive loop, played by the headless tool: timers on the
// steady clock, message boxes as lines on the log, and the stop conditions checked
// wherever the window would process its events.
class LiveHost final : public ReceiveHost, private TextSink, private ReceiverSink {
 public:
  LiveHost(CaptureDevice& device, int deviceIndex, const DecodeOptions& options, std::ostream& out,
           std::ostream& log, const std::atomic<int>* stop)
      : options_(options),
        out_(out),
        log_(log),
        stop_(stop),
        file_(dynamic_cast<FileCapture*>(&device)),
        portAudio_(dynamic_cast<PortAudioCapture*>(&device)),
        rx_(*static_cast<TextSink*>(this), static_cast<ReceiverSink*>(this)),
        loop_(rx_, device, *this),
        finder_(kAutoTuneBlocks),
        soft_(options.engine == DecodeEngine::kSoft) {
    ApplyStartOptions(rx_, options_);
    rx_.Capture.InputDevice = deviceIndex;
  }

  int Run(std::string& error) {
    if (options_.partner && !StartPartners(error)) return kExitInputError;
    loop_.StartButtonClick();
    if (loop_.QuitRequested() || !stopping_) {
      // A device failure ended reception; its message is on the log already.
      error = lastMessage_.empty() ? "reception ended unexpectedly" : "";
      out_ << '\n';
      out_.flush();
      return kExitInputError;
    }
    Flush();
    if (soft_) FinishSoft();
    out_ << '\n';
    out_.flush();
    DrainPartners();
    ReportLosses();
    return kExitOk;
  }

 private:
  // --- ReceiveHost ------------------------------------------------------------------
  void ProcessMessages() override {
    if (partner_) partner_->Service();
    if (pendingClick_ > 0) {
      rx_.SpectrumClick(pendingClick_);
      pendingClick_ = 0;
    }
    if (!stopping_ && StopWanted()) {
      stopping_ = true;
      // What the card records during STOP's settle time is not wanted anyway.
      lostAtStop_ = LostSoFar();
      loop_.StopButtonClick();
      return;
    }
    const Clock::time_point now = Clock::now();
    for (size_t i = 0; i < timers_.size(); ++i) {
      Timer& t = timers_[i];
      if (!t.armed || now < t.due) continue;
      t.due += t.interval;
      switch (static_cast<LoopTimer>(i)) {
        case LoopTimer::kSystemTimer:
          loop_.SystemTimerTimer();
          break;
        case LoopTimer::kTimeoutTimer:
          loop_.TimeoutTimerTimer();
          break;
        case LoopTimer::kTimeoutTimer2:
          loop_.TimeoutTimer2Timer();
          break;
      }
    }
  }

  void ArmTimer(LoopTimer timer) override {
    Timer& t = timers_[static_cast<size_t>(timer)];
    t.armed = true;
    t.interval = std::chrono::milliseconds(timer == LoopTimer::kSystemTimer ? kSystemTimerMs
                                                                            : kTimeoutTimerMs);
    t.due = Clock::now() + t.interval;
  }

  void DisarmTimer(LoopTimer timer) override { timers_[static_cast<size_t>(timer)].armed = false; }

  void ShowMessage(const std::string& /*title*/, const std::string& text) override {
    lastMessage_ = text;
    if (portAudio_ != nullptr && !portAudio_->LastError().empty()) {
      lastMessage_ += " (" + portAudio_->LastError() + ")";
    } else if (file_ != nullptr && !file_->LastError().empty()) {
      lastMessage_ += " (" + file_->LastError() + ")";
    }
    log_ << "kestrix-decode: " << lastMessage_ << '\n';
    log_.flush();
  }

  void QuitButtonClick() override { loop_.StopButtonClick(); }

  void Sleep(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  void StartValuesApplied() override {
    ApplyToneClick(rx_, options_);
    started_ = Clock::now();
  }

  // --- TextSink / ReceiverSink -----------------------------------------------------------
  // With the soft engine the window's chain still runs the loop, but its text is not
  // shown: the soft decoder's is.
  void InsertText(const char* bytes, size_t length) override {
    if (!soft_) out_ << Cp1252ToUtf8(std::string_view(bytes, length));
  }

  void TableCharacter(char c) override {
    if (partner_ && !soft_) partner_->PostDecodedChar(std::string_view(&c, 1));
  }
  void ProsignLetter(char c) override {
    if (partner_ && !soft_) partner_->PostDecodedChar(std::string_view(&c, 1));
  }

  void BlockFinished(const Receiver& rx) override {
    if (!options_.toneHz && finder_.Blocks() < kAutoTuneBlocks && !flushing_) {
      // No look-ahead on a live signal: listen for a while, then tune once.
      finder_.Add(rx.RawBlock.data());
      if (finder_.Blocks() == kAutoTuneBlocks) pendingClick_ = finder_.ClickPosition();
    }
    if (soft_ && !flushing_) SoftBlock(rx);
    out_.flush();
  }

  // Frames of sound lost on the way in, and overflows the sound system reported.
  std::pair<int64_t, uint64_t> LostSoFar() const {
    if (portAudio_ != nullptr) {
      return {static_cast<int64_t>(portAudio_->DroppedFrames()), portAudio_->Overflows()};
    }
    if (file_ != nullptr) return {file_->DroppedFrames(), 0};
    return {0, 0};
  }

  // Sound lost while listening makes characters wrong for no visible reason: say so.
  void ReportLosses() {
    const auto [lost, overflows] = lostAtStop_;
    if (lost > 0) {
      log_ << "kestrix-decode: " << lost
           << " frames of sound arrived while no buffer was waiting and were lost\n";
    }
    if (overflows > 0) {
      log_ << "kestrix-decode: the sound system reported " << overflows << " input overflows\n";
    }
  }

  // --- Stopping --------------------------------------------------------------------------
  bool StopWanted() const {
    if (stop_ != nullptr && stop_->load(std::memory_order_relaxed) != 0) return true;
    if (options_.seconds) {
      const double rate = rx_.Capture.Format.SamplesPerSecond;
      const double heard = static_cast<double>(loop_.BlocksProcessed()) * kBlockFrames / rate;
      // Wall time too, in case the device delivers nothing at all.
      const double waited = std::chrono::duration<double>(Clock::now() - started_).count();
      if (heard >= *options_.seconds || waited >= *options_.seconds + 2.0) return true;
    }
    if (file_ != nullptr) {
      const int64_t end = file_->EndBuffer();
      if (end >= 0 && loop_.BlocksProcessed() >= end) return true;
    }
    return false;
  }

  // Silence after the stop, as the file mode appends after a recording, so that the
  // character and word in progress are finished. Silence the loop has already taken in
  // after the end of a recording counts towards it.
  void Flush() {
    flushing_ = true;
    const int64_t flushFrames = static_cast<int64_t>(options_.flushSeconds * 44100.0);
    int64_t heardSilence = 0;
    if (file_ != nullptr && file_->EndBuffer() >= 0) {
      heardSilence =
          std::max<int64_t>(0, loop_.BlocksProcessed() * kBlockFrames - file_->RecordingFrames());
    }
    const int64_t left = std::max<int64_t>(0, flushFrames - heardSilence);
    const int64_t blocks = (left + kBlockFrames - 1) / kBlockFrames;
    std::vector<uint8_t> silence(kCaptureBufferBytes, 0);
    for (int64_t i = 0; i < blocks; ++i) rx_.ProcessTextBlock(silence.data());
    out_.flush();
  }

  // --- The soft engine ----------------------------------------------------------------
  // The block of the chosen channel, as the soft decoder takes it. Until the tone is
  // known (--tone, or the finder after kAutoTuneBlocks blocks) the sound is held.
  void SoftBlock(const Receiver& rx) {
    const size_t start = held_.size();
    held_.resize(start + kBlockFrames);
    for (size_t i = 0; i < static_cast<size_t>(kBlockFrames); ++i) {
      held_[start + i] = static_cast<float>(rx.RawBlock[i]) / 32768.0F;
    }
    if (!softDecoder_) {
      if (!options_.toneHz && finder_.Blocks() < kAutoTuneBlocks) return;
      StartSoft();
    }
    SoftFeed();
  }

  void StartSoft() {
    double toneHz = options_.toneHz.value_or(0.0);
    if (toneHz <= 0.0) {
      const int position = finder_.ClickPosition();
      toneHz = position > 0 ? (position - 1) * kBinHz : 700.0;
    }
    softDecoder_ = std::make_unique<soft::AudioSoftDecoder>(
        static_cast<double>(rx_.Capture.Format.SamplesPerSecond), toneHz, SoftConfigFrom(options_));
  }

  void SoftFeed() {
    softDecoder_->Process(held_.data(), held_.size());
    held_.clear();
    SoftEmit();
  }

  void SoftEmit() {
    softText_.clear();
    if (softDecoder_->TakeText(softText_) == 0) return;
    out_ << Cp1252ToUtf8(softText_);
    if (partner_) {
      for (const char c : softText_) partner_->PostDecodedChar(std::string_view(&c, 1));
    }
  }

  // After the stop: a recording shorter than the tuning time is tuned on what there was,
  // and the traceback gives up what it holds.
  void FinishSoft() {
    if (!softDecoder_) {
      if (held_.empty()) return;
      StartSoft();
      SoftFeed();
    }
    softDecoder_->Flush();
    SoftEmit();
    out_.flush();
  }

  // --- Partner programs ---------------------------------------------------------------
  bool StartPartners(std::string& error) {
    partner_ =
        std::make_unique<transmit::PartnerServer>(partnerLog_, messagingOn_, partnerConnected_);
    if (partner_->Open(options_.partnerSocket, error) != transmit::PartnerOpenResult::kServing) {
      partner_.reset();
      return false;
    }
    log_ << "kestrix-decode: serving partner programs at " << partner_->Path() << '\n';
    log_.flush();
    return true;
  }

  // The last characters are still queued for a partner that reads slowly: give it a
  // moment before the socket goes.
  void DrainPartners() {
    if (!partner_) return;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(kPartnerDrainMs);
    partner_->Service();
    while (partner_->PartnerQueuedBytes() > 0 && Clock::now() < until) {
      pollfd p = {partner_->Fd(), POLLIN, 0};
      ::poll(&p, 1, 50);
      partner_->Service();
    }
    partner_->Close();
  }

  struct Timer {
    bool armed = false;
    Clock::duration interval{};
    Clock::time_point due{};
  };

  const DecodeOptions options_;
  std::ostream& out_;
  std::ostream& log_;
  const std::atomic<int>* stop_;
  FileCapture* file_;
  PortAudioCapture* portAudio_;
  Receiver rx_;
  ReceiveLoop loop_;
  ToneFinder finder_;
  std::array<Timer, 3> timers_{};
  Clock::time_point started_ = Clock::now();
  std::string lastMessage_;
  std::pair<int64_t, uint64_t> lostAtStop_{0, 0};
  int pendingClick_ = 0;
  bool stopping_ = false;
  bool flushing_ = false;
  // The soft engine (--engine soft): its decoder once the tone is known.
  const bool soft_;
  std::vector<float> held_;
  std::string softText_;
  std::unique_ptr<soft::AudioSoftDecoder> softDecoder_;
  // Partner programs: messaging is on whenever kestrix-decode serves them.
  PartnerLog partnerLog_{log_};
  uint8_t messagingOn_ = 1;
  std::atomic<uint8_t> partnerConnected_{0};
  std::unique_ptr<transmit::PartnerServer> partner_;
};

}  // namespace

int ListDevices(std::ostream& out, std::string& error) {
  PortAudioCapture devices;
  if (!devices.InitError().empty()) {
    error = devices.InitError();
    return kExitInputError;
  }
  ListSoundCards(devices, out);
  return kExitOk;
}

int ResolveDevice(CaptureDevice& device, const std::string& spec, std::string& error) {
  return ChooseSoundCard(device, spec, error);
}

int RunLiveDecodeOn(CaptureDevice& device, const DecodeOptions& options, std::ostream& out,
                    std::ostream& log, const std::atomic<int>* stop, std::string& error) {
  int index = 0;
  if (!options.device.empty()) {
    index = ResolveDevice(device, options.device, error);
    if (index < 0) return kExitInputError;
  }
  LiveHost host(device, index, options, out, log, stop);
  return host.Run(error);
}

int RunLiveDecode(const DecodeOptions& options, std::ostream& out, std::ostream& log,
                  const std::atomic<int>* stop, std::string& error) {
  if (!options.inputFile.empty()) {
    FileCapture file(options.inputFile, FileCaptureOptions{!options.unpaced, false});
    if (!file.CheckReadable(error)) return kExitInputError;
    return RunLiveDecodeOn(file, options, out, log, stop, error);
  }
  PortAudioCapture card;
  if (!card.InitError().empty()) {
    error = card.InitError();
    return kExitInputError;
  }
  return RunLiveDecodeOn(card, options, out, log, stop, error);
}

}  // namespace kestrix
