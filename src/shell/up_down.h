// An up-down spinner: a pair of arrow buttons that step an integer position within a
// range, without a text field of its own (the value is shown by a separate panel or
// label, as the window's speed and counter read-outs do). GUI thread only.
#pragma once

#include <QWidget>

class QToolButton;

namespace kestrix::shell {

class UpDown : public QWidget {
  Q_OBJECT

 public:
  // `horizontal`: left/right arrows side by side; otherwise up/down arrows stacked.
  UpDown(QWidget* parent, bool horizontal, int minimum, int maximum, int position);

  int Position() const { return position_; }
  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }
  // Sets the position (clamped to the range) without emitting clicked().
  void SetPosition(int position);
  void SetRange(int minimum, int maximum);
  // How far one arrow press moves the position (1 unless set).
  void SetIncrement(int increment) { increment_ = increment; }

  // What an arrow press does: one step up (or down), then clicked().
  void StepUp();
  void StepDown();

 signals:
  // After an arrow changed (or tried to change) the position.
  void clicked(bool up);

 private:
  void Step(int delta);

  QToolButton* up_;
  QToolButton* down_;
  int minimum_;
  int maximum_;
  int position_;
  int increment_ = 1;
};

}  // namespace kestrix::shell
