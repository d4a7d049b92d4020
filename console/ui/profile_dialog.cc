#include "console/ui/profile_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QVBoxLayout>

#include "console/ui/dialog_parts.h"

namespace pladmin::ui {

namespace {

std::vector<const accounts::SettingInfo*> Limits(bool group) {
  std::vector<const accounts::SettingInfo*> out;
  for (const auto& info : accounts::ProfileSettings()) {
    if (!group || info.groupKey) out.push_back(&info);
  }
  return out;
}

std::vector<const accounts::SettingInfo*> Usage() {
  std::vector<const accounts::SettingInfo*> out;
  for (const auto& info : accounts::UsageValues()) out.push_back(&info);
  return out;
}

}  // namespace

ProfileDialog::ProfileDialog(const accounts::AccountStore& store, std::optional<accounts::Account> account,
                             QWidget* parent)
    : QDialog(parent), store_(store), account_(std::move(account)) {
  const bool group = account_ && account_->IsGroup();
  setWindowTitle(account_ ? tr("%1 Properties").arg(QString::fromStdString(account_->section))
                          : tr("New Profile"));
  auto* layout = new QVBoxLayout(this);
  if (!account_) {
    auto* nameRow = new QFormLayout;
    name_ = new QLineEdit(this);
    name_->setObjectName("account");
    name_->setPlaceholderText("DOMAIN\\user or +DOMAIN\\Group");
    nameRow->addRow(tr("Account:"), name_);
    layout->addLayout(nameRow);
  }
  auto* limits = new QGroupBox(tr("Limits"), this);
  form_ = new SettingsForm(Limits(group), limits);
  (new QVBoxLayout(limits))->addWidget(form_);
  layout->addWidget(limits);
  const std::vector<std::pair<std::string, std::string>> values =
      account_ ? account_->values : store_.NewProfile("DOMAIN\\user").values;
  form_->SetValues(values);
  if (account_ && !group) {
    auto* usage = new QGroupBox(tr("Usage (kept by the service)"), this);
    auto* shown = new SettingsForm(Usage(), usage, /*readOnly=*/true);
    shown->SetValues(values);
    (new QVBoxLayout(usage))->addWidget(shown);
    layout->addWidget(usage);
  }
  error_ = ErrorLabel(this);
  layout->addWidget(error_);
  layout->addWidget(OkCancel(this));
  // A complaint stays only while it holds: a corrected value clears it.
  connect(form_, &SettingsForm::Edited, this, &ProfileDialog::Recheck);
  if (name_) connect(name_, &QLineEdit::textEdited, this, &ProfileDialog::Recheck);
}

void ProfileDialog::Recheck() {
  if (error_->text().isEmpty()) return;
  std::string why;
  const std::string section = account_ ? account_->section : name_->text().trimmed().toStdString();
  if (!account_ && !accounts::CheckAccountName(section, &why)) {
    error_->setText(QString::fromStdString(why));
    return;
  }
  const accounts::Account shown = account_ ? *account_ : store_.NewProfile(section);
  error_->setText(accounts::ChangedProfileValues(shown, form_->Typed(), &why) ? QString()
                                                                              : QString::fromStdString(why));
}

bool ProfileDialog::Save() {
  error_->clear();
  std::string why;
  const accounts::Account before = account_.value_or(accounts::Account{});
  std::string section = account_ ? account_->section : name_->text().trimmed().toStdString();
  if (!account_) {
    if (!accounts::CheckAccountName(section, &why)) {
      error_->setText(QString::fromStdString(why));
      name_->setFocus();
      return false;
    }
  }
  accounts::Account shown = account_ ? before : store_.NewProfile(section);
  auto changes = accounts::ChangedProfileValues(shown, form_->Typed(), &why);
  if (!changes) {
    error_->setText(QString::fromStdString(why));
    return false;
  }
  const accounts::Outcome outcome = account_ ? store_.Set(section, *changes) : store_.Add(section, *changes);
  if (!outcome.ok()) {
    error_->setText(QString::fromStdString(outcome.message));
    return false;
  }
  return true;
}

void ProfileDialog::accept() {
  if (Save()) QDialog::accept();
}

}  // namespace pladmin::ui
