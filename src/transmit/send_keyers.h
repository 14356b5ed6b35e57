// What the send threads key through, whichever output device is chosen: the port keyer
// for the serial port, the sound-card keyer for tone output. One object serves both so
// the send threads have a single call site per character.
//
// Threads: the Send*/Sound* calls run on a keyer thread and block for the character's (or
// batch's) time; AbortTone may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrix::transmit {

class SendKeyers {
 public:
  virtual ~SendKeyers() = default;

  // One character on the keying line (output device: serial port).
  virtual void SendCharToPort(uint8_t code) = 0;
  // One character as tone on the sound card (output device: sound card). `firstBlock`
  // above 0: this is the first block, do not wait for the other buffer.
  virtual void SoundKeyChar(uint8_t code, int32_t firstBlock) = 0;
  // The zero-terminated `text` from `position` on, in batches, as tone; advances
  // `position` past what was sent and returns early once `stopRequested` becomes 1
  // (between batches) or the tone was aborted.
  virtual void SoundKeyBuffer(const char* text, int32_t& position,
                              const std::atomic<uint8_t>& stopRequested) = 0;
  // SEND's stop: the running tone run ends at its next block.
  virtual void AbortTone() = 0;
};

}  // namespace kestrix::transmit
