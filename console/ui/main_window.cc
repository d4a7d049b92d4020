#include "console/ui/main_window.h"

#include <algorithm>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

#include "console/ui/add_server_dialog.h"
#include "console/ui/calendar_jump.h"
#include "console/ui/csv_save.h"
#include "console/ui/export_days_dialog.h"
#include "console/ui/icons.h"
#include "console/ui/log_view.h"
#include "console/ui/ports_view.h"
#include "console/ui/refresh_rate_dialog.h"
#include "console/ui/account_dialogs.h"
#include "console/ui/settings_dialog.h"
#include "console/ui/service_dialog.h"
#include "platform/errors.h"
#include "platform/sysinfo.h"

namespace pladmin::ui {

namespace {
constexpr const char* kHomePage = "https://portulon.quillfen.example/";
constexpr const char* kSupportPage = "https://portulon.quillfen.example/support/";
}  // namespace

QEvent::Type ServerEvent::TypeFor(int message) {
  return static_cast<QEvent::Type>(QEvent::User + (message == kMsgServerChanged ? 21 : 22));
}

// Posts the fetches' notifications to the window; called on fetcher threads.
class MainWindow::Notifier : public FetchNotifier {
 public:
  explicit Notifier(QObject* window) : window_(window) {}
  void Post(int message, std::uint64_t id, int state) override {
    QCoreApplication::postEvent(window_, new ServerEvent(message, id, state));
  }

 private:
  QObject* const window_;  // outlives every fetch: the window joins them when it closes
};

class MainWindow::BoxSink : public MessageSink {
 public:
  explicit BoxSink(QWidget* parent) : parent_(parent) {}
  void Message(const std::string& text, MessageIcon icon) override {
    QMessageBox box(parent_);
    box.setWindowTitle(kAppTitle);
    box.setText(QString::fromStdString(text));
    box.setIcon(icon == MessageIcon::Stop      ? QMessageBox::Critical
                : icon == MessageIcon::Warning ? QMessageBox::Warning
                                               : QMessageBox::Information);
    box.exec();
  }
  bool Ask(const std::string& text, const std::string& caption) override {
    return QMessageBox::question(parent_, QString::fromStdString(caption),
                                 QString::fromStdString(text)) == QMessageBox::Yes;
  }

