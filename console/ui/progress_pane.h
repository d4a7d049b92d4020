// Status pane 1: its text (the events count), and while data is loaded the
// painter's moving block, drawn until the load signals "WaitProgressDraw".
#pragma once

#include <QLabel>
#include <QTimer>

#include "console/core/wait_progress.h"

namespace pladmin::ui {

class ProgressPane : public QLabel {
  Q_OBJECT
 public:
  explicit ProgressPane(QWidget* parent = nullptr);

  // Starts the painter on `progress` (which a load signals when done); the
  // pane is cleared once it is signalled.
  void StartPainter(WaitProgress* progress);
  bool painting() const { return timer_.isActive(); }
  int blockPosition() const { return progress_ ? progress_->position() : 0; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Step();

  QTimer timer_;
  WaitProgress* progress_ = nullptr;  // the document's; set while painting
};

}  // namespace pladmin::ui
