#include "platform/service.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/testing/temp_network.h"
#include "platform/tests/fake_service_logs.h"

namespace plat {
namespace {

constexpr DWORD kWaitMs = 10000;

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("PORTULON_SERVICE_NAME");
    net_ = std::make_unique<testing::TempNetwork>();
    ASSERT_EQ(ServiceManager::Open("", &scm_), ERROR_SUCCESS);
  }

  void TearDown() override {
    // Whatever a failing test left running is ours to end.
    for (const auto& service : touched_) {
      if (DWORD pid = service.ProcessId(); pid != 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    // A stopped service still writes its last lines; let it finish before
    // the network folder goes. One the manager lost track of (a failed test)
    // is still ours: its command line names our log.
    testing::AwaitFakeServices(net_->network(), /*killStragglers=*/true);
  }

  std::string LogFile(const std::string& tag) const { return net_->network() + "/" + tag + ".log"; }

  static std::string FakeProgram() {
    return "\"" + HostToWindowsPath(testing::TestProgramDir() + "/fake_service") + "\"";
  }

  std::string Image(const std::string& tag, const std::string& extra = "") const {
    return FakeProgram() + " --log " + LogFile(tag) + extra;
  }

  ServiceHandle Create(const ServiceManager& scm, const std::string& name, const std::string& image,
                       DWORD startType = SERVICE_DEMAND_START) {
    ServiceConfig config;
    config.name = name;
    config.displayName = name + " Display";
    config.startType = startType;
    config.binaryPath = image;
    ServiceHandle handle;
    EXPECT_EQ(scm.CreateService(config, "", &handle), ERROR_SUCCESS) << name;
    touched_.push_back(handle);
    return handle;
  }

  ServiceHandle Create(const std::string& name, const std::string& image,
                       DWORD startType = SERVICE_DEMAND_START) {
    return Create(scm_, name, image, startType);
  }

  std::vector<std::string> LogLines(const std::string& tag) const {
    std::ifstream in(LogFile(tag));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // The value of the first "key=value" line.
  std::string LogValue(const std::string& tag, const std::string& key) const {
    for (const auto& line : LogLines(tag)) {
      if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return "<none>";
  }

  std::unique_ptr<testing::TempNetwork> net_;
  ServiceManager scm_;
  std::vector<ServiceHandle> touched_;
};

TEST_F(ServiceTest, CreateStartQueryStop) {
  Create("FakeSvc", Image("fake"));

  ServiceHandle svc;
  ASSERT_EQ(scm_.OpenService("FAKESVC", &svc), ERROR_SUCCESS);
  EXPECT_EQ(svc.name(), "FakeSvc");
  ServiceConfig config;
  ASSERT_EQ(svc.QueryConfig(&config), ERROR_SUCCESS);
  EXPECT_EQ(config.displayName, "FakeSvc Display");
  EXPECT_EQ(config.account, "LocalSystem");
  EXPECT_EQ(config.startType, SERVICE_DEMAND_START);
  EXPECT_EQ(config.binaryPath, Image("fake"));

  SERVICE_STATUS status;
  ASSERT_EQ(svc.QueryStatus(&status), ERROR_SUCCESS);
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(svc.ProcessId(), 0u);

  ASSERT_EQ(svc.Start({"alpha", "two words"}), ERROR_SUCCESS);
  ASSERT_EQ(WaitForServiceState(svc, SERVICE_RUNNING, kWaitMs), ERROR_SUCCESS);
  const DWORD pid = svc.ProcessId();
  EXPECT_NE(pid, 0u);
  EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), 0);

  // Services start in the system directory of their machine, with the
  // start parameters after their name, and do not pass on being a service.
  EXPECT_EQ(LogValue("fake", "cwd"), "C:\\WINNT\\system32");
  EXPECT_EQ(LogValue("fake", "machine"), net_->root());
  EXPECT_EQ(LogValue("fake", "argv"), "FakeSvc|alpha|two words");
  EXPECT_EQ(LogValue("fake", "name-variable"), "");

  // The control socket is the owner's alone.
  const std::string stateDir = ServicesDir(net_->root()) + "/fakesvc";
  struct stat st;
  ASSERT_EQ(::stat(stateDir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat((stateDir + "/control").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);

  ASSERT_EQ(svc.Control(SERVICE_CONTROL_STOP, &status), ERROR_SUCCESS);
  EXPECT_TRUE(status.dwCurrentState == SERVICE_STOP_PENDING || status.dwCurrentState == SERVICE_STOPPED)
      << status.dwCurrentState;
  ASSERT_EQ(WaitForServiceState(svc, SERVICE_STOPPED, kWaitMs), ERROR_SUCCESS);
  EXPECT_EQ(svc.ProcessId(), 0u);
  EXPECT_EQ(svc.Control(SERVICE_CONTROL_STOP, &status), ERROR_SERVICE_NOT_ACTIVE);

  // The program's own view: the dispatcher returned success once stopped.
  for (int i = 0; i < 200 && LogValue("fake", "dispatcher-returned") == "<none>"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(LogValue("fake", "dispatcher-returned"), "0 last-error=0");
}

TEST_F(ServiceTest, ControlsRunOnTheDispatcherThread) {
  ServiceHandle svc = Create("Pausable", Image("pause", " --accept-pause"));
  ASSERT_EQ(svc.Start(), ERROR_SUCCESS);
  ASSERT_EQ(WaitForServiceState(svc, SERVICE_RUNNING, kWaitMs), ERROR_SUCCESS);

  // Control returns after the handler ran: its report is already visible.
  SERVICE_STATUS status;
  ASSERT_EQ(svc.Control(SERVICE_CONTROL_PAUSE, &status), ERROR_SUCCESS);
  EXPECT_EQ(status.dwCurrentState, SERVICE_PAUSED);
  ASSERT_EQ(svc.Control(SERVICE_CONTROL_INTERROGATE, &status), ERROR_SUCCESS);
  EXPECT_EQ(status.dwCurrentState, SERVICE_PAUSED);
  ASSERT_EQ(svc.Control(SERVICE_CONTROL_CONTINUE, &status), ERROR_SUCCESS);
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);

  const std::string dispatcher = LogValue("pause", "dispatcher-thread");
  const std::string mainThread = LogValue("pause", "main-thread");
  EXPECT_NE(dispatcher, mainThread);
  std::vector<std::string> controls;
  for (const auto& line : LogLines("pause")) {
    if (line.rfind("control=", 0) == 0) controls.push_back(line);
  }
  EXPECT_EQ(controls, (std::vector<std::string>{"control=2 thread=" + dispatcher,
                                                "control=4 thread=" + dispatcher,
                                                "control=3 thread=" + dispatcher}));
}

TEST_F(ServiceTest, ControlsTheServiceDoesNotAcceptAreRefused) {
  ServiceHandle svc = Create("Plain", Image("plain"));
  ASSERT_EQ(svc.Start(), ERROR_SUCCESS);
  ASSERT_EQ(WaitForServiceState(svc, SERVICE_RUNNING, kWaitMs), ERROR_SUCCESS);
  SERVICE_STATUS status;
  EXPECT_EQ(svc.Control(SERVICE_CONTROL_PAUSE, &status), ERROR_INVALID_SERVICE_CONTROL);
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  EXPECT_EQ(svc.Control(77, &status), ERROR_INVALID_PARAMETER);
  // Interrogate is always delivered.
  EXPECT_EQ(svc.Control(SERVICE_CONTROL_INTERROGATE, &status), ERROR_SUCCESS);
  for (const auto& line : LogLines("plain")) EXPECT_NE(line.rfind("control=2", 0), 0u) << line;
  EXPECT_EQ(svc.Control(SERVICE_CONTROL_STOP, &status), ERROR_SUCCESS);
  EXPECT_EQ(WaitForServiceState(svc, SERVICE_STOPPED, kWaitMs), ERROR_SUCCESS);
}

TEST_F(ServiceTest, KilledServiceReadsStoppedAndStartsAgain) {
  ServiceHandle svc = Create("Victim", Image("victim"));
  ASSERT_EQ(svc.Start(), ERROR_SUCCESS);
  ASSERT_EQ(WaitForServiceState(svc, SERVICE_RUNNING, kWaitMs), ERROR_SUCCESS);
  const DWORD pid = svc.ProcessId();
  ASSERT_NE(pid, 0u);
  ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);

  ASSERT_EQ(WaitForServiceState(svc, SERVICE_STOPPED, kWaitMs), ERROR_SUCCESS);
  EXPECT_EQ(svc.ProcessId(), 0u);
  SERVICE_STATUS status;
  EXPECT_EQ(svc.Control(SERVICE_CONTROL_INTERROGATE, &status), ERROR_SERVICE_NOT_ACTIVE);

  // The socket the dead dispatcher left behind does not stand in the way.
  ASSERT_EQ(svc.Start(), ERROR_SUCCESS);
  ASSERT_EQ(WaitForServiceState(svc, SERVICE_RUNNING, kWaitMs), ERROR_SUCCESS);
  EXPECT_NE(svc.ProcessId(), pid);
  EXPECT_EQ(svc.Control(SERVICE_CONTROL_STOP, &status), ERROR_SUCCESS);
  EXPECT_EQ(WaitForServiceState(svc, SERVICE_STOPPED, kWaitMs), ERROR_SUCCESS);
}

TEST_F(ServiceTest, StatusOfAReusedPidReadsStopped) {
  ServiceHandle svc = Create("Reused", Image("reused"));
  // A status left by a service whose pid now belongs to another live process
  // (ours), started at another time.
  const std::string dir = ServicesDir(net_->root()) + "/reused";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  std::ofstream(dir + "/status") << "CurrentState=4\nControlsAccepted=1\nWin32ExitCode=0\n"
                                 << "ServiceSpecificExitCode=7\nPid=" << ::getpid() << "\nStartTime=1\n";
  SERVICE_STATUS status;
  ASSERT_EQ(svc.QueryStatus(&status), ERROR_SUCCESS);
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(status.dwServiceSpecificExitCode, 7u);  // the last exit codes stay
  EXPECT_EQ(svc.ProcessId(), 0u);
  EXPECT_EQ(svc.Start(), ERROR_SUCCESS);
}

TEST_F(ServiceTest, StartRefusals) {
  ServiceHandle svc = Create("Busy", Image("busy"));
  ASSERT_EQ(svc.Start(), ERROR_SUCCESS);
  EXPECT_EQ(svc.Start(), ERROR_SERVICE_ALREADY_RUNNING);

  ServiceHandle disabled = Create("Off", Image("off"), SERVICE_DISABLED);
  EXPECT_EQ(disabled.Start(), ERROR_SERVICE_DISABLED);
  EXPECT_TRUE(LogLines("off").empty());

  ServiceHandle none;
  EXPECT_EQ(scm_.OpenService("NoSuchService", &none), ERROR_SERVICE_DOES_NOT_EXIST);

  // A program that ends before it reaches the dispatcher fails at once, not after 30 s.
  ServiceHandle early = Create("Early", Image("early", " --exit-early"));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(early.Start(), ERROR_SERVICE_REQUEST_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  SERVICE_STATUS status;
  ASSERT_EQ(early.QueryStatus(&status), ERROR_SUCCESS);
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);

  ServiceHandle missing = Create("Missing", "C:\\WINNT\\system32\\nothere.exe");
  EXPECT_EQ(missing.Start(), ERROR_FILE_NOT_FOUND);
}

// Two managers starting the same service at once launch it once.
TEST_F(ServiceTest, ConcurrentStartsLaunchOneProcess) {
  ServiceHandle svc = Create("Raced", Image("raced"));
  DWORD results[2] = {99, 99};
  std::thread other([&] { results[0] = svc.Start(); });
  results[1] = svc.Start();
  other.join();
  std::sort(std::begin(results), std::end(results));
  EXPECT_EQ(results[0], ERROR_SUCCESS);
  EXPECT_EQ(results[1], ERROR_SERVICE_ALREADY_RUNNING);
  ASSERT_EQ(WaitForServiceState(svc, SERVICE_RUNNING, kWaitMs), ERROR_SUCCESS);
  int launched = 0;
  for (const auto& line : LogLines("raced")) launched += line.rfind("pid=", 0) == 0;
  EXPECT_EQ(launched, 1);
}

TEST_F(ServiceTest, CreateChecksNameAndAccount) {
  Create("Portulon", Image("p"));
  ServiceConfig config;
  config.name = "PORTULON";
  config.binaryPath = Image("p");
  EXPECT_EQ(scm_.CreateService(config, "", nullptr), ERROR_SERVICE_EXISTS);

  config.name = "Accounted";
  config.account = "justaname";
  EXPECT_EQ(scm_.CreateService(config, "pw", nullptr), ERROR_INVALID_SERVICE_ACCOUNT);
  config.account = "DOM\\svcuser";
  ServiceHandle withAccount;
  ASSERT_EQ(scm_.CreateService(config, "pw", &withAccount), ERROR_SUCCESS);
  ASSERT_EQ(withAccount.QueryConfig(&config), ERROR_SUCCESS);
  EXPECT_EQ(config.account, "DOM\\svcuser");

  config.name = "Local";
  config.account = ".\\svcuser";
  EXPECT_EQ(scm_.CreateService(config, "", nullptr), ERROR_SUCCESS);

  config.name = "bad\\name";
  config.account.clear();
  EXPECT_EQ(scm_.CreateService(config, "", nullptr), ERROR_INVALID_NAME);

  // A key that holds no ImagePath is no service, and may become one.
  RegKey bare;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, std::string(kServicesKey) + "\\LanmanWorkstation",
                           &bare),
            ERROR_SUCCESS);
  ASSERT_EQ(bare.SetString("DisplayName", "Workstation"), ERROR_SUCCESS);
  ServiceHandle ras;
  EXPECT_EQ(scm_.OpenService("LanmanWorkstation", &ras), ERROR_SERVICE_DOES_NOT_EXIST);
  config.name = "lanmanworkstation";
  EXPECT_EQ(scm_.CreateService(config, "", &ras), ERROR_SUCCESS);
  EXPECT_EQ(ras.name(), "LanmanWorkstation");
}

TEST_F(ServiceTest, ChangeConfigEnumerateAndDelete) {
  ServiceHandle b = Create("Bravo", Image("b"));
  ServiceHandle a = Create("alpha", Image("a"));
  std::vector<std::string> names;
  ASSERT_EQ(scm_.EnumServices(&names), ERROR_SUCCESS);
  // Every machine comes with its remote-access service.
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Bravo", "RemoteAccess"}));

  ASSERT_EQ(b.ChangeConfig(SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, "", "New Bravo"),
            ERROR_SUCCESS);
  ServiceConfig config;
  ASSERT_EQ(b.QueryConfig(&config), ERROR_SUCCESS);
  EXPECT_EQ(config.startType, SERVICE_AUTO_START);
  EXPECT_EQ(config.errorControl, SERVICE_ERROR_NORMAL);
  EXPECT_EQ(config.displayName, "New Bravo");
  EXPECT_EQ(config.binaryPath, Image("b"));

  // A running service keeps running when deleted; its subkeys go with it.
  RegKey parameters;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, std::string(kServicesKey) + "\\Bravo\\Parameters",
                           &parameters),
            ERROR_SUCCESS);
  ASSERT_EQ(parameters.SetString("Level", "3"), ERROR_SUCCESS);
  ASSERT_EQ(b.Start(), ERROR_SUCCESS);
  ASSERT_EQ(b.Delete(), ERROR_SUCCESS);
  RegKey gone;
  EXPECT_EQ(RegKey::Open(Hive::LocalMachine, std::string(kServicesKey) + "\\Bravo", &gone),
            ERROR_FILE_NOT_FOUND);
  ServiceHandle again;
  EXPECT_EQ(scm_.OpenService("bravo", &again), ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(b.Delete(), ERROR_SERVICE_DOES_NOT_EXIST);
  ASSERT_EQ(WaitForServiceState(b, SERVICE_RUNNING, kWaitMs), ERROR_SUCCESS);
  SERVICE_STATUS status;
  EXPECT_EQ(b.Control(SERVICE_CONTROL_STOP, &status), ERROR_SUCCESS);
  EXPECT_EQ(WaitForServiceState(b, SERVICE_STOPPED, kWaitMs), ERROR_SUCCESS);

  ASSERT_EQ(scm_.EnumServices(&names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "RemoteAccess"}));
}

