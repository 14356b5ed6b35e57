// The memory window TTransmitMemoryForm: a small top-level window listing the ten message
// memories in a read-only memo without word wrap. Its text is set by the memories panel.
// GUI thread only.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>

namespace kestrix::shell {

inline constexpr const char* kMemoryWindowCaption = "Tranmit Memory Data";

class TransmitMemoryForm : public QWidget {
  Q_OBJECT

 public:
  explicit TransmitMemoryForm(QWidget* owner);

  void SetText(const QString& text) { memo_->setPlainText(text); }
  QString Text() const { return memo_->toPlainText(); }
  QPlainTextEdit* Memo() const { return memo_; }

 private:
  QPlainTextEdit* memo_;
};

}  // namespace kestrix::shell
