// PortAudio for the whole process: initialised by the first user, terminated after the
// last one lets go, so the device list is probed once (probing ALSA takes a while).
#pragma once

#include <portaudio.h>

#include <memory>
#include <string>
#include <vector>

namespace kestrix {

class PortAudioSession {
 public:
  ~PortAudioSession();
  PortAudioSession(const PortAudioSession&) = delete;
  PortAudioSession& operator=(const PortAudioSession&) = delete;

  // The shared session; initialises PortAudio when no one holds it yet.
  static std::shared_ptr<PortAudioSession> Acquire();

  bool Ok() const { return ok_; }
  // Why initialisation failed ("" when it did not).
  const std::string& Error() const { return error_; }

 private:
  PortAudioSession();
  bool ok_ = false;
  std::string error_;
};

// The devices that can record (`output` false) or play (`output` true), the system
// default first, into `devices`. Returns paNoError, or the negative error when the list
// cannot be read. Needs an initialised session.
PaError ListPortAudioDevices(bool output, std::vector<PaDeviceIndex>& devices);
// The device's name and its host API's name ("" when unknown).
std::string PortAudioDeviceName(PaDeviceIndex index);
std::string PortAudioHostApiName(PaDeviceIndex index);
// The library's text for `error`, with the host's own words for an unanticipated host
// error.
std::string PortAudioErrorText(PaError error);

}  // namespace kestrix