 private:
  QWidget* parent_;
};

MainWindow::MainWindow(MessageSink* sink, QWidget* parent)
    : QMainWindow(parent),
      ownSink_(sink ? nullptr : std::make_unique<BoxSink>(this)),
      sink_(sink ? *sink : *ownSink_),
      doc_(sink_),
      notifier_(std::make_shared<Notifier>(this)),
      settingsJob_(new BackgroundJob(this)),
      portJob_(new BackgroundJob(this, BackgroundJob::kWait)) {
  setWindowTitle(kAppTitle);
  setWindowIcon(AppIcon());
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();

  frameSplitter_ = new QSplitter(Qt::Horizontal, this);
  outlook_ = new OutlookBar(frameSplitter_);
  container_ = new ContainerView(doc_, frameSplitter_);
  frameSplitter_->addWidget(outlook_);
  frameSplitter_->addWidget(container_);
  frameSplitter_->setStretchFactor(1, 1);
  frameSplitter_->setChildrenCollapsible(false);
  frameSplitter_->setHandleWidth(3);
  frameSplitter_->setSizes({78, 900});
  setCentralWidget(frameSplitter_);
  connect(outlook_, &OutlookBar::ItemClicked, this,
          [this](int item) { RunCommand(NavItemCommand(item)); });
  connect(container_, &ContainerView::SelectionChanged, this, [this] {
    RefreshServiceStates();
    ShowServerStatus();
  });
  connect(container_, &ContainerView::CommandRequested, this, &MainWindow::RunCommand);
  connect(container_, &ContainerView::StatusText, this,
          [this](const QString& text) { statusBar()->showMessage(text); });
  connect(container_, &ContainerView::ProgressStarted, this,
          [this] { eventPane_->StartPainter(&doc_.waitProgress()); });
  connect(container_, &ContainerView::CommandsChanged, this, &MainWindow::UpdateActions);
  connect(container_, &ContainerView::SettingsSaved, this, &MainWindow::NotifySettings);

  probes_.setMaxThreadCount(1);
  refreshTimer_.setTimerType(Qt::CoarseTimer);
  connect(&refreshTimer_, &QTimer::timeout, this, [this] {
    // Polls only while the container is what the window shows.
    if (centralWidget() == frameSplitter_) doc_.PollAllServers();
  });
  resize(1000, 640);
  RestoreLayout();

  doc_.OnNewDocument(notifier_);
  container_->OnUpdate(kHintServerList, -1);
  ApplyRefreshInterval(doc_.ReadRefreshSetting());
  if (doc_.servers().size() == 0) initialPollDone_ = true;
  // The view of the last run needs the master: it comes back once it is known.
  connect(this, &MainWindow::InitialPollDone, this, [this] {
    if (lastView_ != kNavStatus && doc_.servers().masterKnown() && doc_.selection().navItem == kNavStatus) {
      Navigate(NavItemCommand(lastView_));
    }
  });
  UpdateActions();
}

void MainWindow::RestoreLayout() {
  const std::optional<WindowLayout> layout = ReadWindowLayout();
  if (!layout) return;
  resize(layout->width, layout->height);
  frameSplitter_->setSizes({layout->barWidth, layout->width - layout->barWidth});
  container_->splitter()->setSizes({layout->treeWidth, layout->width - layout->barWidth - layout->treeWidth});
  lastView_ = layout->navItem;
}

void MainWindow::SaveLayout() {
  WindowLayout layout;
  layout.width = width();
  layout.height = height();
  const QList<int> bar = frameSplitter_->sizes(), tree = container_->splitter()->sizes();
  layout.barWidth = bar.isEmpty() ? 0 : bar[0];
  layout.treeWidth = tree.isEmpty() ? 0 : tree[0];
  layout.navItem = doc_.selection().navItem;
  if (!WriteWindowLayout(layout)) {
    statusBar()->showMessage(tr("The window's layout could not be kept for the next start"));
  }
}

MainWindow::~MainWindow() {
  // A disconnection under way finishes while the document it uses is there;
  // servers still being told of settings are left to answer on their own.
  delete portJob_;
  delete settingsJob_;
  probes_.waitForDone();
  doc_.Shutdown();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  refreshTimer_.stop();
  SaveLayout();
  if (help_) help_->close();
  event->accept();
}

QAction* MainWindow::AddAction(int id, const QString& text, const QString& tip,
                               const QKeySequence& key) {
  auto* action = new QAction(text, this);
  action->setStatusTip(tip);
  action->setToolTip(QString(text).remove('&').remove("..."));
  if (!key.isEmpty()) action->setShortcut(key);
  connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
  actions_.insert(id, action);
  return action;
}

void MainWindow::CreateActions() {
  AddAction(ID_VIEW_STATUS, tr("St&atus View"), tr("Show the state of the monitored servers"));
  AddAction(ID_VIEW_LOG, tr("&Log View"), tr("Show the sessions of the day"));
  AddAction(ID_VIEW_USAGE, tr("&Usage Graph"), tr("Show the usage of the day"));
  AddAction(ID_VIEW_STATISTICS, tr("&Statistics"), tr("Show the statistics"));
  for (int item = kNavStatus; item <= kNavStatistics; ++item) {
    actions_[NavItemCommand(item)]->setIcon(NavIcon(item));
  }
  AddAction(ID_SIMULATE_SESSIONS, tr("&Simulate Sessions..."), tr("Try a dial-in without a modem"));
  AddAction(ID_ADD_SERVER, tr("Add RAS Server..."), tr("Monitor another dial-in server"))
      ->setIcon(CommandIcon(ID_ADD_SERVER));
  AddAction(ID_SYSTEM_SETTINGS, tr("S&ystem Settings..."), tr("Settings shared by every server"));
  AddAction(ID_SERVER_SETTINGS, tr("Server Se&ttings..."), tr("Settings of the selected server"));
  AddAction(ID_PORT_SETTINGS, tr("P&ort Settings..."),
            tr("Settings of the selected port: session limit, idle time-out, fixed address, allowed groups"));
  AddAction(ID_REMOVE_SERVER, tr("&Remove Server"), tr("Stop monitoring the selected server"))
      ->setIcon(CommandIcon(ID_REMOVE_SERVER));
  AddAction(ID_DELETE, tr("D&elete"), tr("Stop monitoring the selected server"), QKeySequence::Delete);
  AddAction(ID_REFRESH, tr("&Refresh"), tr("Ask every server for its state now"), Qt::Key_F5)
      ->setIcon(CommandIcon(ID_REFRESH));
  AddAction(ID_REFRESH_RATE, tr("Refresh Rate..."), tr("How often the servers are asked"));
  AddAction(ID_START_PORTULON, tr("S&tart Portulon"), tr("Start Portulon on the selected server"))
      ->setIcon(CommandIcon(ID_START_PORTULON));
  AddAction(ID_STOP_PORTULON, tr("&Stop Portulon"), tr("Stop Portulon on the selected server"))
      ->setIcon(CommandIcon(ID_STOP_PORTULON));
  AddAction(ID_START_RAS, tr("St&art RAS"), tr("Start the remote-access service of the selected server"));
  AddAction(ID_STOP_RAS, tr("St&op RAS"), tr("Stop the remote-access service of the selected server"));
  AddAction(ID_PORT_DISCONNECT, tr("&Disconnect"), tr("End the session on the selected port"))
      ->setIcon(CommandIcon(ID_PORT_DISCONNECT));
  AddAction(ID_DAY_BACK, tr("Back"), tr("The day before"), QKeySequence(Qt::ALT | Qt::Key_Left))
      ->setIcon(CommandIcon(ID_DAY_BACK));
  AddAction(ID_DAY_FORWARD, tr("Forward"), tr("The day after"), QKeySequence(Qt::ALT | Qt::Key_Right))
      ->setIcon(CommandIcon(ID_DAY_FORWARD));
  AddAction(ID_CALENDAR_JUMP, tr("Calendar Jump"), tr("Go to a day"));
  AddAction(ID_CUSTOMIZE_VIEW, tr("&Customize View..."), tr("Choose the columns of the history"));
  AddAction(ID_NEWEST_FIRST, tr("&Newest First"), tr("Show the history newest first"))->setCheckable(true);
  AddAction(ID_FILE_SAVE_AS, tr("Save Data &As..."), tr("Write the data shown to a file"));
  AddAction(ID_FILE_PRINT, tr("&Print..."), tr("Print the events shown"), QKeySequence::Print);
  AddAction(ID_FILE_PRINT_DIRECT, tr("Print &Direct"), tr("Print the events shown on the default printer"));
  AddAction(ID_FILE_PRINT_PREVIEW, tr("Print Pre&view"), tr("Show the printout of the events shown"));
  AddAction(ID_EXPORT_SESSIONS, tr("&Export Sessions To File..."), tr("Write the sessions of several days to a file"));
  AddAction(ID_HELP_CONTENTS, tr("&Contents"), tr("The console's help"), QKeySequence::HelpContents)
      ->setIcon(CommandIcon(ID_HELP_CONTENTS));
  AddAction(ID_WEB_HOME, tr("Portulon on the &Web"), tr("The product's home page"));
  AddAction(ID_WEB_SUPPORT, tr("Technical &Support"), tr("The product's support pages"));
}

void MainWindow::CreateMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(actions_[ID_FILE_SAVE_AS]);
  file->addAction(actions_[ID_EXPORT_SESSIONS]);
  file->addSeparator();
  for (int id : {ID_FILE_PRINT, ID_FILE_PRINT_DIRECT, ID_FILE_PRINT_PREVIEW}) file->addAction(actions_[id]);
  file->addSeparator();
  file->addAction(tr("E&xit"), this, &QWidget::close);
  QMenu* view = menuBar()->addMenu(tr("&View"));
  for (int id : {ID_VIEW_STATUS, ID_VIEW_LOG, ID_VIEW_USAGE, ID_VIEW_STATISTICS}) view->addAction(actions_[id]);
  view->addSeparator();
  for (int id : {ID_DAY_BACK, ID_DAY_FORWARD, ID_CALENDAR_JUMP}) view->addAction(actions_[id]);
  view->addSeparator();
  view->addAction(actions_[ID_CUSTOMIZE_VIEW]);
  view->addAction(actions_[ID_NEWEST_FIRST]);
  view->addSeparator();
  view->addAction(actions_[ID_REFRESH]);
  view->addAction(actions_[ID_REFRESH_RATE]);
  QMenu* server = menuBar()->addMenu(tr("&Server"));
  server->addAction(actions_[ID_ADD_SERVER]);
  server->addAction(actions_[ID_REMOVE_SERVER]);
  server->addSeparator();
  for (int id : {ID_START_PORTULON, ID_STOP_PORTULON, ID_START_RAS, ID_STOP_RAS}) server->addAction(actions_[id]);
  server->addSeparator();
  server->addAction(actions_[ID_PORT_DISCONNECT]);
  server->addSeparator();
  server->addAction(actions_[ID_SERVER_SETTINGS]);
  server->addAction(actions_[ID_PORT_SETTINGS]);
  server->addAction(actions_[ID_SYSTEM_SETTINGS]);
  server->addAction(actions_[ID_SIMULATE_SESSIONS]);
  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->addAction(actions_[ID_HELP_CONTENTS]);
  help->addSeparator();
  help->addAction(actions_[ID_WEB_HOME]);
  help->addAction(actions_[ID_WEB_SUPPORT]);
  help->addSeparator();
  help->addAction(tr("&About Portulon Administrator"), this, [this] {
    QMessageBox::about(this, tr("About Portulon Administrator"),
                       tr("<b>Portulon Administrator</b><p>Access control and accounting for "
                          "dial-in remote access.</p><p>Quillfen Technologies</p>"));
  });
  addAction(actions_[ID_DELETE]);  // the Delete key, without a menu entry of its own
}

