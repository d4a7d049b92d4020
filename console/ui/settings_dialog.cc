#include "console/ui/settings_dialog.h"

#include <algorithm>

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "accounts/settings_save.h"
#include "console/ui/dialog_parts.h"
#include "console/ui/help_window.h"

namespace pladmin::ui {

SettingsDialog::SettingsDialog(const QString& title, std::span<const accounts::SettingInfo> table,
                               const std::vector<std::string>& pages, accounts::SettingsPlace place,
                               std::vector<std::string> notify, MessageSink& sink, QWidget* parent)
    : QDialog(parent), table_(table), place_(std::move(place)), notify_(std::move(notify)), sink_(sink) {
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  std::vector<std::string> order;
  for (const auto& info : table) {
    const bool wanted = pages.empty() || std::find(pages.begin(), pages.end(), info.page) != pages.end();
    if (wanted && std::find(order.begin(), order.end(), info.page) == order.end()) order.push_back(info.page);
  }
  for (const std::string& page : order) {
    std::vector<const accounts::SettingInfo*> entries;
    for (const auto& info : table) {
      if (page == info.page) entries.push_back(&info);
    }
    auto* form = new SettingsForm(entries, tabs_);
    form->setObjectName(QString::fromStdString(page));
    forms_.push_back(form);
    if (const char* note = accounts::PageNote(page)) {
      auto* text = new QLabel(QString::fromUtf8(note), form);
      text->setObjectName("PageNote");
      text->setWordWrap(true);
      static_cast<QFormLayout*>(form->layout())->addRow(text);
    }
    tabs_->addTab(form, QString::fromStdString(page));
  }
  layout->addWidget(tabs_);
  error_ = ErrorLabel(this);
  layout->addWidget(error_);
  auto* buttons = OkCancel(this);
  buttons->addButton(QDialogButtonBox::Help);
  connect(buttons, &QDialogButtonBox::helpRequested, this, [this] {
    if (!help_) help_ = new HelpWindow(this);
    help_->ShowPage("settings.html");
    help_->show();
    help_->raise();
  });
  layout->addWidget(buttons);
  resize(560, 0);
}

bool SettingsDialog::Load() {
  const accounts::Outcome o = accounts::ReadSettingValues(table_, place_, &current_);
  error_->setText(QString::fromStdString(o.message));
  for (SettingsForm* form : forms_) form->SetValues(current_);
  return o.ok();
}

SettingsForm* SettingsDialog::page(const QString& title) const {
  for (SettingsForm* form : forms_) {
    if (form->objectName() == title) return form;
  }
  return nullptr;
}

bool SettingsDialog::SetTyped(const std::string& name, const QString& text) {
  for (SettingsForm* form : forms_) {
    if (form->SetTyped(name, text)) return true;
  }
  return false;
}

bool SettingsDialog::Save() {
  accounts::SettingTexts typed;
  for (SettingsForm* form : forms_) {
    for (auto& value : form->Typed()) typed.push_back(std::move(value));
  }
  // The servers are told by the frame, off the window thread: a hung
  // service must not hold the dialog or the window.
  const accounts::Outcome o =
      accounts::SaveSettings(table_, place_, current_, typed, notify_, &toNotify_);
  error_->setText(QString::fromStdString(o.message));
  return o.ok();
}

void SettingsDialog::accept() {
  if (Save()) QDialog::accept();
}

}  // namespace pladmin::ui
