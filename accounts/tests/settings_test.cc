// Settings written the way the console's pages and plsettings write them
// reach a running plsvc through UPDATE_UPDATE; simulated dial-ins get the
// service's decision in words; the tools refuse what they cannot store.
#include "accounts/settings_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "accounts/settings_save.h"
#include "accounts/simulation.h"
#include "common/data_folder.h"
#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "common/product_keys.h"
#include "common/testing/installed_portulon.h"
#include "platform/errors.h"
#include "platform/messenger.h"
#include "platform/pipe.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace accounts {
namespace {

using plat::testing::RunTool;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(common::testing::InstallPortulon(net_)); }
  void TearDown() override {
    if (started_) {
      plat::SERVICE_STATUS status{};
      common::testing::OpenPortulon().Control(plat::SERVICE_CONTROL_STOP, &status);
    }
  }
  void StartService() {
    ASSERT_EQ(common::testing::OpenPortulon().Start(), plat::ERROR_SUCCESS);
    started_ = true;
    for (int i = 0; i < 200 && plat::QueryNamedPipe(common::kPipeName) != plat::ERROR_SUCCESS; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  static std::string Call(const std::string& message) {
    std::string reply;
    EXPECT_EQ(plat::CallNamedPipe(common::kPipeName, message, &reply, 2000, 10000), plat::ERROR_SUCCESS);
    return reply;
  }

  plat::testing::TempNetwork net_;
  bool started_ = false;
  const SettingsPlace place_{"SRV1", "\\\\SRV1\\PL_NT_DB", ""};
};

TEST_F(SettingsTest, AServerSettingReachesTheRunningServiceAtUpdate) {
  ASSERT_EQ(plat::ProfileWriteString(common::testing::kUsers, "DOM\\ann", "StaticIP", "167772237"),
            plat::ERROR_SUCCESS);
  ASSERT_NO_FATAL_FAILURE(StartService());
  const std::string request = *common::AddressRequestMessage("COM1", "ann", 167772170);
  EXPECT_EQ(Call(request), "20");  // static addresses are off

  SettingTexts current, typed = {{"StaticIP", "yes"}, {"AssumeDomain", "DOM"}, {"IdleTimer", "none"}};
  ASSERT_TRUE(ReadSettingValues(ServerSettings(), place_, &current).ok());
  std::string why;
  const auto changes = ChangedSettingValues(ServerSettings(), current, typed, &why);
  ASSERT_TRUE(changes) << why;
  ASSERT_EQ(changes->size(), 2u);  // IdleTimer was none already
  ASSERT_TRUE(WriteSettingValues(ServerSettings(), place_, *changes).ok());
  EXPECT_TRUE(NeedsUpdate(ServerSettings(), *changes));
  EXPECT_EQ(Call(request), "20");  // written, not yet re-read
  bool running = false;
  ASSERT_TRUE(SendUpdate("SRV1", &running).ok());
  EXPECT_TRUE(running);
  EXPECT_EQ(Call(request), "3" + std::to_string(common::RevertDWORD(167772237)));
}

TEST_F(SettingsTest, TheSharedSettingsOfPortulonHwAreReReadAtUpdate) {
  ASSERT_NO_FATAL_FAILURE(StartService());
  const std::string eve = *common::NewConnectionMessage("COM1", "DOM\\eve", "*", "0");
  SimulatedCall call;
  call.account = "DOM\\eve";
  const SimulationResult refused = Simulate(call, place_.dataFolder);
  ASSERT_TRUE(refused.outcome.ok()) << refused.outcome.message;
  EXPECT_FALSE(refused.admitted);
  EXPECT_EQ(refused.words, "DOM\\eve refused on SRV1\\COM1 (1: User not defined)");

  std::string why;
  SettingTexts current;
  ASSERT_TRUE(ReadSettingValues(SystemSettings(), place_, &current).ok());
  const auto changes = ChangedSettingValues(
      SystemSettings(), current,
      {{"Default.AssignDefault", "yes"}, {"Default.MaxSessionTime", "1h30m"}, {"Notify1", "5m"},
       {"Notify1Text", "Five minutes left"}, {"Greeting1", "Welcome"}, {"Greetings", "1"}},
      &why);
  ASSERT_TRUE(changes) << why;
  ASSERT_TRUE(WriteSettingValues(SystemSettings(), place_, *changes).ok());
  EXPECT_EQ(plat::ProfileGetString(common::testing::kHw, "General", "Notify1", ""), "300");
  EXPECT_EQ(plat::ProfileGetString(common::testing::kHw, "Default", "MaxSessionTime", ""), "5400");
  SettingTexts after;
  ASSERT_TRUE(ReadSettingValues(SystemSettings(), place_, &after).ok());
  for (const auto& [name, text] : after) {
    if (name == "Greeting1") {
      EXPECT_EQ(text, "Welcome");
    } else if (name == "Notify1Text") {
      EXPECT_EQ(text, "Five minutes left");
    }
  }
  EXPECT_EQ(Call(eve), "10");  // the service still has the old default profile
  ASSERT_TRUE(SendUpdate("", nullptr).ok());
  const SimulationResult admitted = Simulate(call, place_.dataFolder);
  EXPECT_TRUE(admitted.admitted) << admitted.words;
  EXPECT_EQ(admitted.words, "DOM\\eve admitted on SRV1\\COM1");
  EXPECT_EQ(plat::ProfileGetString(common::testing::kUsers, "DOM\\eve", "MaxSessionTime", ""), "5400");
  call.hangUp = true;
  call.duration = 60;
  EXPECT_TRUE(Simulate(call, place_.dataFolder).outcome.ok());
  // Recorded as any session: refusal, connection and hang-up in the day's log.
  const std::string log = common::DayLogPath("C:\\PLData", common::DayLogName(plat::Now()));
  int refusals = 0, connections = 0, hangUps = 0;
  for (const common::LogRecord& r : common::LoadLogRecords(log)) {
    if (r.user != "DOM\\eve" || r.port != "COM1") continue;
    refusals += r.kind == common::kRecordRefusal;
    connections += r.kind == common::kRecordConnection;
    hangUps += r.kind == common::kRecordHangUp;
  }
  EXPECT_EQ(refusals, 2);
  EXPECT_EQ(connections, 1);
  EXPECT_EQ(hangUps, 1);
  EXPECT_EQ(plat::ProfileGetString(common::testing::kUsers, "DOM\\eve", "TotalTime", ""), "60");
}

// A sheet saved as it was shown writes nothing, for every setting of every
// table, whatever the files held (missing values, odd spellings).
TEST_F(SettingsTest, ValuesSavedAsTheyWereShownAreNotWritten) {
  ASSERT_EQ(plat::ProfileApply(common::testing::kHw, {{"General", "Notify1", " 0300 "},
                                                      {"General", "Notify1Text", "Bye"},
                                                      {"Default", "NoDuplicate", "7"}}),
            plat::ERROR_SUCCESS);
  for (auto table : {ServerSettings(), SystemSettings()}) {
    SettingTexts current, typed;
    ASSERT_TRUE(ReadSettingValues(table, place_, &current).ok());
    for (size_t i = 0; i < table.size(); ++i) {
      typed.emplace_back(table[i].name, FormatValue(table[i].unit, current[i].second));
    }
    std::string why;
    const auto changes = ChangedSettingValues(table, current, typed, &why);
    ASSERT_TRUE(changes) << why;
    EXPECT_TRUE(changes->empty()) << changes->front().first;
  }
}

// OK of a sheet: what changed is written; the servers are named only when a
// written value waits for UPDATE_UPDATE, and a refused sheet writes nothing.
TEST_F(SettingsTest, ASheetWritesWhatChangedAndNamesTheServersThatMustReRead) {
  const std::vector<std::string> notify{"SRV1", "SRV2"};
  std::vector<std::string> toNotify;
  SettingTexts current;
  ASSERT_TRUE(ReadSettingValues(ServerSettings(), place_, &current).ok());
  const Outcome refused = SaveSettings(ServerSettings(), place_, current,
                                       {{"LogMaxSizeKB", "64"}, {"IdleTimer", "-5m"}}, notify, &toNotify);
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.message.rfind("Idle time-out: ", 0), 0u) << refused.message;
  plat::DWORD value = 0;
  plat::RegReadDword(common::kServiceKey, "LogMaxSizeKB", &value);
  EXPECT_NE(value, 64u) << "nothing of a refused sheet is written";

  // Read at once: written, nobody told.
  ASSERT_TRUE(SaveSettings(ServerSettings(), place_, current, {{"LogMaxSizeKB", "64"}}, notify, &toNotify).ok());
  ASSERT_EQ(plat::RegReadDword(common::kServiceKey, "LogMaxSizeKB", &value), plat::ERROR_SUCCESS);
  EXPECT_EQ(value, 64u);
  EXPECT_TRUE(toNotify.empty());
  // Read at UPDATE_UPDATE: every server is named, and each answers for itself.
  ASSERT_TRUE(SaveSettings(ServerSettings(), place_, current, {{"IdleTimer", "20m"}}, notify, &toNotify).ok());
  EXPECT_EQ(toNotify, notify);
  const std::vector<UpdateNotice> notices = NotifyServers(toNotify, nullptr);
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_TRUE(notices[0].took) << notices[0].text;
  EXPECT_EQ(notices[0].text, "SRV1 is not running; it reads the settings at its start");
  EXPECT_FALSE(notices[1].took);
  EXPECT_EQ(NoticeFailures(notices), notices[1].text + "\n");
}

