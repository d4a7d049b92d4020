// The installation steps on a machine of a temporary network: what each
// choice installs and registers, reinstalling, the hook module in use, the
// remote-access type, bad packages and interrupted runs.
#include <gtest/gtest.h>

#include <filesystem>

#include "installer/core/install_files.h"
#include "installer/tests/install_fixture.h"
#include "platform/machine.h"
#include "platform/module.h"
#include "platform/service.h"
#include "platform/sysinfo.h"
#include "platform/testing/host_tools.h"

namespace setup::testing {
namespace {

using plat::ERROR_SUCCESS;

const std::string kService = kServiceKey;
const std::string kClient = kClientKey;

plat::ServiceConfig PortulonService() {
  plat::ServiceManager scm;
  plat::ServiceHandle service;
  plat::ServiceConfig config;
  EXPECT_EQ(plat::ServiceManager::Open("", &scm), ERROR_SUCCESS);
  if (scm.OpenService("Portulon", &service) == ERROR_SUCCESS) service.QueryConfig(&config);
  return config;
}

std::string Export(plat::Hive hive) {
  plat::RegKey root;
  std::string text;
  EXPECT_EQ(plat::RegKey::Connect("", hive, &root), ERROR_SUCCESS);
  EXPECT_EQ(plat::RegExportText(root, &text), ERROR_SUCCESS);
  return text;
}

using InstallTest = InstallFixture;

TEST_F(InstallTest, BothComponentsOnTheOnlyServer) {
  RecordingUi ui;
  const InstallOutcome outcome = Install(Choices(), &ui);
  EXPECT_EQ(outcome.status, InstallStatus::Done) << ui.AllMessages();
  EXPECT_TRUE(outcome.problems.empty());

  // The files, in the order and with the percentages of the steps.
  const std::vector<std::string> copied = {"readme.htm",  "securitynotes.htm", "_pladmin.dll", "pladmin.exe",
                                           "pluser.exe",  "plsettings.exe",
                                           "plsvc.exe",   "pl_msg.dll",        "plcollect.exe", "_plsvc.dll",
                                           "PL_RAS.dll",  "portulon.hw",       "portulon.usr", "portulon.log",
                                           "PL_FLUSH.EXE"};
  EXPECT_EQ(ui.CopiedFiles(), copied);
  EXPECT_EQ(ui.progress.back().title, "Installation Done");
  for (const auto& name : copied) {
    if (name == "PL_FLUSH.EXE") continue;
    EXPECT_EQ(Installed(name), StandInContents(name)) << name;
  }
  EXPECT_EQ(FileText("C:\\WINNT\\PL_FLUSH.EXE"), StandInContents("PL_FLUSH.EXE"));
  EXPECT_EQ(Installed("PL_RRAS.dll"), "<missing>");
  EXPECT_TRUE(plat::DirectoryExists(std::string(kInstallPath) + "\\LogData"));

  EXPECT_EQ(Value(kClient, "Version"), "Version 2.1b");
  EXPECT_EQ(Value(kClient, "InstallPath"), kInstallPath);
  EXPECT_TRUE(KeyExists(std::string(kServersKey) + "\\SRV1")) << "the console watches its own server";
  EXPECT_EQ(Value(kService, "InstallPath"), kInstallPath);
  EXPECT_EQ(Value(kService, "Master"), "1");
  EXPECT_EQ(Value(kService, "MasterShare"), "\\\\SRV1\\PL_NT_DB");
  EXPECT_EQ(Value(kService, "Version"), "Version 2.1");
  EXPECT_NEAR(std::stol(Value(kService, "Installed")), plat::Now(), 60);
  EXPECT_EQ(Value(kService, "IdleTimer"), "10");
  EXPECT_EQ(Value(kService, "IdleBytesLimit"), "10000");
  EXPECT_EQ(Value(kAdminDllKey, "DLLPath"), "C:\\Program Files\\Portulon\\PL_RAS.dll");
  EXPECT_EQ(Value(kAdminDllKey, "DisplayName"), "Portulon for Windows NT by Quillfen Technologies");
  EXPECT_EQ(Value(kEventSourceKey, "EventMessageFile"), "C:\\Program Files\\Portulon\\pl_msg.dll");
  EXPECT_EQ(Value(kEventSourceKey, "TypesSupported"), "7");
  const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  EXPECT_EQ(Value(uninstall + "\\Portulon Server", "UninstallString"), "C:\\WINNT\\PL_FLUSH.EXE S");
  EXPECT_EQ(Value(uninstall + "\\Portulon Server", "DisplayName"), "Portulon Server Component");
  EXPECT_EQ(Value(uninstall + "\\Portulon Administrator", "UninstallString"), "C:\\WINNT\\PL_FLUSH.EXE C");

  const plat::ServiceConfig service = PortulonService();
  EXPECT_EQ(service.binaryPath, "\"C:\\Program Files\\Portulon\\plsvc.exe\"");
  EXPECT_EQ(service.startType, plat::SERVICE_AUTO_START);
  EXPECT_EQ(service.displayName, "Portulon");
  EXPECT_EQ(service.account, "DOM\\svc");

  std::string shareTarget;
  ASSERT_EQ(plat::ResolvePath("\\\\SRV1\\PL_NT_DB\\portulon.hw", &shareTarget), ERROR_SUCCESS);
  EXPECT_EQ(plat::testing::ReadHostFile(shareTarget), StandInContents("portulon.hw"));

  const std::string group = "C:\\WINNT\\Profiles\\Default User\\Start Menu\\Programs\\Portulon\\";
  EXPECT_NE(FileText(group + "Portulon Admin Console.lnk").find("Target=C:\\Program Files\\Portulon\\pladmin.exe"),
            std::string::npos);
  EXPECT_NE(FileText(group + "Online Help.lnk"), "<missing>");

  EXPECT_EQ(ui.documents, std::vector<std::string>{"C:\\Program Files\\Portulon\\securitynotes.htm"});
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0], "Portulon has been installed successfully.\n\nWould you like to start the Portulon service?");
}

