// The accounts part of the console on the offscreen platform, against an
// installed Portulon: the users view, the property pages (a value typed,
// saved, read back from the file), copy profile, the settings sheets that
// reach the running service, simulated sessions. Screenshots of the users
// view and a profile page go to build/artifacts.
#include <gtest/gtest.h>

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "accounts/account_store.h"
#include "common/pipe_protocol.h"
#include "common/testing/installed_portulon.h"
#include "console/tests/console_test_support.h"
#include "console/tests/widget_test_support.h"
#include "console/ui/account_dialogs.h"
#include "console/ui/container_view.h"
#include "console/ui/log_view.h"
#include "console/ui/main_window.h"
#include "console/ui/profile_dialog.h"
#include "console/ui/settings_dialog.h"
#include "console/ui/settings_form.h"
#include "console/ui/users_view.h"
#include "platform/pipe.h"
#include "platform/testing/host_tools.h"

namespace pladmin::ui {
namespace {

using namespace pladmin::testing;
using pladmin::ui::testing::SaveScreenshot;
namespace ct = common::testing;

std::string Key(const char* section, const char* key) {
  return plat::ProfileGetString(ct::kUsers, section, key, "(missing)");
}

// The users view's column with this heading.
int Column(const QAbstractItemModel* model, const QString& heading) {
  for (int c = 0; c < model->columnCount(); ++c) {
    if (model->headerData(c, Qt::Horizontal).toString() == heading) return c;
  }
  ADD_FAILURE() << "no column " << heading.toStdString();
  return 0;
}

// SRV1 with Portulon installed, monitored by a console on SRV1 itself.
class AccountsWidgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ct::InstallPortulon(net_));
    WriteServiceKey("SRV1", true, "\\\\SRV1\\PL_NT_DB");
    ListServers({"SRV1"});
    ASSERT_EQ(plat::ProfileApply(ct::kUsers, {{"DOM\\ann", "StaticIP", "167772237"},
                                              {"DOM\\ann", "TotalConnects", "12         "},
                                              {"+DOM\\Staff", "MaxTotalTime", "360000"},
                                              {"OTHER\\zoe", "MaxSessionTime", "60"}}),
              plat::ERROR_SUCCESS);
  }
  void TearDown() override {
    if (started_) {
      plat::SERVICE_STATUS status{};
      ct::OpenPortulon().Control(plat::SERVICE_CONTROL_STOP, &status);
    }
  }
  void StartPortulon() {
    ASSERT_EQ(ct::OpenPortulon().Start(), plat::ERROR_SUCCESS);
    started_ = true;
    ASSERT_TRUE(QTest::qWaitFor([] { return plat::QueryNamedPipe(common::kPipeName) == plat::ERROR_SUCCESS; }, 10000));
  }
  // The window with the accounts selected; its users view.
  UsersView* ShowUsers(MainWindow& w) {
    w.resize(1100, 640);
    w.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.initialPollDone(); }, 20000));
    const auto items = w.container()->tree()->findItems("Accounts", Qt::MatchExactly);
    EXPECT_EQ(items.size(), 1);
    if (items.empty()) return nullptr;
    w.container()->tree()->setCurrentItem(items[0]);
    QApplication::processEvents();
    return qobject_cast<UsersView*>(w.container()->content());
  }

  plat::testing::TempNetwork net_;
  RecordingSink sink_;
  bool started_ = false;
};

