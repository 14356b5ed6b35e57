#include "shell/text_outlets.h"

#include <string_view>

#include "decoder/cp1252.h"
#include "shell/partner_link.h"

namespace kestrix::shell {

void ReceivePaneText::InsertText(const char* bytes, size_t length) {
  // Panes and buffers hold Windows-1252; the widget takes Unicode.
  const QString text = QString::fromStdString(Cp1252ToUtf8(std::string_view(bytes, length)));
  // The text replaces the selection at the caret, so it goes where the user last put the
  // caret; the caret moves past it and stays in view (at the end: the end stays in view).
  QTextCursor caret = rp_.Memo2->textCursor();
  caret.insertText(text);
  rp_.Memo2->setTextCursor(caret);
}

void ReceivePaneText::ClearPanes() {
  rp_.TextPanel->clear();
  rp_.Memo2->clear();
}

void PartnerText::TableCharacter(char c) {
  if (tx_.MessagingOn == 1 && tx_.PartnerConnected == 1) {
    paneText_ = rp_.Memo2->toPlainText().toStdString();
  }
  Post(c);
}

void PartnerText::Post(char c) {
  if (PartnerLink* link = link_()) link->PostDecodedChar(std::string_view(&c, 1));
}

}  // namespace kestrix::shell
