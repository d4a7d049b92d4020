// The main window on the offscreen platform, monitoring real machines: its
// layout (kept as screenshots in build/artifacts), navigation, the service
// commands and a port's disconnection.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QHeaderView>
#include <QSplashScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidgetItemIterator>

#include "console/tests/console_test_support.h"
#include "console/tests/widget_test_support.h"
#include "console/ui/add_server_dialog.h"
#include "console/ui/container_view.h"
#include "console/ui/help_window.h"
#include "console/ui/icons.h"
#include "console/ui/main_window.h"
#include "console/ui/port_view.h"
#include "console/ui/ports_view.h"
#include "console/ui/refresh_rate_dialog.h"
#include "console/ui/service_dialog.h"
#include "console/ui/servers_view.h"
#include "common/testing/installed_portulon.h"

namespace pladmin::ui {
namespace {

using namespace pladmin::testing;
using pladmin::ui::testing::SaveScreenshot;
using plat::RasFlavour;

// True when `child` lies wholly inside `window` and shows.
bool ShownInside(const QWidget* child, const QWidget* window) {
  if (!child || !child->isVisible() || child->width() <= 0 || child->height() <= 0) return false;
  const QRect r(child->mapTo(window, QPoint(0, 0)), child->size());
  return window->rect().contains(r);
}

// Every column of a list is as wide as its widest text, and the columns fit.
void ExpectNothingCutOff(QTreeWidget* list) {
  int total = 0;
  const QFontMetrics metrics(list->font());
  for (int c = 0; c < list->columnCount(); ++c) {
    int widest = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = list->topLevelItem(i);
      const int icon = item->icon(c).isNull() ? 0 : list->iconSize().width() + 4;
      widest = std::max(widest, metrics.horizontalAdvance(item->text(c)) + icon);
    }
    EXPECT_GE(list->header()->sectionSize(c), widest)
        << "column " << list->headerItem()->text(c).toStdString();
    total += list->header()->sectionSize(c);
  }
  EXPECT_LE(total, list->viewport()->width());
}

bool WaitFor(const std::function<bool()>& condition, int ms = 20000) {
  return QTest::qWaitFor(condition, ms);
}

// Lets the window take in what its workers answered (the service states).
void Settle(MainWindow& w) {
  QApplication::processEvents();
  EXPECT_TRUE(WaitFor([&] { return !w.probingServices(); }));
}

class MainWindowTest : public ::testing::Test {
 protected:
  plat::testing::TempNetwork net_{plat::testing::TempNetwork::DefaultConfig("ADMINPC")};
  RecordingSink sink_;

