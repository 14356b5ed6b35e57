// The received text: insertion into the receive pane, CLEAR's pane work, the partner
// hand-over, and the Text menu's options with their buttons (Scrolling, Spaces, Space
// Time); the copy pane's backslash key.
#include <QScrollBar>
#include <string_view>

#include "decoder/cp1252.h"
#include "shell/main_window.h"
#include "shell/partner_link.h"
#include "shell/ui_helpers.h"

namespace kestrix::shell {

// --- The receive pane ---------------------------------------------------------------------

void MainWindow::InsertText(const char* bytes, size_t length) {
  // Panes and buffers hold Windows-1252; the widget takes Unicode.
  const QString text = QString::fromStdString(Cp1252ToUtf8(std::string_view(bytes, length)));
  // The text replaces the selection at the caret, so it goes where the user last put the
  // caret; the caret moves past it and stays in view (at the end: the end stays in view).
  QTextCursor caret = rp_.Memo2->textCursor();
  caret.insertText(text);
  rp_.Memo2->setTextCursor(caret);
}

void MainWindow::TableCharacter(char c) {
  // A partner program gets the pane text first, then the character.
  if (tx_.MessagingOn == 1 && tx_.PartnerConnected == 1) {
    messagingBuffer_ = rp_.Memo2->toPlainText().toStdString();
  }
  if (partner_) partner_->PostDecodedChar(std::string_view(&c, 1));
}

void MainWindow::ProsignLetter(char c) {
  if (partner_) partner_->PostDecodedChar(std::string_view(&c, 1));
}

void MainWindow::ClearPanes() {
  rp_.TextPanel->clear();
  rp_.Memo2->clear();
}

bool MainWindow::TextPanelKeyDown(int key) {
  // The backslash key hands the keyboard to the transmit pane, caret at its end.
  if (key != 220 || tx_.XmitEnable != 3) return false;
  tp_.Memo1->setFocus();
  tp_.Memo1->moveCursor(QTextCursor::End);
  return true;
}

// --- Case, type and size -----------------------------------------------------------------------

void MainWindow::Upper1Click() {
  menu_.Upper1->setChecked(true);
  rx_->Options.Case = LetterCase::kUpper;
}

void MainWindow::Lower1Click() {
  menu_.Lower1->setChecked(true);
  rx_->Options.Case = LetterCase::kLower;
}

void MainWindow::Normal1Click() {
  menu_.Normal1->setChecked(true);
  style_.FontStyle = 0;
  QFont f = rp_.Memo2->font();
  f.setBold(false);
  rp_.Memo2->setFont(f);
}

void MainWindow::Bold1Click() {
  menu_.Bold1->setChecked(true);
  style_.FontStyle = 1;
  QFont f = rp_.Memo2->font();
  f.setBold(true);
  rp_.Memo2->setFont(f);
}

void MainWindow::SetFontSize(int size, QAction* item) {
  item->setChecked(true);
  style_.FontSize = size;
  for (QPlainTextEdit* pane : {rp_.Memo2, tp_.Memo1}) {
    QFont f = pane->font();
    f.setPointSize(kFontPoints[size]);
    pane->setFont(f);
  }
}

void MainWindow::SmallFont1Click() {
  SetFontSize(1, menu_.SmallFont1);
}
void MainWindow::NormalFont1Click() {
  SetFontSize(2, menu_.NormalFont1);
}
void MainWindow::MediumFont1Click() {
  SetFontSize(3, menu_.MediumFont1);
}
void MainWindow::LargeFont1Click() {
  SetFontSize(4, menu_.LargeFont1);
}

// --- Text output ("Scrolling")
// ----------------------------------------------------------------------

// The menu and the button switch the same setting but leave each other's marks alone.
void MainWindow::ScrollingOn1Click() {
  menu_.ScrollingOn1->setChecked(true);
  rx_->Options.TextOutput = kOn3;
}

void MainWindow::ScrollingOff1Click() {
  menu_.ScrollingOff1->setChecked(true);
  rx_->Options.TextOutput = 0;
}

void MainWindow::TxtScrollBtnClick() {
  ReceiveOptions& o = rx_->Options;
  o.TextOutput = o.TextOutputOn() ? 0 : kOn3;
  SetCaption(rp_.TxtScrollBtn, o.TextOutputOn() ? "ON" : "OFF", o.TextOutputOn() ? kRed : kBlue);
  FocusTextPane();
}

// --- Word spaces
// ----------------------------------------------------------------------------------

// The menu items set the value and their check mark; SpaceButton keeps its own caption,
// as the button leaves the menu's marks alone.
void MainWindow::SpacesOnClick() {
  menu_.SpacesOn->setChecked(true);
  rx_->Options.WordSpaces = kOn3;
}

void MainWindow::SpacesOffClick() {
  menu_.SpacesOff->setChecked(true);
  rx_->Options.WordSpaces = 0;
}

void MainWindow::SpaceButtonClick() {
  ReceiveOptions& o = rx_->Options;
  o.WordSpaces = o.SpacesOn() ? 0 : kOn3;
  SetCaption(rp_.SpaceButton, o.SpacesOn() ? "ON" : "OFF", o.SpacesOn() ? kRed : kBlack);
  FocusTextPane();
}

// --- Space time
// ------------------------------------------------------------------------------------

void MainWindow::SetSpaceTime(SpaceTime spacing) {
  rx_->Options.Spacing = spacing;
  ShowSpaceTime();
}

void MainWindow::ShowSpaceTime() {
  switch (rx_->Options.Spacing) {
    case SpaceTime::kShort:
      SetCaption(rp_.RunOnButton, "SHORT", kBlue);
      break;
    case SpaceTime::kMedium:
      SetCaption(rp_.RunOnButton, "MEDIUM", kRed);
      break;
    case SpaceTime::kLong:
      SetCaption(rp_.RunOnButton, "LONG", kBlue);
      break;
  }
}

// The menu items set the value and move the check mark; RunOnButton's caption is the
// button's own, changed only when it is pressed.
void MainWindow::Short1Click() {
  menu_.Short1->setChecked(true);
  rx_->Options.Spacing = SpaceTime::kShort;
}

void MainWindow::Medium2Click() {
  menu_.Medium2->setChecked(true);
  rx_->Options.Spacing = SpaceTime::kMedium;
}

void MainWindow::Long1Click() {
  menu_.Long1->setChecked(true);
  rx_->Options.Spacing = SpaceTime::kLong;
}

void MainWindow::RunOnButtonClick() {
  // LONG -> SHORT -> MEDIUM -> LONG; the menu keeps its check mark.
  switch (rx_->Options.Spacing) {
    case SpaceTime::kLong:
      SetSpaceTime(SpaceTime::kShort);
      break;
    case SpaceTime::kShort:
      SetSpaceTime(SpaceTime::kMedium);
      break;
    case SpaceTime::kMedium:
      SetSpaceTime(SpaceTime::kLong);
      break;
  }
  FocusTextPane();
}

// --- Prosigns, non-English letters, messaging
// -------------------------------------------------------

void MainWindow::ProsignEnableClick() {
  menu_.ProsignEnable->setChecked(true);
  rx_->Options.Prosigns = 1;
}

void MainWindow::ProsignDisableClick() {
  menu_.ProsignDisable->setChecked(true);
  rx_->Options.Prosigns = 0;
}

void MainWindow::EnableEnglishClick() {
  menu_.EnableEnglish->setChecked(true);
  rx_->Options.NonEnglish = 1;
}

void MainWindow::DisableEnglishClick() {
  menu_.DisableEnglish->setChecked(true);
  rx_->Options.NonEnglish = 0;
}

void MainWindow::MsgsONClick() {
  menu_.MsgsON->setChecked(true);
  tx_.MessagingOn = 1;
}

void MainWindow::MsgsOFFClick() {
  menu_.MsgsOFF->setChecked(true);
  tx_.MessagingOn = 0;
}

}  // namespace kestrix::shell
