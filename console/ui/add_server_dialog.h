// The add-server dialog: the servers running Portulon that the network sweep
// finds (off the window thread), or a name typed in.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "console/ui/background_job.h"

namespace pladmin::ui {

class AddServerDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AddServerDialog(QWidget* parent);
  QString serverName() const { return name_->text().trimmed(); }
  QLineEdit* nameEdit() const { return name_; }
  QListWidget* found() const { return found_; }
  QLabel* note() const { return note_; }
  bool searching() const { return sweep_->busy(); }

 private:
  void Sweep();

  QListWidget* found_;
  QLabel* note_;  // what the sweep found or why it could not search
  QLineEdit* name_;
  QPushButton* again_ = nullptr;
  BackgroundJob* sweep_;
};

}  // namespace pladmin::ui
