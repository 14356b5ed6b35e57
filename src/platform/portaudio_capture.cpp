#include "platform/portaudio_capture.h"

#include <iostream>

namespace kestrix {

PortAudioCapture::PortAudioCapture()
    : session_(PortAudioSession::Acquire()),
      recovery_(kLostStreamGraceSeconds, "input", "recording", std::cerr) {
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
  fresh_ = false;
  recovery_.Forget();
  openDevice_ = device;
  parameters_ = in;
  rate_ = format.SamplesPerSecond;
  lastError_.clear();
  return kCaptureOk;
}

int PortAudioCapture::TrialOpen(int device, const CaptureFormat& format) {
  // A device we already record from may refuse a second stream (plain ALSA hardware),
  // yet it plainly works.
  if (IsOpen() && device == openDevice_) return kCaptureOk;
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
  if (stream_ == nullptr) {
    if (fresh_) queue_.Flush();
    fresh_ = false;
    recovery_.Forget();
    openDevice_ = -1;
    return kCaptureOk;
  }
  int result = AbortStream();
  queue_.Flush();
  const PaError err = Pa_CloseStream(stream_);
  if (err != paNoError) result = Fail(err);
  stream_ = nullptr;
  openDevice_ = -1;
  return result;
}

int PortAudioCapture::Prepare(CaptureHeader& header) {
  if (!IsOpen()) return kCaptureNotOpen;
  return queue_.Prepare(header);
}

int PortAudioCapture::Add(CaptureHeader& header) {
  if (!IsOpen()) return kCaptureNotOpen;
  return queue_.Add(header);
}

int PortAudioCapture::Unprepare(CaptureHeader& header) {
  if (!IsOpen()) return kCaptureNotOpen;
  return queue_.Unprepare(header);
}

int PortAudioCapture::Start() {
  if (fresh_) return StartFreshStream();
  if (stream_ == nullptr) return kCaptureNotOpen;
  const uint64_t callbacks = callbacks_.load(std::memory_order_relaxed);
  const PaError stopped = Pa_IsStreamStopped(stream_);
  if (stopped < 0) return Fail(stopped);
  if (stopped == 1) {
    // Just opened (a stream Reset stopped is closed, never started again).
    const PaError err = Pa_StartStream(stream_);
    if (err != paNoError) return Fail(err);
    callbacksAtStart_ = callbacks_.load(std::memory_order_relaxed);
    lastError_.clear();
    return kCaptureOk;
  }
  const PaError active = Pa_IsStreamActive(stream_);
  if (active < 0) return Fail(active);
  if (active == 1 && callbacks != callbacksAtStart_) {
    callbacksAtStart_ = callbacks;
    return kCaptureOk;  // running and recording: nothing to do
  }
  // Running but silent since the last start (the late-buffer recovery is asking), or
  // ended on its own: the sound system has lost the device. A fresh stream takes its
  // place; the queued buffers stay queued.
  DropStream();
  return StartFreshStream();
}

void PortAudioCapture::DropStream() {
  (void)Pa_AbortStream(stream_);
  (void)Pa_CloseStream(stream_);
  stream_ = nullptr;
  fresh_ = true;
}

int PortAudioCapture::StartFreshStream() {
  PaStream* stream = nullptr;
  PaError err = Pa_OpenStream(&stream, &parameters_, nullptr, rate_, paFramesPerBufferUnspecified,
                              paNoFlag, &Callback, this);
  if (err == paNoError) {
    err = Pa_StartStream(stream);
    if (err != paNoError) (void)Pa_CloseStream(stream);
  }
  if (err == paNoError) {
    stream_ = stream;
    fresh_ = false;
    recovery_.Recovered();
    callbacksAtStart_ = callbacks_.load(std::memory_order_relaxed);
    lastError_.clear();
    return kCaptureOk;
  }
  const int result = Fail(err);
  // The sound server may be restarting: the buffers stay queued and the next late buffer
  // tries again.
  if (recovery_.KeepTrying(lastError_)) return kCaptureOk;
  // Gone for good: what was queued is handed back and the device counts as closed.
  fresh_ = false;
  queue_.Flush();
  openDevice_ = -1;
  return result;
}

int PortAudioCapture::Position(uint32_t& bytes) {
  if (!IsOpen()) return kCaptureNotOpen;
  bytes = queue_.Position();
  return kCaptureOk;
}

int PortAudioCapture::Reset() {
  if (!IsOpen()) return kCaptureNotOpen;
  // The stream is closed, not stopped: the next Start opens a fresh one (see the header).
  // Once Pa_CloseStream has returned, the callback is done with the queue for good.
  if (stream_ != nullptr) DropStream();
  queue_.Flush();
  return kCaptureOk;
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
