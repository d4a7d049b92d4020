// CMainFrame: the console's main window. Toolbar, menus and status bar; the
// navigation bar at the left and the container view beside it; the refresh
// timer that polls the monitored servers; the commands of the console.
//
// Fetches report by posted events (ServerEvent), handled on this window's
// thread: the record is taken over and the views updated.
#pragma once

#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QSplitter>
#include <QThreadPool>
#include <QTimer>

#include "console/ui/progress_pane.h"
#include <memory>

#include "accounts/settings_save.h"
#include "console/core/pladmin_doc.h"
#include "console/core/window_layout.h"
#include "console/ui/background_job.h"
#include "console/ui/container_view.h"
#include "console/ui/help_window.h"
#include "console/ui/outlook_bar.h"

class QAction;
class QToolBar;

namespace pladmin::ui {

class SettingsDialog;

// A fetch's notification, posted from its thread.
class ServerEvent : public QEvent {
 public:
  static QEvent::Type TypeFor(int message);
  ServerEvent(int message, std::uint64_t id, int state)
      : QEvent(TypeFor(message)), message_(message), id_(id), state_(state) {}
  int message() const { return message_; }
  std::uint64_t id() const { return id_; }
  int state() const { return state_; }

 private:
  int message_;
  std::uint64_t id_;
  int state_;
};

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // `sink`: where messages and questions go; nullptr: message boxes.
  explicit MainWindow(MessageSink* sink = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Runs a command as the menu, the toolbar or the navigation bar would.
  void RunCommand(int id);
  QAction* action(int id) const { return actions_.value(id); }
  QList<int> commandIds() const { return actions_.keys(); }
  // Recomputes the enable state of every command.
  void UpdateActions();

  CPladminDoc& document() { return doc_; }
  ContainerView* container() const { return container_; }
  OutlookBar* outlookBar() const { return outlook_; }
  QToolBar* toolBar() const { return toolBar_; }
  ProgressPane* eventPane() const { return eventPane_; }
  // The progress painter in status pane 1, for a load that signals the
  // document's "WaitProgressDraw" when it has finished.
  void StartProgress();
  const QTimer& refreshTimer() const { return refreshTimer_; }
  // True once every server has been fetched once since the start.
  bool initialPollDone() const { return initialPollDone_; }
  // True while the service states of the selected server are being asked.
  bool probingServices() const { return probesPending_ > 0; }
  // The settings sheet while it is open (tests drive it).
  SettingsDialog* openSettings() const { return lastSettings_; }

  // Tells the servers that their settings changed, off the window thread:
  // progress and each server's answer in the status bar, the failures to the
  // sink once all have answered.
  void NotifySettings(const std::vector<std::string>& servers);
  // True while servers are being told; the answers of the last round.
  bool notifyingServers() const { return settingsJob_->busy(); }
  const std::vector<accounts::UpdateNotice>& lastNotices() const { return lastNotices_; }
  // True while work that waits on another machine is under way for the window.
  bool waitingOffWindow() const { return settingsJob_->busy() || portJob_->busy(); }

 signals:
  void InitialPollDone();

 protected:
  void customEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class Notifier;
  class BoxSink;

  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  QAction* AddAction(int id, const QString& text, const QString& tip,
                     const QKeySequence& key = {});
  void ApplyRefreshInterval(int milliseconds);
  // Size, splitters and last view, kept in the Client key between runs.
  void RestoreLayout();
  void SaveLayout();
  void OnServerEvent(const ServerEvent& event);
  void Navigate(int commandId);
  void UpdateAllViews(int hint, int serverIndex = -1);
  void RefreshServiceStates();
  void OnServiceStates(const std::string& server, int portulon, int ras);
  void ShowServerStatus();
  void ServiceCommand(int which, bool start);
  // The system settings sheet (of the master) or the selected server's settings.
  void OpenSettings(bool system);
  // The selected port's section of the master's portulon.hw.
  void OpenPortSettings();
  // Loads the sheet, shows it, then tells the servers it names.
  void RunSettings(std::unique_ptr<SettingsDialog> dialog);
  void DisconnectSelectedPort();
  void AddServer();
  void RemoveSelectedServer();
  void CalendarJump();
  void ExportSessions();
  std::string SelectedPort() const;

  std::unique_ptr<BoxSink> ownSink_;
  MessageSink& sink_;
  CPladminDoc doc_;
  std::shared_ptr<Notifier> notifier_;
  QMap<int, QAction*> actions_;
  QToolBar* toolBar_ = nullptr;
  QSplitter* frameSplitter_ = nullptr;
  OutlookBar* outlook_ = nullptr;
  ContainerView* container_ = nullptr;
  ProgressPane* eventPane_ = nullptr;
  QTimer refreshTimer_;
  QPointer<HelpWindow> help_;
  // Service states of the selected server, asked on a worker thread (a
  // remote service manager may be slow to answer) on selection and news.
  int portulonState_ = kServiceUnknown;
  int rasState_ = kServiceUnknown;
  std::string statesServer_;  // whose states these are
  QThreadPool probes_;  // one thread; waited for before the window goes
  bool initialPollDone_ = false;
  int probesPending_ = 0;
  SettingsDialog* lastSettings_ = nullptr;  // while a settings sheet is open
  BackgroundJob* settingsJob_;
  std::vector<std::string> notifyAgain_;  // saved while a round was under way
  std::vector<accounts::UpdateNotice> lastNotices_;
  BackgroundJob* portJob_;  // a port's disconnection
  int lastView_ = kNavStatus;  // of the last run, shown once the master is known
};

}  // namespace pladmin::ui
