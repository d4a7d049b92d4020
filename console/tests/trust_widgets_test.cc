// Scenarios of a console an administrator can trust, on the offscreen
// platform: every enabled command of every view does what it says, the
// history keeps the reader's place, Add Server offers real servers only, a
// hung server does not hold the window when settings are saved, an OpenVPN
// server shows like any other, and a console with no servers says how to add
// one. Screenshots go to build/artifacts.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QDir>
#include <QElapsedTimer>
#include <cstdio>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTableView>
#include <QTreeView>
#include <QRegularExpression>
#include <QHeaderView>
#include <QTreeWidgetItemIterator>

#include "common/pipe_protocol.h"
#include "common/port_ops_protocol.h"
#include "common/ras_kind.h"
#include "common/testing/installed_portulon.h"
#include "console/tests/console_test_support.h"
#include "console/tests/widget_test_support.h"
#include "console/ui/add_server_dialog.h"
#include "console/ui/container_view.h"
#include "console/ui/help_window.h"
#include "console/ui/log_view.h"
#include "console/ui/main_window.h"
#include "console/ui/ports_view.h"
#include "console/ui/servers_view.h"
#include "console/ui/statistics_view.h"
#include "console/ui/settings_dialog.h"
#include "console/ui/users_view.h"
#include "platform/machine.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"

namespace pladmin::ui {
namespace {

using namespace pladmin::testing;
using pladmin::ui::testing::SaveScreenshot;
namespace ct = common::testing;
using plat::RasFlavour;

bool WaitFor(const std::function<bool()>& condition, int ms = 20000) { return QTest::qWaitFor(condition, ms); }

// Receives what would go to the web browser.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened << url; }
};

// Closes whatever modal window a command opens, and says what it was: a file
// dialog is answered with `savePath`, anything else is cancelled.
class ModalCloser {
 public:
  explicit ModalCloser(QString savePath) : savePath_(std::move(savePath)) {
    timer_.setInterval(30);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      seen << QString::fromLatin1(modal->metaObject()->className());
      if (auto* files = qobject_cast<QFileDialog*>(modal)) {
        files->selectFile(savePath_);
        static_cast<QDialog*>(files)->done(QDialog::Accepted);
      } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
      } else {
        modal->close();
      }
    });
    timer_.start();
  }
  QStringList seen;

 private:
  QString savePath_;
  QTimer timer_;
};

class TrustWidgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ct::InstallPortulon(net_));
    WriteServiceKey("SRV1", true, "\\\\SRV1\\PL_NT_DB");
    today_ = plat::LocalTime(plat::Now());
    log_ = "C:\\PLData\\LogData\\" + plat::GetDateFormat(1033, today_, "yyyy-MMM-dd") + ".log";
  }
  std::time_t At(int hour, int minute, int second = 0) const {
    return plat::FromLocalTime(
        plat::CalendarTime(today_.tm_year + 1900, today_.tm_mon + 1, today_.tm_mday, hour, minute, second));
  }
  // `count` sessions on COM1..COM4, one a minute from 06:00.
  void WriteSessions(int count, int firstMinute = 0) {
    for (int i = 0; i < count; ++i) {
      const int minute = firstMinute + i;
      ASSERT_EQ(plat::ProfileAppendRecord(log_, "SRV1\\COM" + std::to_string(i % 4 + 1),
                                          std::to_string(At(6 + minute / 60, minute % 60)),
                                          common::FormatConnectionRecord("DOM\\u" + std::to_string(minute))),
                plat::ERROR_SUCCESS);
    }
  }
  void Open(MainWindow& w) {
    w.resize(1200, 660);
    w.show();
    ASSERT_TRUE(WaitFor([&] { return w.initialPollDone(); }));
  }
  LogView* ShowLog(MainWindow& w) {
    w.RunCommand(ID_VIEW_LOG);
    auto* view = qobject_cast<LogView*>(w.container()->content());
    EXPECT_NE(view, nullptr);
    if (view) {
      EXPECT_TRUE(WaitFor([&] { return !view->loading(); }));
    }
    return view;
  }

  plat::testing::TempNetwork net_;
  RecordingSink sink_;
  QTemporaryDir temp_;
  std::tm today_{};
  std::string log_;
};

