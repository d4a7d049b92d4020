#include "service/export_thread.h"
#include "service/reporting/scheduled_jobs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/file.h"
#include "service/system_data.h"
#include "service/tests/policy_fixture.h"

namespace svc {
namespace {

using testing::At;

class ArchiveTest : public testing::PolicyTest {
 protected:
  void Log(const std::string& name) {
    ASSERT_EQ(plat::WriteWholeFile("C:\\PLData\\LogData\\" + name, "[SRV1\\COM1]\n1=C_x\n"), 0u);
  }
  static bool InLogData(const std::string& name) {
    return plat::FileExists("C:\\PLData\\LogData\\" + name);
  }
  static bool InOldData(const std::string& name) {
    return plat::FileExists("C:\\PLData\\OldData\\" + name);
  }
};

TEST_F(ArchiveTest, LogsOlderThanTheAgeMoveToOldData) {
  SetHw(kGeneralSection, "AutoArchiveAge", "30");
  now = At(2024, 3, 31, 8);
  Log("2024-Mar-31.log");
  Log("2024-Mar-01.log");  // 30 days: stays
  Log("2024-Feb-29.log");  // 31 days: goes
  Log("2023-mar-01.log");
  Log("notes.log");
  Log("2023-Jan-01.txt");
  EXPECT_EQ(ArchiveOldLogs(ctx, now), 2);
  EXPECT_TRUE(InLogData("2024-Mar-31.log"));
  EXPECT_TRUE(InLogData("2024-Mar-01.log"));
  EXPECT_TRUE(InOldData("2024-Feb-29.log"));
  EXPECT_TRUE(InOldData("2023-mar-01.log"));
  EXPECT_TRUE(InLogData("notes.log"));
  EXPECT_TRUE(InLogData("2023-Jan-01.txt"));

  // An archived log of that name already exists: neither is lost.
  Log("2024-Feb-29.log");
  EXPECT_EQ(ArchiveOldLogs(ctx, now), 0);
  EXPECT_TRUE(InLogData("2024-Feb-29.log"));
  EXPECT_TRUE(InOldData("2024-Feb-29.log"));
}

TEST_F(ArchiveTest, AgeZeroArchivesNothing) {
  now = At(2024, 3, 31);
  Log("2020-Jan-01.log");
  EXPECT_EQ(ArchiveOldLogs(ctx, now), 0);
  SetHw(kGeneralSection, "AutoArchiveAge", "-3");
  EXPECT_EQ(ArchiveOldLogs(ctx, now), 0);
  EXPECT_TRUE(InLogData("2020-Jan-01.log"));
}

TEST_F(ArchiveTest, TheThreadRunsOnTheMasterOnly) {
  SetHw(kGeneralSection, "AutoArchiveAge", "1");
  Log("2020-Jan-01.log");
  ctx.settings.master = 0;
  StartExportThread(ctx);
  EXPECT_FALSE(ctx.exportThread.joinable());

  ctx.settings.master = 1;
  StartExportThread(ctx);
  ASSERT_TRUE(ctx.exportThread.joinable());
  for (int i = 0; i < 500 && !InOldData("2020-Jan-01.log"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(InOldData("2020-Jan-01.log"));
  // Stopping wakes the thread out of its minute's wait.
  const auto before = std::chrono::steady_clock::now();
  ctx.exportThread.request_stop();
  ctx.exportThread.join();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

}  // namespace
}  // namespace svc