TEST_F(InstallTest, ConsoleOnlyLeavesTheServersThingsAlone) {
  const std::string before = Export(plat::Hive::LocalMachine);
  InstallChoices choices = Choices();
  choices.server = false;
  RecordingUi ui;
  EXPECT_EQ(Install(choices, &ui).status, InstallStatus::Done);
  EXPECT_FALSE(KeyExists(kService));
  EXPECT_FALSE(KeyExists(kEventSourceKey));
  EXPECT_FALSE(KeyExists(kAdminDllKey));
  EXPECT_FALSE(KeyExists(kServerUninstallKey));
  EXPECT_FALSE(KeyExists("System\\CurrentControlSet\\Services\\Portulon"));
  EXPECT_EQ(Value(plat::kSharesKey, kShareName), "<missing>");
  EXPECT_FALSE(KeyExists(std::string(kServersKey) + "\\SRV1"));
  EXPECT_EQ(Value(kClient, "InstallPath"), kInstallPath);
  EXPECT_EQ(Installed("pladmin.exe"), StandInContents("pladmin.exe"));
  EXPECT_EQ(Installed("plsvc.exe"), "<missing>");
  EXPECT_EQ(Installed("portulon.usr"), "<missing>");
  EXPECT_TRUE(ui.questions.empty()) << "no service to start";
  EXPECT_TRUE(ui.documents.empty());
  EXPECT_NE(before, Export(plat::Hive::LocalMachine));
}

TEST_F(InstallTest, ServerOnlyHasNoProgramGroupAndAnotherPrimary) {
  InstallChoices choices = Choices();
  choices.console = false;
  choices.multiple = true;
  choices.master = false;
  choices.primaryName = "SRV9";
  EXPECT_EQ(Install(choices).status, InstallStatus::Done);
  EXPECT_EQ(Value(kService, "Master"), "0");
  EXPECT_EQ(Value(kService, "MasterShare"), "\\\\SRV9\\PL_NT_DB");
  EXPECT_EQ(Value(plat::kSharesKey, kShareName), "<missing>") << "only the primary shares its data";
  EXPECT_EQ(Installed("portulon.usr"), "<missing>") << "the data lives on the primary";
  EXPECT_FALSE(KeyExists(kClient));
  EXPECT_FALSE(plat::FileExists("C:\\WINNT\\Profiles\\Default User\\Start Menu\\Programs\\Portulon"));
}