// What a command leaves behind that the administrator can see.
struct Seen {
  QString title, status, caption;
  ContentView content;
  std::size_t messages, questions;
  bool helpShown;
  int urls;
  QString checks;  // the check marks of the commands
  bool operator==(const Seen&) const = default;
};

TEST_F(TrustWidgetTest, EveryEnabledCommandOfEveryViewDoesWhatItSays) {
  WriteSessions(6);
  RunningServices services;
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV1"));
  ASSERT_NO_FATAL_FAILURE(Dial(net_.root(), "COM1", "DOM\\ann"));
  ListServers({"SRV1"});
  UrlCatcher browser;
  QDesktopServices::setUrlHandler("https", &browser, "Open");
  sink_.answer = false;  // remove and disconnect are asked, and declined
  MainWindow w(&sink_);
  ASSERT_NO_FATAL_FAILURE(Open(w));

  struct Place {
    const char* name;
    std::function<void()> go;
  };
  const std::vector<Place> places = {
      {"status", [&] { w.RunCommand(ID_VIEW_STATUS); w.container()->tree()->Select({}, {}); }},
      {"ports", [&] { w.RunCommand(ID_VIEW_STATUS); w.container()->tree()->Select("SRV1", {}); }},
      {"port", [&] { w.RunCommand(ID_VIEW_STATUS); w.container()->tree()->Select("SRV1", "COM1"); }},
      {"users", [&] {
         w.RunCommand(ID_VIEW_STATUS);
         const auto items = w.container()->tree()->findItems("Accounts", Qt::MatchExactly);
         ASSERT_EQ(items.size(), 1);
         w.container()->tree()->setCurrentItem(items[0]);
       }},
      {"history", [&] { w.container()->tree()->Select({}, {}); w.RunCommand(ID_VIEW_LOG); }},
      {"usage", [&] { w.container()->tree()->Select({}, {}); w.RunCommand(ID_VIEW_USAGE); }},
      {"statistics", [&] { w.container()->tree()->Select({}, {}); w.RunCommand(ID_VIEW_STATISTICS); }},
  };
  auto settle = [&] {
    QApplication::processEvents();
    EXPECT_TRUE(WaitFor([&] { return !w.probingServices() && !w.waitingOffWindow(); }));
    if (auto* log = qobject_cast<LogView*>(w.container()->content())) {
      EXPECT_TRUE(WaitFor([&] { return !log->loading(); }));
    }
    QApplication::processEvents();
  };
  auto Checks = [&] {
    QString marks;
    for (const int id : w.commandIds()) marks += w.action(id)->isChecked() ? '1' : '0';
    return marks;
  };
  auto seen = [&] {
    return Seen{w.windowTitle(), w.statusBar()->currentMessage(), w.container()->caption()->text(),
                w.document().content(), sink_.messages.size(), sink_.questions.size(),
                w.findChild<HelpWindow*>() && w.findChild<HelpWindow*>()->isVisible(),
                static_cast<int>(browser.opened.size()), Checks()};
  };
  int walked = 0;
  for (const Place& place : places) {
    place.go();
    settle();
    for (const int id : w.commandIds()) {
      QAction* action = w.action(id);
      if (!action->isEnabled()) continue;
      place.go();
      settle();
      if (!action->isEnabled()) continue;
      const QString file = temp_.filePath(QString("%1-%2.csv").arg(place.name).arg(id));
      const Seen before = seen();
      ModalCloser closer(file);
      w.RunCommand(id);
      const bool fetchStarted = !w.document().servers().At(0).fetchDone || w.document().servers().FetchRunning(0);
      settle();
      const bool acted = !closer.seen.isEmpty() || QFile::exists(file) || fetchStarted || !(seen() == before);
      if (auto* help = w.findChild<HelpWindow*>()) help->close();
      EXPECT_TRUE(acted) << "command " << id << " (" << action->text().toStdString() << ") in the "
                         << place.name << " view is enabled and did nothing";
      ++walked;
    }
  }
  EXPECT_GT(walked, 60);
  // What Save Data As writes from the users view: the rows it shows, under its headings.
  places[3].go();
  settle();
  auto* users = qobject_cast<UsersView*>(w.container()->content());
  ASSERT_NE(users, nullptr);
  const QString csv = temp_.filePath("users.csv");
  ASSERT_TRUE(users->SaveTo(csv));
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
  EXPECT_EQ(lines.size(), users->filter()->rowCount() + 1);
  EXPECT_TRUE(lines.value(1).startsWith("DOM\\"));
  QDesktopServices::unsetUrlHandler("https");
}

