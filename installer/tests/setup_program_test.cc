// setup and pl_flush as an administrator runs them: the package script's
// folder of the real programs, installed unattended over a running service
// and beside a running remote-access service, and the unattended mode's
// answers to bad input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "installer/tests/install_fixture.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/pipe.h"
#include "platform/service.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/ras_testing.h"

namespace setup::testing {
namespace {

using plat::ERROR_SUCCESS;
using plat::testing::RunTool;
using plat::testing::ToolResult;

std::string Contains(const ToolResult& r) { return "status " + std::to_string(r.code) + "\n" + r.out + r.err; }

class SetupProgramTest : public InstallFixture {
 protected:
  void SetUp() override {
    InstallFixture::SetUp();
    ASSERT_EQ(plat::DomainCreate("DOM", "SRV1"), ERROR_SUCCESS);
    ASSERT_EQ(plat::DomainAddUser("DOM", "svc", "", {}), ERROR_SUCCESS);
    plat::testing::WriteHostFile(net_.network() + "/password", "secret\n");
  }
  ToolResult Setup(std::vector<std::string> args, const std::string& package = "") {
    args.insert(args.begin(), {"--unattended", "--package", package.empty() ? packageHost_ : package});
    return RunTool("setup", args);
  }
  std::vector<std::string> Account() const {
    return {"--account", "DOM\\svc", "--password-file", net_.network() + "/password"};
  }
  static plat::SERVICE_STATUS Status() {
    plat::ServiceManager scm;
    plat::ServiceHandle service;
    plat::SERVICE_STATUS status;
    EXPECT_EQ(plat::ServiceManager::Open("", &scm), ERROR_SUCCESS);
    if (scm.OpenService("Portulon", &service) == ERROR_SUCCESS) service.QueryStatus(&status);
    else status.dwCurrentState = 0;
    return status;
  }
};

TEST_F(SetupProgramTest, BadInputGetsAClearMessageAndRegistersNothing) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* says;
  };
  const std::string longPath = "C:\\" + std::string(200, 'a') + "\\" + std::string(200, 'b') + "\\" + std::string(200, 'c');
  const std::vector<Case> cases = {
      {{"--account", "svc"}, 1, "Please enter the account name in the form of DOMAIN\\Account."},
      {{"--account", "DOM\\nobody"}, 1, "Failed to verify the account or password."},
      {{"--account", "DOM\\svc", "--path", "C:\\Program \"Files\""}, 2, "may not contain any of the characters"},
      {{"--account", "DOM\\svc", "--path", longPath}, 2, "The install path is too long"},
      {{"--account", "DOM\\svc", "--ras", "isdn"}, 2, "--ras takes ras or rras"},
      {{"--account", "DOM\\svc", "--components", "server,printer"}, 2, "unknown component 'printer'"},
      {{"--account", "DOM\\svc", "--password-file", "/nonexistent/pw"}, 1, "--password-file"},
      {{"--account", "DOM\\svc", "--path", "C:\\"}, 2, "not the root of drive C:"},
      {{"--account", "DOM\\svc", "--bogus"}, 2, "--help"},
  };
  for (const Case& c : cases) {
    const ToolResult r = Setup(c.args);
    EXPECT_EQ(r.code, c.code) << Contains(r);
    EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << Contains(r);
    EXPECT_FALSE(KeyExists("System\\CurrentControlSet\\Services\\Portulon"));
    EXPECT_FALSE(KeyExists(kServiceKey));
  }
  std::filesystem::remove(packageHost_ + "/setup.ini");
  const ToolResult noList = Setup(Account());
  EXPECT_EQ(noList.code, 1);
  EXPECT_NE(noList.err.find("setup.ini is missing"), std::string::npos) << Contains(noList);
  EXPECT_FALSE(plat::FileExists(kInstallPath));
}

