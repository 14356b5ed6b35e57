// Small helpers shared by the window's panels: the colours the captions use as state
// indicators, and factories that create a named control with its caption, hint and
// geometry in one call. GUI thread only.
#pragma once

#include <QColor>
#include <QLabel>
#include <QPushButton>
#include <QRect>
#include <QString>

namespace kestrix::shell {

// Caption colours: red for an active or chosen state, blue (or black) for idle.
inline const QColor kRed{0xFF, 0x00, 0x00};
inline const QColor kBlue{0x00, 0x00, 0xFF};
inline const QColor kBlack{0x00, 0x00, 0x00};
inline const QColor kYellow{0xFF, 0xFF, 0x00};
inline const QColor kGreen{0x00, 0x80, 0x00};
inline const QColor kSilver{0xC0, 0xC0, 0xC0};
inline const QColor kWhite{0xFF, 0xFF, 0xFF};
inline const QColor kPurple{0x80, 0x00, 0x80};

// A push button on `parent` at `rect`, named `name`, with `caption` and tooltip `hint`
// (none when empty). Off-screen buttons take no keyboard focus.
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& hint, const QRect& rect);

// A static text on `parent`.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& rect);

// A caption over a control on the purple background: white, bold, centred.
QLabel* MakeCaption(QWidget* parent, const char* name, const QString& text, const QRect& rect);

// A label drawn as a filled indicator panel (text colour on background colour).
QLabel* MakePanel(QWidget* parent, const char* name, const QString& text, const QRect& rect,
                  const QColor& text_colour, const QColor& background);

// Sets a button's caption and the colour of its text.
void SetCaption(QPushButton* button, const QString& caption, const QColor& colour);
QColor CaptionColour(const QPushButton* button);

// Sets an indicator panel's text and colours.
void SetPanel(QLabel* panel, const QString& text, const QColor& text_colour,
              const QColor& background);

}  // namespace kestrix::shell
