// The send controls other parts of the transmitter press: the memories and the contest
// strip start a buffer send with SEND and switch LOOP off; network keying stops a send.
// Implemented by the transmit controller; called on the GUI thread.
#pragma once

namespace kestrix::transmit {

class SendControl {
 public:
  virtual ~SendControl() = default;
  // SEND: start or stop a send, exactly as the button does.
  virtual void SendBtnClick() = 0;
  // LOOP: toggle repeating the buffer.
  virtual void LoopButtonClick() = 0;
};

}  // namespace kestrix::transmit