TEST_F(TrustWidgetTest, TheHistoryRefreshKeepsTheRowBeingReadAndTheSelection) {
  WriteSessions(300);
  ListServers({"SRV1"});
  MainWindow w(&sink_);
  ASSERT_NO_FATAL_FAILURE(Open(w));
  LogView* view = ShowLog(w);
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->model()->rowCount(), 300);
  QTreeView* list = view->list();
  list->scrollTo(view->model()->index(200, 0), QAbstractItemView::PositionAtTop);
  list->selectionModel()->select(view->model()->index(205, 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  QApplication::processEvents();
  const QStringList topBefore = view->RowTexts(list->indexAt(QPoint(1, 1)).row());
  const QStringList selectedBefore = view->RowTexts(205);

  // New sessions come in; the 5-second look at the file finds them.
  WriteSessions(20, 400);
  view->CheckFileSize();
  ASSERT_TRUE(WaitFor([&] { return !view->loading() && view->model()->rowCount() == 320; }));
  const QModelIndex top = list->indexAt(QPoint(1, 1));
  ASSERT_TRUE(top.isValid());
  EXPECT_GT(top.row(), 0) << "the list jumped back to the top";
  EXPECT_EQ(view->RowTexts(top.row()), topBefore);
  const QModelIndexList selected = list->selectionModel()->selectedRows();
  ASSERT_EQ(selected.size(), 1);
  EXPECT_EQ(view->RowTexts(selected[0].row()), selectedBefore);
}

TEST_F(TrustWidgetTest, TheHistoryCanBeReadNewestFirstAndStaysSo) {
  WriteSessions(30);
  ListServers({"SRV1"});
  {
    MainWindow w(&sink_);
    ASSERT_NO_FATAL_FAILURE(Open(w));
    LogView* view = ShowLog(w);
    ASSERT_NE(view, nullptr);
    const QString oldest = view->RowTexts(0)[0];
    w.RunCommand(ID_NEWEST_FIRST);
    ASSERT_TRUE(WaitFor([&] { return !view->loading(); }));
    EXPECT_TRUE(w.action(ID_NEWEST_FIRST)->isChecked());
    EXPECT_EQ(view->RowTexts(29)[0], oldest);
    EXPECT_EQ(view->RowTexts(0)[5], "DOM\\u29");
  }
  // The next run opens the history newest first too.
  MainWindow again(&sink_);
  ASSERT_NO_FATAL_FAILURE(Open(again));
  LogView* view = ShowLog(again);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->RowTexts(0)[5], "DOM\\u29");
}

TEST_F(TrustWidgetTest, AUserOfTheTreeShowsHisProfileAndOnlyHisHistory) {
  WriteSessions(8);
  ASSERT_EQ(plat::ProfileAppendRecord(log_, "SRV1\\COM2", std::to_string(At(9, 0)),
                                      common::FormatConnectionRecord("DOM\\ann")),
            plat::ERROR_SUCCESS);
  ListServers({"SRV1"});
  MainWindow w(&sink_);
  ASSERT_NO_FATAL_FAILURE(Open(w));
  // The tree gets the domain's users when the sweep off the window thread is done.
  QTreeWidgetItem* ann = nullptr;
  WaitFor([&] {
    for (QTreeWidgetItemIterator it(w.container()->tree()); *it; ++it) {
      if ((*it)->text(0) == "ann" && (*it)->parent() && (*it)->parent()->text(0) == "DOM") ann = *it;
    }
    return ann != nullptr;
  });
  ASSERT_NE(ann, nullptr) << "ann is not in the tree";
  w.container()->tree()->setCurrentItem(ann);
  QApplication::processEvents();
  EXPECT_EQ(w.container()->caption()->text(), "Users");
  LogView* view = ShowLog(w);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->filterText(), "(User DOM\\ann)");
  ASSERT_EQ(view->model()->rowCount(), 1);
  EXPECT_EQ(view->RowTexts(0)[5], "DOM\\ann");
}