TEST_F(InstallTest, ReinstallingKeepsDataAndAccountAndMovesTheService) {
  ASSERT_EQ(Install(Choices()).status, InstallStatus::Done);
  for (const char* data : {"portulon.hw", "portulon.usr", "portulon.log"}) {
    ASSERT_EQ(plat::WriteWholeFile(std::string(kInstallPath) + "\\" + data, "kept\n"), ERROR_SUCCESS);
  }
  ASSERT_EQ(plat::WriteWholeFile(std::string(kInstallPath) + "\\pladmin.exe", "old console"), ERROR_SUCCESS);
  InstallChoices again = Choices();
  again.account = "DOM\\someone-else";
  RecordingUi ui;
  EXPECT_EQ(Install(again, &ui).status, InstallStatus::Done) << ui.AllMessages();
  for (const char* data : {"portulon.hw", "portulon.usr", "portulon.log"}) EXPECT_EQ(Installed(data), "kept\n");
  EXPECT_EQ(Installed("pladmin.exe"), StandInContents("pladmin.exe")) << "programs are replaced";
  EXPECT_EQ(PortulonService().account, "DOM\\svc");
  EXPECT_TRUE(ui.messages.empty()) << ui.AllMessages() << "the existing share is the same";

  InstallChoices moved = Choices();
  moved.installPath = "C:\\Other Place\\Portulon";
  moved.console = false;
  moved.multiple = true;
  moved.master = false;
  moved.primaryName = "SRV1";
  EXPECT_EQ(Install(moved).status, InstallStatus::Done);
  EXPECT_EQ(PortulonService().binaryPath, "\"C:\\Other Place\\Portulon\\plsvc.exe\"");
  EXPECT_EQ(Value(kAdminDllKey, "DLLPath"), "C:\\Other Place\\Portulon\\PL_RAS.dll");
}

TEST_F(InstallTest, AHookModuleInUseIsRenamedAndTheRasServiceMustRestart) {
  ASSERT_EQ(Install(Choices()).status, InstallStatus::Done);
  const std::string hook = std::string(kInstallPath) + "\\PL_RAS.dll";
  ASSERT_EQ(plat::WriteWholeFile(hook, "loaded module"), ERROR_SUCCESS);
  plat::FileInUse loaded;
  ASSERT_EQ(loaded.Hold(hook), ERROR_SUCCESS);

  RecordingUi ui;
  const InstallOutcome outcome = Install(Choices(), &ui);
  EXPECT_EQ(outcome.status, InstallStatus::RestartRas);
  EXPECT_TRUE(outcome.hookInUse);
  EXPECT_EQ(FileText(hook + ".old"), "loaded module");
  EXPECT_EQ(FileText(hook), StandInContents("PL_RAS.dll"));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0],
            "Portulon installation incomplete: The service Remote Access Server was running during Portulon "
            "installation. In order to complete the installation and before starting Portulon you need to "
            "restart this service.");
  EXPECT_TRUE(ui.questions.empty()) << "Portulon is not offered to start";

  // Installed again before the restart: the old module is still the loaded one.
  RecordingUi again;
  EXPECT_EQ(Install(Choices(), &again).status, InstallStatus::RestartRas) << again.AllMessages();
  EXPECT_EQ(FileText(hook + ".old"), "loaded module");

  // The next installation clears the old module away once it is free.
  loaded.Release();
  EXPECT_EQ(Install(Choices()).status, InstallStatus::Done);
  EXPECT_FALSE(plat::FileExists(hook + ".old"));
}