void MainWindow::CreateToolBar() {
  toolBar_ = addToolBar(tr("Toolbar"));
  toolBar_->setObjectName("toolbar");
  toolBar_->setIconSize(QSize(24, 24));
  toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
  toolBar_->setStyleSheet(
      "QToolBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fafafa, "
      "stop:1 #e2e4e8); border-bottom: 1px solid #c4c8ce; spacing: 2px; }");
  for (int id : {ID_REFRESH, ID_ADD_SERVER, ID_REMOVE_SERVER}) toolBar_->addAction(actions_[id]);
  toolBar_->addSeparator();
  for (int id : {ID_START_PORTULON, ID_STOP_PORTULON, ID_PORT_DISCONNECT}) toolBar_->addAction(actions_[id]);
  toolBar_->addSeparator();
  for (int id : {ID_VIEW_STATUS, ID_VIEW_LOG, ID_VIEW_USAGE, ID_VIEW_STATISTICS}) toolBar_->addAction(actions_[id]);
  toolBar_->addSeparator();
  for (int id : {ID_DAY_BACK, ID_DAY_FORWARD}) toolBar_->addAction(actions_[id]);
  toolBar_->addSeparator();
  toolBar_->addAction(actions_[ID_HELP_CONTENTS]);
}

void MainWindow::CreateStatusBar() {
  eventPane_ = new ProgressPane(this);
  eventPane_->setMinimumWidth(105);
  eventPane_->setAlignment(Qt::AlignCenter);
  statusBar()->addPermanentWidget(eventPane_);
  statusBar()->showMessage(tr("Ready"));
}