TEST_F(TrustWidgetTest, AddServerOffersOtherServersRunningPortulonAndNothingElse) {
  AddServer(net_, "SRV2", RasFlavour::Ras);                               // runs Portulon
  net_.AddMachine(plat::testing::TempNetwork::DefaultConfig("PLAIN"));    // does not
  AddServerDialog dialog(nullptr);
  ASSERT_TRUE(WaitFor([&] { return !dialog.searching(); }));
  ASSERT_EQ(dialog.found()->count(), 1) << "neither the workstation itself nor PLAIN";
  EXPECT_TRUE(dialog.found()->item(0)->text().startsWith("SRV2"));
  EXPECT_EQ(dialog.note()->text(), "One dial-in server without Portulon is not listed.");
  dialog.found()->setCurrentRow(0);
  EXPECT_EQ(dialog.serverName(), "SRV2");
  // The name's label is a real mnemonic, not a literal "&name".
  bool buddied = false;
  for (QLabel* label : dialog.findChildren<QLabel*>()) {
    if (label->text() == "Server &name:") buddied = label->buddy() == dialog.nameEdit();
  }
  EXPECT_TRUE(buddied);
  // A row that is no server never becomes one.
  dialog.nameEdit()->clear();
  auto* note = new QListWidgetItem("(the network cannot be searched)", dialog.found());
  dialog.found()->setCurrentItem(note);
  EXPECT_EQ(dialog.serverName(), "");
}

TEST_F(TrustWidgetTest, SavingSettingsWithAHungServerLeavesTheWindowFreeAndSaysWhoDidNotAnswer) {
  const std::string hung = AddServer(net_, "SRV2", RasFlavour::Ras);
  PipeOn stuck(hung, common::kPipeName);  // a service that takes no call
  ListServers({"SRV1", "SRV2"});
  MainWindow w(&sink_);
  ASSERT_NO_FATAL_FAILURE(Open(w));
  bool saved = false;
  QTimer::singleShot(0, [&] {
    ASSERT_TRUE(WaitFor([&] { return w.openSettings() != nullptr; }, 5000));
    SettingsDialog* sheet = w.openSettings();
    sheet->SetTyped("Notify1Text", "Five minutes left");
    saved = sheet->Save();
    sheet->accept();
  });
  w.RunCommand(ID_SYSTEM_SETTINGS);
  ASSERT_TRUE(saved);
  // The sheet has closed and the servers are still being told: nothing waited on them.
  EXPECT_TRUE(w.notifyingServers());
  ASSERT_TRUE(WaitFor([&] { return w.statusBar()->currentMessage().contains("answered"); }));
  EXPECT_TRUE(w.notifyingServers());
  ASSERT_NO_FATAL_FAILURE(SaveScreenshot(w, "pladmin_settings_hung_server.png"));
  w.RunCommand(ID_VIEW_LOG);  // the window goes on working meanwhile
  EXPECT_EQ(w.container()->caption()->text(), "History");
  ASSERT_TRUE(WaitFor([&] { return !w.notifyingServers(); }, 30000));
  ASSERT_EQ(w.lastNotices().size(), 2u);
  EXPECT_EQ(w.lastNotices()[1].text, "SRV2 did not answer; it will read the settings at its next start");
  EXPECT_TRUE(w.statusBar()->currentMessage().contains("SRV2 did not answer"));
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_NE(sink_.messages[0].find("SRV2 did not answer"), std::string::npos);
}

