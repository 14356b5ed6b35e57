#include "shell/com_port_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace kestrix::shell {

ComPortDialog::ComPortDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("ComPortSelectForm");
  setWindowTitle("COM Port Selection");
  setModal(false);

  ComPortSpinBtn = new QSpinBox(this);
  ComPortSpinBtn->setObjectName("ComPortSpinBtn");
  ComPortSpinBtn->setRange(1, 255);
  ComPortSpinBtn->setValue(1);
  SelectComPortBtn = new QPushButton("Select COM Port", this);
  SelectComPortBtn->setObjectName("SelectComPortBtn");
  ComPortCancelBtn = new QPushButton("Cancel", this);
  ComPortCancelBtn->setObjectName("ComPortCancelBtn");
  PortList = new QLabel(this);
  PortList->setObjectName("PortList");
  PortList->setTextFormat(Qt::PlainText);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(SelectComPortBtn);
  buttons->addWidget(ComPortCancelBtn);
  auto* box = new QVBoxLayout(this);
  box->addWidget(ComPortSpinBtn);
  box->addWidget(PortList);
  box->addLayout(buttons);
}

void ComPortDialog::ShowPorts(const std::vector<platform::SerialPortInfo>& ports) {
  QString text;
  for (size_t i = 0; i < ports.size(); ++i) {
    if (!text.isEmpty()) text += "\n";
    text += QString("COM %1   %2   %3")
                .arg(i + 1)
                .arg(QString::fromStdString(ports[i].device),
                     QString::fromStdString(ports[i].description));
  }
  PortList->setText(text.isEmpty() ? QString("No serial devices found") : text);
  adjustSize();
}

}  // namespace kestrix::shell
