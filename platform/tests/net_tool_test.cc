// The sc and net tools, run as the real programs an administrator or the
// installer starts.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"
#include "platform/tests/fake_service_logs.h"

namespace plat {
namespace {

constexpr DWORD kWaitMs = 10000;

using Result = testing::ToolResult;
using testing::ReadHostFile;

// What survives of a Win32 error in an exit status.
int ExitCodeOf(DWORD error) { return static_cast<int>(error & 0xFF); }

class NetToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("PORTULON_SERVICE_NAME");
    // Provisioning links net.exe into system32 from here.
    ::setenv("PORTULON_BIN_DIR", testing::BinDir().c_str(), 1);
    net_ = std::make_unique<testing::TempNetwork>();
  }

  void TearDown() override {
    for (const char* root : {"SRV1", "SRV2"}) {
      ServiceManager scm;
      std::vector<std::string> names;
      if (ServiceManager::Open(std::string("\\\\") + root, &scm) != ERROR_SUCCESS ||
          scm.EnumServices(&names) != ERROR_SUCCESS) {
        continue;
      }
      for (const auto& name : names) {
        ServiceHandle svc;
        if (scm.OpenService(name, &svc) != ERROR_SUCCESS) continue;
        if (DWORD pid = svc.ProcessId(); pid != 0) {
          ::kill(static_cast<pid_t>(pid), SIGKILL);
          WaitForServiceState(svc, SERVICE_STOPPED, kWaitMs);
        }
      }
    }
    // Stopped fake services still write their last lines; let them end first.
    testing::AwaitFakeServices(net_->network(), /*killStragglers=*/false);
  }

  Result Sc(const std::vector<std::string>& args) { return testing::RunTool("sc", args); }
  Result Net(const std::vector<std::string>& args) { return testing::RunTool("net", args); }

  std::string LogFile(const std::string& tag) const { return net_->network() + "/" + tag + ".log"; }
  std::string Image(const std::string& tag) const {
    return "\"" + HostToWindowsPath(testing::TestProgramDir() + "/fake_service") + "\" --log " + LogFile(tag);
  }

  void CreateFake(const std::string& name, const std::string& display) {
    ServiceManager scm;
    ASSERT_EQ(ServiceManager::Open("", &scm), ERROR_SUCCESS);
    ServiceConfig config;
    config.name = name;
    config.displayName = display;
    config.binaryPath = Image(name);
    ASSERT_EQ(scm.CreateService(config, "", nullptr), ERROR_SUCCESS);
  }

  DWORD StateOf(const std::string& name) {
    ServiceManager scm;
    ServiceHandle svc;
    SERVICE_STATUS status;
    if (ServiceManager::Open("", &scm) != ERROR_SUCCESS || scm.OpenService(name, &svc) != ERROR_SUCCESS ||
        svc.QueryStatus(&status) != ERROR_SUCCESS) {
      return 0;
    }
    return status.dwCurrentState;
  }

  bool WaitState(const std::string& name, DWORD state) {
    ServiceManager scm;
    ServiceHandle svc;
    return ServiceManager::Open("", &scm) == ERROR_SUCCESS &&
           scm.OpenService(name, &svc) == ERROR_SUCCESS &&
           WaitForServiceState(svc, state, kWaitMs) == ERROR_SUCCESS;
  }

  std::unique_ptr<testing::TempNetwork> net_;
};

