#include "shell/memory_window.h"

#include <QVBoxLayout>

namespace kestrix::shell {

TransmitMemoryForm::TransmitMemoryForm(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName("TransmitMemoryForm");
  setWindowTitle(kMemoryWindowCaption);
  resize(420, 230);
  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName("MemoryMemo");
  memo_->setReadOnly(true);
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(memo_);  // the memo fills the window
}

}  // namespace kestrix::shell
