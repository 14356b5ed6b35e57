// TAFCStartFreqForm, "AFC Start Frequency": a spin edit (100..1500 Hz in steps of 10)
// whose value "Set Frequency" stores as the AFC start frequency; "Cancel" only hides the
// dialog. Modeless. GUI thread only.
#pragma once

#include <QDialog>

class QPushButton;
class QSpinBox;

namespace kestrix::shell {

class AfcStartDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AfcStartDialog(QWidget* parent = nullptr);

  QSpinBox* AFCStartSpinBtn() const { return spin_; }
  QPushButton* AFCStartBtn() const { return set_; }
  QPushButton* AFCStartCancelBtn() const { return cancel_; }

 signals:
  // "Set Frequency" was pressed with this value (Hz); the dialog has hidden itself.
  void frequencySet(int hz);

 private:
  QSpinBox* spin_;
  QPushButton* set_;
  QPushButton* cancel_;
};

}  // namespace kestrix::shell
