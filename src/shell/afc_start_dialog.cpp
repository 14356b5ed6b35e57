#include "shell/afc_start_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace kestrix::shell {

AfcStartDialog::AfcStartDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("AFCStartFreqForm");
  setWindowTitle("AFC Start Frequency");
  setModal(false);

  spin_ = new QSpinBox(this);
  spin_->setObjectName("AFCStartSpinBtn");
  spin_->setRange(100, 1500);
  spin_->setSingleStep(10);
  spin_->setValue(600);
  spin_->setSuffix(" Hz");
  set_ = new QPushButton("Set Frequency", this);
  set_->setObjectName("AFCStartBtn");
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("AFCStartCancelBtn");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(set_);
  buttons->addWidget(cancel_);
  auto* box = new QVBoxLayout(this);
  box->addWidget(spin_);
  box->addLayout(buttons);
  setFixedSize(sizeHint());

  connect(set_, &QPushButton::clicked, this, [this] {
    hide();
    emit frequencySet(spin_->value());
  });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::hide);
}

}  // namespace kestrix::shell