TEST_F(TrustWidgetTest, AnOpenVpnServerShowsInTheStatusViewWithItsPorts) {
  plat::MachineConfig config = plat::testing::TempNetwork::DefaultConfig("VPNSRV");
  config.osVersion = "5.0";
  const std::string root = net_.AddMachine(config);
  WriteServiceKey("VPNSRV", false, "\\\\SRV1\\PL_NT_DB", "2.2");
  plat::RegKey hklm, key;
  ASSERT_EQ(plat::RegKey::Connect("VPNSRV", plat::Hive::LocalMachine, &hklm), plat::ERROR_SUCCESS);
  ASSERT_EQ(hklm.CreateSubKey(common::kRemoteAccessServiceKey, &key), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("DisplayName", common::kOpenVpnDisplayName), plat::ERROR_SUCCESS);
  ASSERT_EQ(hklm.CreateSubKey(common::kOpenVpnAdapterKey, &key), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetDword("Ports", 5), plat::ERROR_SUCCESS);
  const std::time_t since = plat::Now() - 600;
  Responder adapter(root, common::kPortOpsPipeName, [since](const std::string& request) -> std::string {
    common::PortOpsRequest r;
    if (!common::ParsePortOpsRequest(request, &r)) return "87";
    common::PortOpsReply reply;
    if (r.op == common::PortOp::Session) {
      const char* ports[] = {"VPN1", "VPN3"};
      const char* accounts[] = {"VPN\\ann", "VPN\\bob"};
      if (r.index > 1) {
        reply.error = common::kNoMoreSessions;
      } else {
        reply.port = ports[r.index];
        reply.account = accounts[r.index];
        reply.start = since;
      }
    } else if (r.op == common::PortOp::Client) {
      reply.sent = 3400000;
      reply.received = 250000;
      reply.address = r.port == "VPN1" ? "10.8.0.6" : "-";
      reply.commonName = r.port == "VPN1" ? "ann" : "bob";
    }
    return common::FormatPortOpsReply(r.op, reply);
  });
  ListServers({"SRV1", "VPNSRV"});
  MainWindow w(&sink_);
  ASSERT_NO_FATAL_FAILURE(Open(w));
  auto* servers = qobject_cast<ServersView*>(w.container()->content());
  ASSERT_NE(servers, nullptr);
  QTreeWidget* list = servers->list();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(1)->text(1), "VPNSRV is ready");
  EXPECT_EQ(list->topLevelItem(1)->text(2), "2/5");
  EXPECT_EQ(list->topLevelItem(1)->text(3), "OpenVPN");
  ASSERT_NO_FATAL_FAILURE(SaveScreenshot(w, "pladmin_status_openvpn.png"));
  w.container()->tree()->Select("VPNSRV", {});
  QApplication::processEvents();
  auto* ports = qobject_cast<PortsView*>(w.container()->content());
  ASSERT_NE(ports, nullptr);
  ASSERT_EQ(ports->list()->topLevelItemCount(), 5);
  EXPECT_EQ(ports->list()->topLevelItem(0)->text(2), "VPN\\ann");
  EXPECT_EQ(ports->list()->topLevelItem(0)->text(5), "3.2 MB");
  EXPECT_EQ(ports->list()->topLevelItem(0)->text(7), "10.8.0.6");
  EXPECT_EQ(ports->list()->topLevelItem(2)->text(2), "VPN\\bob");
  ASSERT_NO_FATAL_FAILURE(SaveScreenshot(w, "pladmin_ports_openvpn.png"));
  EXPECT_TRUE(sink_.messages.empty()) << sink_.messages.front();
}

TEST_F(TrustWidgetTest, TheWindowComesBackAsItWasLeftAndItsCommandsAreWhereTheyAreLookedFor) {
  ListServers({"SRV1"});
  {
    MainWindow w(&sink_);
    ASSERT_NO_FATAL_FAILURE(Open(w));
    w.resize(930, 520);
    w.container()->splitter()->setSizes({260, 500});
    w.RunCommand(ID_VIEW_LOG);
    // Customize View is in the View menu too, for the history.
    QAction* customize = w.action(ID_CUSTOMIZE_VIEW);
    ASSERT_NE(customize, nullptr);
    bool inViewMenu = false;
    for (QAction* menu : w.menuBar()->actions()) {
      if (menu->text() == "&View" && menu->menu()->actions().contains(customize)) inViewMenu = true;
    }
    EXPECT_TRUE(inViewMenu);
    EXPECT_TRUE(customize->isEnabled());
    // System Settings has its Help button, which opens the settings' help.
    QTimer::singleShot(0, [&] {
      ASSERT_TRUE(WaitFor([&] { return w.openSettings() != nullptr; }, 5000));
      SettingsDialog* sheet = w.openSettings();
      auto* buttons = sheet->findChild<QDialogButtonBox*>();
      ASSERT_NE(buttons, nullptr);
      QPushButton* help = buttons->button(QDialogButtonBox::Help);
      ASSERT_NE(help, nullptr);
      help->click();
      auto* page = sheet->findChild<HelpWindow*>();
      ASSERT_NE(page, nullptr);
      EXPECT_TRUE(page->isVisible());
      EXPECT_TRUE(page->browser()->source().toString().endsWith("settings.html"));
      sheet->reject();
    });
    w.RunCommand(ID_SYSTEM_SETTINGS);
    w.close();
  }
  MainWindow again(&sink_);
  again.show();
  ASSERT_TRUE(WaitFor([&] { return again.initialPollDone(); }));
  QApplication::processEvents();
  EXPECT_EQ(again.size(), QSize(930, 520));
  EXPECT_EQ(again.container()->splitter()->sizes().value(0), 260);
  EXPECT_EQ(again.container()->caption()->text(), "History");
  EXPECT_TRUE(sink_.messages.empty()) << sink_.messages.front();
}