TEST_F(InstallTest, TheRemoteAccessTypeDecidesTheHookModule) {
  plat::MachineConfig rras = plat::testing::TempNetwork::DefaultConfig("SRV2");
  rras.osVersion = "5.0";
  rras.ras = plat::RasFlavour::Rras;
  plat::SetCurrentMachineRoot(net_.AddMachine(rras));
  RecordingUi ui;
  EXPECT_EQ(Install(Choices(), &ui).status, InstallStatus::Done);
  EXPECT_EQ(ui.rasQuestions, 0);
  EXPECT_EQ(Value(kAdminDllKey, "DLLPath"), "C:\\Program Files\\Portulon\\PL_RRAS.dll");
  EXPECT_EQ(Installed("PL_RAS.dll"), "<missing>");

  // Windows 2000 with the plain remote-access service names no type: the user is asked.
  plat::MachineConfig plain = plat::testing::TempNetwork::DefaultConfig("SRV3");
  plain.osVersion = "5.0";
  plat::SetCurrentMachineRoot(net_.AddMachine(plain));
  RecordingUi asked;
  asked.rasAnswer = RasType::Rras;
  EXPECT_EQ(Install(Choices(), &asked).status, InstallStatus::Done);
  EXPECT_EQ(asked.rasQuestions, 1);
  EXPECT_EQ(Installed("PL_RRAS.dll"), StandInContents("PL_RRAS.dll"));

  // No answer: the server component is dropped, the console still installed.
  plat::SetCurrentMachineRoot(net_.AddMachine(plat::testing::TempNetwork::DefaultConfig("SRV4")));
  ASSERT_EQ(plat::RegWriteString(plat::kRasKey, "Title", "Something else"), ERROR_SUCCESS);
  RecordingUi cancelled;
  const InstallOutcome outcome = Install(Choices(), &cancelled);
  EXPECT_EQ(cancelled.rasQuestions, 1);
  EXPECT_FALSE(outcome.serverInstalled);
  EXPECT_FALSE(KeyExists(kService));
  EXPECT_EQ(Installed("pladmin.exe"), StandInContents("pladmin.exe"));

  // No remote-access service at all.
  plat::SetCurrentMachineRoot(net_.AddMachine(plat::testing::TempNetwork::DefaultConfig("SRV5")));
  plat::RegKey root;
  ASSERT_EQ(plat::RegKey::Connect("", plat::Hive::LocalMachine, &root), ERROR_SUCCESS);
  ASSERT_EQ(root.DeleteSubKey(plat::kRasKey), ERROR_SUCCESS);
  RecordingUi missing;
  EXPECT_EQ(Install(Choices(), &missing).status, InstallStatus::Done);
  EXPECT_EQ(missing.messages.at(0), "Portulon Setup: Unable to find RAS on this computer.\n\nError 1:2");
  EXPECT_FALSE(KeyExists(kService));
}

TEST_F(InstallTest, ABadPackageChangesNothing) {
  const std::string hklm = Export(plat::Hive::LocalMachine);
  for (const char* damage : {"truncate", "remove"}) {
    BuildPackage(packageHost_);
    const std::string file = packageHost_ + "/plcollect.ex_";
    if (std::string(damage) == "remove") {
      std::filesystem::remove(file);
    } else {
      const std::string data = plat::testing::ReadHostFile(file);
      plat::testing::WriteHostFile(file, data.substr(0, data.size() - 5));
    }
    RecordingUi ui;
    EXPECT_EQ(Install(Choices(), &ui).status, InstallStatus::NotInstalled) << damage;
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("plcollect.ex_"), std::string::npos) << ui.messages[0];
    EXPECT_NE(ui.messages[0].find("Nothing was installed."), std::string::npos);
    EXPECT_EQ(Export(plat::Hive::LocalMachine), hklm) << damage;
    EXPECT_FALSE(plat::FileExists(kInstallPath)) << damage;
  }
}

TEST_F(InstallTest, ARunInterruptedAnywhereIsRepairedByTheNext) {
  for (int at : {30, 93, 95, 97}) {
    RecordingUi cut;
    cut.interruptAt = at;
    EXPECT_THROW(Install(Choices(), &cut), Interrupted) << at;
    RecordingUi ui;
    EXPECT_EQ(Install(Choices(), &ui).status, InstallStatus::Done) << at << ": " << ui.AllMessages();
    EXPECT_EQ(Value(kAdminDllKey, "DLLPath"), "C:\\Program Files\\Portulon\\PL_RAS.dll");
    EXPECT_EQ(PortulonService().binaryPath, "\"C:\\Program Files\\Portulon\\plsvc.exe\"");
    EXPECT_EQ(Installed("plsvc.exe"), StandInContents("plsvc.exe"));
  }
  EXPECT_FALSE(plat::FileExists("C:\\TEMP\\~plplsvc.exe.tmp")) << "no copies left behind";
}

TEST_F(InstallTest, AnInvalidAccountRegistersNoServiceAndNoHook) {
  InstallChoices choices = Choices();
  choices.account = "nobackslash";  // past the wizard's check, the service manager refuses it
  RecordingUi ui;
  const InstallOutcome outcome = Install(choices, &ui);
  EXPECT_EQ(outcome.status, InstallStatus::Incomplete);
  EXPECT_NE(ui.AllMessages().find("The account that was specified for the service was invalid"), std::string::npos)
      << ui.AllMessages();
  EXPECT_FALSE(KeyExists("System\\CurrentControlSet\\Services\\Portulon"));
  EXPECT_FALSE(KeyExists(kAdminDllKey)) << "no hook without its service";
  EXPECT_EQ(Value(kServerUninstallKey, "UninstallString"), "C:\\WINNT\\PL_FLUSH.EXE S")
      << "what was copied can still be removed";
}

