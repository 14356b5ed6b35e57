#include "platform/portaudio_session.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace kestrix {

namespace {

std::mutex gSessionMutex;
std::weak_ptr<PortAudioSession> gSession;

// Probing the sound systems makes ALSA and JACK print dozens of lines about cards and
// servers that are simply not there. They go to /dev/null while PortAudio starts and
// stops, unless KESTRIX_AUDIO_DEBUG is set.
class QuietStderr {
 public:
  QuietStderr() {
    if (std::getenv("KESTRIX_AUDIO_DEBUG") != nullptr) return;
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    saved_ = ::dup(STDERR_FILENO);
    if (saved_ >= 0 && ::dup2(null, STDERR_FILENO) < 0) {
      ::close(saved_);
      saved_ = -1;
    }
    ::close(null);
  }
  ~QuietStderr() {
    if (saved_ < 0) return;
    // Nothing useful can be done if this fails; stderr stays quiet.
    (void)::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace

PortAudioSession::PortAudioSession() {
  // A capture program has no business starting a JACK server as a side effect.
  ::setenv("JACK_NO_START_SERVER", "1", 0);
  QuietStderr quiet;
  const PaError err = Pa_Initialize();
  ok_ = err == paNoError;
  if (!ok_) error_ = std::string("cannot start PortAudio: ") + Pa_GetErrorText(err);
}

PortAudioSession::~PortAudioSession() {
  if (!ok_) return;
  QuietStderr quiet;
  Pa_Terminate();
}

std::shared_ptr<PortAudioSession> PortAudioSession::Acquire() {
  std::lock_guard<std::mutex> lock(gSessionMutex);
  std::shared_ptr<PortAudioSession> session = gSession.lock();
  if (!session) {
    session.reset(new PortAudioSession());
    gSession = session;
  }
  return session;
}

namespace {

bool Usable(PaDeviceIndex index, bool output) {
  const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
  return info != nullptr && (output ? info->maxOutputChannels : info->maxInputChannels) > 0;
}

}  // namespace

PaError ListPortAudioDevices(bool output, std::vector<PaDeviceIndex>& devices) {
  devices.clear();
  const PaDeviceIndex count = Pa_GetDeviceCount();
  if (count < 0) return count;
  const PaDeviceIndex preferred = output ? Pa_GetDefaultOutputDevice() : Pa_GetDefaultInputDevice();
  if (preferred != paNoDevice && Usable(preferred, output)) devices.push_back(preferred);
  for (PaDeviceIndex i = 0; i < count; ++i) {
    if (i != preferred && Usable(i, output)) devices.push_back(i);
  }
  return paNoError;
}

std::string PortAudioDeviceName(PaDeviceIndex index) {
  const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
  return info != nullptr && info->name != nullptr ? info->name : "";
}

std::string PortAudioHostApiName(PaDeviceIndex index) {
  const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
  if (info == nullptr) return "";
  const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
  return api != nullptr && api->name != nullptr ? api->name : "";
}

std::string PortAudioErrorText(PaError error) {
  std::string text = Pa_GetErrorText(error);
  if (error == paUnanticipatedHostError) {
    const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
    if (host != nullptr && host->errorText != nullptr && host->errorText[0] != '\0') {
      text += std::string(": ") + host->errorText;
    }
  }
  return text;
}

}  // namespace kestrix
