#include "service/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/testing/temp_network.h"
#include "service/service_context.h"

namespace svc {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  plat::testing::TempNetwork net;
  plat::RegKey key;
  void SetUp() override {
    ASSERT_EQ(plat::RegKey::Create(plat::Hive::LocalMachine, kServiceKey, &key), plat::ERROR_SUCCESS);
  }
};

TEST_F(SettingsTest, ValuesAreReadWithTheirConversions) {
  key.SetDword("IdleTimer", 10);
  key.SetDword("IdleBytesLimit", 0);
  key.SetDword("Master", 1);
  key.SetDword("StaticIP", 1);
  key.SetString("AssumeDomain", std::string(80, 'D'));
  key.SetString("MasterShare", "\\\\SRV1\\PL_NT_DB");
  ServiceSettings s;
  ReadServiceSettings(&s);
  EXPECT_EQ(s.idleTimerSeconds, 600u);
  EXPECT_EQ(s.idleBytesLimit, 10000u) << "0 counts as 10000";
  EXPECT_EQ(s.master, 1u);
  EXPECT_EQ(s.staticIP, 1u);
  EXPECT_EQ(s.assumeDomain.size(), 49u) << "a 50-character buffer holds 49";
  EXPECT_EQ(s.masterShare, "\\\\SRV1\\PL_NT_DB");
  EXPECT_EQ(s.logMaxSizeKB, 512u);

  // A value that goes missing leaves what was read before.
  key.DeleteValue("Master");
  key.SetDword("IdleBytesLimit", 500);
  ReadServiceSettings(&s);
  EXPECT_EQ(s.master, 1u);
  EXPECT_EQ(s.idleBytesLimit, 500u);
  EXPECT_EQ(s.idleTimerSeconds, 600u);
}

TEST_F(SettingsTest, DataFilesLieInTheShareOrWorkingAloneInTheCurrentFolder) {
  DataPaths p = MakeDataPaths("\\\\SRV1\\PL_NT_DB", "C:\\WINNT\\system32");
  EXPECT_FALSE(p.workingAlone);
  EXPECT_EQ(p.users, "\\\\SRV1\\PL_NT_DB\\portulon.usr");
  EXPECT_EQ(p.systemData, "\\\\SRV1\\PL_NT_DB\\portulon.hw");
  EXPECT_EQ(p.loggedIn, "\\\\SRV1\\PL_NT_DB\\portulon.tmp");
  EXPECT_EQ(p.combinedLog, "\\\\SRV1\\PL_NT_DB\\portulon.log");
  EXPECT_EQ(p.portStat, "\\\\SRV1\\PL_NT_DB\\portstat.log");
  EXPECT_EQ(p.statusCounters, "\\\\SRV1\\PL_NT_DB\\svc_status.dat");

  p = MakeDataPaths("", "C:\\WINNT\\system32");
  EXPECT_TRUE(p.workingAlone);
  EXPECT_EQ(p.users, "C:\\WINNT\\system32\\portulon.usr");
  // Working alone, the status counters stay with the other files.
  EXPECT_EQ(p.statusCounters, "C:\\WINNT\\system32\\svc_status.dat");
}

TEST_F(SettingsTest, AnUnreachableDataFolderIsReportedAsEventOne) {
  ServiceContext context;
  context.serverName = "SRV1";
  key.SetString("MasterShare", "\\\\SRV1\\NOSHARE");
  ReadSettings(context);
  EXPECT_EQ(context.paths.folder, "\\\\SRV1\\NOSHARE");
  plat::EventLogReader reader;
  std::vector<plat::EventRecord> records;
  ASSERT_EQ(plat::EventLogReader::Open("", "Application", &reader), plat::ERROR_SUCCESS);
  reader.ReadAll(&records);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].eventId, 1u);
  EXPECT_EQ(records[0].eventType, plat::EVENTLOG_ERROR_TYPE);
  ASSERT_EQ(records[0].strings.size(), 2u);
  EXPECT_EQ(records[0].strings[0],
            "Failed to access primary share. Make sure that the Portulon service account can "
            "access share");
  EXPECT_EQ(records[0].strings[1], "\\\\SRV1\\NOSHARE Error Code 67");

  // Once the share exists the test passes and leaves nothing behind.
  std::filesystem::create_directories(net.DriveC("Data"));
  plat::RegKey shares;
  ASSERT_EQ(plat::RegKey::Create(plat::Hive::LocalMachine, plat::kSharesKey, &shares), plat::ERROR_SUCCESS);
  shares.SetMultiString("NOSHARE", {"Path=C:\\Data"});
  EXPECT_EQ(TestMasterShare(context), plat::ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::is_empty(net.DriveC("Data")));
}

TEST_F(SettingsTest, ClearingTheLoggedInFileTouchesOnlyThisServer) {
  ServiceContext context;
  context.serverName = "SRV1";
  context.paths = MakeDataPaths("C:\\Data", "C:\\");
  std::filesystem::create_directories(net.DriveC("Data"));
  plat::ProfileWriteString(context.paths.loggedIn, "SRV1", "DOM\\ann", "1");
  plat::ProfileWriteString(context.paths.loggedIn, "SRV2", "DOM\\bob", "1");
  ClearTEMPFile(context.paths, context.serverName);
  EXPECT_FALSE(plat::ProfileListKeys(context.paths.loggedIn, "SRV1").has_value());
  EXPECT_EQ(plat::ProfileGetString(context.paths.loggedIn, "SRV2", "DOM\\bob", ""), "1");
}

}  // namespace
}  // namespace svc
