// The add-server dialog: the dial-in servers the network sweep finds, or a
// name typed in.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>

namespace pladmin::ui {

class AddServerDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AddServerDialog(QWidget* parent);
  QString serverName() const { return name_->text().trimmed(); }
  QLineEdit* nameEdit() const { return name_; }
  QListWidget* found() const { return found_; }

 private:
  void Sweep();

  QListWidget* found_;
  QLineEdit* name_;
};

}  // namespace pladmin::ui
