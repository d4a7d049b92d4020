// A form of settings made from their descriptions: a line per value in
// human units (a check box for yes/no, a list for the allowance period, a
// spin box for sessions at once), the value as the file holds it in the tool
// tip. The form knows nothing of files: it is filled with file texts and
// gives back what was typed.
#pragma once

#include <QLabel>
#include <QWidget>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "accounts/setting_info.h"

namespace pladmin::ui {

class SettingsForm : public QWidget {
  Q_OBJECT
 public:
  // One row per entry of `settings`; `readOnly` rows are shown, not edited.
  SettingsForm(std::vector<const accounts::SettingInfo*> settings, QWidget* parent, bool readOnly = false);

  // Shows the values (setting name, file text); missing ones as their default.
  void SetValues(const std::vector<std::pair<std::string, std::string>>& fileTexts);
  // Every editable value as typed (setting name, text in human units).
  std::vector<std::pair<std::string, std::string>> Typed() const;
  // Types `text` into the field of setting `name` (tests, and the "Default" button).
  bool SetTyped(const std::string& name, const QString& text);
  QWidget* field(const std::string& name) const;

 signals:
  // The administrator changed a value (not SetValues).
  void Edited();

 private:
  struct Row {
    const accounts::SettingInfo* info;
    QWidget* editor;
  };
  std::vector<Row> rows_;
  bool readOnly_;
};

}  // namespace pladmin::ui