void MainWindow::StartProgress() {
  doc_.waitProgress().Begin();
  eventPane_->StartPainter(&doc_.waitProgress());
}

void MainWindow::ApplyRefreshInterval(int milliseconds) {
  refreshTimer_.stop();
  doc_.SetRefreshInterval(milliseconds);
  if (milliseconds > 0) {
    refreshTimer_.start(milliseconds);
    if (!refreshTimer_.isActive()) sink_.Message("Impossible to set up server refresh timer", MessageIcon::Stop);
  }
}

void MainWindow::customEvent(QEvent* event) {
  if (event->type() == ServerEvent::TypeFor(kMsgServerChanged) ||
      event->type() == ServerEvent::TypeFor(kMsgServerRedraw)) {
    OnServerEvent(static_cast<const ServerEvent&>(*event));
  }
}

void MainWindow::OnServerEvent(const ServerEvent& event) {
  const int index = doc_.OnServerNotification(event.message(), event.id(), event.state());
  if (index < 0) return;
  if (event.message() == kMsgServerChanged) {
    UpdateAllViews(kHintServerData, index);
  } else {
    container_->RedrawServer(index);
  }
  const bool selected = doc_.servers().Find(doc_.selection().server) == index;
  if (selected && !doc_.servers().FetchRunning(index)) RefreshServiceStates();
  if (selected) ShowServerStatus();
  if (!initialPollDone_) {
    bool idle = true;
    for (int i = 0; i < doc_.servers().size() && idle; ++i) {
      idle = !doc_.servers().FetchRunning(i) && doc_.servers().At(i).fetchDone;
    }
    if (idle) {
      initialPollDone_ = true;
      emit InitialPollDone();
    }
  }
  UpdateActions();
}