TEST_F(InstallTest, OddInstallPaths) {
  // A path that fills its 600-byte buffer, with blanks in it.
  std::string longPath = "C:\\";
  while (longPath.size() < kMaxInstallPath) longPath += std::string(std::min<size_t>(99, kMaxInstallPath - longPath.size()), 'd') + " ";
  longPath.resize(kMaxInstallPath);
  for (size_t i = 100; i < longPath.size(); i += 101) longPath[i] = '\\';
  ASSERT_EQ(CheckInstallPath(longPath), "");
  InstallChoices choices = Choices();
  choices.installPath = longPath + "\\";
  EXPECT_EQ(Install(choices).status, InstallStatus::Done);
  EXPECT_EQ(FileText(longPath + "\\plsvc.exe"), StandInContents("plsvc.exe"));
  EXPECT_EQ(Value(kService, "InstallPath"), longPath);

  EXPECT_NE(CheckInstallPath(longPath + "x"), "");
  EXPECT_NE(CheckInstallPath("C:\\Program \"Files\"\\Portulon"), "");
  EXPECT_NE(CheckInstallPath("Portulon"), "");
  // A drive's root: removing Portulon would take the drive's files with it.
  for (const char* root : {"C:\\", "C:", "d:\\\\"}) EXPECT_NE(CheckInstallPath(root), "") << root;
  EXPECT_EQ(CheckInstallPath("C:\\Tools"), "");
  EXPECT_NE(CheckInstallPath(""), "");
  EXPECT_EQ(NormalizeInstallPath("C:\\Portulon\\\\"), "C:\\Portulon");
  EXPECT_EQ(AppendPortulon("D:\\"), "D:\\Portulon");
  EXPECT_EQ(AppendPortulon("D:\\Apps"), "D:\\Apps\\Portulon");

  std::string account = "DOM/svc";
  EXPECT_EQ(CheckAccountForm(&account), "");
  EXPECT_EQ(account, "DOM\\svc");
  for (std::string bad : {"svc", "", "DOM\\"}) EXPECT_EQ(CheckAccountForm(&bad), kAccountFormMessage) << bad;
}

TEST_F(InstallTest, DailyLogsNamedInTheUsersLanguageGetTheirEnglishNames) {
  plat::MachineConfig german = plat::testing::TempNetwork::DefaultConfig("SRVDE");
  german.locale = plat::LOCALE_GERMAN;
  plat::SetCurrentMachineRoot(net_.AddMachine(german));
  const std::string logs = std::string(kInstallPath) + "\\LogData\\";
  ASSERT_EQ(plat::CreateDirectory("C:\\Program Files\\Portulon"), ERROR_SUCCESS);
  ASSERT_EQ(plat::CreateDirectory(logs), ERROR_SUCCESS);
  for (const char* name : {"1999-Mai-03.log", "2000-Dez-24.log", "2000-Nov-21.log", "2001-Okt-01.log"}) {
    ASSERT_EQ(plat::WriteWholeFile(logs + name, name), ERROR_SUCCESS);
  }
  EXPECT_EQ(Install(Choices()).status, InstallStatus::Done);
  EXPECT_EQ(FileText(logs + "1999-May-03.log"), "1999-Mai-03.log");
  EXPECT_EQ(FileText(logs + "2000-Dec-24.log"), "2000-Dez-24.log");
  EXPECT_EQ(FileText(logs + "2000-Nov-21.log"), "2000-Nov-21.log");
  EXPECT_EQ(FileText(logs + "2001-Okt-01.log"), "2001-Okt-01.log") << "only 1997 to 2000";
  EXPECT_FALSE(plat::FileExists(logs + "1999-Mai-03.log"));
}

}  // namespace
}  // namespace setup::testing

namespace setup::testing {
namespace {

// The event viewer's contract with a message file: EventMessageText by name,
// looking at the identifier's low 16 bits.
TEST(MessageFileTest, PlMsgGivesTheServicesEventTexts) {
  plat::testing::TempNetwork net;
  plat::Module module;
  ASSERT_EQ(module.Load(plat::HostToWindowsPath(plat::testing::BinDir() + "/pl_msg.dll")), plat::ERROR_SUCCESS);
  using Text = const char* (*)(std::uint32_t);
  const auto text = reinterpret_cast<Text>(module.GetProcAddress("EventMessageText"));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text(3), "Connection accepted");
  EXPECT_STREQ(text(0x40000000u | 12), "Service stopped");
  EXPECT_EQ(text(2), nullptr);
}

}  // namespace
}  // namespace setup::testing
