// The property page of a user or group profile, and of a new one: the
// limits in hours, minutes and days, the address dotted, the usage the
// service keeps shown beside them. OK writes only the values that were
// changed; a value that cannot be stored is named under the form and
// nothing is written.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <optional>

#include "accounts/account_store.h"
#include "console/ui/settings_form.h"

namespace pladmin::ui {

class ProfileDialog : public QDialog {
  Q_OBJECT
 public:
  // An existing profile (`account`), or a new one (nullopt; the name typed).
  ProfileDialog(const accounts::AccountStore& store, std::optional<accounts::Account> account, QWidget* parent);

  SettingsForm* form() const { return form_; }
  QLineEdit* nameEdit() const { return name_; }  // new profiles only
  QString errorText() const { return error_->text(); }
  // Writes what changed; false with the reason shown when nothing could be.
  bool Save();

  void accept() override;

 private:
  // After an edit: the error line says what is still wrong, or nothing.
  void Recheck();

  const accounts::AccountStore& store_;
  std::optional<accounts::Account> account_;
  QLineEdit* name_ = nullptr;
  SettingsForm* form_;
  QLabel* error_;
};

}  // namespace pladmin::ui
