#include "installer/core/install_steps.h"

#include <map>

#include "common/data_folder.h"
#include "common/service_values.h"
#include "installer/core/install_files.h"
#include "installer/core/log_names.h"
#include "installer/core/ras_detect.h"
#include "installer/core/shortcut.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "uninstaller/core/install_record.h"

namespace setup {

namespace {

constexpr const char* kServiceBinary = "plsvc.exe";
constexpr const char* kHookDisplayName = "Portulon for Windows NT by Quillfen Technologies";
constexpr int kServiceStopPolls = 120;  // seconds a running service gets to stop

bool IsProgram(std::string_view name) {
  const std::string lower = plat::ToLowerAscii(name);
  return lower.ends_with(".exe") || lower.ends_with(".dll");
}

class Installation {
 public:
  Installation(const Package& package, InstallChoices choices, InstallUi& ui)
      : package_(package), c_(std::move(choices)), ui_(ui) {}

  InstallOutcome Run();

 private:
  bool Wanted(const InstallFile& file) const;
  bool VerifyPackage();
  bool CreateInstallFolder();
  void CopyPackageFile(const InstallFile& file, const std::string& folder, bool keep);
  void SetString(const char* key, const char* name, std::string_view value);
  void SetDword(const char* key, const char* name, DWORD value);
  void CreateKey(const std::string& key);
  bool RegisterService();
  void CreateShare();
  void CreateProgramGroup();
  void RecordFiles();
  void Complete();
  void Problem(std::string text) { out_.problems.push_back(std::move(text)); }

