// TComPortSelectForm, "COM Port Selection": the COM number (spin edit, 1..255) and, under
// it, every serial device found with its number and description, so the operator sees
// which adapter COM n is. "Select COM Port" and "Cancel" hide the dialog. Modeless. GUI
// thread only.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "platform/serial_ports.h"

class QLabel;
class QPushButton;
class QSpinBox;

namespace kestrix::shell {

class ComPortDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ComPortDialog(QWidget* parent = nullptr);

  // Fills the device list: "COM 1  /dev/ttyUSB0  FT232R USB UART", one line each.
  void ShowPorts(const std::vector<platform::SerialPortInfo>& ports);

  QSpinBox* ComPortSpinBtn = nullptr;
  QPushButton* SelectComPortBtn = nullptr;
  QPushButton* ComPortCancelBtn = nullptr;
  QLabel* PortList = nullptr;
  int Accepted = 0;  // 1 after "Select COM Port", 0 after "Cancel" or on opening
};

}  // namespace kestrix::shell