TEST_F(ServiceTest, UnquotedImagePathWithBlanks) {
  const std::string folder = net_->DriveC("Program Files/Fake Dir");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(::symlink((testing::TestProgramDir() + "/fake_service").c_str(), (folder + "/fake.exe").c_str()), 0);
  ServiceHandle svc =
      Create("Spaced", "C:\\Program Files\\Fake Dir\\fake.exe --log " + LogFile("spaced"));
  ASSERT_EQ(svc.Start(), ERROR_SUCCESS);
  ASSERT_EQ(WaitForServiceState(svc, SERVICE_RUNNING, kWaitMs), ERROR_SUCCESS);
  SERVICE_STATUS status;
  EXPECT_EQ(svc.Control(SERVICE_CONTROL_STOP, &status), ERROR_SUCCESS);
}

TEST_F(ServiceTest, RemoteServiceRunsOnItsMachine) {
  const std::string srv2 = net_->AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
  ServiceManager remote;
  ASSERT_EQ(ServiceManager::Open("\\\\srv2", &remote), ERROR_SUCCESS);
  EXPECT_EQ(remote.machineRoot(), srv2);
  ServiceHandle svc = Create(remote, "Far", Image("far"));

  ServiceHandle local;
  EXPECT_EQ(scm_.OpenService("Far", &local), ERROR_SERVICE_DOES_NOT_EXIST);

  ASSERT_EQ(svc.Start(), ERROR_SUCCESS);
  ASSERT_EQ(WaitForServiceState(svc, SERVICE_RUNNING, kWaitMs), ERROR_SUCCESS);
  EXPECT_EQ(LogValue("far", "machine"), srv2);
  EXPECT_EQ(LogValue("far", "cwd"), "C:\\WINNT\\system32");
  struct stat st;
  EXPECT_EQ(::stat((ServicesDir(srv2) + "/far/status").c_str(), &st), 0);
  SERVICE_STATUS status;
  EXPECT_EQ(svc.Control(SERVICE_CONTROL_STOP, &status), ERROR_SUCCESS);
  EXPECT_EQ(WaitForServiceState(svc, SERVICE_STOPPED, kWaitMs), ERROR_SUCCESS);

  ServiceManager other;
  EXPECT_EQ(ServiceManager::Open("\\\\NOSUCH", &other), ERROR_BAD_NETPATH);
  ASSERT_EQ(SetMachineDown(srv2, true), ERROR_SUCCESS);
  EXPECT_EQ(ServiceManager::Open("\\\\SRV2", &other), ERROR_BAD_NETPATH);
}

