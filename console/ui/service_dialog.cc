#include "console/ui/service_dialog.h"

#include <QMetaObject>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/core/pladmin_doc.h"
#include "platform/errors.h"

namespace pladmin::ui {

QString ServiceTitle(int which) {
  return which == 1 ? QObject::tr("Portulon") : QObject::tr("the remote-access service");
}

ServiceDialog::ServiceDialog(const QString& server, int which, bool start, QWidget* parent)
    : QDialog(parent),
      server_(server),
      which_(which),
      start_(start),
      text_(new QLabel(this)),
      busy_(new QProgressBar(this)),
      buttons_(new QDialogButtonBox(QDialogButtonBox::Close, this)) {
  setWindowTitle(start ? tr("Start Service") : tr("Stop Service"));
  auto* layout = new QVBoxLayout(this);
  text_->setWordWrap(true);
  text_->setMinimumWidth(320);
  text_->setText((start ? tr("Starting %1 on %2...") : tr("Stopping %1 on %2..."))
                     .arg(ServiceTitle(which), server));
  layout->addWidget(text_);
  busy_->setRange(0, 0);
  layout->addWidget(busy_);
  layout->addWidget(buttons_);
  buttons_->button(QDialogButtonBox::Close)->setEnabled(false);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::accept);
}

ServiceDialog::~ServiceDialog() {
  if (worker_.joinable()) worker_.join();
}

void ServiceDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (running_ || worker_.joinable()) return;
  running_ = true;
  worker_ = std::thread([this, server = server_.toStdString(), which = which_, start = start_] {
    const plat::DWORD result = CPladminDoc::ControlService(server, which, start);
    QMetaObject::invokeMethod(this, [this, result] { OnDone(result); }, Qt::QueuedConnection);
  });
}

void ServiceDialog::OnDone(plat::DWORD result) {
  if (worker_.joinable()) worker_.join();
  running_ = false;
  result_ = result;
  busy_->setRange(0, 1);
  busy_->setValue(1);
  if (result == plat::ERROR_SUCCESS) {
    text_->setText((start_ ? tr("%1 is running on %2.") : tr("%1 is stopped on %2."))
                       .arg(ServiceTitle(which_), server_));
  } else {
    text_->setText((start_ ? tr("%1 could not be started on %2:\n%3 (error %4)")
                           : tr("%1 could not be stopped on %2:\n%3 (error %4)"))
                       .arg(ServiceTitle(which_), server_,
                            QString::fromStdString(plat::ErrorText(result)))
                       .arg(result));
  }
  buttons_->button(QDialogButtonBox::Close)->setEnabled(true);
}

void ServiceDialog::reject() {
  // The request cannot be called back; the dialog closes once it is answered.
  if (!running_) QDialog::reject();
}

}  // namespace pladmin::ui
