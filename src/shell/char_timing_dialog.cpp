#include "shell/char_timing_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "shell/up_down.h"

namespace kestrix::shell {

CharTimingDialog::CharTimingDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("CharTimingForm");
  setWindowTitle("Character Timing");
  setModal(false);

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("Ratio Increase/Decrease", this), 0, 0, 1, 3);
  struct Row {
    const char* label;
    const char* upDownName;
    const char* memoName;
    int step;
    int position;
    UpDown** upDown;
    QLineEdit** memo;
  };
  const Row rows[] = {
      {"Dot Length ", "DotUpDn", "DotLengthMemo", 1, 100, &DotUpDn, &DotLengthMemo},
      {"Dash Length ", "DashUpDn", "DashLengthMemo", 1, 150, &DashUpDn, &DashLengthMemo},
      {"Character Space", "CharUpDn", "CharSpaceMemo", 1, 150, &CharUpDn, &CharSpaceMemo},
      {"Word Space", "WordUpDn", "WordSpaceMemo", 10, 150, &WordUpDn, &WordSpaceMemo},
  };
  int r = 1;
  for (const Row& row : rows) {
    grid->addWidget(new QLabel(row.label, this), r, 0);
    auto* memo = new QLineEdit("1", this);
    memo->setObjectName(row.memoName);
    memo->setReadOnly(true);
    memo->setMaximumWidth(60);
    auto* upDown = new UpDown(this, false, 50, 200, row.position);
    upDown->setObjectName(row.upDownName);
    upDown->SetIncrement(row.step);
    grid->addWidget(memo, r, 1);
    grid->addWidget(upDown, r, 2);
    *row.upDown = upDown;
    *row.memo = memo;
    ++r;
  }
  grid->addWidget(new QLabel("Standard Lengths", this), r++, 0, 1, 3);
  for (const char* text :
       {"Dot Length            =      Code Speed", "Dash Length         = 3 * Code Speed",
        "Character Length =  3 * Code Speed", "Word Length         = 7 * Code Speed"}) {
    grid->addWidget(new QLabel(text, this), r++, 0, 1, 3);
  }
  setFixedSize(sizeHint());
}

}  // namespace kestrix::shell
