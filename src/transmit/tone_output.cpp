#include "transmit/tone_output.h"

#include <algorithm>
#include <chrono>

#include "transmit/port_keyer.h"

namespace kestrix::transmit {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}  // namespace

int64_t DeadlineWatchdog::SteadyMs(void* /*context*/) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ToneOutput::ToneOutput(PlaybackDevice& device, const MorseSendTable& table,
                       const ElementTiming& timing, Waiter& waiter, ToneWatchdog& watchdog,
                       ToneHost& host, std::ostream& log)
    : device_(device),
      table_(table),
      timing_(timing),
      waiter_(waiter),
      watchdog_(watchdog),
      host_(host),
      log_(log) {}

ToneOutput::~ToneOutput() {
  Close();
}

void ToneOutput::Close() {
  ToneAbort.store(1, kRelaxed);
  std::lock_guard<std::mutex> lock(run_);
  if (!open_.load(std::memory_order_acquire)) return;
  open_.store(false, std::memory_order_release);
  const int result = device_.Close();
  if (result != kPlaybackOk) {
    log_ << "kestrix: closing the output wave device: " << PlaybackResultText(result);
    const std::string reason = device_.LastError();
    if (!reason.empty()) log_ << " (" << reason << ")";
    log_ << '\n';
  }
}

void ToneOutput::Fail(int result, const char* text, int code) {
  failed_.store(true, std::memory_order_release);
  log_ << "kestrix: " << text << ": " << PlaybackResultText(result);
  const std::string reason = device_.LastError();
  if (!reason.empty()) log_ << " (" << reason << ")";
  log_ << '\n';
  log_.flush();
  host_.ShowMessage(kWaveDeviceMessageTitle, text);
  host_.HandleWaveError(code);
}

bool ToneOutput::OpenToneOutput(int device) {
  std::lock_guard<std::mutex> lock(run_);
  if (open_.load(std::memory_order_acquire)) return true;
  if (failed_.load(std::memory_order_acquire)) return false;
  // The format and both headers; the headers start done, so the first run does not wait.
  format_ = PlaybackFormat{};
  for (size_t i = 0; i < 2; ++i) {
    headers_[i].Set(buffers_[i].data(), static_cast<uint32_t>(buffers_[i].size()));
  }
  if (!Check(device_.QueryFormat(device, format_), kToneFormatText, kToneFormatError)) return false;
  if (!Check(device_.Open(device, format_), kToneOpenText, kToneOpenError)) return false;
  open_.store(true, std::memory_order_release);
  if (!Check(device_.SetVolume(kFullVolume), kToneVolumeText, kToneVolumeError)) return false;
  return true;
}

void ToneOutput::SoundKeyChar(uint8_t code, int32_t firstBlock) {
  std::lock_guard<std::mutex> lock(run_);
  ToneAbort.store(0, kRelaxed);
  mask_.Clear();
  const ElementTimingValues t = timing_.Load();
  BuildKeyMask(code, table_, t, SideToneEnabled.load(kRelaxed) != 0, mask_);
  if (OutputDevice.load(kRelaxed) != 0) return;
  Stream(mask_.Count(), firstBlock > 0);
}

void ToneOutput::SoundKeyBuffer(const char* text, int32_t& position,
                                const std::atomic<uint8_t>& stopRequested) {
  std::lock_guard<std::mutex> lock(run_);
  ToneAbort.store(0, kRelaxed);
  if (text == nullptr) return;
  while (text[position] != '\0' && stopRequested.load(kRelaxed) == 0) {
    // One batch: the characters whose samples fit the mask together. The timing is read
    // once, so the sizing pass and the mask agree.
    mask_.Clear();
    const ElementTimingValues t = timing_.Load();
    const bool on = SideToneEnabled.load(kRelaxed) != 0;
    int64_t sum = 0;
    while (text[position] != '\0') {
      const auto code = static_cast<uint8_t>(text[position]);
      const int64_t n = KeyMaskSamples(code, table_, t);
      if (sum + n > kKeyMaskSamples) {
        // It opens the next batch. A character too long for an empty mask (only a
        // corrupt timing record makes one) goes out cut to the mask, so the send moves on.
        if (sum > 0) break;
      }
      sum += n;
      BuildKeyMask(code, table_, t, on, mask_);
      ++position;
      if (sum >= kKeyMaskSamples) break;
    }
    ++batches_;
    Stream(mask_.Count(), true);
    if (ToneAbort.load(kRelaxed) == 1) return;
    if (stopRequested.load(kRelaxed) == 1) ToneAbort.store(1, kRelaxed);
  }
}

