// The master's scheduler in the real service program: plsvc in console mode
// (its trace on standard output) exports and mails as soon as it starts when
// the hour is due, and says so, or says why not.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "common/data_folder.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"
#include "service/reporting/odbc_connection.h"
#include "service/reporting/tests/reporting_fixture.h"
#include "service/session_log.h"
#include "service/settings.h"
#include "service/tests/console_plsvc.h"

namespace svc {
namespace {

class PlsvcReportingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove(testing::OdbcTestConfig::Get().database());  // sets ODBCINI for plsvc too
    ASSERT_EQ(plat::CreateDirectory("C:\\PLData"), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::CreateDirectory("C:\\PLData\\LogData"), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::RegWriteString(plat::kSharesKey, "PL_NT_DB", "Path=C:\\PLData"), 0u);
    ASSERT_EQ(plat::RegWriteString(kServiceKey, "MasterShare", "\\\\SRV1\\PL_NT_DB"), 0u);
    ASSERT_EQ(plat::RegWriteDword(kServiceKey, "Master", 1), 0u);
    ASSERT_EQ(plat::RegWriteString(kServiceKey, "ODBC_DSN", "PortulonTest"), 0u);
    ASSERT_EQ(plat::RegWriteDword(kServiceKey, "ExportHistory", 1), 0u);
    ASSERT_EQ(plat::RegWriteDword(kServiceKey, "ExportHours", 0xFFFFFF), 0u);
    // Today's log, as the session log names it.
    const std::string day = common::DayLogName(std::time(nullptr));
    ASSERT_EQ(plat::WriteWholeFile("C:\\PLData\\LogData\\" + day + ".log",
                                   "[SRV1\\COM1]\n1000=C_DOM\\ann\n1060=H60_DOM\\ann?0?0:::-1:-1\n"),
              0u);
    Hw("DailyStatusEmailType", "1");
    Hw("DailyStatusEmailHour", "0");
    Hw("DailyStatusEmailTo", "ops@example.org");
    Hw("DailyStatusEmailFrom", "portulon@srv1.example");
    ASSERT_EQ(plat::ProfileWriteString("C:\\PLData\\svc_status.dat", "General", "Sessions", "1"), 0u);
    ASSERT_EQ(plat::ProfileWriteString("C:\\PLData\\svc_status.dat", "Users", "DOM\\ann", "1"), 0u);
  }
  void Hw(const std::string& key, const std::string& value) {
    ASSERT_EQ(plat::ProfileWriteString("C:\\PLData\\portulon.hw", "General", key, value), 0u);
  }

  plat::testing::TempNetwork net_;
};

TEST_F(PlsvcReportingTest, TheMasterExportsAndMailsWhenDue) {
  testing::LocalMailServer mail("accept");
  Hw("DailyStatusEmailPOPServer", mail.address());
  testing::ConsolePlsvc service;
  ASSERT_TRUE(service.WaitFor("Database export done")) << service.Output();
  ASSERT_TRUE(service.WaitFor("Status mail sent to ops@example.org")) << service.Output();
  EXPECT_EQ(mail.Received(), 1);
  EXPECT_NE(mail.Part(1, "txt").find("Sessions admitted                     1"), std::string::npos);
  EXPECT_EQ(plat::ProfileGetString("C:\\PLData\\svc_status.dat", "General", "Sessions", ""), "0");

  OdbcConnection db;
  ASSERT_TRUE(db.Connect("PortulonTest", "", "")) << db.error();
  std::vector<SqlRow> rows;
  ASSERT_TRUE(db.Query("SELECT kind, account FROM pl_sessions ORDER BY event_time", {}, &rows));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], "C");
  EXPECT_EQ(rows[1][1], "DOM\\ann");
}

TEST_F(PlsvcReportingTest, ANonMasterRunsNoJob) {
  ASSERT_EQ(plat::RegWriteDword(kServiceKey, "Master", 0), 0u);
  testing::LocalMailServer mail("accept");
  Hw("DailyStatusEmailPOPServer", mail.address());
  testing::ConsolePlsvc service;
  ASSERT_TRUE(service.WaitFor("Not starting because this is not the Master")) << service.Output();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(mail.Received(), 0);
  EXPECT_FALSE(std::filesystem::exists(testing::OdbcTestConfig::Get().database()));
}

TEST_F(PlsvcReportingTest, FailuresAreTracedWithTheirReason) {
  Hw("DailyStatusEmailPOPServer", "127.0.0.1:" + std::to_string(testing::UnusedLoopbackPort()));
  ASSERT_EQ(plat::RegWriteString(kServiceKey, "ODBC_DSN", "PortulonMissing"), 0u);
  testing::ConsolePlsvc service;
  ASSERT_TRUE(service.WaitFor("DatabaseExport: Export failed: cannot connect to data source "
                              "'PortulonMissing'"))
      << service.Output();
  ASSERT_TRUE(service.WaitFor("StatusMail: Status mail failed: mail server 127.0.0.1:"))
      << service.Output();
  EXPECT_NE(service.Output().find("Connection refused"), std::string::npos) << service.Output();
  EXPECT_EQ(plat::ProfileGetString("C:\\PLData\\svc_status.dat", "General", "Sessions", ""), "1");
}

// The administrator's way to run either job now.
TEST_F(PlsvcReportingTest, PlexportRunsEitherJobNow) {
  using plat::testing::RunTool;
  auto result = RunTool("plexport", {"export"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_NE(result.out.find("Exported into data source 'PortulonTest': 0 profiles, 2 session "
                            "records of 1 day"),
            std::string::npos)
      << result.out;

  result = RunTool("plexport", {"mail"});  // no server set: refused, counters kept
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("no usable mail server"), std::string::npos) << result.err;

  testing::LocalMailServer mail("accept");
  result = RunTool("plexport", {"set-mail", "--server", mail.address(), "--to", "ops@example.org",
                                "--from", "portulon@srv1.example", "--hour", "6"});
  EXPECT_EQ(result.code, 0) << result.err;
  result = RunTool("plexport", {"mail"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(mail.Received(), 1);
  EXPECT_EQ(plat::ProfileGetString("C:\\PLData\\svc_status.dat", "General", "Sessions", ""), "0");
  EXPECT_EQ(plat::ProfileGetString("C:\\PLData\\portulon.hw", "General", "DailyStatusEmailHour", ""), "6");

  EXPECT_EQ(RunTool("plexport", {"set-mail", "--server", "x", "--to", "nobody"}).code, 2);

  result = RunTool("plexport", {"schedule"});
  EXPECT_NE(result.out.find("near-live on: each record within a minute   (ExportLive=1)"), std::string::npos)
      << result.out;
  ASSERT_EQ(plat::RegWriteDword(kServiceKey, "ExportLive", 0), 0u);
  result = RunTool("plexport", {"schedule"});
  EXPECT_NE(result.out.find("near-live off   (ExportLive=0)"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace svc