TEST_F(AccountsWidgetTest, UsersViewListsSortsAndSearchesEveryProfile) {
  MainWindow w(&sink_);
  UsersView* view = ShowUsers(w);
  ASSERT_TRUE(view);
  ASSERT_EQ(view->model()->rowCount(), 4);
  QAbstractItemModel* shown = view->table()->model();
  // ann's row in words: the session limit, the address dotted, the usage.
  ASSERT_TRUE(view->SelectAccount("dom\\ANN"));
  const int row = view->table()->currentIndex().row();
  EXPECT_EQ(shown->index(row, 1).data().toString(), "1h");
  EXPECT_EQ(shown->index(row, Column(shown, "Static address")).data().toString(), "10.0.0.77");
  EXPECT_EQ(shown->index(row, Column(shown, "Connects")).data().toString(), "12");
  EXPECT_EQ(shown->index(row, 3).data().toString(), "never");

  // Sorted by total time limit: the group (100h) after the users without one.
  view->table()->sortByColumn(2, Qt::DescendingOrder);
  EXPECT_EQ(shown->index(0, 0).data().toString(), "+DOM\\Staff");
  EXPECT_EQ(shown->index(0, 2).data().toString(), "100h");
  view->search()->setText("BO");
  ASSERT_EQ(shown->rowCount(), 1);
  EXPECT_EQ(shown->index(0, 0).data().toString(), "DOM\\bob");
  view->search()->clear();
  EXPECT_EQ(shown->rowCount(), 4);
  EXPECT_FALSE(view->problems()->isVisible());
  view->SelectAccount("DOM\\ann");
  ASSERT_NO_FATAL_FAILURE(SaveScreenshot(w, "pladmin_users.png"));

  // The tree: the default profile, the domains, their group profiles, then their users.
  QTreeWidgetItem* accounts = w.container()->tree()->findItems("Accounts", Qt::MatchExactly)[0];
  ASSERT_EQ(accounts->childCount(), 3);
  EXPECT_EQ(accounts->child(0)->text(0), "Default Profile");
  EXPECT_EQ(accounts->child(1)->text(0), "DOM");
  EXPECT_EQ(accounts->child(2)->text(0), "OTHER");
  ASSERT_EQ(accounts->child(1)->childCount(), 3);
  EXPECT_EQ(accounts->child(1)->child(0)->text(0), "Staff");
  EXPECT_EQ(accounts->child(1)->child(1)->text(0), "ann");
  EXPECT_EQ(accounts->child(1)->child(2)->text(0), "bob");
  w.container()->tree()->setCurrentItem(accounts->child(2));
  QApplication::processEvents();
  view = qobject_cast<UsersView*>(w.container()->content());
  ASSERT_TRUE(view);
  ASSERT_EQ(view->table()->model()->rowCount(), 1);
  EXPECT_EQ(view->table()->model()->index(0, 0).data().toString(), "OTHER\\zoe");
  w.container()->tree()->setCurrentItem(accounts->child(1)->child(0));
  QApplication::processEvents();
  view = qobject_cast<UsersView*>(w.container()->content());
  ASSERT_TRUE(view);
  ASSERT_EQ(view->table()->model()->rowCount(), 1);
  EXPECT_EQ(view->table()->model()->index(0, 0).data().toString(), "+DOM\\Staff");
}

// The tree and the users view show what the accounts store reads, also of
// sections an editor left odd: a domain spelt in another case, a section
// without a user name or without a domain.
TEST_F(AccountsWidgetTest, TheTreeAndTheTableShowWhatTheStoreReads) {
  ASSERT_EQ(plat::ProfileApply(ct::kUsers, {{"dom\\carl", "MaxSessionTime", "60"},
                                            {"DOM\\", "MaxSessionTime", "60"},
                                            {"Staff", "MaxSessionTime", "60"}}),
            plat::ERROR_SUCCESS);
  MainWindow w(&sink_);
  ASSERT_TRUE(ShowUsers(w));
  const accounts::AccountStore store(ct::kUsers, ct::kHw);
  const auto domains = accounts::AccountsByDomain(store.Sections().value_or(std::vector<std::string>{}));
  QTreeWidgetItem* root = w.container()->tree()->findItems("Accounts", Qt::MatchExactly)[0];
  ASSERT_EQ(root->childCount(), 1 + static_cast<int>(domains.size()));
  for (size_t d = 0; d < domains.size(); ++d) {
    QTreeWidgetItem* item = root->child(static_cast<int>(d) + 1);
    EXPECT_EQ(item->text(0).toStdString(), domains[d].domain);
    std::vector<std::string> names = domains[d].groups;
    names.insert(names.end(), domains[d].users.begin(), domains[d].users.end());
    std::vector<std::string> shown;
    for (int c = 0; c < item->childCount(); ++c) shown.push_back(item->child(c)->text(0).toStdString());
    EXPECT_EQ(shown, names) << domains[d].domain;
  }

  w.container()->tree()->setCurrentItem(root->child(1));
  QApplication::processEvents();
  auto* view = qobject_cast<UsersView*>(w.container()->content());
  ASSERT_TRUE(view);
  std::vector<std::string> expected, rows;
  for (const accounts::Account& a : store.Load().accounts) {
    if (accounts::AccountFilter{"", domains[0].domain, ""}.Matches(a)) expected.push_back(a.section);
  }
  QAbstractItemModel* shown = view->table()->model();
  for (int r = 0; r < shown->rowCount(); ++r) rows.push_back(shown->index(r, 0).data().toString().toStdString());
  std::sort(expected.begin(), expected.end());
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, expected);
}