void MainWindow::UpdateAllViews(int hint, int serverIndex) {
  container_->OnUpdate(hint, serverIndex);
}

void MainWindow::RefreshServiceStates() {
  const std::string server = doc_.selection().server;
  const int index = doc_.servers().Find(server);
  // A server that cannot be reached has no service states to ask for.
  if (server.empty() || index < 0 || doc_.servers().At(index).state == kStateNoRegistry) {
    portulonState_ = rasState_ = kServiceUnknown;
    statesServer_.clear();
    UpdateActions();
    return;
  }
  if (server != statesServer_) {
    // Until the new server answers, nothing is known of its services.
    statesServer_ = server;
    portulonState_ = rasState_ = kServiceUnknown;
    UpdateActions();
  }
  ++probesPending_;
  probes_.start([this, server] {
    const int portulon = CPladminDoc::IsServiceRunning(server, 1);
    const int ras = CPladminDoc::IsServiceRunning(server, 0);
    QMetaObject::invokeMethod(
        this, [this, server, portulon, ras] { OnServiceStates(server, portulon, ras); },
        Qt::QueuedConnection);
  });
}

void MainWindow::OnServiceStates(const std::string& server, int portulon, int ras) {
  --probesPending_;
  // An answer for a server no longer selected is stale.
  if (server != doc_.selection().server) return;
  portulonState_ = portulon;
  rasState_ = ras;
  UpdateActions();
}

void MainWindow::ShowServerStatus() {
  const int index = doc_.servers().Find(doc_.selection().server);
  statusBar()->showMessage(index >= 0 ? QString::fromStdString(doc_.servers().At(index).StateText())
                                      : tr("Ready"));
}

std::string MainWindow::SelectedPort() const {
  if (auto* ports = qobject_cast<PortsView*>(container_->content())) return ports->selectedPort().toStdString();
  return doc_.selection().port;
}

void MainWindow::UpdateActions() {
  CommandContext c;
  const Selection& sel = doc_.selection();
  c.navItem = sel.navItem;
  c.masterKnown = doc_.servers().masterKnown();
  c.serverSelected = !sel.server.empty();
  c.content = doc_.content();
  c.portulonService = portulonState_;
  c.rasService = rasState_;
  if (const int index = doc_.servers().Find(sel.server); index >= 0) {
    const PortEntry* port = doc_.servers().At(index).FindPort(SelectedPort());
    c.portConnected = port && port->inUse;
  }
  c.portSelected = c.serverSelected && !SelectedPort().empty();
  for (auto it = actions_.begin(); it != actions_.end(); ++it) {
    it.value()->setEnabled(IsCommandEnabled(it.key(), c));
  }
  actions_[ID_NEWEST_FIRST]->setChecked(doc_.clientSettings().newestFirst);
  outlook_->SetCurrentItem(sel.navItem);
  setWindowTitle(QString::fromStdString(doc_.Title()));
  eventPane_->setText(QString::fromStdString(doc_.EventPaneText()));
}

void MainWindow::Navigate(int commandId) {
  const SwitchRequest request = doc_.Navigate(commandId);
  if (!request.refused) container_->Apply(request);
  UpdateActions();
}

