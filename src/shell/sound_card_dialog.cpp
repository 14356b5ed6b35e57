#include "shell/sound_card_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "shell/ui_helpers.h"
#include "shell/up_down.h"

namespace kestrix::shell {

SoundCardDialog::SoundCardDialog(SoundCardSelect& logic, QWidget* parent)
    : QDialog(parent), logic_(logic) {
  setObjectName("SoundCardSelect");
  setWindowTitle("Select Sound Card");
  setModal(false);

  name_ = new QLabel(this);
  name_->setObjectName("SoundCardManf");
  name_->setMinimumWidth(260);
  upDown_ = new UpDown(this, false, 0, kWaveUpDownMax, 0);
  upDown_->setObjectName("WaveUpDown");
  upDown_->setFixedSize(20, 34);
  select_ = new QPushButton("Select", this);
  select_->setObjectName("CloseBtn");

  auto* row = new QHBoxLayout(this);
  row->addWidget(name_, 1);
  row->addWidget(upDown_);
  row->addWidget(select_);
  setFixedSize(sizeHint());

  connect(upDown_, &UpDown::clicked, this, [this](bool) { WaveUpDownClick(); });
  connect(select_, &QPushButton::clicked, this, &SoundCardDialog::CloseBtnClick);
}

void SoundCardDialog::SelectSoundCardClick() {
  Apply(logic_.SelectSoundCardClick());
}

void SoundCardDialog::WaveUpDownClick() {
  Apply(logic_.WaveUpDownClick(upDown_->Position()));
}

void SoundCardDialog::CloseBtnClick() {
  Apply(logic_.CloseBtnClick());
}

void SoundCardDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  const SoundCardView& view = logic_.FormShow();
  upDown_->SetPosition(view.Position);
  name_->setText(QString::fromStdString(view.Name));
}

void SoundCardDialog::reject() {
  // Closing by the frame is a choice too: the loop restarts on the current device.
  if (isVisible()) {
    const SoundCardView& view = logic_.FormClose();
    upDown_->SetPosition(view.Position);
    name_->setText(QString::fromStdString(view.Name));
    QPalette p = name_->palette();
    p.setColor(QPalette::WindowText, kBlack);
    name_->setPalette(p);
  }
  QDialog::reject();
}

void SoundCardDialog::Apply(const SoundCardView& view) {
  upDown_->SetPosition(view.Position);
  name_->setText(QString::fromStdString(view.Name));
  QPalette p = name_->palette();
  p.setColor(QPalette::WindowText, view.Colour == NameColour::kBlue ? kBlue : kBlack);
  name_->setPalette(p);
  if (view.Visible && !isVisible()) {
    show();
    raise();
  } else if (!view.Visible && isVisible()) {
    hide();
  }
}

}  // namespace kestrix::shell