TEST_F(AccountsWidgetTest, APropertyPageWritesTheTypedValueInSecondsAndNothingElse) {
  MainWindow w(&sink_);
  UsersView* view = ShowUsers(w);
  ASSERT_TRUE(view && view->store());
  const std::string before = plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.usr"));
  {
    ProfileDialog page(*view->store(), view->store()->Find("DOM\\ann"), &w);
    page.show();
    ASSERT_TRUE(page.form()->SetTyped("StaticIP", "10.0.0.300"));
    ASSERT_TRUE(page.form()->SetTyped("MaxSessionTime", "1h 30m"));
    EXPECT_FALSE(page.Save());
    EXPECT_NE(page.errorText().indexOf("300 is above 255"), -1) << page.errorText().toStdString();
    EXPECT_EQ(plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.usr")), before);
    // Typing the value right clears the complaint at once.
    auto* ip = page.form()->findChild<QLineEdit*>("StaticIP");
    ASSERT_NE(ip, nullptr);
    ip->clear();
    QTest::keyClicks(ip, "10.0.0.2");
    EXPECT_EQ(page.errorText(), "") << page.errorText().toStdString();
    page.form()->SetTyped("StaticIP", "10.0.0.77");
    ASSERT_NO_FATAL_FAILURE(SaveScreenshot(page, "pladmin_profile.png"));
    ASSERT_TRUE(page.Save()) << page.errorText().toStdString();
  }
  EXPECT_EQ(Key("DOM\\ann", "MaxSessionTime"), "5400");
  std::string expected = before;
  expected.replace(expected.find("MaxSessionTime=3600"), 19, "MaxSessionTime=5400");
  EXPECT_EQ(plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.usr")), expected);

  // A new profile: a name the file cannot hold is refused where it was typed.
  {
    ProfileDialog page(*view->store(), std::nullopt, &w);
    page.nameEdit()->setText("DOM\\da[ve");
    EXPECT_FALSE(page.Save());
    EXPECT_NE(page.errorText().indexOf("'['"), -1);
    page.nameEdit()->setText("DOM\\dave");
    page.form()->SetTyped("MaxTotalTime", "10h");
    page.form()->SetTyped("PeriodType", "week");
    // Sessions at once on a spin box: "none" below 1, a typing error refused.
    auto* sessions = page.form()->findChild<QSpinBox*>("MaxSessions");
    ASSERT_NE(sessions, nullptr);
    EXPECT_EQ(sessions->text(), "none");
    EXPECT_FALSE(page.form()->SetTyped("MaxSessions", "three"));
    sessions->stepUp();
    sessions->stepUp();
    EXPECT_EQ(sessions->text(), "2");
    ASSERT_TRUE(page.Save()) << page.errorText().toStdString();
  }
  EXPECT_EQ(Key("DOM\\dave", "MaxTotalTime"), "36000");
  EXPECT_EQ(Key("DOM\\dave", "PeriodType"), "2");
  EXPECT_EQ(Key("DOM\\dave", "MaxSessions"), "2");

  // Copy ann's limits to bob (ticked) and a new account (typed).
  view->Load();
  CopyProfileDialog copy(*view->store(), "DOM\\ann", {"DOM\\ann", "DOM\\bob", "DOM\\dave"}, &w);
  ASSERT_EQ(copy.list()->count(), 2);
  copy.list()->item(0)->setCheckState(Qt::Checked);
  copy.others()->setText("DOM\\erin, DOM\\fay");
  ASSERT_TRUE(copy.Copy()) << copy.errorText().toStdString();
  for (const char* who : {"DOM\\bob", "DOM\\erin", "DOM\\fay"}) EXPECT_EQ(Key(who, "MaxSessionTime"), "5400") << who;
  EXPECT_EQ(Key("DOM\\bob", "StaticIP"), "(missing)");

  // Reset and delete from the view, after the question.
  view->Load();
  ASSERT_TRUE(view->SelectAccount("DOM\\ann"));
  EXPECT_EQ(view->SelectedAccounts(), std::vector<std::string>{"DOM\\ann"});
  view->ResetUsage();
  EXPECT_EQ(sink_.questions.back(), "Reset the usage of DOM\\ann to 0 (connections, times, period)?");
  EXPECT_EQ(Key("DOM\\ann", "TotalConnects"), "0");
  EXPECT_EQ(Key("DOM\\ann", "MaxSessionTime"), "5400");
  ASSERT_TRUE(view->SelectAccount("DOM\\fay"));
  view->DeleteProfiles();
  EXPECT_EQ(Key("DOM\\fay", "MaxSessionTime"), "(missing)");
  EXPECT_FALSE(view->SelectAccount("DOM\\fay"));  // the view was reloaded
}

// The last day is picked from a calendar or ticked away; the file holds the
// ISO date, or no key at all.
TEST_F(AccountsWidgetTest, TheLastDayIsADatePickerWithNoDate) {
  MainWindow w(&sink_);
  UsersView* view = ShowUsers(w);
  ASSERT_TRUE(view && view->store());
  {
    ProfileDialog page(*view->store(), view->store()->Find("DOM\\ann"), &w);
    auto* date = page.form()->field("ExpiryDate")->findChild<QDateEdit*>("date");
    auto* none = page.form()->field("ExpiryDate")->findChild<QCheckBox*>("none");
    ASSERT_TRUE(date && none);
    EXPECT_TRUE(none->isChecked()) << "a profile without the key has no date";
    EXPECT_FALSE(date->isEnabled());
    none->setChecked(false);
    EXPECT_TRUE(date->isEnabled());
    date->setDate(QDate(2027, 1, 31));
    ASSERT_TRUE(page.Save()) << page.errorText().toStdString();
  }
  EXPECT_EQ(Key("DOM\\ann", "ExpiryDate"), "2027-01-31");
  view->Load();
  ASSERT_TRUE(view->SelectAccount("DOM\\ann"));
  const QAbstractItemModel* shown = view->table()->model();
  EXPECT_EQ(shown->index(view->table()->currentIndex().row(), Column(shown, "Last day")).data().toString(),
            "2027-01-31");
  {
    ProfileDialog page(*view->store(), view->store()->Find("DOM\\ann"), &w);
    auto* date = page.form()->field("ExpiryDate")->findChild<QDateEdit*>("date");
    auto* none = page.form()->field("ExpiryDate")->findChild<QCheckBox*>("none");
    EXPECT_FALSE(none->isChecked());
    EXPECT_EQ(date->date(), QDate(2027, 1, 31));
    none->setChecked(true);
    ASSERT_TRUE(page.Save()) << page.errorText().toStdString();
  }
  EXPECT_EQ(Key("DOM\\ann", "ExpiryDate"), "(missing)");
}

TEST_F(AccountsWidgetTest, AHalfWrittenUsersFileIsShownAndNotWritten) {
  plat::testing::AppendHostFile(net_.DriveC("PLData/portulon.usr"), "[DOM\\gil]\nMaxSess");
  MainWindow w(&sink_);
  UsersView* view = ShowUsers(w);
  ASSERT_TRUE(view && view->store());
  EXPECT_TRUE(view->problems()->isVisible());
  EXPECT_NE(view->problems()->text().indexOf("half-written"), -1);
  ProfileDialog page(*view->store(), view->store()->Find("DOM\\bob"), &w);
  page.form()->SetTyped("MaxSessionTime", "2h");
  EXPECT_FALSE(page.Save());
  EXPECT_NE(page.errorText().indexOf("nothing was written"), -1) << page.errorText().toStdString();
  EXPECT_EQ(Key("DOM\\bob", "MaxSessionTime"), "3600");
}

TEST_F(AccountsWidgetTest, SettingsSheetsReachTheRunningServiceAndSimulationShowsTheDecision) {
  ASSERT_EQ(plat::ProfileApply(ct::kUsers, {{"DOM\\bob", "MaxTotalTime", "60"}, {"DOM\\bob", "TotalTime", "100"}}),
            plat::ERROR_SUCCESS);
  ASSERT_NO_FATAL_FAILURE(StartPortulon());
  MainWindow w(&sink_);
  w.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.initialPollDone(); }, 20000));

  // The system settings sheet, driven while it is open.
  QStringList tabs;
  bool saved = false;
  QTimer::singleShot(0, [&] {
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.openSettings() != nullptr; }, 5000));
    SettingsDialog* sheet = w.openSettings();
    for (int i = 0; i < sheet->tabs()->count(); ++i) tabs << sheet->tabs()->tabText(i);
    // The warnings' page says where they cannot reach.
    const auto* note = sheet->page("Notifications")->findChild<QLabel*>("PageNote");
    ASSERT_NE(note, nullptr);
    EXPECT_NE(note->text().indexOf("OpenVPN"), -1);
    sheet->SetTyped("Default.AssignDefault", "yes");
    sheet->SetTyped("Default.MaxSessionTime", "45m");
    sheet->SetTyped("Notify1Text", "Your session ends in five minutes");
    sheet->SetTyped("Notify1", "5m");
    sheet->SetTyped("Notify2", "soon");
    saved = sheet->Save();
    EXPECT_NE(sheet->errorText().indexOf("soon"), -1);
    sheet->SetTyped("Notify2", "1m");
    saved = sheet->Save();
    sheet->accept();
  });
  w.RunCommand(ID_SYSTEM_SETTINGS);
  EXPECT_EQ(tabs, QStringList({"Database", "Daily Status", "Default Profile", "Notifications", "Greeting Messages"}));
  ASSERT_TRUE(saved);
  EXPECT_EQ(plat::ProfileGetString(ct::kHw, "General", "Notify1Text", ""), "Your session ends in five minutes");
  EXPECT_EQ(plat::ProfileGetString(ct::kHw, "General", "Notify1", ""), "300");
  EXPECT_TRUE(sink_.messages.empty()) << sink_.messages.front();
  // The servers are told off the window thread.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w.notifyingServers(); }, 20000));
  ASSERT_EQ(w.lastNotices().size(), 1u);
  EXPECT_EQ(w.lastNotices()[0].text, "SRV1 re-read the settings");

  // The running service took the new default profile in: eve, without a
  // profile, is admitted with it.
  SimulateDialog simulate({"SRV1"}, "\\\\SRV1\\PL_NT_DB", &w);
  simulate.account()->setText("DOM\\eve");
  simulate.Send();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !simulate.busy(); }, 20000));
  ASSERT_EQ(simulate.results()->count(), 1);
  EXPECT_EQ(simulate.results()->item(0)->text(), "DOM\\eve admitted on SRV1\\COM1");
  EXPECT_EQ(Key("DOM\\eve", "MaxSessionTime"), "2700");
  simulate.port()->setText("COM2");
  simulate.Send();  // a second session at once: allowed (NoDuplicate is off)
  simulate.account()->setText("DOM\\bob");  // his total time is used up
  simulate.Send();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !simulate.busy(); }, 20000));
  EXPECT_EQ(simulate.results()->item(2)->text(), "DOM\\bob refused on SRV1\\COM2 (3: User Total Time Reached)");

  // The simulated sessions are in the day's history as the log view shows it.
  w.RunCommand(ID_VIEW_LOG);
  auto* history = qobject_cast<LogView*>(w.container()->content());
  ASSERT_NE(history, nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] {
    if (!history->loading()) history->CheckFileSize();
    return !history->loading() && history->model()->rowCount() == 3;
  }, 10000)) << history->model()->rowCount();
  std::vector<std::string> actions;
  for (int row = 0; row < history->model()->rowCount(); ++row) {
    actions.push_back(history->RowTexts(row)[3].toStdString() + " " + history->RowTexts(row)[5].toStdString());
  }
  std::sort(actions.begin(), actions.end());
  EXPECT_EQ(actions, (std::vector<std::string>{"Connect DOM\\eve", "Connect DOM\\eve", "Denied DOM\\bob"}));

  // The server's own page: a value that cannot be stored, then one that can.
  w.container()->tree()->Select("SRV1", {});
  QApplication::processEvents();
  bool serverSaved = false;
  QTimer::singleShot(0, [&] {
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.openSettings() != nullptr; }, 5000));
    SettingsDialog* sheet = w.openSettings();
    sheet->SetTyped("IdleTimer", "-5m");
    EXPECT_FALSE(sheet->Save());
    sheet->SetTyped("IdleTimer", "20m");
    serverSaved = sheet->Save();
    EXPECT_EQ(sheet->serversToNotify(), std::vector<std::string>{"SRV1"});
    sheet->accept();
  });
  w.RunCommand(ID_SERVER_SETTINGS);
  ASSERT_TRUE(serverSaved);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w.notifyingServers(); }, 20000));
  EXPECT_EQ(w.lastNotices().at(0).text, "SRV1 re-read the settings");
  plat::DWORD idle = 0;
  ASSERT_EQ(plat::RegReadDword(ct::ServiceSettingsKey(), "IdleTimer", &idle), plat::ERROR_SUCCESS);
  EXPECT_EQ(idle, 20u);
}