void MainWindow::RunCommand(int id) {
  switch (id) {
    case ID_VIEW_STATUS:
    case ID_VIEW_LOG:
    case ID_VIEW_USAGE:
    case ID_VIEW_STATISTICS: Navigate(id); return;
    case ID_REFRESH: {
      doc_.Refresh();
      const ContentView c = doc_.content();
      if (c == ContentView::Servers || c == ContentView::Ports || c == ContentView::Users) {
        UpdateAllViews(kHintAccounts);
      }
      RefreshServiceStates();
      return;
    }
    case ID_REFRESH_RATE: {
      RefreshRateDialog dialog(doc_.refreshInterval(), this);
      if (dialog.exec() == QDialog::Accepted) ApplyRefreshInterval(dialog.intervalMs());
      return;
    }
    case ID_ADD_SERVER: AddServer(); return;
    case ID_DELETE:
    case ID_REMOVE_SERVER: RemoveSelectedServer(); return;
    case ID_START_PORTULON: ServiceCommand(1, true); return;
    case ID_STOP_PORTULON: ServiceCommand(1, false); return;
    case ID_START_RAS: ServiceCommand(0, true); return;
    case ID_STOP_RAS: ServiceCommand(0, false); return;
    case ID_PORT_DISCONNECT: DisconnectSelectedPort(); return;
    case ID_DAY_BACK:
    case ID_DAY_FORWARD:
      doc_.StepDay(id == ID_DAY_BACK ? -1 : 1);
      UpdateAllViews(kHintDay);
      UpdateActions();
      return;
    case ID_HELP_CONTENTS:
      if (!help_) help_ = new HelpWindow(this);
      help_->show();
      help_->raise();
      return;
    case ID_WEB_HOME: QDesktopServices::openUrl(QUrl(kHomePage)); return;
    case ID_WEB_SUPPORT: QDesktopServices::openUrl(QUrl(kSupportPage)); return;
    case ID_SYSTEM_SETTINGS:
      if (doc_.CheckMaster(id)) OpenSettings(true);
      return;
    case ID_SERVER_SETTINGS: OpenSettings(false); return;
    case ID_PORT_SETTINGS: OpenPortSettings(); return;
    case ID_CALENDAR_JUMP:
      if (doc_.CheckMaster(id)) CalendarJump();
      return;
    case ID_EXPORT_SESSIONS:
      if (doc_.CheckMaster(id)) ExportSessions();
      return;
    case ID_FILE_PRINT:
    case ID_FILE_PRINT_DIRECT:
    case ID_FILE_PRINT_PREVIEW:
      if (container_->content()) container_->content()->Print(id);
      return;
    case ID_SIMULATE_SESSIONS: {
      std::vector<std::string> servers;
      for (int i = 0; i < doc_.servers().size(); ++i) servers.push_back(doc_.servers().At(i).name);
      SimulateDialog dialog(servers, doc_.servers().masterShare(), this);
      if (const int i = doc_.servers().Find(doc_.selection().server); i >= 0) dialog.server()->setCurrentIndex(i);
      dialog.exec();
      return;
    }
    case ID_FILE_SAVE_AS: UpdateAllViews(kHintSaveData); return;
    case ID_CUSTOMIZE_VIEW:
      if (auto* log = qobject_cast<LogView*>(container_->content())) log->Customize();
      return;
    case ID_NEWEST_FIRST:
      if (!doc_.SetNewestFirst(!doc_.clientSettings().newestFirst)) {
        statusBar()->showMessage(tr("Newest First holds until the console closes: it could not be kept"), 5000);
      }
      UpdateAllViews(kHintDay);
      UpdateActions();
      return;
    default: return;
  }
}

void MainWindow::CalendarJump() {
  const std::tm& day = doc_.dayShown();
  CalendarJumpDialog dialog(doc_.servers().masterShare(),
                            QDate(day.tm_year + 1900, day.tm_mon + 1, day.tm_mday), this);
  if (dialog.exec() != QDialog::Accepted) return;
  const QDate chosen = dialog.selectedDate();
  if (!chosen.isValid()) {
    sink_.Message("FAILED", MessageIcon::Stop);
    return;
  }
  doc_.SetDay(chosen.year(), chosen.month(), chosen.day());
  UpdateAllViews(kHintDay);
  UpdateActions();
}

