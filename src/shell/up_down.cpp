#include "shell/up_down.h"

#include <QBoxLayout>
#include <QToolButton>
#include <algorithm>

namespace kestrix::shell {

UpDown::UpDown(QWidget* parent, bool horizontal, int minimum, int maximum, int position)
    : QWidget(parent), minimum_(minimum), maximum_(maximum), position_(position) {
  up_ = new QToolButton(this);
  down_ = new QToolButton(this);
  up_->setArrowType(horizontal ? Qt::RightArrow : Qt::UpArrow);
  down_->setArrowType(horizontal ? Qt::LeftArrow : Qt::DownArrow);
  up_->setAutoRepeat(true);
  down_->setAutoRepeat(true);
  up_->setFocusPolicy(Qt::NoFocus);
  down_->setFocusPolicy(Qt::NoFocus);
  QBoxLayout* box = horizontal ? static_cast<QBoxLayout*>(new QHBoxLayout(this))
                               : static_cast<QBoxLayout*>(new QVBoxLayout(this));
  box->setContentsMargins(0, 0, 0, 0);
  box->setSpacing(0);
  if (horizontal) {
    box->addWidget(down_);
    box->addWidget(up_);
  } else {
    box->addWidget(up_);
    box->addWidget(down_);
  }
  for (QToolButton* b : {up_, down_}) {
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    b->setMinimumSize(1, 1);
  }
  connect(up_, &QToolButton::clicked, this, &UpDown::StepUp);
  connect(down_, &QToolButton::clicked, this, &UpDown::StepDown);
  SetPosition(position);
}

void UpDown::SetPosition(int position) {
  position_ = std::clamp(position, minimum_, maximum_);
}

void UpDown::SetRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = std::max(minimum, maximum);
  SetPosition(position_);
}

void UpDown::StepUp() {
  Step(+increment_);
}
void UpDown::StepDown() {
  Step(-increment_);
}

void UpDown::Step(int delta) {
  SetPosition(position_ + delta);
  emit clicked(delta > 0);
}

}  // namespace kestrix::shell
