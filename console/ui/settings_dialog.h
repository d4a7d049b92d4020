// The settings sheets: the server settings of one server (its Service key),
// the system settings shared by every server (pages Database, Daily Status,
// Default Profile, Notifications, Greeting Messages) and the default profile
// on its own. OK writes only the values that changed, then sends
// UPDATE_UPDATE to the servers that must re-read them.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QTabWidget>
#include <span>
#include <string>
#include <vector>

#include "accounts/settings_store.h"
#include "console/core/message_sink.h"
#include "console/ui/settings_form.h"

namespace pladmin::ui {

class HelpWindow;

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  // The entries of `table` whose page is one of `pages` (all when empty),
  // one tab per page. `notify`: the servers to tell with UPDATE_UPDATE.
  SettingsDialog(const QString& title, std::span<const accounts::SettingInfo> table,
                 const std::vector<std::string>& pages, accounts::SettingsPlace place,
                 std::vector<std::string> notify, MessageSink& sink, QWidget* parent);

  // Reads the values; false (reason shown) when they cannot be read.
  bool Load();
  QTabWidget* tabs() const { return tabs_; }
  SettingsForm* page(const QString& title) const;
  // Sets a value on whichever page holds it (tests).
  bool SetTyped(const std::string& name, const QString& text);
  QString errorText() const { return error_->text(); }
  // The servers to tell with UPDATE_UPDATE after the saves so far (none
  // when no saved value needs it).
  const std::vector<std::string>& serversToNotify() const { return toNotify_; }
  bool Save();
  void accept() override;

 private:
  std::span<const accounts::SettingInfo> table_;
  accounts::SettingsPlace place_;
  std::vector<std::string> notify_;
  MessageSink& sink_;
  QTabWidget* tabs_;
  std::vector<SettingsForm*> forms_;
  QLabel* error_;
  accounts::SettingTexts current_;
  std::vector<std::string> toNotify_;
  HelpWindow* help_ = nullptr;  // the settings page of the help, once asked for
};

}  // namespace pladmin::ui
