#include "platform/portaudio_playback.h"

#include <iostream>

namespace kestrix {

PortAudioPlayback::PortAudioPlayback()
    : session_(PortAudioSession::Acquire()),
      recovery_(kLostPlaybackGraceSeconds, "output", "playing", std::cerr) {
  if (!session_->Ok()) return;
  if (const PaError err = ListPortAudioDevices(true, devices_); err < 0) Fail(err);
}

PortAudioPlayback::~PortAudioPlayback() {
  Close();
}

std::string PortAudioPlayback::HostApiName(int index) const {
  if (index < 0 || index >= static_cast<int>(devices_.size())) return "";
  return PortAudioHostApiName(devices_[static_cast<size_t>(index)]);
}

double PortAudioPlayback::OutputLatency() const {
  if (stream_ == nullptr) return 0.0;
  const PaStreamInfo* info = Pa_GetStreamInfo(stream_);
  return info != nullptr ? info->outputLatency : 0.0;
}

int PortAudioPlayback::DeviceCount() {
  return static_cast<int>(devices_.size());
}

std::string PortAudioPlayback::ProductName(int index) {
  if (index < 0 || index >= static_cast<int>(devices_.size())) return "";
  return PortAudioDeviceName(devices_[static_cast<size_t>(index)]);
}

int PortAudioPlayback::Fail(PaError error) {
  lastError_ = PortAudioErrorText(error);
  switch (error) {
    case paInvalidDevice:
    case paDeviceUnavailable:
      return kPlaybackBadDevice;
    case paInvalidChannelCount:
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paBadIODeviceCombination:
      return kPlaybackBadFormat;
    case paInsufficientMemory:
      return kPlaybackNoMemory;
    case paNotInitialized:
    case paBadStreamPtr:
      return kPlaybackNotOpen;
    default:
      return kPlaybackError;
  }
}

bool PortAudioPlayback::Describe(int device, const PlaybackFormat& format,
                                 PaStreamParameters& parameters, int& result) {
  if (device < 0 || device >= static_cast<int>(devices_.size())) {
    result = kPlaybackBadDevice;
    lastError_ =
        devices_.empty() ? "no output device" : "no output device " + std::to_string(device);
    return false;
  }
  if (!IsMonoPcm16(format)) {
    result = kPlaybackBadFormat;
    lastError_ = "only 16-bit mono PCM is played";
    return false;
  }
  const PaDeviceIndex index = devices_[static_cast<size_t>(device)];
  const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
  if (info == nullptr) {
    result = kPlaybackBadDevice;
    lastError_ = "output device " + std::to_string(device) + " has gone";
    return false;
  }
  parameters = PaStreamParameters{};
  parameters.device = index;
  parameters.channelCount = 1;
  parameters.sampleFormat = paInt16;
  // The keyer keeps at most two 93 ms blocks queued; a low device latency keeps the tone
  // close to the key press, and a block in hand covers a busy desktop.
  parameters.suggestedLatency = info->defaultLowOutputLatency;
  parameters.hostApiSpecificStreamInfo = nullptr;
  return true;
}

int PortAudioPlayback::QueryFormat(int device, const PlaybackFormat& format) {
  PaStreamParameters out;
  int result = kPlaybackOk;
  if (!Describe(device, format, out, result)) return result;
  const PaError err = Pa_IsFormatSupported(nullptr, &out, format.SamplesPerSecond);
  if (err != paFormatIsSupported) return Fail(err);
  lastError_.clear();
  return kPlaybackOk;
}

int PortAudioPlayback::Open(int device, const PlaybackFormat& format) {
  const int closed = Close();
  if (closed != kPlaybackOk) return closed;
  PaStreamParameters out;
  int result = kPlaybackOk;
  if (!Describe(device, format, out, result)) return result;
  underflows_.store(0, std::memory_order_relaxed);
  PaStream* stream = nullptr;
  const PaError err = Pa_OpenStream(&stream, nullptr, &out, format.SamplesPerSecond,
                                    paFramesPerBufferUnspecified, paNoFlag, &Callback, this);
  if (err != paNoError) return Fail(err);
  // The device can play: the stream the first Write needs is opened then, so that a
  // sound server restarted in between (the output opens at START, the first character may
  // come hours later) is no stream of the old server's.
  (void)Pa_CloseStream(stream);
  stream_ = nullptr;
  started_ = false;
  fresh_ = true;
  parameters_ = out;
  rate_ = format.SamplesPerSecond;
  recovery_.Forget();
  lastError_.clear();
  return kPlaybackOk;
}

int PortAudioPlayback::SetVolume(uint32_t volume) {
  if (!IsOpen()) return kPlaybackNotOpen;
  gain_.store(static_cast<float>(volume & 0xFFFF) / 65535.0f, std::memory_order_relaxed);
  return kPlaybackOk;
}

int PortAudioPlayback::AbortStream() {
  started_ = false;
  const PaError stopped = Pa_IsStreamStopped(stream_);
  if (stopped == 1) return kPlaybackOk;
  const PaError err = Pa_AbortStream(stream_);
  if (err != paNoError && err != paStreamIsStopped) return Fail(err);
  return kPlaybackOk;
}

void PortAudioPlayback::DropStream() {
  (void)Pa_AbortStream(stream_);
  (void)Pa_CloseStream(stream_);
  stream_ = nullptr;
  started_ = false;
  fresh_ = true;
  writeTime_.store(-1.0, std::memory_order_release);
}

bool PortAudioPlayback::OpenFreshStream(int& result) {
  result = kPlaybackOk;
  PaStream* stream = nullptr;
  const PaError err = Pa_OpenStream(&stream, nullptr, &parameters_, rate_,
                                    paFramesPerBufferUnspecified, paNoFlag, &Callback, this);
  if (err == paNoError) {
    stream_ = stream;
    fresh_ = false;
    started_ = false;
    recovery_.Recovered();
    return true;
  }
  const int failed = Fail(err);
  if (recovery_.KeepTrying(lastError_)) return false;
  result = failed;
  return false;
}

int PortAudioPlayback::Close() {
  if (stream_ == nullptr) {
    fresh_ = false;
    queue_.Flush();
    return kPlaybackOk;
  }
  int result = AbortStream();
  queue_.Flush();
  const PaError err = Pa_CloseStream(stream_);
  if (err != paNoError) result = Fail(err);
  stream_ = nullptr;
  return result;
}

int PortAudioPlayback::Prepare(PlaybackHeader& header) {
  if (!IsOpen()) return kPlaybackNotOpen;
  return queue_.Prepare(header);
}

int PortAudioPlayback::Write(PlaybackHeader& header) {
  if (!IsOpen()) return kPlaybackNotOpen;
  if (fresh_) {
    int result = kPlaybackOk;
    if (!OpenFreshStream(result)) {
      if (result != kPlaybackOk) return result;
      // Taken, never played: the keyer's watchdog ends the run and its Reset hands the
      // buffer back; the next run tries again.
      return queue_.Write(header);
    }
  }
  const bool wasEmpty = !queue_.HasQueued();
  if (wasEmpty && started_) writeTime_.store(Pa_GetStreamTime(stream_), std::memory_order_release);
  const int queued = queue_.Write(header);
  if (queued != kPlaybackOk) return queued;
  if (!started_) {
    // Stream time runs only once the stream is started; the first byte is due at once.
    const PaError err = Pa_StartStream(stream_);
    if (err != paNoError) {
      queue_.Flush();
      return Fail(err);
    }
    started_ = true;
    if (wasEmpty) writeTime_.store(Pa_GetStreamTime(stream_), std::memory_order_release);
  }
  lastError_.clear();
  return kPlaybackOk;
}

int PortAudioPlayback::Position(uint32_t& bytes) {
  if (!IsOpen()) return kPlaybackNotOpen;
  // A stream that ended on its own (device unplugged, server gone) no longer moves the
  // position; the keyer's watchdog ends the run, and its Reset replaces the stream.
  bytes = queue_.Position();
  return kPlaybackOk;
}

int PortAudioPlayback::Reset() {
  if (!IsOpen()) return kPlaybackNotOpen;
  if (stream_ == nullptr) {
    queue_.Flush();  // a dropped stream: nothing plays from the queue
    return kPlaybackOk;
  }
  if (started_ && (queue_.HasQueued() || Pa_IsStreamActive(stream_) != 1)) {
    // Buffers still queued at a reset: the watchdog gave up on them, or SEND stopped the
    // run. Either way the stream may no longer play; a fresh one at the next Write costs
    // a few milliseconds and cannot be stuck.
    DropStream();
    queue_.Flush();
    return kPlaybackOk;
  }
  if (!queue_.HasQueued()) {
    // Nothing for the callback to touch: the position can go back without stopping the
    // stream.
    queue_.Flush();
    return kPlaybackOk;
  }
  const int result = AbortStream();
  queue_.Flush();
  return result;
}

int PortAudioPlayback::Unprepare(PlaybackHeader& header) {
  if (!IsOpen()) return kPlaybackNotOpen;
  return queue_.Unprepare(header);
}

int PortAudioPlayback::Callback(const void* /*input*/, void* output, unsigned long frames,
                                const PaStreamCallbackTimeInfo* timeInfo,
                                PaStreamCallbackFlags flags, void* self) {
  // Audio thread: copy, count and mark done only.
  auto* p = static_cast<PortAudioPlayback*>(self);
  if ((flags & paOutputUnderflow) != 0) p->underflows_.fetch_add(1, std::memory_order_relaxed);
  const size_t bytes = static_cast<size_t>(frames) * 2;
  const PlaybackQueue::Taken t = p->queue_.Take(static_cast<uint8_t*>(output), bytes,
                                                p->gain_.load(std::memory_order_relaxed));
  const double written = p->writeTime_.load(std::memory_order_acquire);
  if (t.bytes > 0 && written >= 0.0 && timeInfo != nullptr) {
    // The first byte of this callback reaches the DAC at outputBufferDacTime.
    p->startLatency_.store(timeInfo->outputBufferDacTime - written, std::memory_order_release);
    p->writeTime_.store(-1.0, std::memory_order_release);
  }
  return paContinue;
}

}  // namespace kestrix