  void ClickTree(MainWindow& w, const QString& server, const QString& port = {}) {
    w.container()->tree()->Select(server, port);
    Settle(w);
  }
};

TEST_F(MainWindowTest, MonitorsRasRrasAndADownServerWithEveryPartOfTheLayoutShown) {
  const std::string srv1 = AddServer(net_, "SRV1", RasFlavour::Ras, 6, /*master=*/true);
  const std::string srv2 = AddServer(net_, "SRV2", RasFlavour::Rras, 4);
  const std::string srv3 = AddServer(net_, "SRV3", RasFlavour::Ras, 4);
  ASSERT_EQ(plat::SetMachineDown(srv3, true), plat::ERROR_SUCCESS);
  RunningServices services;
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV1"));
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV2"));
  ASSERT_NO_FATAL_FAILURE(Dial(srv1, "COM1", "DOM\\ann", {"--wksta", "ANNPC"}));
  ASSERT_NO_FATAL_FAILURE(Dial(srv1, "COM3", "DOM\\carol"));
  ASSERT_EQ(plat::testing::RunTool("rasctl", {"--machine", srv1, "traffic", "COM1", "--sent",
                                              "250000", "--received", "1200000"}).code, 0);
  ASSERT_NO_FATAL_FAILURE(Dial(srv2, "COM1", "DOM\\grace", {"--links", "2"}));
  ListServers({"SRV1", "SRV2", "SRV3"});

  QSplashScreen splash(SplashPixmap());
  ASSERT_NO_FATAL_FAILURE(SaveScreenshot(splash, "pladmin_splash.png"));
  MainWindow w(&sink_);
  w.resize(1100, 600);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  ASSERT_TRUE(WaitFor([&] { return w.initialPollDone(); }));
  QApplication::processEvents();

  auto* servers = qobject_cast<ServersView*>(w.container()->content());
  ASSERT_NE(servers, nullptr);
  QTreeWidget* list = servers->list();
  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_EQ(list->topLevelItem(0)->text(1), "SRV1 is ready");
  EXPECT_EQ(list->topLevelItem(0)->text(2), "2/6");
  EXPECT_EQ(list->topLevelItem(0)->text(5), "Yes");
  EXPECT_EQ(list->topLevelItem(1)->text(1), "SRV2 is ready");
  EXPECT_EQ(list->topLevelItem(1)->text(2), "2/4");
  EXPECT_EQ(list->topLevelItem(1)->text(3), "RRAS");
  EXPECT_EQ(list->topLevelItem(2)->text(1), "Couldn't connect to SRV3's registry");
  EXPECT_EQ(list->topLevelItem(2)->text(2), "-");
  EXPECT_EQ(w.container()->caption()->text(), "Status");
  EXPECT_EQ(w.windowTitle(), "Portulon Administrator");
  EXPECT_TRUE(sink_.messages.empty());

  // Every part of the layout shows, inside the window.
  EXPECT_TRUE(ShownInside(w.toolBar(), &w));
  EXPECT_TRUE(ShownInside(w.statusBar(), &w));
  EXPECT_TRUE(ShownInside(w.outlookBar(), &w));
  EXPECT_GE(w.outlookBar()->width(), 78);
  EXPECT_TRUE(ShownInside(w.container()->caption(), &w));
  EXPECT_TRUE(ShownInside(w.container()->tree(), &w));
  EXPECT_TRUE(ShownInside(list, &w));
  EXPECT_TRUE(ShownInside(w.eventPane(), &w));
  EXPECT_GE(w.eventPane()->width(), 105);
  // The navigation items fit the bar: none is clipped.
  QListWidget* items = w.outlookBar()->items();
  for (int i = 0; i < items->count(); ++i) {
    EXPECT_TRUE(items->viewport()->rect().contains(items->visualItemRect(items->item(i))))
        << items->item(i)->text().toStdString();
  }
  ExpectNothingCutOff(list);
  ASSERT_NO_FATAL_FAILURE(SaveScreenshot(w, "pladmin_status.png"));

  // SRV1's ports, with the live sessions.
  ClickTree(w, "SRV1");
  auto* ports = qobject_cast<PortsView*>(w.container()->content());
  ASSERT_NE(ports, nullptr);
  EXPECT_EQ(w.container()->caption()->text(), "Ports");
  QTreeWidget* portList = ports->list();
  ASSERT_EQ(portList->topLevelItemCount(), 6);
  EXPECT_EQ(portList->topLevelItem(0)->text(0), "COM1");
  EXPECT_EQ(portList->topLevelItem(0)->text(1), "Connected");
  EXPECT_EQ(portList->topLevelItem(0)->text(2), "DOM\\ann");
  EXPECT_EQ(portList->topLevelItem(0)->text(5), "244.1 KB");
  EXPECT_EQ(portList->topLevelItem(0)->text(6), "1.1 MB");
  // The caller's address, as the port view and rasctl ports show it.
  EXPECT_EQ(portList->topLevelItem(0)->text(7), "10.0.0.10");
  EXPECT_EQ(portList->topLevelItem(1)->text(7), "");
  EXPECT_EQ(portList->topLevelItem(1)->text(1), "Listening");
  EXPECT_EQ(w.statusBar()->currentMessage(), "SRV1 is ready");
  ExpectNothingCutOff(portList);
  ASSERT_NO_FATAL_FAILURE(SaveScreenshot(w, "pladmin_ports.png"));

  // The router's multilink caller in the port view.
  ClickTree(w, "SRV2", "COM2");
  auto* port = qobject_cast<PortView*>(w.container()->content());
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(w.container()->caption()->text(), "Port Status");
  EXPECT_EQ(port->Field("User"), "DOM\\grace");
  EXPECT_EQ(port->Field("State"), "Connected");
  EXPECT_TRUE(w.action(ID_PORT_DISCONNECT)->isEnabled());
  // The tree's items show whole (a scroll bar rather than a cut-off caller).
  NodeView* tree = w.container()->tree();
  for (QTreeWidgetItemIterator it(tree); *it; ++it) {
    const QRect rect = tree->visualItemRect(*it);
    if (!rect.isValid()) continue;  // inside a collapsed item
    const int needed =
        tree->iconSize().width() + QFontMetrics(tree->font()).horizontalAdvance((*it)->text(0));
    EXPECT_GE(rect.width(), needed) << (*it)->text(0).toStdString();
  }
  ASSERT_NO_FATAL_FAILURE(SaveScreenshot(w, "pladmin_port.png"));

  // The down server: no service commands, its state in the status bar.
  ClickTree(w, "SRV3");
  EXPECT_EQ(w.statusBar()->currentMessage(), "Couldn't connect to SRV3's registry");
  for (int id : {ID_START_PORTULON, ID_STOP_PORTULON, ID_START_RAS, ID_STOP_RAS}) {
    EXPECT_FALSE(w.action(id)->isEnabled()) << id;
  }
}

TEST_F(MainWindowTest, HistoryWaitsForTheMasterAndTheSameSelectionKeepsTheView) {
  AddServer(net_, "SRV1", RasFlavour::Ras);  // no master; its service does not run
  ListServers({"SRV1"});
  {
    plat::RegKey key;
    ASSERT_EQ(plat::RegKey::Create(plat::Hive::LocalMachine, kClientKey, &key), plat::ERROR_SUCCESS);
    ASSERT_EQ(key.SetDword("View Refresh", 0), plat::ERROR_SUCCESS);
  }
  MainWindow w(&sink_);
  w.show();
  ASSERT_TRUE(WaitFor([&] { return w.initialPollDone(); }));
  EXPECT_FALSE(w.refreshTimer().isActive()) << "View Refresh 0: no timer";
  EXPECT_FALSE(w.action(ID_VIEW_LOG)->isEnabled());

  ContentViewBase* before = w.container()->content();
  const int switches = w.container()->switchCount();
  // A click on History in the navigation bar.
  QListWidget* items = w.outlookBar()->items();
  QTest::mouseClick(items->viewport(), Qt::LeftButton, {},
                    items->visualItemRect(items->item(kNavHistory)).center());
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_EQ(sink_.messages[0], "Can't show history\nPlease wait for connection to master server");
  EXPECT_EQ(w.container()->content(), before);
  EXPECT_EQ(w.container()->switchCount(), switches);
  EXPECT_EQ(items->currentRow(), kNavStatus);
  EXPECT_EQ(w.container()->caption()->text(), "Status");

  // The same tree item again: the content view is not rebuilt.
  ClickTree(w, "SRV1");
  ContentViewBase* ports = w.container()->content();
  EXPECT_EQ(w.container()->switchCount(), switches + 1);
  ClickTree(w, "");
  ClickTree(w, "SRV1");
  EXPECT_EQ(w.container()->switchCount(), switches + 3);
  w.container()->tree()->Select("SRV1", {});
  EXPECT_EQ(w.container()->switchCount(), switches + 3);
  EXPECT_NE(w.container()->content(), ports);

  // Accounts need the master: the tree goes back to the server.
  ClickTree(w, "");
  QTreeWidgetItem* accounts = w.container()->tree()->topLevelItem(1);
  w.container()->tree()->setCurrentItem(accounts);
  EXPECT_EQ(sink_.messages.back(), "Can't show accounts\nPlease wait for connection to master server");
  EXPECT_EQ(w.container()->tree()->currentItem(), w.container()->tree()->topLevelItem(0));

  // Refresh rate: a new interval starts the timer and is kept.
  RefreshRateDialog dialog(0, &w);
  dialog.seconds()->setValue(2);
  EXPECT_EQ(dialog.intervalMs(), 2000);
  EXPECT_EQ(dialog.seconds()->text(), "2.000 s");
  dialog.seconds()->setValue(0);
  EXPECT_EQ(dialog.seconds()->text(), "Off");
  // What it was given is what it gives back: 1,500 ms is not rounded to 2 s.
  RefreshRateDialog given(1500, &w);
  EXPECT_EQ(given.intervalMs(), 1500);
}

TEST_F(MainWindowTest, RemovingTheSelectedServerAsksThenShowsTheRest) {
  ListServers({"GONE1", "GONE2"});
  MainWindow w(&sink_);
  w.show();
  ASSERT_TRUE(WaitFor([&] { return w.initialPollDone(); }));
  ClickTree(w, "GONE1");
  ASSERT_NE(qobject_cast<PortsView*>(w.container()->content()), nullptr);
  EXPECT_EQ(w.statusBar()->currentMessage(), "Couldn't connect to GONE1's registry");
  ASSERT_TRUE(w.action(ID_REMOVE_SERVER)->isEnabled());

  sink_.answer = false;
  w.RunCommand(ID_REMOVE_SERVER);
  EXPECT_EQ(sink_.questions.back(), "Remove GONE1 from the list of monitored servers?");
  EXPECT_EQ(w.document().servers().size(), 2);

  sink_.answer = true;
  w.RunCommand(ID_DELETE);
  Settle(w);
  EXPECT_EQ(w.document().servers().size(), 1);
  auto* servers = qobject_cast<ServersView*>(w.container()->content());
  ASSERT_NE(servers, nullptr) << "back on the servers list";
  EXPECT_EQ(servers->list()->topLevelItemCount(), 1);
  EXPECT_EQ(servers->list()->topLevelItem(0)->text(0), "GONE2");
  EXPECT_EQ(w.container()->caption()->text(), "Status");
  EXPECT_EQ(w.container()->tree()->topLevelItem(0)->childCount(), 1);
  EXPECT_FALSE(w.action(ID_REMOVE_SERVER)->isEnabled()) << "no server selected";
}

TEST_F(MainWindowTest, AddServerDialogOffersTheDialInServersAndRefusesBadNames) {
  AddServer(net_, "SRV1", RasFlavour::Ras);
  AddServer(net_, "SRV2", RasFlavour::Rras);
  const std::string down = AddServer(net_, "SRV3", RasFlavour::Ras);
  ASSERT_EQ(plat::SetMachineDown(down, true), plat::ERROR_SUCCESS);
  AddServerDialog dialog(nullptr);
  // The network is searched off the window thread.
  ASSERT_TRUE(WaitFor([&] { return !dialog.searching(); }));
  QStringList found;
  for (int i = 0; i < dialog.found()->count(); ++i) found << dialog.found()->item(i)->text().section(' ', 0, 0);
  EXPECT_TRUE(found.contains("SRV1"));
  EXPECT_TRUE(found.contains("SRV2"));
  EXPECT_FALSE(found.contains("SRV3")) << "a machine that is down does not answer the sweep";
  QPushButton* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
  dialog.found()->setCurrentRow(found.indexOf("SRV2"));
  EXPECT_EQ(dialog.serverName(), "SRV2");
  EXPECT_TRUE(ok->isEnabled());
  dialog.nameEdit()->setText("two words");
  EXPECT_FALSE(ok->isEnabled());
  dialog.nameEdit()->setText("  NOWHERE ");
  EXPECT_TRUE(ok->isEnabled());
  EXPECT_EQ(dialog.serverName(), "NOWHERE");
}

TEST_F(MainWindowTest, ContentsOpensTheHelpPagesShippedWithTheConsole) {
  ListServers({});
  MainWindow w(&sink_);
  w.RunCommand(ID_HELP_CONTENTS);
  auto* help = w.findChild<HelpWindow*>();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_TRUE(help->browser()->toPlainText().contains("Portulon Administrator"));
  // Every page the contents name is there and not empty.
  for (const char* page : {"views.html", "commands.html", "settings.html"}) {
    help->ShowPage(page);
    EXPECT_GT(help->browser()->toPlainText().size(), 200) << page;
  }
  EXPECT_TRUE(help->browser()->toPlainText().contains("Couldn't connect to SRV1's registry"));
}

// While data loads, status pane 1 shows the moving block; the load's signal
// clears it and the pane shows its text again.
TEST_F(MainWindowTest, TheProgressPainterRunsUntilTheLoadSignals) {
  ListServers({});
  MainWindow w(&sink_);
  w.show();
  w.StartProgress();
  ASSERT_TRUE(w.eventPane()->painting());
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.eventPane()->blockPosition() >= 3; }, 3000));
  EXPECT_TRUE(w.eventPane()->painting());
  w.document().waitProgress().Signal();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w.eventPane()->painting(); }, 3000));
  EXPECT_EQ(w.eventPane()->blockPosition(), 0);
}

