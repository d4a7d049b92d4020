// The small dialogs of the accounts part: copy a profile to several
// accounts, simulate dial-ins on a server, send a message to a user. Each
// does its work in one public call the buttons run (and tests call).
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <deque>
#include <string>
#include <vector>

#include "accounts/account_store.h"
#include "accounts/simulation.h"
#include "console/ui/background_job.h"

namespace pladmin::ui {

// Copies `from`'s limits to the accounts ticked in the list and those typed
// (several, separated by commas or blanks).
class CopyProfileDialog : public QDialog {
  Q_OBJECT
 public:
  CopyProfileDialog(const accounts::AccountStore& store, const std::string& from,
                    const std::vector<std::string>& accounts, QWidget* parent);
  QListWidget* list() const { return list_; }
  QLineEdit* others() const { return others_; }
  QString errorText() const { return error_->text(); }
  // The targets ticked and typed.
  std::vector<std::string> Targets() const;
  bool Copy();
  void accept() override;

 private:
  const accounts::AccountStore& store_;
  std::string from_;
  QLineEdit* filter_;
  QListWidget* list_;
  QLineEdit* others_;
  QLabel* error_;
};

// New connections and hang-ups sent to a monitored server's pipe as a hook
// module sends them; the decision shown in words, one line per try.
class SimulateDialog : public QDialog {
  Q_OBJECT
 public:
  // `servers`: the monitored servers; `dataFolder`: the master's, for reasons.
  SimulateDialog(const std::vector<std::string>& servers, std::string dataFolder, QWidget* parent);
  QComboBox* server() const { return server_; }
  QLineEdit* port() const { return port_; }
  QLineEdit* account() const { return account_; }
  QComboBox* action() const { return action_; }
  QSpinBox* minutes() const { return minutes_; }
  QListWidget* results() const { return results_; }
  // Sends one message off the window thread; its outcome becomes the last
  // line of results() when it comes. Sends made meanwhile wait their turn.
  void Send();
  bool busy() const { return job_->busy() || !queue_.empty(); }

 private:
  void SendNext();

  BackgroundJob* job_;
  std::deque<accounts::SimulatedCall> queue_;
  std::string dataFolder_;
  QComboBox* server_;
  QLineEdit* port_;
  QLineEdit* account_;
  QLineEdit* machine_;
  QComboBox* action_;
  QSpinBox* minutes_;
  QListWidget* results_;
};

// NET SEND to a user or a computer.
class MessageDialog : public QDialog {
  Q_OBJECT
 public:
  MessageDialog(const QString& recipient, QWidget* parent);
  QLineEdit* recipient() const { return to_; }
  QLineEdit* text() const { return text_; }
  QString errorText() const { return error_->text(); }
  // Sends off the window thread; the dialog closes when it went out, and
  // shows why when not.
  void accept() override;
  bool sending() const { return job_->busy(); }

 private:
  BackgroundJob* job_;
  QPushButton* ok_;
  QLineEdit* to_;
  QLineEdit* text_;
  QLabel* error_;
};

}  // namespace pladmin::ui