TEST_F(SettingsTest, UnreachableServersAndStoppedServicesAreToldApart) {
  bool running = true;
  EXPECT_TRUE(SendUpdate("SRV1", &running).ok());  // not started: it reads them when it starts
  EXPECT_FALSE(running);
  EXPECT_FALSE(SendUpdate("NOWHERE", &running).ok());
  SettingTexts values;
  EXPECT_FALSE(ReadSettingValues(ServerSettings(), {"NOWHERE", "", ""}, &values).ok());
  const SimulationResult r = Simulate({"SRV1", "COM1", "DOM\\ann"}, "");
  EXPECT_FALSE(r.outcome.ok());
  EXPECT_NE(r.outcome.message.find("is Portulon running?"), std::string::npos) << r.outcome.message;
  EXPECT_FALSE(Simulate({"SRV1", "COM 1", "DOM\\ann"}, "").outcome.ok());
  EXPECT_FALSE(Simulate({"SRV1", "COM1", "DOM\\a[n"}, "").outcome.ok());

  ASSERT_TRUE(SendMessageTo("DOM\\ann", "Your session ends at noon").ok());
  std::vector<plat::NetMessage> inbox;
  ASSERT_EQ(plat::ReadNetMessages("ann", &inbox), plat::ERROR_SUCCESS);
  ASSERT_EQ(inbox.size(), 1u);
  EXPECT_EQ(inbox[0].text, "Your session ends at noon");
  EXPECT_FALSE(SendMessageTo("ann", "two\nlines").ok());
}

