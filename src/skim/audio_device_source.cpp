#include "skim/audio_device_source.h"

#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/portaudio_capture.h"
#include "platform/sound_cards.h"

namespace kestrix::skim {

namespace {

using Clock = std::chrono::steady_clock;

class AudioDeviceSource final : public SampleSource {
 public:
  AudioDeviceSource() = default;
  ~AudioDeviceSource() override {
    capture_.Reset();
    for (auto& h : headers_) capture_.Unprepare(h);
    capture_.Close();
  }

  bool Open(const std::string& spec, double rate, std::string& error) {
    if (!capture_.InitError().empty()) {
      error = "the sound system did not start: " + capture_.InitError();
      return false;
    }
    const int index = ChooseSoundCard(capture_, spec, error);
    if (index < 0) return false;
    name_ = capture_.ProductName(index);
    rate_ = rate > 0.0 ? rate : 48000.0;
    CaptureFormat format;
    format.Channels = 1;
    format.SamplesPerSecond = static_cast<uint32_t>(rate_);
    format.BitsPerSample = 16;
    format.BlockAlign = 2;
    format.AverageBytesPerSecond = format.SamplesPerSecond * 2;
    if (capture_.Open(index, format) != kCaptureOk) {
      error = "cannot open sound card '" + name_ + "' at " +
              std::to_string(format.SamplesPerSecond) + " Hz: " + capture_.LastError();
      return false;
    }
    // Buffers of about 85 ms.
    frames_ = static_cast<size_t>(rate_ / 12.0);
    for (size_t i = 0; i < headers_.size(); ++i) {
      buffers_[i].assign(frames_, 0);
      headers_[i].Reset(reinterpret_cast<uint8_t*>(buffers_[i].data()),
                        static_cast<uint32_t>(frames_ * 2));
      if (capture_.Prepare(headers_[i]) != kCaptureOk || capture_.Add(headers_[i]) != kCaptureOk) {
        error = "cannot queue sound buffers on '" + name_ + "': " + capture_.LastError();
        return false;
      }
    }
    if (capture_.Start() != kCaptureOk) {
      error = "cannot start sound card '" + name_ + "': " + capture_.LastError();
      return false;
    }
    lastFilled_ = Clock::now();
    return true;
  }

  double Rate() const override { return rate_; }
  bool IsComplex() const override { return false; }
  bool IsLive() const override { return true; }

  long Read(float* out, size_t count) override {
    CaptureHeader& h = headers_[next_];
    const auto bufferTime = std::chrono::duration<double>(static_cast<double>(frames_) / rate_);
    const Clock::time_point until =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(bufferTime);
    while (!h.IsDone()) {
      if (Clock::now() >
          lastFilled_ + std::chrono::duration_cast<Clock::duration>(bufferTime * 6)) {
        // Late: the stream stopped on its own. A fresh one (the device's grace rule).
        const int rc = capture_.Start();
        if (rc != kCaptureOk && !capture_.Recovering()) {
          error_ = "the sound card '" + name_ + "' stopped and did not come back (code " +
                   std::to_string(rc) + ") " + capture_.LastError();
          return -1;
        }
        lastFilled_ = Clock::now();
        return kSourceAgain;
      }
      if (Clock::now() > until) return kSourceAgain;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const size_t have = h.BytesRecorded.load(std::memory_order_relaxed) / 2;
    const size_t n = std::min({have - taken_, count});
    const int16_t* s = buffers_[next_].data() + taken_;
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(s[i]) / 32768.0f;
    taken_ += n;
    if (taken_ >= have) {
      capture_.Unprepare(h);
      h.Reset(reinterpret_cast<uint8_t*>(buffers_[next_].data()),
              static_cast<uint32_t>(frames_ * 2));
      capture_.Prepare(h);
      capture_.Add(h);
      capture_.Start();  // keeps a running stream running
      next_ = 1 - next_;
      taken_ = 0;
      lastFilled_ = Clock::now();
    }
    return static_cast<long>(n);
  }

 private:
  PortAudioCapture capture_;
  double rate_ = 48000.0;
  size_t frames_ = 4096;
  std::array<CaptureHeader, 2> headers_;
  std::array<std::vector<int16_t>, 2> buffers_;
  size_t next_ = 0;
  size_t taken_ = 0;
  Clock::time_point lastFilled_;
};

}  // namespace

void ListSoundCards(std::ostream& out) {
  PortAudioCapture capture;
  kestrix::ListSoundCards(capture, out);
}

std::unique_ptr<SampleSource> OpenAudioDevice(const std::string& spec, double rate,
                                              std::string& error) {
  auto src = std::make_unique<AudioDeviceSource>();
  if (!src->Open(spec, rate, error)) return nullptr;
  return src;
}

}  // namespace kestrix::skim
