// TCharTimingForm, "Character Timing": four up-downs, each beside a one-line box, that set
// the dot, dash, character-space and word-space ratios (percent, 50..200). Modeless. The
// keying panel connects the clicks and does the work. GUI thread only.
#pragma once

#include <QDialog>

class QLineEdit;

namespace kestrix::shell {

class UpDown;

class CharTimingDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CharTimingDialog(QWidget* parent = nullptr);

  UpDown* DotUpDn = nullptr;
  UpDown* DashUpDn = nullptr;
  UpDown* CharUpDn = nullptr;
  UpDown* WordUpDn = nullptr;
  QLineEdit* DotLengthMemo = nullptr;
  QLineEdit* DashLengthMemo = nullptr;
  QLineEdit* CharSpaceMemo = nullptr;
  QLineEdit* WordSpaceMemo = nullptr;
};

}  // namespace kestrix::shell
