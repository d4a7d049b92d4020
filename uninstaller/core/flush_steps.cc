#include "uninstaller/core/flush_steps.h"

#include <vector>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service.h"

namespace pl_flush {

namespace {

constexpr const char* kServiceKey = "Software\\Quillfen Technologies\\Portulon\\Service";
constexpr const char* kClientKey = "Software\\Quillfen Technologies\\Portulon\\Client";
constexpr const char* kServersKey = "Software\\Quillfen Technologies\\Portulon\\Servers";
constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kShellFoldersKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr int kStopPollLimit = 240;  // half seconds a stopping service is waited for

// The install path, as a 600-byte buffer holds it; empty when missing.
std::string ReadInstallPath(const char* key) {
  std::string path;
  if (plat::RegReadString(key, "InstallPath", &path) != plat::ERROR_SUCCESS) return "";
  if (path.size() > 599) path.resize(599);
  return path;
}

void DeleteKey(std::string_view key) {
  plat::RegKey root;
  if (plat::RegKey::Connect("", plat::Hive::LocalMachine, &root) == plat::ERROR_SUCCESS) root.DeleteSubKey(key);
}

void StopPortulon(FlushUi& ui, const plat::ServiceManager& scm) {
  plat::ServiceHandle service;
  if (scm.OpenService("Portulon", &service) != plat::ERROR_SUCCESS) return;
  ui.SetStatus("Stopping Portulon...");
  plat::SERVICE_STATUS status;
  service.Control(plat::SERVICE_CONTROL_STOP, &status);
  // A service that never leaves stop-pending is not waited for forever.
  for (int polls = 0; polls < kStopPollLimit; ++polls) {
    if (service.QueryStatus(&status) != plat::ERROR_SUCCESS ||
        status.dwCurrentState != plat::SERVICE_STOP_PENDING) {
      break;
    }
    ui.SetStatus("Stopping Portulon...");
    ui.Pause(500);
  }
}

}  // namespace

FlushMode ModeFromArguments(std::string_view arguments) {
  if (arguments.empty()) return FlushMode::None;
  switch (arguments.front()) {
    case 'S':
    case 's': return FlushMode::Server;
    case 'C':
    case 'c': return FlushMode::Console;
    default: return FlushMode::None;
  }
}

bool RasServiceRunning() {
  plat::ServiceManager scm;
  if (plat::ServiceManager::Open("", &scm) != plat::ERROR_SUCCESS) return false;
  plat::ServiceHandle ras;
  if (scm.OpenService("Router", &ras) != plat::ERROR_SUCCESS &&
      scm.OpenService("RemoteAccess", &ras) != plat::ERROR_SUCCESS) {
    return false;
  }
  plat::SERVICE_STATUS status;
  if (ras.QueryStatus(&status) != plat::ERROR_SUCCESS) return false;
  return (status.dwCurrentState & 4) != 0;
}

void RemoveFlatFolder(const std::string& folder) {
  std::vector<plat::FindData> entries;
  if (plat::FindFiles(folder + "\\*.*", &entries) == plat::ERROR_SUCCESS) {
    for (const auto& e : entries) {
      if (e.name == "." || e.name == "..") continue;
      plat::DeleteFile(folder + "\\" + e.name);  // a subfolder stays, and so does the folder
    }
  }
  plat::RemoveDirectory(folder);
}

bool RemoveServer(FlushUi& ui) {
  ui.Step(0);
  if (RasServiceRunning()) {
    ui.Warning(kRasRunningMessage);
    return false;
  }
  plat::ServiceManager scm;
  const bool haveScm = plat::ServiceManager::Open("", &scm) == plat::ERROR_SUCCESS;
  if (haveScm) StopPortulon(ui, scm);

  ui.Step(10);
  const std::string path = ReadInstallPath(kServiceKey);
  ui.Step(13);

  ui.SetStatus("Removing Portulon Service...");
  ui.Pause(400);
  plat::ServiceHandle service;
  if (haveScm && scm.OpenService("Portulon", &service) == plat::ERROR_SUCCESS) service.Delete();
  ui.Step(22);

  ui.SetStatus("Removing Files...");
  // Without an install path there is nothing of ours to name: a bare file
  // name would mean the current folder.
  const struct {
    const char* name;
    int position;
  } files[] = {{"plsvc.exe", 24},     {"pl_msg.dll", 26},     {"PL_RAS.dll", 28},
               {"PL_RRAS.dll", 30},   {"portstat.log", 32},   {"svc_status.dat", 34},
               {"portulon.hw", 36},   {"portulon.usr", 38},   {"portulon.tmp", 40}};
  for (const auto& f : files) {
    if (!path.empty()) plat::DeleteFile(path + "\\" + f.name);
    ui.Step(f.position);
  }
  if (!path.empty()) RemoveFlatFolder(path + "\\LogData");
  ui.Step(50);
  if (!path.empty()) RemoveFlatFolder(path + "\\OldData");
  ui.Step(60);
  if (!path.empty() && !plat::FileExists(path + "\\pladmin.exe")) {
    plat::DeleteFile(path + "\\_pladmin.dll");
    RemoveFlatFolder(path);
  }
  ui.Step(70);

  ui.SetStatus("Removing Share");
  ui.Pause(400);
  plat::RunCommandLine("NET SHARE PL_NT_DB /delete", plat::ProcessOptions{});
  ui.Step(75);

  ui.SetStatus("Removing Registry Information...");
  DeleteKey(std::string(kUninstallKey) + "\\Portulon Server");
  DeleteKey(kServiceKey);
  DeleteKey("Software\\Microsoft\\RAS\\AdminDLL");
  ui.Step(80);
  DeleteKey("System\\CurrentControlSet\\Services\\EventLog\\Application\\Portulon");
  ui.Step(99);
  return true;
}

void RemoveConsole(FlushUi& ui) {
  ui.Step(0);
  const std::string path = ReadInstallPath(kClientKey);
  ui.Step(2);

  ui.SetStatus("Removing Files...");
  if (!path.empty() && plat::FileExists(path + "\\plsvc.exe")) {
    const struct {
      const char* name;
      int position;
    } files[] = {{"pladmin.exe", 15}, {"pl.hlp", 18}, {"pl.cnt", 22}, {"pl.gid", 25}};
    for (const auto& f : files) {
      plat::DeleteFile(path + "\\" + f.name);
      ui.Step(f.position);
    }
  } else if (!path.empty()) {
    plat::DeleteFile(path + "\\_pladmin.dll");
    RemoveFlatFolder(path);
  }
  ui.Step(50);

  ui.SetStatus("Removing Registry Information...");
  DeleteKey(std::string(kUninstallKey) + "\\Portulon Administrator");
  ui.Step(55);
  plat::RegKey servers;
  if (plat::RegKey::Open(plat::Hive::LocalMachine, kServersKey, &servers) == plat::ERROR_SUCCESS) {
    std::string first;
    while (servers.EnumKey(0, &first) == plat::ERROR_SUCCESS &&
           servers.DeleteSubKey(first) == plat::ERROR_SUCCESS) {
    }
  }
  ui.Step(60);
  DeleteKey(kServersKey);
  ui.Step(65);
  DeleteKey(kClientKey);
  ui.Step(70);

  ui.SetStatus("Removing Program Folder...");
  std::string programs;
  plat::RegKey folders;
  ui.Step(80);
  if (plat::RegKey::Open(plat::Hive::CurrentUser, kShellFoldersKey, &folders) == plat::ERROR_SUCCESS &&
      folders.QueryString("Programs", &programs) == plat::ERROR_SUCCESS && !programs.empty()) {
    RemoveFlatFolder(programs + "\\Portulon");
  }
  ui.Step(99);
}

}  // namespace pl_flush
