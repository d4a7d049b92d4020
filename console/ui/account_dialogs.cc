#include "console/ui/account_dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "accounts/simulation.h"
#include "console/ui/dialog_parts.h"

namespace pladmin::ui {

CopyProfileDialog::CopyProfileDialog(const accounts::AccountStore& store, const std::string& from,
                                     const std::vector<std::string>& accounts, QWidget* parent)
    : QDialog(parent), store_(store), from_(from) {
  setWindowTitle(tr("Copy Profile of %1").arg(QString::fromStdString(from)));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("Copy the limits of %1 (not its static address, nor any usage) to:")
                                   .arg(QString::fromStdString(from)), this));
  filter_ = new QLineEdit(this);
  filter_->setPlaceholderText(tr("Search"));
  layout->addWidget(filter_);
  list_ = new QListWidget(this);
  list_->setUniformItemSizes(true);
  for (const std::string& a : accounts) {
    if (a == from) continue;
    auto* item = new QListWidgetItem(QString::fromStdString(a), list_);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  layout->addWidget(list_);
  connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
    for (int i = 0; i < list_->count(); ++i) {
      list_->item(i)->setHidden(!list_->item(i)->text().contains(text, Qt::CaseInsensitive));
    }
  });
  auto* form = new QFormLayout;
  others_ = new QLineEdit(this);
  others_->setPlaceholderText("DOM\\carol, DOM\\dave");
  form->addRow(tr("New profiles:"), others_);
  layout->addLayout(form);
  error_ = ErrorLabel(this);
  layout->addWidget(error_);
  layout->addWidget(OkCancel(this));
}

std::vector<std::string> CopyProfileDialog::Targets() const {
  std::vector<std::string> out;
  for (int i = 0; i < list_->count(); ++i) {
    if (list_->item(i)->checkState() == Qt::Checked) out.push_back(list_->item(i)->text().toStdString());
  }
  for (const QString& name : others_->text().split(QRegularExpression("[,\\s]+"), Qt::SkipEmptyParts)) {
    out.push_back(name.toStdString());
  }
  return out;
}

bool CopyProfileDialog::Copy() {
  const accounts::Outcome o = store_.Copy(from_, Targets());
  error_->setText(QString::fromStdString(o.message));
  return o.ok();
}

void CopyProfileDialog::accept() {
  if (Copy()) QDialog::accept();
}

SimulateDialog::SimulateDialog(const std::vector<std::string>& servers, std::string dataFolder, QWidget* parent)
    : QDialog(parent), dataFolder_(std::move(dataFolder)) {
  setWindowTitle(tr("Simulate Sessions"));
  job_ = new BackgroundJob(this);
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  server_ = new QComboBox(this);
  for (const std::string& s : servers) server_->addItem(QString::fromStdString(s));
  form->addRow(tr("Server:"), server_);
  port_ = new QLineEdit("COM1", this);
  form->addRow(tr("Port:"), port_);
  account_ = new QLineEdit(this);
  account_->setPlaceholderText("DOMAIN\\user");
  form->addRow(tr("Account:"), account_);
  machine_ = new QLineEdit("*", this);
  form->addRow(tr("Caller's computer:"), machine_);
  action_ = new QComboBox(this);
  action_->addItems({tr("New connection"), tr("Hang-up")});
  form->addRow(tr("Message:"), action_);
  minutes_ = new QSpinBox(this);
  minutes_->setRange(0, 100000);
  minutes_->setSuffix(tr(" min"));
  minutes_->setValue(10);
  form->addRow(tr("Session lasted (hang-up):"), minutes_);
  layout->addLayout(form);
  auto* send = new QPushButton(tr("&Send"), this);
  send->setDefault(true);
  connect(send, &QPushButton::clicked, this, &SimulateDialog::Send);
  layout->addWidget(send);
  results_ = new QListWidget(this);
  layout->addWidget(results_);
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(close);
  resize(460, 420);
}

void SimulateDialog::Send() {
  accounts::SimulatedCall call;
  call.server = server_->currentText().toStdString();
  call.port = port_->text().trimmed().toStdString();
  call.account = account_->text().trimmed().toStdString();
  call.machine = machine_->text().trimmed().toStdString();
  call.hangUp = action_->currentIndex() == 1;
  call.duration = minutes_->value() * 60L;
  queue_.push_back(std::move(call));
  SendNext();
}

void SimulateDialog::SendNext() {
  if (queue_.empty() || job_->busy()) return;
  accounts::SimulatedCall call = std::move(queue_.front());
  queue_.pop_front();
  // The server's service may be slow to decide: the answer comes back here.
  job_->Start([call, folder = dataFolder_] { return accounts::Simulate(call, folder); },
              [this](const accounts::SimulationResult& r) {
                auto* item = new QListWidgetItem(QString::fromStdString(r.outcome.ok() ? r.words : r.outcome.message),
                                                 results_);
                if (!r.outcome.ok() || !r.admitted) item->setForeground(QColor(0xb0, 0x00, 0x20));
                results_->scrollToItem(item);
                SendNext();
              });
}

MessageDialog::MessageDialog(const QString& recipient, QWidget* parent)
    : QDialog(parent), job_(new BackgroundJob(this)) {
  setWindowTitle(tr("Send Message"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  to_ = new QLineEdit(recipient, this);
  form->addRow(tr("To (user or computer):"), to_);
  text_ = new QLineEdit(this);
  form->addRow(tr("Message:"), text_);
  layout->addLayout(form);
  error_ = ErrorLabel(this);
  layout->addWidget(error_);
  auto* buttons = OkCancel(this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  layout->addWidget(buttons);
  resize(420, 0);
}

void MessageDialog::accept() {
  if (job_->busy()) return;
  ok_->setEnabled(false);
  error_->setText(tr("Sending..."));
  job_->Start(
      [to = to_->text().trimmed().toStdString(), text = text_->text().toStdString()] {
        return accounts::SendMessageTo(to, text);
      },
      [this](const accounts::Outcome& o) {
        ok_->setEnabled(true);
        error_->setText(QString::fromStdString(o.message));
        if (o.ok()) QDialog::accept();
      });
}

}  // namespace pladmin::ui