void MainWindow::ExportSessions() {
  const std::tm& day = doc_.dayShown();
  const LogFilter filter = LogFilter::Of(doc_.selection());
  ExportDaysDialog dialog(QDate(day.tm_year + 1900, day.tm_mon + 1, day.tm_mday),
                          QString::fromStdString(FilterText(filter)), this);
  if (dialog.exec() != QDialog::Accepted) return;
  const QString path = AskCsvPath(this, tr("Export Sessions To File"));
  if (path.isEmpty()) return;
  ExportRequest request;
  request.dataFolder = doc_.servers().masterShare();
  request.from = plat::CalendarTime(dialog.from().year(), dialog.from().month(), dialog.from().day(), 12);
  request.to = plat::CalendarTime(dialog.to().year(), dialog.to().month(), dialog.to().day(), 12);
  request.filter = filter;  // the export reads a group's members off the window
  request.columns = doc_.clientSettings().historyViewColumns;
  request.timeFormatSeconds = doc_.clientSettings().timeFormatSeconds;
  request.clock = doc_.timeFormat();
  request.consoleBias = doc_.timeBias();
  request.servers = ServerBiases(doc_.servers());
  const ExportResult result = RunSessionExport(this, request, path, sink_);
  if (result.cancelled) {
    statusBar()->showMessage(tr("Export cancelled; no file written"), 5000);
  } else if (!result.writeFailed) {
    statusBar()->showMessage(tr("%1 records of %2 days exported to %3")
                                 .arg(result.rows).arg(result.days).arg(path), 5000);
  }
}

void MainWindow::OpenSettings(bool system) {
  const CServerList& servers = doc_.servers();
  std::vector<std::string> notify;
  for (int i = 0; i < servers.size(); ++i) notify.push_back(servers.At(i).name);
  std::unique_ptr<SettingsDialog> dialog;
  if (system) {
    // The shared files of the master, which every server re-reads.
    dialog = std::make_unique<SettingsDialog>(tr("System Settings"), accounts::SystemSettings(),
                                              std::vector<std::string>{},
                                              accounts::SettingsPlace{servers.masterName(), servers.masterShare(), {}},
                                              notify, sink_, this);
  } else {
    const std::string server = doc_.selection().server;
    if (server.empty()) return;
    dialog = std::make_unique<SettingsDialog>(tr("%1 Settings").arg(QString::fromStdString(server)),
                                              accounts::ServerSettings(), std::vector<std::string>{},
                                              accounts::SettingsPlace{server, {}, {}},
                                              std::vector<std::string>{server}, sink_, this);
  }
  RunSettings(std::move(dialog));
}

void MainWindow::OpenPortSettings() {
  const std::string server = doc_.selection().server;
  const std::string port = SelectedPort();
  if (server.empty() || port.empty()) return;
  // The port's section of the shared portulon.hw; the service reads it at
  // the port's next session, so no server needs telling.
  const CServerList& servers = doc_.servers();
  const std::string section = server + "\\" + port;
  RunSettings(std::make_unique<SettingsDialog>(
      tr("%1 Settings").arg(QString::fromStdString(section)), accounts::PortSettings(),
      std::vector<std::string>{}, accounts::SettingsPlace{servers.masterName(), servers.masterShare(), section},
      std::vector<std::string>{}, sink_, this));
}

void MainWindow::RunSettings(std::unique_ptr<SettingsDialog> dialog) {
  if (!dialog->Load()) {
    sink_.Message(dialog->errorText().toStdString(), MessageIcon::Stop);
    return;
  }
  lastSettings_ = dialog.get();
  dialog->exec();
  lastSettings_ = nullptr;
  NotifySettings(dialog->serversToNotify());
}

