// The start/stop dialog: starts or stops Portulon or the remote-access
// service of a monitored server on a worker thread, shows that it works,
// then tells the outcome. The window stays responsive meanwhile.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <thread>

#include "platform/win_types.h"

namespace pladmin::ui {

class ServiceDialog : public QDialog {
  Q_OBJECT
 public:
  // which: 1 Portulon, 0 the remote-access service.
  ServiceDialog(const QString& server, int which, bool start, QWidget* parent);
  ~ServiceDialog() override;

  bool running() const { return running_; }
  plat::DWORD result() const { return result_; }
  QString outcomeText() const { return text_->text(); }

 protected:
  void reject() override;
  void showEvent(QShowEvent* event) override;

 private:
  void OnDone(plat::DWORD result);

  QString server_;
  int which_;
  bool start_;
  QLabel* text_;
  QProgressBar* busy_;
  QDialogButtonBox* buttons_;
  bool running_ = false;
  plat::DWORD result_ = 0;
  std::thread worker_;  // runs the service request; joined before the dialog goes
};

// "Portulon" or "the remote-access service".
QString ServiceTitle(int which);

}  // namespace pladmin::ui
