// The window's keying controls: Xmit Tune, the transmit speed (track bar, up-down, RxTx
// Sync), the Character Timing dialog, the output device, output port and polarity menus
// with the COM Port Selection dialog, and the side-tone switch. Thin handlers over the
// transmit state and the keying port, which this panel owns; the window keeps one-line
// forwarders under the same names for its menus and the settings loader.
//
// Threads: GUI thread, except LineFailed, which a keyer thread may call: it only queues
// the message and the "None" handler onto the GUI thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/key_device.h"
#include "platform/serial_ports.h"
#include "shell/settings_file.h"
#include "shell/window_transmit_state.h"
#include "transmit/keying_port.h"

namespace kestrix::shell {

class CharTimingDialog;
class ComPortDialog;
class MainWindow;

inline constexpr int kSerialSpeedLimit = 50;  // wpm: faster keying needs the sound-card output

class KeyingPanel final : public transmit::KeyingPortHost {
 public:
  // `device` and `listPorts` default to the real devices.
  KeyingPanel(MainWindow& window, platform::KeyDevice* device,
              std::function<std::vector<platform::SerialPortInfo>()> listPorts);
  ~KeyingPanel() override;

  transmit::KeyingPort& Port() { return *port_; }
  CharTimingDialog& CharTimingForm() { return *charTiming_; }
  ComPortDialog& ComPortSelectForm() { return *comPort_; }

  void TuneButtonClick();
  void SpeedTrackBarChange();
  void XmitSpeedUpDnClick();
  void SyncBtnClick(int receiveWpm);
  void CharacterConfigClick();
  void DotUpDnClick();
  void DashUpDnClick();
  void CharUpDnClick();
  void WordUpDnClick();

  void SoundCard1Click();
  void SerialPort1Click();
  void PortNumber1Click();
  void None2Click();
  void Normal3Click();
  void Invert2Click();
  void Printer11Click();
  void Printer21Click();
  void None1Click();
  void SideToneOnClick();
  void SideToneOFFClick();
  void SelectComPortBtnClick();
  void ComPortCancelBtnClick();

  // The settings loader's entries: a stored COM name or device path; the COM dialog's
  // number; a stored ratio with its up-down position and box.
  void OpenNamedComPort(const std::string& name);
  void SetComPortSpinBtn(int value);
  void SetTimingRatio(TimingRatio which, float percent, int upDownPosition,
                      const std::string& memoText);

  // Key up (STOP, errors). The port stays selected.
  void ReleaseLine();
  // Key up and the device closed (quit); the port record is kept for the settings file.
  void ShutDown();

  // KeyingPortHost
  void PortMessage(const std::string& title, const std::string& text) override;
  void RunNoneHandler() override;
  void LineFailed(const std::string& device, const std::string& text) override;

 private:
  void RatioClicked(TimingRatio which);
  void Recompute();

  MainWindow& w_;
  TransmitState& tx_;
  std::function<std::vector<platform::SerialPortInfo>()> listPorts_;
  std::unique_ptr<transmit::KeyingPort> port_;
  CharTimingDialog* charTiming_ = nullptr;
  ComPortDialog* comPort_ = nullptr;
};

}  // namespace kestrix::shell
