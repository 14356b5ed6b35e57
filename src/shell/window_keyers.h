// The window's keyers: the port keyer on the window's keying line for the serial-port
// output device, and the sound-card keyers of the tone output. Without a tone output
// (before it is attached) the sound-card calls take the characters' time and key nothing.
//
// Threads: Send*/Sound* on the send threads, AbortTone from any thread.
#pragma once

#include <atomic>

#include "transmit/key_line.h"
#include "transmit/port_keyer.h"
#include "transmit/send_keyers.h"
#include "transmit/tone_output.h"
#include "transmit/transmit_state.h"

namespace kestrix::shell {

// A keying line with no port behind it: code practice with the full timing.
class NoPortLine final : public transmit::KeyLine {
 public:
  void SetKeyLine(uint8_t) override {}
};

class WindowKeyers final : public transmit::SendKeyers {
 public:
  WindowKeyers(transmit::TransmitState& tx, transmit::KeyLine& line, transmit::Waiter& waiter);

  // The first character a thread keys asks for real-time scheduling for that thread.
  void SendCharToPort(uint8_t code) override;
  void SoundKeyChar(uint8_t code, int32_t firstBlock) override;
  void SoundKeyBuffer(const char* text, int32_t& position,
                      const std::atomic<uint8_t>& stopRequested) override;
  void AbortTone() override;
  // The sound-card keyer; set once on the GUI thread before any send thread starts.
  void SetToneOutput(transmit::ToneOutput* tone) { tone_ = tone; }
  // Key up now (STOP, quitting).
  void ReleaseKey();

 private:
  transmit::TransmitState& tx_;
  transmit::KeyLine& line_;
  transmit::Waiter& waiter_;
  transmit::PortKeyer port_;
  std::atomic<uint8_t> toneAbort_{0};
  transmit::ToneOutput* tone_ = nullptr;
};

}  // namespace kestrix::shell