TEST_F(TrustWidgetTest, AConsoleWithNoServersYetSaysHowToAddOne) {
  MainWindow w(&sink_);  // no Servers key at all
  ASSERT_NO_FATAL_FAILURE(Open(w));
  EXPECT_TRUE(sink_.messages.empty()) << sink_.messages.front();
  auto* servers = qobject_cast<ServersView*>(w.container()->content());
  ASSERT_NE(servers, nullptr);
  auto* hint = servers->findChild<QLabel*>("noServers");
  ASSERT_NE(hint, nullptr);
  EXPECT_TRUE(hint->isVisible());
  EXPECT_TRUE(hint->text().startsWith("No servers yet: Server"));
}


namespace regional {

// The columns of a list whose heading or widest value on screen is cut off.
QStringList CutOffColumns(QAbstractItemView* view, QHeaderView* header) {
  QStringList cut;
  for (int c = 0; c < header->count(); ++c) {
    if (header->isSectionHidden(c)) continue;
    const int needed = std::max(header->sectionSizeHint(c), view->sizeHintForColumn(c));
    if (header->sectionSize(c) + 1 < needed) {
      cut << QString("%1 (%2 < %3)")
                 .arg(view->model()->headerData(c, Qt::Horizontal).toString())
                 .arg(header->sectionSize(c))
                 .arg(needed);
    }
  }
  return cut;
}

// Every list of the content view, by its class.
QStringList CutOffColumnsOf(QWidget* content) {
  QStringList cut;
  for (auto* tree : content->findChildren<QTreeView*>()) {
    if (tree->isVisible()) cut << CutOffColumns(tree, tree->header());
  }
  for (auto* table : content->findChildren<QTableView*>()) {
    if (table->isVisible()) cut << CutOffColumns(table, table->horizontalHeader());
  }
  return cut;
}

}  // namespace regional

TEST_F(TrustWidgetTest, EveryListShowsItsHeadingsAndValuesWholeAtTheDefaultWindowSize) {
  WriteSessions(6);
  // A hang-up with every detail a log row can carry.
  ASSERT_EQ(plat::ProfileAppendRecord(
                log_, "SRV1\\COM2", std::to_string(At(13, 47, 12)),
                common::FormatHangUpRecord(5025, "WORKGROUP\\administrator", 0x0A0B0C0D, 3, "0000000a:00c04f9a1b2c",
                                           "ADMINISTRATOR-PC", 123456789012, 98765432109)),
            plat::ERROR_SUCCESS);
  RunningServices services;
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV1"));
  ASSERT_NO_FATAL_FAILURE(Dial(net_.root(), "COM1", "DOM\\ann"));
  ListServers({"SRV1"});
  MainWindow w(&sink_);
  w.show();  // at the size it opens with
  ASSERT_TRUE(WaitFor([&] { return w.initialPollDone(); }));
  const auto settle = [&] {
    QApplication::processEvents();
    if (auto* log = qobject_cast<LogView*>(w.container()->content())) {
      EXPECT_TRUE(WaitFor([&] { return !log->loading(); }));
    }
    EXPECT_TRUE(WaitFor([&] { return !w.waitingOffWindow() && !w.probingServices(); }));
    QTest::qWait(200);  // the usage and statistics reads finish off the window
    QApplication::processEvents();
  };
  struct Place {
    const char* name;
    std::function<void()> go;
  };
  const std::vector<Place> places = {
      {"status", [&] { w.container()->tree()->Select({}, {}); }},
      {"ports", [&] { w.container()->tree()->Select("SRV1", {}); }},
      {"port", [&] { w.container()->tree()->Select("SRV1", "COM1"); }},
      {"users", [&] {
         const auto items = w.container()->tree()->findItems("Accounts", Qt::MatchExactly);
         ASSERT_EQ(items.size(), 1);
         w.container()->tree()->setCurrentItem(items[0]);
       }},
      {"usage", [&] { w.container()->tree()->Select({}, {}); w.RunCommand(ID_VIEW_USAGE); }},
      {"statistics", [&] { w.RunCommand(ID_VIEW_STATISTICS); }},
      // A first look at the history, on a day without records: no rows to size by.
      {"history of a day without records", [&] { w.RunCommand(ID_DAY_BACK); w.RunCommand(ID_VIEW_LOG); }},
      {"history", [&] { w.RunCommand(ID_DAY_FORWARD); }},
  };
  for (const Place& place : places) {
    SCOPED_TRACE(place.name);
    place.go();
    settle();
    EXPECT_EQ(regional::CutOffColumnsOf(w.container()->content()).join("; ").toStdString(), "");
    if (std::string(place.name) == "history") {
      ASSERT_NO_FATAL_FAILURE(SaveScreenshot(w, "pladmin_history_default_size.png"));
    } else if (std::string(place.name) == "ports") {
      ASSERT_NO_FATAL_FAILURE(SaveScreenshot(w, "pladmin_ports_default_size.png"));
    }
  }
}