TEST(Pladmin, RefusesAFolderThatHoldsNoMachine) {
  const auto result = plat::testing::RunTool("pladmin", {"--machine", "/nonexistent/ADMINPC"},
                                             {"PORTULON_MACHINE"});
  EXPECT_EQ(result.code, 2);
  EXPECT_NE(result.err.find("pladmin: /nonexistent/ADMINPC holds no machine."), std::string::npos)
      << result.err;
}

// Runs a command that opens the start/stop dialog and closes the dialog
// once the service answered; returns the dialog's outcome text.
QString RunServiceCommand(MainWindow& w, int id) {
  QString outcome;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (auto* dialog = qobject_cast<ServiceDialog*>(QApplication::activeModalWidget())) {
      if (!dialog->running()) {
        outcome = dialog->outcomeText();
        dialog->accept();
      }
    }
  });
  poll.start(50);
  w.RunCommand(id);
  Settle(w);
  return outcome;
}

TEST(MainWindowServices, StartAndStopFromTheConsoleFollowTheServiceState) {
  plat::testing::TempNetwork net;  // the console on the server SRV1 itself
  ASSERT_NO_FATAL_FAILURE(common::testing::InstallPortulon(net));
  WriteServiceKey("SRV1", true, "\\\\SRV1\\PL_NT_DB");
  ListServers({"SRV1"});
  RecordingSink sink;
  MainWindow w(&sink);
  w.show();
  ASSERT_TRUE(WaitFor([&] { return w.initialPollDone(); }));
  w.container()->tree()->Select("SRV1", {});
  Settle(w);
  EXPECT_TRUE(w.action(ID_START_PORTULON)->isEnabled());
  EXPECT_FALSE(w.action(ID_STOP_PORTULON)->isEnabled());
  EXPECT_TRUE(w.action(ID_START_RAS)->isEnabled());
  EXPECT_FALSE(w.action(ID_STOP_RAS)->isEnabled());

  EXPECT_EQ(RunServiceCommand(w, ID_START_RAS), "the remote-access service is running on SRV1.");
  EXPECT_TRUE(w.action(ID_STOP_RAS)->isEnabled());
  EXPECT_EQ(RunServiceCommand(w, ID_START_PORTULON), "Portulon is running on SRV1.");
  EXPECT_FALSE(w.action(ID_START_PORTULON)->isEnabled());
  EXPECT_TRUE(w.action(ID_STOP_PORTULON)->isEnabled());

  // A caller, disconnected from the console.
  ASSERT_NO_FATAL_FAILURE(Dial(net.root(), "COM2", "DOM\\ann"));
  w.RunCommand(ID_REFRESH);
  ASSERT_TRUE(WaitFor([&] {
    const PortEntry* p = w.document().servers().At(0).FindPort("COM2");
    return p && p->inUse;
  }));
  w.container()->tree()->Select("SRV1", "COM2");
  Settle(w);
  ASSERT_TRUE(w.action(ID_PORT_DISCONNECT)->isEnabled());
  w.RunCommand(ID_PORT_DISCONNECT);
  EXPECT_EQ(sink.questions.back(), "Disconnect DOM\\ann from SRV1\\COM2?");
  ASSERT_TRUE(WaitFor([&] { return !w.document().servers().At(0).FindPort("COM2")->inUse; }));
  EXPECT_FALSE(w.action(ID_PORT_DISCONNECT)->isEnabled());

  EXPECT_EQ(RunServiceCommand(w, ID_STOP_PORTULON), "Portulon is stopped on SRV1.");
  EXPECT_TRUE(w.action(ID_START_PORTULON)->isEnabled());
  EXPECT_EQ(RunServiceCommand(w, ID_STOP_RAS), "the remote-access service is stopped on SRV1.");
  EXPECT_TRUE(w.action(ID_START_RAS)->isEnabled());
  EXPECT_FALSE(w.action(ID_STOP_RAS)->isEnabled());
}

}  // namespace
}  // namespace pladmin::ui