ToneOutput::Wait ToneOutput::WaitPosition(uint32_t bufferBytes) {
  // Until the play position is in the first quarter of a buffer's length, or on a
  // boundary: the device is near the start of the buffer it plays now.
  watchdog_.ArmWatchdog();
  for (;;) {
    uint32_t position = 0;
    if (!Check(device_.Position(position), kTonePositionText, kTonePositionError)) {
      watchdog_.DisarmWatchdog();
      return Wait::kFailed;
    }
    if (bufferBytes == 0) break;
    // (An exact multiple of the length is within the first quarter too.)
    if (position % bufferBytes <= bufferBytes / 4) break;
    if (watchdog_.WatchdogFired()) {
      // A device whose position no longer moves is treated like one that no longer marks
      // buffers done.
      watchdog_.DisarmWatchdog();
      if (!Check(device_.Reset(), kToneResetText, kToneResetError)) return Wait::kFailed;
      return Wait::kCut;
    }
    waiter_.WaitMs(1);
  }
  watchdog_.DisarmWatchdog();
  return Wait::kDone;
}

ToneOutput::Wait ToneOutput::WaitDone(const PlaybackHeader& header) {
  watchdog_.ArmWatchdog();
  while (!header.IsDone()) {
    if (watchdog_.WatchdogFired()) {
      watchdog_.DisarmWatchdog();
      if (!Check(device_.Reset(), kToneResetText, kToneResetError)) return Wait::kFailed;
      return Wait::kCut;
    }
    waiter_.WaitMs(1);
  }
  watchdog_.DisarmWatchdog();
  return Wait::kDone;
}

bool ToneOutput::Stream(int32_t count, bool firstBlock) {
  if (count <= 0) return true;  // a character with no elements takes no time
  if (!open_.load(std::memory_order_acquire) || failed_.load(std::memory_order_acquire)) {
    return false;
  }
  if (!Check(device_.Reset(), kToneResetText, kToneResetError)) return false;

  const float omega = ToneOmega(SideToneFrequency.load(kRelaxed));
  const auto waveform =
      ToneWaveform.load(kRelaxed) != 0 ? ToneWaveform::kSquare : ToneWaveform::kSine;
  phase_ = 0.0f;
  nextBuffer_ = 0;
  int32_t remaining = count;
  int32_t read = 0;
  for (;;) {
    // A block of exactly 4096 remaining samples is the last one too: it needs the last
    // block's wait, and nothing follows it.
    const int32_t length = std::min(remaining, kToneBlockSamples);
    lastBlock_ = remaining <= kToneBlockSamples ? 1 : 0;
    const int32_t self = nextBuffer_;
    const int32_t other = 1 - self;
    SynthesizeTone(mask_.Data() + read, length, omega, waveform, phase_,
                   buffers_[static_cast<size_t>(self)].data());
    read += length;

    PlaybackHeader& mine = headers_[static_cast<size_t>(self)];
    PlaybackHeader& theirs = headers_[static_cast<size_t>(other)];
    mine.Set(buffers_[static_cast<size_t>(self)].data(), static_cast<uint32_t>(2 * length));
    if (!Check(device_.Prepare(mine), kTonePrepareText[self], kTonePrepareError)) return false;
    if (!Check(device_.Write(mine), kToneWriteText[self], kToneWriteError)) return false;

    if (!firstBlock) {
      // The other buffer must have played before it can be refilled.
      Wait w = WaitPosition(theirs.BufferLength);
      if (w == Wait::kDone) w = WaitDone(theirs);
      if (w == Wait::kFailed) return false;
      if (w == Wait::kCut) {
        cutRuns_.fetch_add(1, kRelaxed);
        ToneAbort.store(1, kRelaxed);
        return false;
      }
      if (!Check(device_.Unprepare(theirs), kToneUnprepareText[other], kToneUnprepareError)) {
        return false;
      }
    }
    if (lastBlock_ == 1) {
      const Wait w = WaitDone(mine);
      if (w == Wait::kCut) cutRuns_.fetch_add(1, kRelaxed);
      if (w != Wait::kDone) return false;
      if (!Check(device_.Unprepare(mine), kToneUnprepareText[self], kToneUnprepareError)) {
        return false;
      }
    }
    nextBuffer_ = other;
    firstBlock = false;
    if (lastBlock_ == 1 || ToneAbort.load(kRelaxed) == 1) break;
    remaining -= kToneBlockSamples;
  }
  return true;
}

void ToneKeyers::SendCharToPort(uint8_t code) {
  port_.SendCharToPort(code);
}

}  // namespace kestrix::transmit
