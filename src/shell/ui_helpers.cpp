#include "shell/ui_helpers.h"

#include <QPalette>

namespace kestrix::shell {

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& hint, const QRect& rect) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  if (!hint.isEmpty()) b->setToolTip(hint);
  b->setGeometry(rect);
  b->setAutoDefault(false);
  SetCaption(b, caption, kBlack);
  return b;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& rect) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setGeometry(rect);
  return l;
}

QLabel* MakeCaption(QWidget* parent, const char* name, const QString& text, const QRect& rect) {
  QLabel* l = MakeLabel(parent, name, text, rect);
  l->setAlignment(Qt::AlignCenter);
  QFont f = l->font();
  f.setPixelSize(12);
  f.setBold(true);
  l->setFont(f);
  QPalette p = l->palette();
  p.setColor(QPalette::WindowText, kWhite);
  l->setPalette(p);
  return l;
}

QLabel* MakePanel(QWidget* parent, const char* name, const QString& text, const QRect& rect,
                  const QColor& text_colour, const QColor& background) {
  QLabel* l = MakeLabel(parent, name, text, rect);
  l->setAlignment(Qt::AlignCenter);
  l->setFrameStyle(QFrame::Panel | QFrame::Raised);
  l->setAutoFillBackground(true);
  SetPanel(l, text, text_colour, background);
  return l;
}

void SetCaption(QPushButton* button, const QString& caption, const QColor& colour) {
  button->setText(caption);
  if (button->testAttribute(Qt::WA_SetPalette) &&
      button->palette().color(QPalette::ButtonText) == colour) {
    return;  // unchanged: every new palette is a new key in the style's pixmap cache
  }
  QPalette p = button->palette();
  p.setColor(QPalette::ButtonText, colour);
  button->setPalette(p);
}

QColor CaptionColour(const QPushButton* button) {
  return button->palette().color(QPalette::ButtonText);
}

void SetPanel(QLabel* panel, const QString& text, const QColor& text_colour,
              const QColor& background) {
  panel->setText(text);
  QPalette p = panel->palette();
  p.setColor(QPalette::WindowText, text_colour);
  p.setColor(QPalette::Window, background);
  panel->setPalette(p);
}

}  // namespace kestrix::shell