TEST_F(SettingsTest, PluserTakesHumanUnitsAndRefusesWhatItCannotStore) {
  auto r = RunTool("pluser", {"add", "DOM\\carol", "--session", "1h30m", "--expires-after", "90d",
                              "--static-ip", "10.0.0.77", "PeriodType=week", "--allowance", "10h",
                              "--sessions", "3"});
  ASSERT_EQ(r.code, 0) << r.err;
  const char* usr = common::testing::kUsers;
  EXPECT_EQ(plat::ProfileGetString(usr, "DOM\\carol", "MaxSessionTime", ""), "5400");
  EXPECT_EQ(plat::ProfileGetString(usr, "DOM\\carol", "ExpiryTime", ""), "90");
  EXPECT_EQ(plat::ProfileGetString(usr, "DOM\\carol", "StaticIP", ""), "167772237");
  EXPECT_EQ(plat::ProfileGetString(usr, "DOM\\carol", "PeriodType", ""), "2");
  EXPECT_EQ(plat::ProfileGetString(usr, "DOM\\carol", "MaxSessions", ""), "3");
  r = RunTool("pluser", {"show", "dom\\carol"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("1h30m"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("10.0.0.77"), std::string::npos) << r.out;

  const std::string before = plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.usr"));
  struct Bad {
    std::vector<std::string> args;
    const char* says;
  };
  const Bad bad[] = {
      {{"set", "DOM\\carol", "--static-ip", "10.0.0.300"}, "300 is above 255"},
      {{"set", "DOM\\carol", "--session", "-5m"}, "negative"},
      {{"set", "DOM\\carol", "--total", "lots"}, "not a time"},
      {{"set", "DOM\\carol", "--sessions", "-1"}, "not a number of sessions"},
      {{"set", "DOM\\carol", "Colour=red"}, "unknown key 'Colour'"},
      {{"set", "DOM\\carol", "--colour", "red"}, "--colour"},
      {{"add", "DOM\\d[ve"}, "'['"},
      {{"add", "DOM\\d=ve"}, "'='"},
      {{"set", "+DOM\\Staff", "--static-ip", "10.0.0.1"}, "not a setting of group profiles"},
      {{"set", "DOM\\carol"}, "nothing to set"},
  };
  for (const Bad& b : bad) {
    r = RunTool("pluser", b.args);
    EXPECT_EQ(r.code, 2) << b.args[2 < b.args.size() ? 2 : 1];
    EXPECT_NE(r.err.find(b.says), std::string::npos) << r.err;
  }
  r = RunTool("pluser", {"set", "DOM\\nobody", "--session", "1h"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no profile DOM\\nobody"), std::string::npos) << r.err;
  EXPECT_EQ(plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.usr")), before);

  // The last day: an ISO date in, in the file and in every listing; none removes it.
  r = RunTool("pluser", {"set", "DOM\\carol", "--expires", "2027-01-31"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(plat::ProfileGetString(usr, "DOM\\carol", "ExpiryDate", ""), "2027-01-31");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"show", "DOM\\carol"}, {"list", "--search", "carol"}}) {
    r = RunTool("pluser", args);
    EXPECT_NE(r.out.find("2027-01-31"), std::string::npos) << r.out;
  }
  r = RunTool("pluser", {"set", "DOM\\carol", "--expires", "31/01/2027"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("not a date"), std::string::npos) << r.err;
  r = RunTool("pluser", {"set", "DOM\\carol", "ExpiryDate=none"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(plat::ProfileGetString(usr, "DOM\\carol", "ExpiryDate", "(missing)"), "(missing)");

  r = RunTool("pluser", {"copy", "DOM\\carol", "DOM\\ann", "DOM\\bob"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(plat::ProfileGetString(usr, "DOM\\bob", "MaxSessionTime", ""), "5400");
  r = RunTool("pluser", {"list", "--format", "csv", "--search", "carol"});
  ASSERT_EQ(r.code, 0) << r.err;
  // The sessions at once a profile allows by its own values: none set is any.
  EXPECT_NE(r.out.find("DOM\\carol,1h30m,none,3,"), std::string::npos) << r.out;
  ASSERT_EQ(RunTool("pluser", {"set", "DOM\\carol", "--sessions", "none", "--no-duplicate", "yes"}).code, 0);
  EXPECT_NE(RunTool("pluser", {"list", "--format", "csv", "--search", "carol"}).out.find("DOM\\carol,1h30m,none,1,"),
            std::string::npos);
  ASSERT_EQ(RunTool("pluser", {"add", "+DOM\\Crew", "--sessions", "2"}).code, 0);  // groups have it too
  EXPECT_EQ(plat::ProfileGetString(usr, "+DOM\\Crew", "MaxSessions", ""), "2");
  ASSERT_EQ(RunTool("pluser", {"delete", "DOM\\carol"}).code, 0);
  EXPECT_FALSE(plat::ProfileSectionName(usr, "DOM\\carol"));
}

// plreport users is pluser list under its other name: the same options, the
// same listing, a domain's group profiles included; a missing file is an
// empty listing in both.
TEST_F(SettingsTest, PlreportUsersAndPluserListAreOneListing) {
  ASSERT_EQ(plat::ProfileApply(common::testing::kUsers,
                               {{"+DOM\\Staff", "MaxTotalTime", "36000"}, {"OTHER\\carol", "ExpiryTime", "10"}}),
            plat::ERROR_SUCCESS);
  const std::vector<std::vector<std::string>> options = {
      {}, {"--domain", "dom"}, {"--user", "staff", "--format", "csv"}, {"--search", "AR", "--data", "C:\\PLData"}};
  for (const auto& o : options) {
    std::vector<std::string> list = {"list"}, users = {"users"};
    list.insert(list.end(), o.begin(), o.end());
    users.insert(users.end(), o.begin(), o.end());
    const auto a = RunTool("pluser", list);
    const auto b = RunTool("plreport", users);
    ASSERT_EQ(a.code, 0) << a.err;
    ASSERT_EQ(b.code, 0) << b.err;
    EXPECT_EQ(a.out, b.out);
  }
  const auto dom = RunTool("plreport", {"users", "--domain", "DOM", "--format", "csv"});
  EXPECT_NE(dom.out.find("\n+DOM\\Staff,none,10h,"), std::string::npos) << dom.out;
  EXPECT_EQ(dom.out.find("carol"), std::string::npos) << dom.out;

  ASSERT_EQ(plat::DeleteFile(common::testing::kUsers), plat::ERROR_SUCCESS);
  for (const char* tool : {"pluser", "plreport"}) {
    const auto r = RunTool(tool, {std::string(tool) == "pluser" ? "list" : "users"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("portulon.usr), no such file: 0"), std::string::npos) << r.out;
  }
}

// What can be stored but is most likely a typing error is said in a sentence;
// --strict refuses it and writes nothing.
TEST_F(SettingsTest, LikelyTyposAreWarnedAboutAndRefusedWithStrict) {
  const std::string usrBefore = plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.usr"));
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{"pluser", "add", "DOM\\zed"}, "the domain DOM has no user zed"},
      {{"pluser", "add", "NODOM\\ann"}, "the network has no domain NODOM"},
      {{"pluser", "set", "DOM\\ann", "--allowance", "10h"}, "an allowance with the period none is never applied"},
      {{"pluser", "copy", "DOM\\ann", "DOM\\zed"}, "the domain DOM has no user zed"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> strict(c.args.begin() + 1, c.args.end());
    strict.push_back("--strict");
    const auto r = RunTool(c.args[0], strict);
    EXPECT_EQ(r.code, 2) << c.args[1] << " " << c.args[2];
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.usr")), usrBefore) << r.err;
  }
  // Without --strict: said, and written.
  auto r = RunTool("pluser", {"set", "DOM\\ann", "--allowance", "10h"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: DOM\\ann: an allowance with the period none"), std::string::npos) << r.err;
  EXPECT_EQ(plat::ProfileGetString(common::testing::kUsers, "DOM\\ann", "PeriodMax", ""), "36000");
  r = RunTool("pluser", {"set", "DOM\\ann", "--period", "week", "--strict"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");

  // A port the server does not have (SRV1 has COM1 to COM4).
  const std::string hwBefore = plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.hw"));
  r = RunTool("plsettings", {"port", "SRV1\\COM9", "Idle=1m", "--strict"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("SRV1 has no port COM9: its ports are COM1 to COM4"), std::string::npos) << r.err;
  EXPECT_EQ(plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.hw")), hwBefore);
  r = RunTool("plsettings", {"port", "SRV1\\COM9", "Idle=1m"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: SRV1 has no port COM9"), std::string::npos) << r.err;
  r = RunTool("plsettings", {"port", "SRV1\\COM4", "Idle=1m", "--strict"});
  EXPECT_EQ(r.code, 0) << r.err;

  // The default profile: an allowance while its period stays none.
  const std::string hwNow = plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.hw"));
  r = RunTool("plsettings", {"set", "Default.PeriodMax=10h", "--strict"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("an allowance with the period none is never applied"), std::string::npos) << r.err;
  EXPECT_EQ(plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.hw")), hwNow);
  r = RunTool("plsettings", {"set", "Default.PeriodMax=10h", "Default.PeriodType=week", "--strict"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

TEST_F(SettingsTest, PlsettingsWritesNamedSettingsOnlyAndSaysWhenTheyApply) {
  auto r = RunTool("plsettings", {"set", "Notify1=5m", "Notify1Text=Five minutes left", "IdleTimer=15m"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("not running; it reads the settings when it starts"), std::string::npos) << r.out;
  EXPECT_EQ(plat::ProfileGetString(common::testing::kHw, "General", "Notify1", ""), "300");
  plat::DWORD idle = 0;
  ASSERT_EQ(plat::RegReadDword(common::testing::ServiceSettingsKey(), "IdleTimer", &idle), plat::ERROR_SUCCESS);
  EXPECT_EQ(idle, 15u);
  r = RunTool("plsettings", {"show", "system"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Five minutes left"), std::string::npos) << r.out;

  const std::string before = plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.hw"));
  for (const char* bad : {"Notify2=soon", "Colour=red", "DailyStatusEmailHour=24", "Default.ExpiryTime=-1"}) {
    r = RunTool("plsettings", {"set", "Notify1=10m", bad});
    EXPECT_EQ(r.code, 2) << bad;
  }
  EXPECT_EQ(plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.hw")), before);
  r = RunTool("plsettings", {"reference"});
  ASSERT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("`MaxSessionTime`"), std::string::npos);
  EXPECT_NE(r.out.find("`ExpiryDate`"), std::string::npos);

  // The export schedule in words, stored as the same bits as ever.
  r = RunTool("plsettings", {"set", "ExportHours=2,18", "ExportDays=mon,fri"});
  ASSERT_EQ(r.code, 0) << r.err;
  plat::DWORD hours = 0, days = 0;
  ASSERT_EQ(plat::RegReadDword(common::testing::ServiceSettingsKey(), "ExportHours", &hours), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegReadDword(common::testing::ServiceSettingsKey(), "ExportDays", &days), plat::ERROR_SUCCESS);
  EXPECT_EQ(hours, (1u << 2) | (1u << 18));
  EXPECT_EQ(days, (1u << 1) | (1u << 5));
  r = RunTool("plsettings", {"show", "system"});
  EXPECT_NE(r.out.find("2,18"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("mon,fri"), std::string::npos) << r.out;
  // A value error is one line pointing at --help, not the whole usage.
  r = RunTool("plsettings", {"set", "ExportHours=25"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("see \"plsettings --help\""), std::string::npos) << r.err;
}

}  // namespace
}  // namespace accounts