  const Package& package_;
  InstallChoices c_;
  InstallUi& ui_;
  InstallOutcome out_;
  std::map<std::string, std::string> expanded_;  // installed name -> contents, checked
};

bool Installation::Wanted(const InstallFile& file) const {
  switch (file.group) {
    case FileGroup::Always:
    case FileGroup::Uninstaller: return true;
    case FileGroup::Console: return c_.console;
    case FileGroup::Server: return c_.server;
    case FileGroup::Hook:
      return c_.server && std::string_view(file.name) == (c_.ras == RasType::Rras ? kRrasHook : kRasHook);
    case FileGroup::MasterData: return c_.server && c_.master;
  }
  return false;
}

// Every file this installation needs, present and intact, before anything
// on the machine changes.
bool Installation::VerifyPackage() {
  ui_.Progress(1, "Examining System", "Checking installation files...");
  for (const InstallFile& file : InstallFiles()) {
    if (!Wanted(file)) continue;
    std::string contents, message;
    if (package_.Expand(file.name, &contents, &message) != plat::ERROR_SUCCESS) {
      ui_.Message(message + "\n\nNothing was installed.", "Portulon Setup", true);
      return false;
    }
    expanded_[file.name] = std::move(contents);
  }
  return true;
}

bool Installation::CreateInstallFolder() {
  // Each missing folder of the path in turn, from the drive's root.
  const std::string& path = c_.installPath;
  for (size_t pos = path.find('\\', 3); ; pos = path.find('\\', pos + 1)) {
    const std::string partial = path.substr(0, pos);
    if (!plat::DirectoryExists(partial)) {
      const DWORD err = plat::CreateDirectory(partial);
      if (err != plat::ERROR_SUCCESS && err != plat::ERROR_ALREADY_EXISTS) {
        ui_.Message("Unable to create the folder " + partial + ".\n\nError " + std::to_string(err) +
                        ". Nothing was installed.",
                    "Portulon Setup", true);
        return false;
      }
    }
    if (pos == std::string::npos) return true;
  }
}

void Installation::CopyPackageFile(const InstallFile& file, const std::string& folder, bool keep) {
  ui_.Progress(file.percent, "Copying Files", file.name);
  ui_.Pause(1000);
  const std::string target = folder + "\\" + file.name;
  const std::string old = target + ".old";
  // What an earlier installation moved aside goes now, unless it is still
  // loaded: then the remote-access service still runs the old hook module.
  if (!keep && plat::FileExists(old) && plat::DeleteFile(old) == plat::ERROR_ACCESS_DENIED &&
      file.group == FileGroup::Hook) {
    out_.hookInUse = true;
  }
  if (plat::FileExists(target)) {
    if (keep) return;
    const DWORD err = plat::DeleteFile(target);
    if (err == plat::ERROR_ACCESS_DENIED) {
      // In use (a module loaded by a running service): out of the way under
      // another name, to be deleted by the next installation.
      const DWORD moved = plat::MoveFileEx(target, old, 0);
      if (moved != plat::ERROR_SUCCESS) {
        Problem(target + " is in use and could not be replaced (error " + std::to_string(moved) + ").");
        return;
      }
      if (file.group == FileGroup::Hook) out_.hookInUse = true;
    } else if (err != plat::ERROR_SUCCESS) {
      Problem(target + " could not be replaced (error " + std::to_string(err) + ").");
      return;
    }
  }
  const std::string& contents = expanded_.at(file.name);
  DWORD err;
  if (IsProgram(file.name)) {
    // Programs and modules go through a copy, which keeps the right to run
    // and puts the whole file in place at once.
    const std::string temp = plat::GetTempPath() + "~pl" + file.name + ".tmp";
    err = plat::WriteWholeFile(temp, contents);
    if (err == plat::ERROR_SUCCESS) err = plat::CopyFile(temp, target, false);
    plat::DeleteFile(temp);
  } else {
    err = plat::WriteWholeFile(target, contents);
  }
  if (err != plat::ERROR_SUCCESS) {
    Problem(target + " could not be written (error " + std::to_string(err) + ").");
  }
}

void Installation::CreateKey(const std::string& key) {
  plat::RegKey k;
  if (DWORD err = plat::RegKey::Create(plat::Hive::LocalMachine, key, &k); err != plat::ERROR_SUCCESS) {
    Problem("The registry key HKEY_LOCAL_MACHINE\\" + key + " could not be created (error " +
            std::to_string(err) + ").");
  }
}

void Installation::SetString(const char* key, const char* name, std::string_view value) {
  if (DWORD err = plat::RegWriteString(key, name, value); err != plat::ERROR_SUCCESS) {
    Problem("The registry value " + std::string(key) + "\\" + name + " could not be written (error " +
            std::to_string(err) + ").");
  }
}

void Installation::SetDword(const char* key, const char* name, DWORD value) {
  if (DWORD err = plat::RegWriteDword(key, name, value); err != plat::ERROR_SUCCESS) {
    Problem("The registry value " + std::string(key) + "\\" + name + " could not be written (error " +
            std::to_string(err) + ").");
  }
}

bool Installation::RegisterService() {
  ui_.Progress(94, "Installing", "Portulon Service");
  plat::ServiceManager scm;
  if (DWORD err = plat::ServiceManager::Open("", &scm); err != plat::ERROR_SUCCESS) {
    ui_.Message(plat::FormatText("Unable to register the Portulon Service.\n\nError 1:%u", err),
                "Portulon Setup", true);
    return false;
  }
  // Quoted, so that a blank in the install path can never make another
  // program of the path's folders the service's.
  const std::string binary = "\"" + c_.installPath + "\\" + kServiceBinary + "\"";
  plat::ServiceHandle service;
  DWORD err = scm.OpenService(kServiceName, &service);
  if (err == plat::ERROR_SUCCESS) {
    plat::SERVICE_STATUS status;
    if (service.QueryStatus(&status) == plat::ERROR_SUCCESS && status.dwCurrentState != plat::SERVICE_STOPPED) {
      service.Control(plat::SERVICE_CONTROL_STOP, &status);
      int polls = 0;
      while (service.QueryStatus(&status) == plat::ERROR_SUCCESS &&
             status.dwCurrentState != plat::SERVICE_STOPPED && polls++ < kServiceStopPolls) {
        ui_.Wait(1000);
      }
      if (status.dwCurrentState != plat::SERVICE_STOPPED) Problem("The Portulon service did not stop.");
    }
    // The logon account stays what it was.
    err = service.ChangeConfig(plat::SERVICE_WIN32_OWN_PROCESS, plat::SERVICE_AUTO_START,
                               plat::SERVICE_ERROR_NORMAL, binary, kServiceName);
  } else {
    plat::ServiceConfig config;
    config.name = kServiceName;
    config.displayName = kServiceName;
    config.type = plat::SERVICE_WIN32_OWN_PROCESS;
    config.startType = plat::SERVICE_AUTO_START;
    config.errorControl = plat::SERVICE_ERROR_NORMAL;
    config.binaryPath = binary;
    config.account = c_.account;
    err = scm.CreateService(config, c_.password, &service);
  }
  if (err == plat::ERROR_SUCCESS) return true;
  if (err == plat::ERROR_INVALID_SERVICE_ACCOUNT) {
    ui_.Message("Unable to register the Portulon Service.\n\nThe account that was specified for the service "
                "was invalid\nor the password wasn't correctly entered.",
                "Portulon Setup", true);
  } else {
    ui_.Message(
        plat::FormatText(
            "Unable to register the Portulon Service.\n\nWindows NT returned error %u.", err),
        "Portulon Setup", true);
  }
  return false;
}

// The data share of the primary server. A share of that name for this very
// folder is there already when setup runs again.
void Installation::CreateShare() {
  plat::RegKey shares;
  std::vector<std::string> existing;
  if (plat::RegKey::Open(plat::Hive::LocalMachine, plat::kSharesKey, &shares) == plat::ERROR_SUCCESS &&
      shares.QueryMultiString(kShareName, &existing) == plat::ERROR_SUCCESS) {
    for (const auto& line : existing) {
      if (plat::EqualsIgnoringCase(line, "Path=" + c_.installPath)) return;
    }
    Problem(std::string("The share ") + kShareName +
            " exists already for another folder; the data folder is not shared.");
    return;
  }
  const std::string command = std::string("NET SHARE ") + kShareName + "=\"" + c_.installPath +
                              "\" /remark:\"Portulon Database Share\"";
  plat::ProcessOptions options;
  options.wait = true;
  DWORD exitCode = 0;
  const DWORD err = plat::RunCommandLine(command, options, &exitCode);
  if (err != plat::ERROR_SUCCESS || exitCode != 0) {
    Problem(
        std::string("The data folder could not be shared as ") + kShareName +
        plat::FormatText(" (NET SHARE: error %u).", err != plat::ERROR_SUCCESS ? err : exitCode));
  }
}

void Installation::CreateProgramGroup() {
  ui_.Progress(97, "Program Group Icons", "");
  std::string programs;
  plat::RegKey folders;
  if (plat::RegKey::Open(plat::Hive::CurrentUser, kShellFoldersKey, &folders) != plat::ERROR_SUCCESS ||
      folders.QueryString("Programs", &programs) != plat::ERROR_SUCCESS || programs.empty()) {
    Problem("The Start menu's Programs folder is unknown; no program group was created.");
    return;
  }
  const std::string group = programs + "\\Portulon";
  const DWORD err = plat::CreateDirectory(group);
  if (err != plat::ERROR_SUCCESS && err != plat::ERROR_ALREADY_EXISTS) {
    Problem(plat::FormatText("The program group could not be created (error %u).", err));
    return;
  }
  if (CreateShortcut(group, "Portulon Admin Console", c_.installPath + "\\pladmin.exe") != plat::ERROR_SUCCESS ||
      CreateShortcut(group, "Online Help", c_.installPath + "\\readme.htm") != plat::ERROR_SUCCESS) {
    Problem("The program group's shortcuts could not be created.");
  }
}

// What pl_flush may delete later: the files of each component, recorded
// before its InstallPath changes (an upgrade in the same folder adds to the
// record). Files already there from an earlier installation count too.
void Installation::RecordFiles() {
  auto record = [&](const char* key, bool (*belongs)(FileGroup)) {
    std::vector<std::string> names;
    for (const InstallFile& file : InstallFiles()) {
      if (Wanted(file) && belongs(file.group)) names.push_back(file.name);
    }
    if (DWORD err = pl_flush::RecordInstalledFiles(key, c_.installPath, names); err != plat::ERROR_SUCCESS) {
      Problem("The list of installed files could not be recorded under HKEY_LOCAL_MACHINE\\" + std::string(key) +
              " (error " + std::to_string(err) + "); removing Portulon will leave files behind.");
    }
  };
  if (c_.server) {
    record(kServiceKey, [](FileGroup g) {
      return g == FileGroup::Always || g == FileGroup::Server || g == FileGroup::Hook || g == FileGroup::MasterData;
    });
  }
  if (c_.console) {
    record(kClientKey, [](FileGroup g) { return g == FileGroup::Always || g == FileGroup::Console; });
  }
}

void Installation::Complete() {
  if (out_.serverInstalled) ui_.OpenDocument(c_.installPath + "\\securitynotes.htm");
  if (!out_.problems.empty()) {
    std::string text = "Portulon was installed, but these steps failed:\n";
    for (const auto& p : out_.problems) text += "\n- " + p;
    text += "\n\nRun Setup again once the cause is mended.";
    ui_.Message(text, "Portulon installation incomplete", true);
    out_.status = InstallStatus::Incomplete;
    return;
  }
  if (out_.hookInUse) {
    const char* ras = c_.ras == RasType::Rras ? "Routing and Remote Access" : "Remote Access Server";
    ui_.Message("The service " + std::string(ras) +
                    " was running during Portulon installation. In order to complete the installation "
                    "and before starting Portulon you need to restart this service.",
                "Portulon installation incomplete", true);
    out_.status = InstallStatus::RestartRas;
    return;
  }
  out_.status = InstallStatus::Done;
  if (!out_.serverInstalled) return;
  if (!ui_.AskYesNo("Portulon has been installed successfully.\n\nWould you like to start the Portulon service?",
                    "Portulon installation completed")) {
    return;
  }
  plat::ProcessOptions options;
  options.wait = true;
  DWORD exitCode = 0;
  const DWORD err = plat::RunCommandLine("NET START PORTULON", options, &exitCode);
  out_.serviceStarted = err == plat::ERROR_SUCCESS && exitCode == 0;
  if (!out_.serviceStarted) {
    ui_.Message(
        plat::FormatText("The Portulon service did not start (NET START PORTULON: error %u).\n\n"
                         "Its events in the Application log tell why.",
                         err != plat::ERROR_SUCCESS ? err : exitCode),
        "Portulon installation completed", true);
    out_.problems.push_back("The Portulon service did not start.");
    out_.status = InstallStatus::Incomplete;
  }
}

InstallOutcome Installation::Run() {
  // 1. The machine, then the installation files.
  ui_.Progress(1, "Examining System", "Checking RAS version...");
  if (c_.server && !DetectRasType(ui_, &c_)) c_.server = false;
  ui_.Pause(400);
  if (!VerifyPackage() || !CreateInstallFolder()) {
    out_.status = InstallStatus::NotInstalled;
    return out_;
  }
  const std::string& path = c_.installPath;

  // 2. and 3. The files, in order, recorded first: an interrupted copy still
  // leaves pl_flush the names.
  RecordFiles();
  for (const InstallFile& file : InstallFiles()) {
    if (!Wanted(file) || file.group == FileGroup::Uninstaller) continue;
    CopyPackageFile(file, path, file.group == FileGroup::MasterData);
  }
  if (c_.server && c_.master) {
    const DWORD err = plat::CreateDirectory(common::DataFile(path, common::kDayLogFolder));
    if (err != plat::ERROR_SUCCESS && err != plat::ERROR_ALREADY_EXISTS) {
      Problem("The folder " + std::string(common::kDayLogFolder) +
              plat::FormatText(" could not be created (error %u).", err));
    }
  }

  // 4. The console's registry entries.
  if (c_.console) {
    ui_.Progress(90, "Building Registry Entries", "");
    SetString(kClientKey, common::kVersionValue, "Version 2.1b");
    ui_.Progress(91, "Building Registry Entries", "");
    CreateKey(kServersKey);
    ui_.Progress(92, "Building Registry Entries", "");
    SetString(kClientKey, common::kInstallPathValue, path);
  }

  // 5. The service, its event source, the hook module and its settings. A
  // service that cannot be registered gets no hook registration: the
  // remote-access service would load a module whose service is missing.
  if (c_.server) {
    ui_.Progress(93, "Building Registry Entries", "");
    SetString(kServiceKey, common::kInstallPathValue, path);
    if (RegisterService()) {
      out_.serverInstalled = true;
      ui_.Progress(95, "Installing", "Message Files");
      SetString(kEventSourceKey, "EventMessageFile", path + "\\pl_msg.dll");
      SetDword(kEventSourceKey, "TypesSupported", 7);
      ui_.Progress(96, "Verifying", "Existing Data");
      const std::string logFolder = common::DataFile(path, common::kDayLogFolder);
      if (plat::DirectoryExists(logFolder)) RepairLogNames(logFolder);
      ui_.Progress(97, "Installing", "Portulon Extension");
      SetString(kAdminDllKey, plat::ras::kAdminDllValue,
                path + "\\" + (c_.ras == RasType::Rras ? kRrasHook : kRasHook));
      SetString(kAdminDllKey, "DisplayName", kHookDisplayName);
      SetDword(kServiceKey, common::kMasterValue, c_.master ? 1 : 0);
      if (c_.master) CreateShare();
      SetString(kServiceKey, common::kMasterShareValue, "\\\\" + c_.primaryName + "\\" + kShareName);
      SetString(kServiceKey, common::kVersionValue, "Version 2.1");
      SetDword(kServiceKey, common::kInstalledValue, static_cast<DWORD>(plat::Now()));
      SetDword(kServiceKey, common::kIdleTimerValue, 10);
      SetDword(kServiceKey, common::kIdleBytesLimitValue, common::kIdleBytesLimitDefault);
      if (c_.console) CreateKey(std::string(kServersKey) + "\\" + plat::GetComputerName());
    } else {
      Problem("The Portulon service is not registered.");
    }
  }

  // 6. Uninstall entries, 7. the uninstaller, 8. the program group.
  const std::string uninstaller = plat::GetWindowsDirectory() + "\\" + kUninstaller;
  if (c_.server) {
    SetString(kServerUninstallKey, "DisplayName", "Portulon Server Component");
    SetString(kServerUninstallKey, "UninstallString", uninstaller + " S");
  }
  if (c_.console) {
    SetString(kConsoleUninstallKey, "DisplayName", "Portulon Administrator");
    SetString(kConsoleUninstallKey, "UninstallString", uninstaller + " C");
  }
  for (const InstallFile& file : InstallFiles()) {
    if (file.group == FileGroup::Uninstaller) CopyPackageFile(file, plat::GetWindowsDirectory(), false);
  }
  // Only the console gets shortcuts: its removal is what takes them away.
  if (c_.console) CreateProgramGroup();

  // 9. Done.
  ui_.Progress(100, "Installation Done", "");
  ui_.Pause(1000);
  Complete();
  return out_;
}

}  // namespace

InstallOutcome RunInstallation(const Package& package, InstallChoices choices, InstallUi& ui) {
  choices.installPath = NormalizeInstallPath(choices.installPath);
  return Installation(package, std::move(choices), ui).Run();
}

}  // namespace setup
