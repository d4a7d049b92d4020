// The refresh-rate dialog: how often the servers are polled (0 = never by
// itself, only at start and on Refresh).
#pragma once

#include <QDialog>
#include <QDoubleSpinBox>

namespace pladmin::ui {

class RefreshRateDialog : public QDialog {
  Q_OBJECT
 public:
  RefreshRateDialog(int intervalMs, QWidget* parent);
  int intervalMs() const;
  QDoubleSpinBox* seconds() const { return seconds_; }

 private:
  QDoubleSpinBox* seconds_;
};

}  // namespace pladmin::ui
