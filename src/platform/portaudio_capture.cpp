#include "platform/portaudio_capture.h"

namespace kestrix {

PortAudioCapture::PortAudioCapture() : session_(PortAudioSession::Acquire()) {
  if (!session_->Ok()) return;
  if (const PaError err = ListPortAudioDevices(false, devices_); err < 0) Fail(err);
}

PortAudioCapture::~PortAudioCapture() {
  Close();
}

std::string PortAudioCapture::HostApiName(int index) const {
  if (index < 0 || index >= static_cast<int>(devices_.size())) return "";
  return PortAudioHostApiName(devices_[static_cast<size_t>(index)]);
}

int PortAudioCapture::DeviceCount() {
  return static_cast<int>(devices_.size());
}

std::string PortAudioCapture::ProductName(int index) {
  if (index < 0 || index >= static_cast<int>(devices_.size())) return "";
  return PortAudioDeviceName(devices_[static_cast<size_t>(index)]);
}

int PortAudioCapture::Fail(PaError error) {
  lastError_ = PortAudioErrorText(error);
  switch (error) {
    case paInvalidDevice:
    case paDeviceUnavailable:
      return kCaptureBadDevice;
    case paInvalidChannelCount:
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paBadIODeviceCombination:
      return kCaptureBadFormat;
    case paInsufficientMemory:
      return kCaptureNoMemory;
    case paNotInitialized:
    case paBadStreamPtr:
      return kCaptureNotOpen;
    default:
      return kCaptureError;
  }
}

bool PortAudioCapture::Describe(int device, const CaptureFormat& format,
                                PaStreamParameters& parameters, int& result) {
  if (device < 0 || device >= static_cast<int>(devices_.size())) {
    result = kCaptureBadDevice;
    lastError_ = "no input device " + std::to_string(device);
    return false;
  }
  if (format.FormatTag != 1 || format.BitsPerSample != 16 || format.Channels < 1 ||
      format.Channels > 2 || format.BlockAlign != format.Channels * 2 ||
      format.SamplesPerSecond == 0) {
    result = kCaptureBadFormat;
    lastError_ = "only 16-bit PCM, mono or stereo, is recorded";
    return false;
  }
  const PaDeviceIndex index = devices_[static_cast<size_t>(device)];
  const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
  if (info == nullptr) {
    result = kCaptureBadDevice;
    lastError_ = "input device " + std::to_string(device) + " has gone";
    return false;
  }
  parameters = PaStreamParameters{};
  parameters.device = index;
  parameters.channelCount = format.Channels;
  parameters.sampleFormat = paInt16;
  // Buffers hold 186 ms of sound; a generous device latency costs nothing and rides out
  // a busy desktop without overflows.
  parameters.suggestedLatency = info->defaultHighInputLatency;
  parameters.hostApiSpecificStreamInfo = nullptr;
  return true;
}

int PortAudioCapture::QueryFormat(int device, const CaptureFormat& format) {
  PaStreamParameters in;
  int result = kCaptureOk;
  if (!Describe(device, format, in, result)) return result;
  const PaError err = Pa_IsFormatSupported(&in, nullptr, format.SamplesPerSecond);
  if (err != paFormatIsSupported) return Fail(err);
  lastError_.clear();
  return kCaptureOk;
}

int PortAudioCapture::Open(int device, const CaptureFormat& format) {
  const int closed = Close();
  if (closed != kCaptureOk) return closed;
  PaStreamParameters in;
  int result = kCaptureOk;
  if (!Describe(device, format, in, result)) return result;
  bytesPerFrame_ = format.BlockAlign;
  dropped_.store(0, std::memory_order_relaxed);
  overflows_.store(0, std::memory_order_relaxed);
  callbacks_.store(0, std::memory_order_relaxed);
  callbacksAtStart_ = 0;
  PaStream* stream = nullptr;
  const PaError err = Pa_OpenStream(&stream, &in, nullptr, format.SamplesPerSecond,
                                    paFramesPerBufferUnspecified, paNoFlag, &Callback, this);
  if (err != paNoError) return Fail(err);
  stream_ = stream;
  openDevice_ = device;
  parameters_ = in;
  rate_ = format.SamplesPerSecond;
  lastError_.clear();
  return kCaptureOk;
}

int PortAudioCapture::TrialOpen(int device, const CaptureFormat& format) {
  // A device we already record from may refuse a second stream (plain ALSA hardware),
  // yet it plainly works.
  if (stream_ != nullptr && device == openDevice_) return kCaptureOk;
  PaStreamParameters in;
  int result = kCaptureOk;
  if (!Describe(device, format, in, result)) return result;
  PaStream* stream = nullptr;
  // No callback: a blocking stream that is never started.
  PaError err = Pa_OpenStream(&stream, &in, nullptr, format.SamplesPerSecond,
                              paFramesPerBufferUnspecified, paNoFlag, nullptr, nullptr);
  if (err != paNoError) return Fail(err);
  err = Pa_CloseStream(stream);
  if (err != paNoError) return Fail(err);
  lastError_.clear();
  return kCaptureOk;
}

int PortAudioCapture::AbortStream() {
  const PaError stopped = Pa_IsStreamStopped(stream_);
  if (stopped == 1) return kCaptureOk;
  const PaError err = Pa_AbortStream(stream_);
  if (err != paNoError && err != paStreamIsStopped) return Fail(err);
  return kCaptureOk;
}

int PortAudioCapture::Close() {
  if (stream_ == nullptr) return kCaptureOk;
  int result = AbortStream();
  queue_.Flush();
  const PaError err = Pa_CloseStream(stream_);
  if (err != paNoError) result = Fail(err);
  stream_ = nullptr;
  openDevice_ = -1;
  return result;
}

int PortAudioCapture::Prepare(CaptureHeader& header) {
  if (stream_ == nullptr) return kCaptureNotOpen;
  return queue_.Prepare(header);
}

int PortAudioCapture::Add(CaptureHeader& header) {
  if (stream_ == nullptr) return kCaptureNotOpen;
  return queue_.Add(header);
}

int PortAudioCapture::Unprepare(CaptureHeader& header) {
  if (stream_ == nullptr) return kCaptureNotOpen;
  return queue_.Unprepare(header);
}

int PortAudioCapture::Start() {
  if (stream_ == nullptr) return kCaptureNotOpen;
  const uint64_t callbacks = callbacks_.load(std::memory_order_relaxed);
  const PaError stopped = Pa_IsStreamStopped(stream_);
  if (stopped < 0) return Fail(stopped);
  if (stopped == 1) {
    // Opened, or stopped by Reset: start it.
    const PaError err = Pa_StartStream(stream_);
    if (err != paNoError) return Fail(err);
  } else {
    const PaError active = Pa_IsStreamActive(stream_);
    if (active < 0) return Fail(active);
    if (active == 1 && callbacks != callbacksAtStart_) {
      callbacksAtStart_ = callbacks;
      return kCaptureOk;  // running and recording: nothing to do
    }
    // Running but silent since the last start (the late-buffer recovery is asking), or
    // ended on its own: the sound system has lost the device. Starting the same stream
    // again can hang inside PortAudio's ALSA code, so a fresh stream takes its place;
    // the queued buffers stay queued.
    const int reopened = Reopen();
    if (reopened != kCaptureOk) return reopened;
  }
  callbacksAtStart_ = callbacks_.load(std::memory_order_relaxed);
  lastError_.clear();
  return kCaptureOk;
}

int PortAudioCapture::Reopen() {
  // Failures of the old stream's abort and close change nothing: it is being replaced.
  (void)Pa_AbortStream(stream_);
  (void)Pa_CloseStream(stream_);
  stream_ = nullptr;
  PaStream* stream = nullptr;
  PaError err = Pa_OpenStream(&stream, &parameters_, nullptr, rate_, paFramesPerBufferUnspecified,
                              paNoFlag, &Callback, this);
  if (err == paNoError) {
    err = Pa_StartStream(stream);
    if (err != paNoError) (void)Pa_CloseStream(stream);
  }
  if (err != paNoError) {
    // No stream: the device counts as closed; what was queued is handed back.
    queue_.Flush();
    openDevice_ = -1;
    return Fail(err);
  }
  stream_ = stream;
  return kCaptureOk;
}

int PortAudioCapture::Position(uint32_t& bytes) {
  if (stream_ == nullptr) return kCaptureNotOpen;
  bytes = queue_.Position();
  return kCaptureOk;
}

int PortAudioCapture::Reset() {
  if (stream_ == nullptr) return kCaptureNotOpen;
  const int result = AbortStream();
  // The callback has returned for good (or the stream never ran): the queue is ours.
  queue_.Flush();
  return result;
}

int PortAudioCapture::Callback(const void* input, void* /*output*/, unsigned long frames,
                               const PaStreamCallbackTimeInfo* /*timeInfo*/,
                               PaStreamCallbackFlags flags, void* self) {
  // Audio thread: copy and count only. A missing input block becomes silence.
  auto* capture = static_cast<PortAudioCapture*>(self);
  capture->callbacks_.fetch_add(1, std::memory_order_relaxed);
  if ((flags & paInputOverflow) != 0) {
    capture->overflows_.fetch_add(1, std::memory_order_relaxed);
  }
  const size_t bytes = static_cast<size_t>(frames) * capture->bytesPerFrame_;
  const CaptureQueue::Delivery d =
      capture->queue_.Deliver(static_cast<const uint8_t*>(input), bytes);
  if (d.dropped > 0) {
    capture->dropped_.fetch_add(d.dropped / capture->bytesPerFrame_, std::memory_order_relaxed);
  }
  return paContinue;
}

}  // namespace kestrix