TEST_F(NetToolTest, ScCreateConfigStartQueryStopDelete) {
  Result r = Sc({"create", "FakeSvc", "binPath=", Image("fake"), "start=", "disabled", "DisplayName=",
                 "Fake Display"});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "[SC] CreateService SUCCESS\n");

  r = Sc({"qc", "fakesvc"});
  EXPECT_NE(r.out.find("START_TYPE         : 4   DISABLED"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("DISPLAY_NAME       : Fake Display"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("SERVICE_START_NAME : LocalSystem"), std::string::npos) << r.out;

  r = Sc({"start", "FakeSvc"});
  EXPECT_EQ(r.code, ExitCodeOf(ERROR_SERVICE_DISABLED));
  EXPECT_EQ(r.out, "[SC] StartService FAILED 1058:\n\n" + ErrorText(ERROR_SERVICE_DISABLED) + "\n\n");

  ASSERT_EQ(Sc({"config", "FakeSvc", "start=", "demand"}).out, "[SC] ChangeServiceConfig SUCCESS\n");
  r = Sc({"start", "FAKESVC", "one", "two"});
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("SERVICE_NAME: FakeSvc\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("        PID                : "), std::string::npos) << r.out;
  ASSERT_TRUE(WaitState("FakeSvc", SERVICE_RUNNING));

  r = Sc({"query", "fakesvc"});
  EXPECT_EQ(r.out,
            "\nSERVICE_NAME: FakeSvc\n"
            "        TYPE               : 10  WIN32_OWN_PROCESS\n"
            "        STATE              : 4  RUNNING\n"
            "                                (STOPPABLE, NOT_PAUSABLE, ACCEPTS_SHUTDOWN)\n"
            "        WIN32_EXIT_CODE    : 0  (0x0)\n"
            "        SERVICE_EXIT_CODE  : 0  (0x0)\n"
            "        CHECKPOINT         : 0x0\n"
            "        WAIT_HINT          : 0x0\n");
  // Without a name, query lists what is not stopped.
  EXPECT_NE(Sc({"query"}).out.find("SERVICE_NAME: FakeSvc"), std::string::npos);

  r = Sc({"stop", "FakeSvc"});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(r.out.find("3  STOP_PENDING") != std::string::npos ||
              r.out.find("1  STOPPED") != std::string::npos)
      << r.out;
  ASSERT_TRUE(WaitState("FakeSvc", SERVICE_STOPPED));
  r = Sc({"stop", "FakeSvc"});
  EXPECT_EQ(r.code, ExitCodeOf(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_EQ(r.out.rfind("[SC] ControlService FAILED 1062:", 0), 0u) << r.out;

  EXPECT_EQ(Sc({"delete", "FakeSvc"}).out, "[SC] DeleteService SUCCESS\n");
  r = Sc({"query", "FakeSvc"});
  EXPECT_EQ(r.code, ExitCodeOf(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(r.out, "[SC] OpenService FAILED 1060:\n\n" + ErrorText(ERROR_SERVICE_DOES_NOT_EXIST) + "\n\n");
}

TEST_F(NetToolTest, ScReachesAnotherServerAndRejectsBadCommandLines) {
  const std::string srv2 = net_->AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
  ASSERT_EQ(Sc({"\\\\SRV2", "create", "Far", "binPath=" + Image("far")}).code, 0);
  EXPECT_EQ(Sc({"query", "Far"}).code, ExitCodeOf(ERROR_SERVICE_DOES_NOT_EXIST));
  Result r = Sc({"\\\\srv2", "start", "far"});
  ASSERT_EQ(r.code, 0) << r.out;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(ReadHostFile(LogFile("far")).find("machine=" + srv2 + "\n"), std::string::npos);
  EXPECT_EQ(Sc({"\\\\SRV2", "stop", "Far"}).code, 0);

  r = Sc({"\\\\NOSUCH", "query", "Far"});
  EXPECT_EQ(r.code, ExitCodeOf(ERROR_BAD_NETPATH));
  EXPECT_EQ(r.out.rfind("[SC] OpenSCManager FAILED 53:", 0), 0u) << r.out;

  EXPECT_EQ(Sc({"create", "NoPath"}).code, 2);
  EXPECT_EQ(Sc({"create", "X", "binPath=", "x.exe", "start=", "sometimes"}).code, 2);
  EXPECT_EQ(Sc({"create", "X", "binPath=", "x.exe", "color=", "red"}).code, 2);
  EXPECT_EQ(Sc({"frobnicate", "X"}).code, 2);
  r = Sc({"--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("sc [\\\\SERVER] query"), std::string::npos);
}

TEST_F(NetToolTest, NetStartAndStopByNameOrDisplayName) {
  CreateFake("FakeSvc", "Fake Display");

  Result r = Net({"start", "fake display"});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("The Fake Display service is starting.", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("The Fake Display service was started successfully."), std::string::npos) << r.out;
  EXPECT_EQ(StateOf("FakeSvc"), SERVICE_RUNNING);

  r = Net({"START"});
  EXPECT_NE(r.out.find("   Fake Display\n"), std::string::npos) << r.out;
  r = Net({"start", "FAKESVC"});
  EXPECT_EQ(r.code, ExitCodeOf(ERROR_SERVICE_ALREADY_RUNNING));
  EXPECT_NE(r.err.find("The requested service has already been started."), std::string::npos);

  r = Net({"STOP", "fakesvc"});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("The Fake Display service is stopping.", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("The Fake Display service was stopped successfully."), std::string::npos);
  EXPECT_EQ(StateOf("FakeSvc"), SERVICE_STOPPED);

  r = Net({"stop", "FakeSvc"});
  EXPECT_EQ(r.code, ExitCodeOf(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_NE(r.err.find("The Fake Display service is not started."), std::string::npos) << r.err;
  r = Net({"start", "Nothing Like It"});
  EXPECT_EQ(r.code, ExitCodeOf(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_NE(r.err.find("The service name is invalid."), std::string::npos);
  EXPECT_NE(r.err.find("NET HELPMSG 2185"), std::string::npos);
  EXPECT_EQ(Net({"frobnicate"}).code, 2);

  // The command every such message points at exists and explains it.
  r = Net({"helpmsg", "2185"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("No service of that name"), std::string::npos) << r.out;
  EXPECT_EQ(Net({"HELPMSG", "1"}).code, 1);
  r = Net({"HELPMSG", "many"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// The installer's way: a hidden "NET ..." command line, found in the system directory.
TEST_F(NetToolTest, NetRunsFromTheSystemDirectoryAsInstalled) {
  struct stat st;
  ASSERT_EQ(::stat(net_->DriveC("WINNT/system32/net.exe").c_str(), &st), 0);
  CreateFake("Portulon", "Portulon");
  ProcessOptions options;
  options.wait = true;
  options.currentDirectory = "C:\\WINNT\\system32";
  DWORD exitCode = 99;
  ASSERT_EQ(RunCommandLine("NET START PORTULON", options, &exitCode), ERROR_SUCCESS);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(StateOf("Portulon"), SERVICE_RUNNING);
  ASSERT_EQ(RunCommandLine("NET STOP PORTULON", options, &exitCode), ERROR_SUCCESS);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(StateOf("Portulon"), SERVICE_STOPPED);
}

TEST_F(NetToolTest, NetShareAddListResolveDelete) {
  ASSERT_EQ(::mkdir(net_->DriveC("Program Files/Portulon").c_str(), 0755), 0);
  ProcessOptions options;
  options.wait = true;
  DWORD exitCode = 99;
  ASSERT_EQ(RunCommandLine(
                "NET SHARE PL_NT_DB=\"C:\\Program Files\\Portulon\" /remark:\"Portulon Database Share\"",
                options, &exitCode),
            ERROR_SUCCESS);
  ASSERT_EQ(exitCode, 0u);

  RegKey shares;
  ASSERT_EQ(RegKey::Open(Hive::LocalMachine, kSharesKey, &shares), ERROR_SUCCESS);
  std::vector<std::string> entries;
  ASSERT_EQ(shares.QueryMultiString("PL_NT_DB", &entries), ERROR_SUCCESS);
  EXPECT_EQ(entries, (std::vector<std::string>{"Path=C:\\Program Files\\Portulon",
                                               "Remark=Portulon Database Share"}));
  std::string host;
  ASSERT_EQ(ResolvePath("\\\\SRV1\\pl_nt_db\\portulon.usr", &host), ERROR_SUCCESS);
  EXPECT_EQ(host, net_->DriveC("Program Files/Portulon/portulon.usr"));

  Result r = Net({"share"});
  EXPECT_NE(r.out.find("PL_NT_DB     C:\\Program Files\\Portulon       Portulon Database Share\n"),
            std::string::npos)
      << r.out;
  r = Net({"SHARE", "pl_nt_db=C:\\Program Files\\Portulon"});
  EXPECT_EQ(r.code, ExitCodeOf(ERROR_ALREADY_EXISTS));
  r = Net({"share", "Other=C:\\No Such Folder"});
  EXPECT_EQ(r.code, ExitCodeOf(ERROR_PATH_NOT_FOUND));
  RegValue value;
  EXPECT_EQ(shares.QueryValue("Other", &value), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(RunCommandLine("NET SHARE PL_NT_DB /delete", options, &exitCode), ERROR_SUCCESS);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(ResolvePath("\\\\SRV1\\PL_NT_DB\\portulon.usr", &host), ERROR_BAD_NET_NAME);
  r = Net({"share", "PL_NT_DB", "/DELETE"});
  EXPECT_EQ(r.code, ExitCodeOf(ERROR_BAD_NET_NAME));
  EXPECT_NE(r.err.find("This shared resource does not exist."), std::string::npos);
}

// Published to the host's SMB server: the include file holds the table as it
// is after each change when the server's command runs; a command that fails
// leaves table and include as they were; a deleted share's name goes to the
// unpublish command.
TEST_F(NetToolTest, NetSharePublishesTheTableToTheHostsServer) {
  ASSERT_EQ(::mkdir(net_->DriveC("Data").c_str(), 0755), 0);
  const std::string include = net_->network() + "/shares.conf";
  const std::string seen = net_->network() + "/seen.conf";
  const std::string closed = net_->network() + "/closed";
  RegKey params;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, kShareParametersKey, &params), ERROR_SUCCESS);
  ASSERT_EQ(params.SetString(kSharePublishFile, HostToWindowsPath(include)), ERROR_SUCCESS);
  ASSERT_EQ(params.SetString(kSharePublishCommand, "Z:/bin/sh -c \"cp '" + include + "' '" + seen + "'\""),
            ERROR_SUCCESS);
  ASSERT_EQ(params.SetString(kShareUnpublishCommand, "Z:/bin/sh -c \"echo $0 >>'" + closed + "'\""),
            ERROR_SUCCESS);

  Result r = Net({"SHARE", "DB=C:\\Data\\", "/remark:The data"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string published = "\n[DB]\n  path = " + net_->DriveC("Data") + "\n  comment = The data\n  read only = no\n";
  EXPECT_NE(ReadHostFile(seen).find(published), std::string::npos) << ReadHostFile(seen);

  // The server does not take the next change: nothing of it stays.
  ASSERT_EQ(params.SetString(kSharePublishCommand, "Z:/bin/false"), ERROR_SUCCESS);
  r = Net({"SHARE", "Other=C:\\Data"});
  EXPECT_EQ(r.code, ExitCodeOf(NERR_ServerNotStarted));
  EXPECT_NE(r.err.find("NET HELPMSG 2114"), std::string::npos) << r.err;
  ShareInfo info;
  EXPECT_EQ(NetShareGetInfo("other", &info), NERR_NetNameNotFound);
  EXPECT_EQ(ReadHostFile(include), ReadHostFile(seen));
  r = Net({"SHARE", "db", "/DELETE"});
  EXPECT_EQ(r.code, ExitCodeOf(NERR_ServerNotStarted));
  ASSERT_EQ(NetShareGetInfo("db", &info), ERROR_SUCCESS);
  EXPECT_EQ(info.path, "C:\\Data");

  ASSERT_EQ(params.SetString(kSharePublishCommand, "Z:/bin/true"), ERROR_SUCCESS);
  r = Net({"SHARE", "db", "/DELETE"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadHostFile(include).find("[DB]"), std::string::npos);
  EXPECT_EQ(ReadHostFile(closed), "DB\n");
  // Names the server's configuration cannot hold are refused.
  EXPECT_EQ(NetShareAdd(ShareInfo{"A]B", "C:\\Data", ""}), ERROR_INVALID_NAME);
  EXPECT_EQ(NetShareAdd(ShareInfo{"AB", "C:\\Data", "two\nlines"}), ERROR_INVALID_NAME);
}

}  // namespace
}  // namespace plat