TEST_F(TrustWidgetTest, TimesFollowTheTwelveOrTwentyFourHourClockOfTheMachine) {
  ASSERT_EQ(plat::ProfileAppendRecord(log_, "SRV1\\COM2", std::to_string(At(14, 5, 9)),
                                      common::FormatConnectionRecord("DOM\\bob")),
            plat::ERROR_SUCCESS);
  RunningServices services;
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV1"));
  ASSERT_NO_FATAL_FAILURE(Dial(net_.root(), "COM1", "DOM\\ann"));
  ListServers({"SRV1"});
  struct Clock {
    const char* sTimeFormat;
    const char* iTime;
    QString logTime, busiest;
    QRegularExpression since;
    const char* screenshot;
  };
  const Clock clocks[] = {
      {"HH:mm:ss", "1", "14:05:09", "14:00-14:59", QRegularExpression("^\\d\\d:\\d\\d(:\\d\\d)?$"),
       "pladmin_ports_24_hour_clock.png"},
      {"", "0", "2:05:09 PM", "2:00 PM-2:59 PM", QRegularExpression("^\\d?\\d:\\d\\d(:\\d\\d)? [AP]M$"),
       "pladmin_ports_12_hour_clock.png"},
  };
  for (const Clock& clock : clocks) {
    SCOPED_TRACE(clock.iTime);
    plat::RegKey international;
    ASSERT_EQ(plat::RegKey::Create(plat::Hive::CurrentUser, plat::kInternationalKey, &international),
              plat::ERROR_SUCCESS);
    international.DeleteValue("sTimeFormat");
    if (*clock.sTimeFormat) {
      ASSERT_EQ(international.SetString("sTimeFormat", clock.sTimeFormat), plat::ERROR_SUCCESS);
    }
    ASSERT_EQ(international.SetString("iTime", clock.iTime), plat::ERROR_SUCCESS);
    MainWindow w(&sink_);
    ASSERT_NO_FATAL_FAILURE(Open(w));

    w.container()->tree()->Select("SRV1", {});
    QApplication::processEvents();
    auto* ports = qobject_cast<PortsView*>(w.container()->content());
    ASSERT_NE(ports, nullptr);
    ASSERT_GT(ports->list()->topLevelItemCount(), 0);
    EXPECT_TRUE(clock.since.match(ports->list()->topLevelItem(0)->text(3)).hasMatch())
        << ports->list()->topLevelItem(0)->text(3).toStdString();
    ASSERT_NO_FATAL_FAILURE(SaveScreenshot(w, clock.screenshot));

    w.container()->tree()->Select({}, {});
    LogView* log = ShowLog(w);
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(log->model()->rowCount(), 1);
    EXPECT_EQ(log->RowTexts(0)[0], clock.logTime);

    w.RunCommand(ID_VIEW_STATISTICS);
    auto* statistics = qobject_cast<StatisticsView*>(w.container()->content());
    ASSERT_NE(statistics, nullptr);
    ASSERT_TRUE(WaitFor([&] { return !statistics->loading() && statistics->table()->topLevelItemCount() > 0; }));
    const auto busiest = statistics->table()->findItems("Busiest hour", Qt::MatchExactly);
    ASSERT_EQ(busiest.size(), 1);
    EXPECT_EQ(busiest[0]->text(1), clock.busiest);
  }
}

}  // namespace
}  // namespace pladmin::ui

#include "trust_widgets_test.moc"
