// pl_flush's removal steps on machines that setup installed: their order,
// what each removal keeps beside the other component, and the refusal while
// the remote-access service runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/product_keys.h"
#include "installer/tests/install_fixture.h"
#include "platform/machine.h"
#include "platform/service.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/ras_testing.h"
#include "installer/core/install_files.h"
#include "uninstaller/core/install_record.h"
#include "uninstaller/tests/recording_flush_ui.h"

namespace pl_flush::testing {
namespace {

using plat::ERROR_SUCCESS;
using setup::testing::kInstallPath;

bool ShareGone() {
  for (int i = 0; i < 100; ++i) {
    std::vector<std::string> lines;
    plat::RegKey shares;
    if (plat::RegKey::Open(plat::Hive::LocalMachine, plat::kSharesKey, &shares) != ERROR_SUCCESS ||
        shares.QueryMultiString("PL_NT_DB", &lines) != ERROR_SUCCESS) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class FlushTest : public setup::testing::InstallFixture {
 protected:
  void InstallBoth() { ASSERT_EQ(Install(Choices()).status, setup::InstallStatus::Done); }
  static bool Exists(const std::string& name) { return plat::FileExists(std::string(kInstallPath) + "\\" + name); }
  static bool ServiceExists() {
    plat::ServiceManager scm;
    plat::ServiceHandle service;
    return plat::ServiceManager::Open("", &scm) == ERROR_SUCCESS && scm.OpenService("Portulon", &service) == ERROR_SUCCESS;
  }
};

TEST(FlushModeTest, OnlySOrCAloneCount) {
  for (const char* server : {"S", "s", "/S", "/s"}) EXPECT_EQ(ModeFromArgument(server), FlushMode::Server) << server;
  for (const char* console : {"C", "c", "/C", "/c"}) EXPECT_EQ(ModeFromArgument(console), FlushMode::Console) << console;
  for (const char* other : {"", "X", " S", "server", "check-config", "SC", "//S", "-S"}) {
    EXPECT_EQ(ModeFromArgument(other), FlushMode::None) << other;
  }
}

TEST_F(FlushTest, ServerRemovalBesideTheConsoleKeepsTheConsole) {
  InstallBoth();
  ASSERT_EQ(plat::CreateDirectory(std::string(kInstallPath) + "\\OldData"), ERROR_SUCCESS);
  ASSERT_EQ(plat::WriteWholeFile(std::string(kInstallPath) + "\\LogData\\2026-Dec-08.log", "x"), ERROR_SUCCESS);
  ASSERT_EQ(plat::WriteWholeFile(std::string(kInstallPath) + "\\OldData\\2025-Dec-08.log", "x"), ERROR_SUCCESS);
  RecordingFlushUi ui;
  EXPECT_TRUE(RemoveServer(ui));
  const std::vector<std::string> steps = {
      "0 ",
      "10 Stopping Portulon...",  // the service existed, so its status was set
      "13 Stopping Portulon...",
      "22 Removing Portulon Service...",
      "24 Removing Files...", "26 Removing Files...", "28 Removing Files...", "30 Removing Files...",
      "32 Removing Files...", "34 Removing Files...", "36 Removing Files...", "38 Removing Files...",
      "40 Removing Files...", "50 Removing Files...", "60 Removing Files...", "70 Removing Files...",
      "75 Removing Share",
      "80 Removing Registry Information...", "99 Removing Registry Information..."};
  EXPECT_EQ(ui.steps, steps);
  EXPECT_FALSE(ServiceExists());
  for (const char* gone : {"plsvc.exe", "pl_msg.dll", "PL_RAS.dll", "portulon.hw", "portulon.usr", "LogData", "OldData"}) {
    EXPECT_FALSE(Exists(gone)) << gone;
  }
  for (const char* kept : {"pladmin.exe", "_pladmin.dll", "readme.htm"}) EXPECT_TRUE(Exists(kept)) << kept;
  EXPECT_FALSE(KeyExists(setup::kServiceKey));
  EXPECT_FALSE(KeyExists(plat::ras::kAdminDllKey));
  EXPECT_FALSE(KeyExists(common::kEventSourceKey));
  EXPECT_FALSE(KeyExists(common::kServerUninstallKey));
  EXPECT_TRUE(KeyExists(setup::kClientKey));
  EXPECT_TRUE(KeyExists(common::kConsoleUninstallKey));
  EXPECT_TRUE(ShareGone());
}

TEST_F(FlushTest, ConsoleRemovalBesideTheServiceKeepsTheService) {
  InstallBoth();
  RecordingFlushUi ui;
  RemoveConsole(ui);
  const std::vector<std::string> steps = {
      "0 ", "2 ", "15 Removing Files...", "18 Removing Files...", "22 Removing Files...", "25 Removing Files...",
      "50 Removing Files...", "55 Removing Registry Information...", "60 Removing Registry Information...",
      "65 Removing Registry Information...", "70 Removing Registry Information...",
      "80 Removing Program Folder...", "99 Removing Program Folder..."};
  EXPECT_EQ(ui.steps, steps);
  EXPECT_FALSE(Exists("pladmin.exe"));
  for (const char* kept : {"_pladmin.dll", "plsvc.exe", "portulon.usr", "PL_RAS.dll"}) EXPECT_TRUE(Exists(kept)) << kept;
  EXPECT_FALSE(KeyExists(setup::kClientKey));
  EXPECT_FALSE(KeyExists(setup::kServersKey));
  EXPECT_FALSE(plat::FileExists("C:\\WINNT\\Profiles\\Default User\\Start Menu\\Programs\\Portulon"));
  EXPECT_TRUE(KeyExists(setup::kServiceKey));
  EXPECT_TRUE(ServiceExists());
}

TEST_F(FlushTest, AlonePerRemovalTheInstallFolderGoes) {
  setup::InstallChoices server = Choices();
  server.console = false;
  ASSERT_EQ(Install(server).status, setup::InstallStatus::Done);
  RecordingFlushUi ui;
  EXPECT_TRUE(RemoveServer(ui));
  EXPECT_FALSE(plat::FileExists(kInstallPath));

  setup::InstallChoices console = Choices();
  console.server = false;
  ASSERT_EQ(Install(console).status, setup::InstallStatus::Done);
  RemoveConsole(ui);
  EXPECT_FALSE(plat::FileExists(kInstallPath));
}

TEST_F(FlushTest, WithoutAnInstallPathNoFileIsTouched) {
  // A current folder holding files of those names: a missing path must not mean it.
  ASSERT_EQ(plat::WriteWholeFile("C:\\WINNT\\system32\\plsvc.exe", "someone else's"), ERROR_SUCCESS);
  ASSERT_EQ(plat::SetCurrentDirectory("C:\\WINNT\\system32"), ERROR_SUCCESS);
  RecordingFlushUi ui;
  EXPECT_TRUE(RemoveServer(ui));
  RemoveConsole(ui);
  EXPECT_EQ(FileText("C:\\WINNT\\system32\\plsvc.exe"), "someone else's");
  EXPECT_TRUE(plat::FileExists("C:\\WINNT\\system32\\net.exe"));
}

TEST_F(FlushTest, ARunningRemoteAccessServiceRefusesServerRemoval) {
  InstallBoth();
  const std::string before = FileText(std::string(kInstallPath) + "\\plsvc.exe");
  {
    plat::testing::RasServiceRunner ras("RemoteAccess");
    RecordingFlushUi ui;
    EXPECT_FALSE(RemoveServer(ui));
    EXPECT_EQ(ui.warnings, std::vector<std::string>{kRasRunningMessage});
    EXPECT_EQ(ui.steps, std::vector<std::string>{"0 "});
    EXPECT_TRUE(ServiceExists());
    EXPECT_EQ(FileText(std::string(kInstallPath) + "\\plsvc.exe"), before);

    // A Router service, installed but stopped, is the one asked: RemoteAccess is not looked at.
    plat::ServiceManager scm;
    plat::ServiceHandle router;
    ASSERT_EQ(plat::ServiceManager::Open("", &scm), ERROR_SUCCESS);
    plat::ServiceConfig config;
    config.name = config.displayName = "Router";
    config.binaryPath = "C:\\WINNT\\system32\\rassvc.exe";
    ASSERT_EQ(scm.CreateService(config, "", &router), ERROR_SUCCESS);
    EXPECT_FALSE(RasServiceRunning());
    RecordingFlushUi proceeds;
    EXPECT_TRUE(RemoveServer(proceeds));
    EXPECT_TRUE(proceeds.warnings.empty());
    EXPECT_FALSE(ServiceExists());
  }
}

// An administrator's files in the folder Portulon was installed into, and
// Portulon's own traces and temporary files elsewhere.
class ForeignFilesTest : public FlushTest {
 protected:
  static constexpr const char* kFolder = "C:\\Tools";
  void SetUp() override {
    FlushTest::SetUp();
    ASSERT_EQ(plat::CreateDirectory(kFolder), ERROR_SUCCESS);
    for (const char* name : {"important.txt", "other.cfg", "notes.log"}) {
      ASSERT_EQ(plat::WriteWholeFile(std::string(kFolder) + "\\" + name, name), ERROR_SUCCESS);
    }
  }
  void InstallInto(bool server, bool console) {
    setup::InstallChoices choices = Choices();
    choices.installPath = kFolder;
    choices.server = server;
    choices.console = console;
    ASSERT_EQ(Install(choices).status, setup::InstallStatus::Done);
  }
  void RemoveBoth(bool serverFirst) {
    RecordingFlushUi ui;
    if (serverFirst) {
      EXPECT_TRUE(RemoveServer(ui));
    }
    RemoveConsole(ui);
    if (!serverFirst) {
      EXPECT_TRUE(RemoveServer(ui));
    }
  }
  static std::vector<std::string> Left() {
    std::vector<plat::FindData> entries;
    std::vector<std::string> names;
    plat::FindFiles(std::string(kFolder) + "\\*", &entries);
    for (const auto& e : entries) {
      if (e.name != "." && e.name != "..") names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static void ExpectOnlyTheForeignFilesLeft() {
    EXPECT_EQ(Left(), (std::vector<std::string>{"important.txt", "notes.log", "other.cfg"}));
    for (const char* name : {"important.txt", "other.cfg", "notes.log"}) {
      EXPECT_EQ(FileText(std::string(kFolder) + "\\" + name), name);
    }
  }
};

TEST_F(ForeignFilesTest, RemovingBothComponentsLeavesTheAdministratorsFiles) {
  for (const bool serverFirst : {true, false}) {
    SCOPED_TRACE(serverFirst ? "server first" : "console first");
    InstallInto(true, true);
    ASSERT_TRUE(plat::FileExists(std::string(kFolder) + "\\plsvc.exe"));
    RemoveBoth(serverFirst);
    ExpectOnlyTheForeignFilesLeft();
  }
  // Each component installed alone, the other one later into the same folder.
  InstallInto(false, true);
  InstallInto(true, false);
  RemoveBoth(true);
  ExpectOnlyTheForeignFilesLeft();
}

TEST_F(ForeignFilesTest, AnInstallationWithoutARecordLosesOnlyTheProductsFiles) {
  InstallInto(true, true);
  // As a setup that kept no record left it.
  for (const char* key : {setup::kServiceKey, setup::kClientKey}) {
    plat::RegKey k;
    ASSERT_EQ(plat::RegKey::Open(plat::Hive::LocalMachine, key, &k), ERROR_SUCCESS);
    ASSERT_EQ(k.DeleteValue(kInstalledFilesValue), ERROR_SUCCESS);
  }
  RemoveBoth(false);
  ExpectOnlyTheForeignFilesLeft();
}

TEST(InstallRecordTest, WhatSetupInstallsIsWhatAnUnrecordedRemovalKnows) {
  std::vector<std::string> known;
  for (auto list : {KnownServerFiles(), KnownConsoleFiles(), KnownSharedFiles()}) known.insert(known.end(), list.begin(), list.end());
  for (const setup::InstallFile& file : setup::InstallFiles()) {
    if (file.group == setup::FileGroup::Uninstaller) continue;
    EXPECT_NE(std::find(known.begin(), known.end(), std::string(file.name)), known.end()) << file.name;
  }
}

TEST_F(FlushTest, ServerRemovalTakesPortulonsTracesAndTemporaryFiles) {
  InstallBoth();
  const std::vector<std::string> made = {
      "C:\\qcl_trace_plsvc.txt", "C:\\qcl_trace_plras.txt", "C:\\qcl_trace_plcollect.txt",
      "C:\\WINNT\\system32\\~plsess.tmp", "C:\\WINNT\\system32\\plspool.dat",
      std::string(kInstallPath) + "\\portulon.log.old",
      std::string(kInstallPath) + "\\svc_status.dat", std::string(kInstallPath) + "\\PL_RAS.dll.old"};
  for (const std::string& file : made) ASSERT_EQ(plat::WriteWholeFile(file, "x"), ERROR_SUCCESS) << file;
  RecordingFlushUi ui;
  EXPECT_TRUE(RemoveServer(ui));
  for (const std::string& file : made) EXPECT_FALSE(plat::FileExists(file)) << file;
  EXPECT_NE(std::find(ui.removed.begin(), ui.removed.end(), "C:\\qcl_trace_plsvc.txt"), ui.removed.end());
  EXPECT_NE(std::find(ui.removed.begin(), ui.removed.end(), "the service Portulon"), ui.removed.end());
}

TEST_F(FlushTest, TheProgramTakesExactlySOrCAndSaysWhatItRemoved) {
  InstallBoth();
  using plat::testing::RunTool;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"X"}, {"check-config"}, {"Server"}, {"S", "C"}, {"--bogus"}}) {
    const plat::testing::ToolResult r = RunTool("pl_flush", args);
    EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]) << r.err;
    EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
    EXPECT_TRUE(Exists("plsvc.exe"));
    EXPECT_TRUE(Exists("pladmin.exe"));
  }
  const plat::testing::ToolResult help = RunTool("pl_flush", {"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("  pl_flush S|C"), std::string::npos) << help.out;
  const plat::testing::ToolResult version = RunTool("pl_flush", {"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_NE(version.out.find("pl_flush"), std::string::npos) << version.out;

  const plat::testing::ToolResult r = RunTool("pl_flush", {"/c"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Removing Files...\n  removed C:\\Program Files\\Portulon\\pladmin.exe\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  removed HKEY_LOCAL_MACHINE\\Software\\Quillfen Technologies\\Portulon\\Client\n"),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(Exists("pladmin.exe"));
  EXPECT_TRUE(Exists("plsvc.exe"));
  // Removed already: nothing to do is a failure the caller sees.
  const plat::testing::ToolResult again = RunTool("pl_flush", {"C"});
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("nothing of the Portulon console was found"), std::string::npos) << again.err;
}

}  // namespace
}  // namespace pl_flush::testing
