// TSoundCardSelect: the sound card selection dialog (label SoundCardManf, up-down
// WaveUpDown 0..32, button CloseBtn "Select"). The widgets only; every decision is made
// by kestrix::SoundCardSelect, whose view the dialog shows after each call. GUI thread.
#pragma once

#include <QDialog>

#include "receive/sound_card_select.h"

class QLabel;
class QPushButton;

namespace kestrix::shell {

class UpDown;

class SoundCardDialog : public QDialog {
  Q_OBJECT

 public:
  SoundCardDialog(SoundCardSelect& logic, QWidget* parent = nullptr);

  // Options > Select Sound Card.
  void SelectSoundCardClick();
  // The dialog's own events, also callable from tests.
  void WaveUpDownClick();
  void CloseBtnClick();

  QLabel* SoundCardManf() const { return name_; }
  UpDown* WaveUpDown() const { return upDown_; }
  QPushButton* CloseBtn() const { return select_; }

 protected:
  void showEvent(QShowEvent* event) override;
  // The frame's close box and Escape both end here.
  void reject() override;

 private:
  void Apply(const SoundCardView& view);

  SoundCardSelect& logic_;
  QLabel* name_;
  UpDown* upDown_;
  QPushButton* select_;
};

}  // namespace kestrix::shell