// The export schedule has a check box per hour and weekday; the boxes read
// and write the same bits the service reads ("Export at hours (bits):
// 16777215" was all an administrator saw before).
TEST(SettingsFormTest, TheExportScheduleIsCheckBoxes) {
  const auto* hours = accounts::FindSetting(accounts::SystemSettings(), "ExportHours");
  const auto* days = accounts::FindSetting(accounts::SystemSettings(), "ExportDays");
  ASSERT_TRUE(hours && days);
  SettingsForm form({hours, days}, nullptr);
  form.SetValues({{"ExportHours", "262148"}, {"ExportDays", "34"}});
  auto checked = [&](const char* setting, const char* box) {
    auto* b = form.field(setting)->findChild<QCheckBox*>(box);
    return b && b->isChecked();
  };
  EXPECT_TRUE(checked("ExportHours", "2"));
  EXPECT_TRUE(checked("ExportHours", "18"));
  EXPECT_FALSE(checked("ExportHours", "3"));
  EXPECT_TRUE(checked("ExportDays", "mon"));
  EXPECT_TRUE(checked("ExportDays", "fri"));
  EXPECT_FALSE(checked("ExportDays", "sun"));
  using Typed = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(form.Typed(), (Typed{{"ExportHours", "2,18"}, {"ExportDays", "mon,fri"}}));
  ASSERT_TRUE(form.SetTyped("ExportHours", "all"));
  EXPECT_FALSE(form.SetTyped("ExportDays", "someday"));
  EXPECT_EQ(form.Typed(), (Typed{{"ExportHours", "all"}, {"ExportDays", "mon,fri"}}));
}

}  // namespace
}  // namespace pladmin::ui