void MainWindow::NotifySettings(const std::vector<std::string>& servers) {
  if (servers.empty()) return;
  if (settingsJob_->busy()) {
    for (const std::string& s : servers) {
      if (std::find(notifyAgain_.begin(), notifyAgain_.end(), s) == notifyAgain_.end()) notifyAgain_.push_back(s);
    }
    return;
  }
  const int total = static_cast<int>(servers.size());
  statusBar()->showMessage(total == 1 ? tr("Telling %1 about the new settings...").arg(QString::fromStdString(servers[0]))
                                      : tr("Telling %1 servers about the new settings...").arg(total));
  auto answered = std::make_shared<int>(0);  // window thread only
  settingsJob_->Start(
      [post = settingsJob_->Poster(), servers, total, answered, this] {
        return accounts::NotifyServers(servers, [&post, total, answered, this](const accounts::UpdateNotice& notice) {
          post([this, total, answered, text = QString::fromStdString(notice.text)] {
            ++*answered;
            if (settingsJob_->busy()) {
              statusBar()->showMessage(tr("%1 (%2 of %3 answered)").arg(text).arg(*answered).arg(total));
            }
          });
        });
      },
      [this](std::vector<accounts::UpdateNotice> notices) {
        lastNotices_ = std::move(notices);
        statusBar()->showMessage(QString::fromStdString(NoticeSummary(lastNotices_)));
        if (const std::string failures = NoticeFailures(lastNotices_); !failures.empty()) {
          sink_.Message("The settings are saved, but not every server took them in:\n" + failures,
                        MessageIcon::Warning);
        }
        if (!notifyAgain_.empty()) NotifySettings(std::exchange(notifyAgain_, {}));
      });
}

void MainWindow::ServiceCommand(int which, bool start) {
  const QString server = QString::fromStdString(doc_.selection().server);
  if (server.isEmpty()) return;
  ServiceDialog dialog(server, which, start, this);
  dialog.exec();
  RefreshServiceStates();
  if (which == 0) UpdateAllViews(kHintAccounts);
  // The server's state follows at once rather than at the next tick.
  if (const int index = doc_.servers().Find(server.toStdString()); index >= 0) {
    doc_.servers().StartFetch(index, doc_.rasAdmin(), notifier_);
  }
}

void MainWindow::DisconnectSelectedPort() {
  const std::string server = doc_.selection().server;
  const std::string port = SelectedPort();
  const int index = doc_.servers().Find(server);
  if (index < 0 || port.empty()) return;
  const PortEntry* entry = doc_.servers().At(index).FindPort(port);
  const std::string who = entry && !entry->user.empty() ? entry->user : std::string("the caller");
  if (!sink_.Ask("Disconnect " + who + " from " + server + "\\" + port + "?", "Disconnect")) return;
  if (portJob_->busy()) {
    statusBar()->showMessage(tr("Another port is being disconnected; try again in a moment"), 5000);
    return;
  }
  // The server's remote-access service may be slow to answer: off the window.
  statusBar()->showMessage(tr("Disconnecting %1\\%2...").arg(QString::fromStdString(server), QString::fromStdString(port)));
  RasAdmin* admin = &doc_.rasAdmin();
  const int kind = doc_.servers().At(index).rasKind;
  portJob_->Start([admin, server, kind, port] { return CPladminDoc::DisconnectPortOn(*admin, server, kind, port); },
                  [this, server, port](plat::DWORD err) {
                    if (err != plat::ERROR_SUCCESS) {
                      sink_.Message("Could not disconnect " + server + "\\" + port + ": " + plat::ErrorText(err),
                                    MessageIcon::Warning);
                    }
                    statusBar()->showMessage(tr("Ready"));
                    if (const int i = doc_.servers().Find(server); i >= 0) {
                      doc_.servers().StartFetch(i, doc_.rasAdmin(), notifier_);
                    }
                  });
}

void MainWindow::AddServer() {
  AddServerDialog dialog(this);
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string name = dialog.serverName().toStdString();
  switch (doc_.AddServer(name)) {
    case CServerList::kAdded:
      UpdateAllViews(kHintServerList);
      break;
    case CServerList::kAlreadyListed:
      statusBar()->showMessage(tr("%1 is already monitored").arg(QString::fromStdString(name)), 5000);
      break;
    case CServerList::kAddFailed: break;
  }
}

void MainWindow::RemoveSelectedServer() {
  const std::string server = doc_.selection().server;
  if (server.empty()) return;
  if (doc_.RemoveServer(server)) {
    UpdateAllViews(kHintServerList);
    container_->tree()->RestoreSelection();
    container_->Apply(doc_.Reselect());
    RefreshServiceStates();
    ShowServerStatus();
  }
}

}  // namespace pladmin::ui
