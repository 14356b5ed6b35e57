// The Text menu and its buttons: letter case, type and size of the receive pane, text
// output ("Scrolling"), word spaces, space time, prosigns, non-English letters, messaging;
// and the copy pane's backslash key.
#include "shell/receive_side.h"
#include "shell/ui_helpers.h"

namespace kestrix::shell {

bool ReceiveSide::TextPanelKeyDown(int key) {
  // The backslash key hands the keyboard to the transmit pane, caret at its end.
  if (key != 220 || parts_.tx.XmitEnable != 3) return false;
  parts_.tp.Memo1->setFocus();
  parts_.tp.Memo1->moveCursor(QTextCursor::End);
  return true;
}

// --- Case, type and size -----------------------------------------------------------------

void ReceiveSide::Upper1Click() {
  parts_.menu.Upper1->setChecked(true);
  parts_.rx.Options.Case = LetterCase::kUpper;
}

void ReceiveSide::Lower1Click() {
  parts_.menu.Lower1->setChecked(true);
  parts_.rx.Options.Case = LetterCase::kLower;
}

void ReceiveSide::SetBold(bool bold, QAction* item) {
  item->setChecked(true);
  style_.FontStyle = bold ? 1 : 0;
  QFont f = parts_.rp.Memo2->font();
  f.setBold(bold);
  parts_.rp.Memo2->setFont(f);
}

void ReceiveSide::Normal1Click() {
  SetBold(false, parts_.menu.Normal1);
}

void ReceiveSide::Bold1Click() {
  SetBold(true, parts_.menu.Bold1);
}

void ReceiveSide::SetFontSize(int size, QAction* item) {
  item->setChecked(true);
  style_.FontSize = size;
  for (QPlainTextEdit* pane : {parts_.rp.Memo2, parts_.tp.Memo1}) {
    QFont f = pane->font();
    f.setPointSize(kFontPoints[size]);
    pane->setFont(f);
  }
}

void ReceiveSide::SmallFont1Click() {
  SetFontSize(1, parts_.menu.SmallFont1);
}
void ReceiveSide::NormalFont1Click() {
  SetFontSize(2, parts_.menu.NormalFont1);
}
void ReceiveSide::MediumFont1Click() {
  SetFontSize(3, parts_.menu.MediumFont1);
}
void ReceiveSide::LargeFont1Click() {
  SetFontSize(4, parts_.menu.LargeFont1);
}

// --- Text output, word spaces, space time ----------------------------------------------------
// The menu items set the value and move their check mark; the buttons (TxtScrollBtn,
// SpaceButton, RunOnButton) keep their own captions and leave the menu's marks alone.

void ReceiveSide::ScrollingOn1Click() {
  parts_.menu.ScrollingOn1->setChecked(true);
  parts_.rx.Options.TextOutput = kOn3;
}

void ReceiveSide::ScrollingOff1Click() {
  parts_.menu.ScrollingOff1->setChecked(true);
  parts_.rx.Options.TextOutput = 0;
}

void ReceiveSide::SpacesOnClick() {
  parts_.menu.SpacesOn->setChecked(true);
  parts_.rx.Options.WordSpaces = kOn3;
}

void ReceiveSide::SpacesOffClick() {
  parts_.menu.SpacesOff->setChecked(true);
  parts_.rx.Options.WordSpaces = 0;
}

void ReceiveSide::Short1Click() {
  parts_.menu.Short1->setChecked(true);
  parts_.rx.Options.Spacing = SpaceTime::kShort;
}

void ReceiveSide::Medium2Click() {
  parts_.menu.Medium2->setChecked(true);
  parts_.rx.Options.Spacing = SpaceTime::kMedium;
}

void ReceiveSide::Long1Click() {
  parts_.menu.Long1->setChecked(true);
  parts_.rx.Options.Spacing = SpaceTime::kLong;
}

// --- Prosigns, non-English letters, messaging ------------------------------------------------

void ReceiveSide::ProsignEnableClick() {
  parts_.menu.ProsignEnable->setChecked(true);
  parts_.rx.Options.Prosigns = 1;
}

void ReceiveSide::ProsignDisableClick() {
  parts_.menu.ProsignDisable->setChecked(true);
  parts_.rx.Options.Prosigns = 0;
}

void ReceiveSide::EnableEnglishClick() {
  parts_.menu.EnableEnglish->setChecked(true);
  parts_.rx.Options.NonEnglish = 1;
}

void ReceiveSide::DisableEnglishClick() {
  parts_.menu.DisableEnglish->setChecked(true);
  parts_.rx.Options.NonEnglish = 0;
}

void ReceiveSide::MsgsONClick() {
  parts_.menu.MsgsON->setChecked(true);
  parts_.tx.MessagingOn = 1;
}

void ReceiveSide::MsgsOFFClick() {
  parts_.menu.MsgsOFF->setChecked(true);
  parts_.tx.MessagingOn = 0;
}

}  // namespace kestrix::shell
