// PortAudio for the whole process: initialised by the first user, terminated after the
// last one lets go, so the device list is probed once (probing ALSA takes a while).
#pragma once

#include <memory>
#include <string>

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

}  // namespace kestrix