TEST_F(SetupProgramTest, UnattendedPrintsItsProgressAndRunsTheWizardsSteps) {
  std::vector<std::string> args = Account();
  args.insert(args.end(), {"--components", "server", "--primary", "SRV7", "--path", "D:\\nowhere"});
  EXPECT_EQ(Setup(args).code, 1) << "only drive C: exists";
  args.back() = "C:\\Program Files\\Portulon Test";
  const ToolResult r = Setup(args);
  ASSERT_EQ(r.code, 0) << Contains(r);
  for (const char* line : {"[  1%] Examining System: Checking RAS version...\n", "[ 55%] Copying Files: plsvc.exe\n",
                           "[ 94%] Installing: Portulon Service\n", "[100%] Installation Done\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << Contains(r);
  }
  EXPECT_EQ(r.out.find("Program Group Icons"), std::string::npos) << "no console, no shortcuts";
  // The count never runs backwards (the uninstaller is copied late).
  int last = 0;
  for (size_t at = r.out.find("\n["); at != std::string::npos; at = r.out.find("\n[", at + 1)) {
    const int percent = std::atoi(r.out.c_str() + at + 2);
    EXPECT_GE(percent, last) << r.out.substr(at + 1, 40);
    last = percent;
  }
  EXPECT_EQ(Value(kServiceKey, "MasterShare"), "\\\\SRV7\\PL_NT_DB");
  EXPECT_EQ(Value(kServiceKey, "Master"), "0");
}

TEST_F(SetupProgramTest, TheCommandLineIsCheckedBeforeTheMachine) {
  const ToolResult help = RunTool("setup", {"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("  setup --unattended"), std::string::npos) << Contains(help);
  const ToolResult version = RunTool("setup", {"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_NE(version.out.find("setup"), std::string::npos) << Contains(version);
  // No machine at all: the wrong option is what is reported.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--bogus"}, {"stray"},
                                               {"--unattended", "--bogus"}, {"--list-files", "x"},
                                               {"--unattended", "--path", "C:\\"}}) {
    const ToolResult r = RunTool("setup", args, {"PORTULON_MACHINE"});
    EXPECT_EQ(r.code, 2) << args[0] << Contains(r);
    EXPECT_NE(r.err.find("--help"), std::string::npos) << Contains(r);
    EXPECT_EQ(r.err.find("machine"), std::string::npos) << Contains(r);
  }
}

// As an administrator did it: setup into a folder of his own tools, then
// both uninstall entries.
TEST_F(SetupProgramTest, InstalledIntoAFolderOfOwnFilesAndRemovedAgainTheFilesStay) {
  ASSERT_EQ(plat::CreateDirectory("C:\\Tools"), ERROR_SUCCESS);
  for (const char* name : {"important.txt", "other.cfg"}) {
    ASSERT_EQ(plat::WriteWholeFile(std::string("C:\\Tools\\") + name, name), ERROR_SUCCESS);
  }
  std::vector<std::string> args = Account();
  args.insert(args.end(), {"--path", "C:\\Tools"});
  const ToolResult installed = Setup(args);
  ASSERT_EQ(installed.code, 0) << Contains(installed);
  ASSERT_TRUE(plat::FileExists("C:\\Tools\\plsvc.exe"));
  for (const char* which : {"S", "C"}) {
    const ToolResult removed = RunTool("pl_flush", {which});
    EXPECT_EQ(removed.code, 0) << which << Contains(removed);
  }
  EXPECT_FALSE(plat::FileExists("C:\\Tools\\plsvc.exe"));
  EXPECT_FALSE(plat::FileExists("C:\\Tools\\pladmin.exe"));
  for (const char* name : {"important.txt", "other.cfg"}) {
    EXPECT_EQ(FileText(std::string("C:\\Tools\\") + name), name);
  }
  // And the drive's root is refused before anything happens.
  args.back() = "C:\\";
  EXPECT_EQ(Setup(args).code, 2);
}

// The package script's folder of the real programs, installed and run.
TEST_F(SetupProgramTest, TheRealPackageInstallsOverRunningServices) {
  const std::string real = net_.network() + "/real-package";
  const std::string build = std::filesystem::path(plat::testing::BinDir()).parent_path();
  const std::string script = std::string(PORTULON_SOURCE_DIR) + "/packaging/build-package.sh";
  ASSERT_EQ(std::system(("bash '" + script + "' '" + build + "' '" + real + "' >/dev/null").c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(real + "/Portulon.hw_"));
  EXPECT_TRUE(std::filesystem::exists(real + "/pladmin.ex_"));

  std::vector<std::string> args = Account();
  args.push_back("--start");
  ToolResult r = Setup(args, real);
  ASSERT_EQ(r.code, 0) << Contains(r);
  EXPECT_NE(r.out.find("Starting the Portulon service (--start)."), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Would you like"), std::string::npos) << r.out;
  EXPECT_EQ(Status().dwCurrentState, plat::SERVICE_RUNNING);
  std::string reply;
  EXPECT_EQ(plat::CallNamedPipe("\\\\.\\pipe\\plsvcpipe", "UPDATE_UPDATE", &reply, 2000, 5000), ERROR_SUCCESS);

  // Over the running service: stopped, reconfigured, its account kept.
  args = {"--account", "DOM\\svc", "--ignore-account-check"};
  r = Setup(args, real);
  EXPECT_EQ(r.code, 0) << Contains(r);
  EXPECT_EQ(Status().dwCurrentState, plat::SERVICE_STOPPED);

  // Beside the running remote-access service, which holds the hook module.
  {
    plat::testing::RasServiceRunner ras("RemoteAccess");
    r = Setup(args, real);
    EXPECT_EQ(r.code, 3) << Contains(r);
    EXPECT_NE(r.err.find("The service Remote Access Server was running"), std::string::npos) << Contains(r);
    EXPECT_TRUE(plat::FileExists(std::string(kInstallPath) + "\\PL_RAS.dll.old"));

    const ToolResult refused = RunTool("pl_flush", {"S"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("while the RAS service is running"), std::string::npos) << Contains(refused);
    EXPECT_TRUE(KeyExists("System\\CurrentControlSet\\Services\\Portulon"));
  }
  const ToolResult removed = RunTool("pl_flush", {"S"});
  EXPECT_EQ(removed.code, 0) << Contains(removed);
  EXPECT_FALSE(KeyExists("System\\CurrentControlSet\\Services\\Portulon"));
  EXPECT_TRUE(plat::FileExists(std::string(kInstallPath) + "\\pladmin.exe")) << "the console stays";
}

}  // namespace
}  // namespace setup::testing