TEST_F(ServiceTest, StartAutomaticServices) {
  ServiceHandle one = Create("AutoOne", Image("one"), SERVICE_AUTO_START);
  ServiceHandle two = Create("AutoTwo", Image("two"), SERVICE_AUTO_START);
  ServiceHandle manual = Create("Manual", Image("manual"));
  Create("Broken", "C:\\WINNT\\system32\\nothere.exe", SERVICE_AUTO_START);
  ASSERT_EQ(two.Start(), ERROR_SUCCESS);
  ASSERT_EQ(WaitForServiceState(two, SERVICE_RUNNING, kWaitMs), ERROR_SUCCESS);
  const DWORD twoPid = two.ProcessId();

  // The broken one is reported, and does not keep the others from starting.
  EXPECT_EQ(StartAutomaticServices(""), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(WaitForServiceState(one, SERVICE_RUNNING, kWaitMs), ERROR_SUCCESS);
  EXPECT_EQ(two.ProcessId(), twoPid);
  SERVICE_STATUS status;
  ASSERT_EQ(manual.QueryStatus(&status), ERROR_SUCCESS);
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  for (auto* s : {&one, &two}) {
    EXPECT_EQ(s->Control(SERVICE_CONTROL_STOP, &status), ERROR_SUCCESS);
    EXPECT_EQ(WaitForServiceState(*s, SERVICE_STOPPED, kWaitMs), ERROR_SUCCESS);
  }
}

// Programs the control manager did not start learn so from the dispatcher.
TEST_F(ServiceTest, DispatcherOutsideTheManagerFails) {
  const SERVICE_TABLE_ENTRY table[] = {{"X", [](DWORD, char**) {}}, {nullptr, nullptr}};
  SetLastError(0);
  EXPECT_EQ(StartServiceCtrlDispatcher(table), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  EXPECT_EQ(GetLastError(), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  EXPECT_EQ(RegisterServiceCtrlHandler("X", [](DWORD) {}), 0u);
  EXPECT_EQ(SetServiceStatus(1, SERVICE_STATUS()), FALSE);

  ProcessOptions options;
  options.wait = true;
  DWORD exitCode = 0;
  ASSERT_EQ(RunCommandLine(Image("outside"), options, &exitCode), ERROR_SUCCESS);
  EXPECT_EQ(exitCode, ERROR_FAILED_SERVICE_CONTROLLER_CONNECT % 256);
  EXPECT_EQ(LogValue("outside", "dispatcher-returned"), "1063 last-error=1063");
}

}  // namespace
}  // namespace plat
