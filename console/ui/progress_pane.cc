#include "console/ui/progress_pane.h"

#include <QPainter>

namespace pladmin::ui {

ProgressPane::ProgressPane(QWidget* parent) : QLabel(parent) {
  timer_.setInterval(WaitProgress::kStepMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
}

void ProgressPane::StartPainter(WaitProgress* progress) {
  progress_ = progress;
  timer_.start();
  update();
}

void ProgressPane::Step() {
  if (!progress_ || !progress_->Step(width())) timer_.stop();
  update();
}

void ProgressPane::paintEvent(QPaintEvent* event) {
  if (!painting()) {
    QLabel::paintEvent(event);
    return;
  }
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  painter.fillRect(QRect(progress_->position(), 2, WaitProgress::kBlockWidth, height() - 4),
                   palette().highlight());
}

}  // namespace pladmin::ui
