#include "uninstaller/core/flush_steps.h"

#include <algorithm>
#include <span>
#include <vector>

#include "common/data_folder.h"
#include "common/product_keys.h"
#include "common/record_spool.h"
#include "common/service_values.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/ras/admin_extension.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "uninstaller/core/install_record.h"

namespace pl_flush {

namespace {

constexpr int kStopPollLimit = 240;  // half seconds a stopping service is waited for

// What the service writes into its data folder beside the files setup put there.
constexpr const char* kServiceDataFiles[] = {common::kPortStatFile, common::kStatusCountersFile,
                                             common::kLoggedInFile, common::kCombinedLogOldFile};
// The traces of the service, the hook modules, the collector and the OpenVPN adapter.
constexpr const char* kTraceFiles[] = {"C:\\qcl_trace_plsvc.txt", "C:\\qcl_trace_plras.txt",
                                       "C:\\qcl_trace_plrras.txt", "C:\\qcl_trace_plcollect.txt",
                                       "C:\\qcl_trace_plovpn.txt"};
// The program group's shortcuts, as setup names them.
constexpr const char* kShortcuts[] = {"Portulon Admin Console.lnk", "Online Help.lnk"};

// The install path, as a 600-byte buffer holds it; empty when missing.
std::string ReadInstallPath(const char* key) {
  std::string path;
  if (plat::RegReadString(key, common::kInstallPathValue, &path) != plat::ERROR_SUCCESS) return "";
  if (path.size() > 599) path.resize(599);
  return path;
}

void DeleteKey(FlushUi& ui, std::string_view key) {
  plat::RegKey root;
  if (plat::RegKey::Connect("", plat::Hive::LocalMachine, &root) == plat::ERROR_SUCCESS &&
      root.DeleteSubKey(key) == plat::ERROR_SUCCESS) {
    ui.Removed("HKEY_LOCAL_MACHINE\\" + std::string(key));
  }
}

void DeleteOne(FlushUi& ui, const std::string& path) {
  if (plat::DeleteFile(path) == plat::ERROR_SUCCESS) ui.Removed(path);
}

// A folder goes only once nothing is left in it.
void RemoveIfEmpty(FlushUi& ui, const std::string& folder) {
  if (plat::RemoveDirectory(folder) == plat::ERROR_SUCCESS) ui.Removed(folder);
}

// The daily logs of a log folder (LogData, OldData), then the folder when
// nothing else is in it.
void RemoveLogFolder(FlushUi& ui, const std::string& folder) {
  std::vector<plat::FindData> entries;
  if (plat::FindFiles(folder + "\\*.log", &entries) == plat::ERROR_SUCCESS) {
    for (const auto& e : entries) {
      if (!e.isDirectory) DeleteOne(ui, folder + "\\" + e.name);
    }
  }
  RemoveIfEmpty(ui, folder);
}

bool Contains(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return plat::EqualsIgnoringCase(n, name); });
}

void Add(std::vector<std::string>* names, std::span<const char* const> more) {
  for (const char* n : more) {
    if (!Contains(*names, n)) names->push_back(n);
  }
}

// The files of one component in its folder: its record, or without one the
// names setup installs for it. Whatever the other component, installed in
// the same folder, needs as well stays.
std::vector<std::string> ComponentFiles(const char* ownKey, std::span<const char* const> ownKnown,
                                        const char* otherKey, std::span<const char* const> otherKnown,
                                        bool otherBeside) {
  std::vector<std::string> names;
  if (!ReadInstallRecord(ownKey, &names)) {
    Add(&names, ownKnown);
    Add(&names, KnownSharedFiles());
  }
  if (otherBeside) {
    std::vector<std::string> other;
    if (!ReadInstallRecord(otherKey, &other)) {
      Add(&other, otherKnown);
      Add(&other, KnownSharedFiles());
    }
    std::erase_if(names, [&](const std::string& n) { return Contains(other, n); });
  }
  // What an upgrade moved aside because it was in use.
  const size_t installed = names.size();
  for (size_t i = 0; i < installed; ++i) names.push_back(names[i] + ".old");
  return names;
}

// Whether the other component lives in `path` too: its key names that folder,
// or (an installation without that key) its main program is there.
bool Beside(const char* otherKey, const std::string& path, const char* otherProgram) {
  const std::string other = ReadInstallPath(otherKey);
  return (!other.empty() && plat::EqualsIgnoringCase(other, path)) ||
         plat::FileExists(path + "\\" + otherProgram);
}

// Deletes `names` in `folder`, a share of them before each of `positions`.
void DeleteWithSteps(FlushUi& ui, const std::string& folder, const std::vector<std::string>& names,
                     std::span<const int> positions) {
  size_t next = 0;
  for (size_t step = 0; step < positions.size(); ++step) {
    const size_t end = names.size() * (step + 1) / positions.size();
    for (; next < end; ++next) {
      if (!folder.empty()) DeleteOne(ui, folder + "\\" + names[next]);
    }
    ui.Step(positions[step]);
  }
}

void StopPortulon(FlushUi& ui, const plat::ServiceManager& scm) {
  plat::ServiceHandle service;
  if (scm.OpenService(common::kServiceName, &service) != plat::ERROR_SUCCESS) return;
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

FlushMode ModeFromArgument(std::string_view argument) {
  if (argument.size() == 2 && argument[0] == '/') argument.remove_prefix(1);
  if (argument.size() != 1) return FlushMode::None;
  switch (argument.front()) {
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
  if (haveScm && scm.OpenService(common::kServiceName, &service) == plat::ERROR_SUCCESS &&
      service.Delete() == plat::ERROR_SUCCESS) {
    ui.Removed("the service Portulon");
  }
  ui.Step(22);

  ui.SetStatus("Removing Files...");
  // Without an install path there is nothing of ours to name: a bare file
  // name would mean the current folder.
  const bool consoleBeside = !path.empty() && Beside(kClientKey, path, "pladmin.exe");
  std::vector<std::string> names;
  if (!path.empty()) {
    names = ComponentFiles(kServiceKey, KnownServerFiles(), kClientKey, KnownConsoleFiles(), consoleBeside);
    Add(&names, kServiceDataFiles);
  }
  constexpr int kFilePositions[] = {24, 26, 28, 30, 32, 34, 36, 38, 40};
  DeleteWithSteps(ui, path, names, kFilePositions);
  if (!path.empty()) RemoveLogFolder(ui, common::DataFile(path, common::kDayLogFolder));
  ui.Step(50);
  if (!path.empty()) RemoveLogFolder(ui, common::DataFile(path, common::kArchiveFolder));
  ui.Step(60);
  if (!path.empty() && !consoleBeside) RemoveIfEmpty(ui, path);
  for (const char* trace : kTraceFiles) DeleteOne(ui, trace);
  // The service's record of proposed addresses, in its working folder, and
  // the spool of writes its data folder refused: both go with the server.
  DeleteOne(ui, common::DataFile(plat::GetSystemDirectory(), common::kSessionFile));
  DeleteOne(ui, plat::GetSystemDirectory() + "\\" + common::kRecordSpoolFile);
  ui.Step(70);

  ui.SetStatus("Removing Share");
  ui.Pause(400);
  plat::RunCommandLine(std::string("NET SHARE ") + common::kDataShareName + " /delete",
                       plat::ProcessOptions{});
  ui.Step(75);

  ui.SetStatus("Removing Registry Information...");
  DeleteKey(ui, common::kServerUninstallKey);
  DeleteKey(ui, kServiceKey);
  DeleteKey(ui, plat::ras::kAdminDllKey);
  ui.Step(80);
  DeleteKey(ui, common::kEventSourceKey);
  ui.Step(99);
  return true;
}

void RemoveConsole(FlushUi& ui) {
  ui.Step(0);
  const std::string path = ReadInstallPath(kClientKey);
  ui.Step(2);

  ui.SetStatus("Removing Files...");
  const bool serverBeside = !path.empty() && Beside(kServiceKey, path, "plsvc.exe");
  std::vector<std::string> names;
  if (!path.empty()) {
    names = ComponentFiles(kClientKey, KnownConsoleFiles(), kServiceKey, KnownServerFiles(), serverBeside);
  }
  constexpr int kFilePositions[] = {15, 18, 22, 25};
  DeleteWithSteps(ui, path, names, kFilePositions);
  if (!path.empty() && !serverBeside) RemoveIfEmpty(ui, path);
  // The log view's list of group members.
  DeleteOne(ui, plat::GetTempPath() + "~logvw.tmp");
  ui.Step(50);

  ui.SetStatus("Removing Registry Information...");
  DeleteKey(ui, common::kConsoleUninstallKey);
  ui.Step(55);
  plat::RegKey servers;
  if (plat::RegKey::Open(plat::Hive::LocalMachine, common::kServersKey, &servers) == plat::ERROR_SUCCESS) {
    std::string first;
    while (servers.EnumKey(0, &first) == plat::ERROR_SUCCESS &&
           servers.DeleteSubKey(first) == plat::ERROR_SUCCESS) {
    }
  }
  ui.Step(60);
  DeleteKey(ui, common::kServersKey);
  ui.Step(65);
  DeleteKey(ui, kClientKey);
  ui.Step(70);

  ui.SetStatus("Removing Program Folder...");
  std::string programs;
  plat::RegKey folders;
  ui.Step(80);
  if (plat::RegKey::Open(plat::Hive::CurrentUser, common::kShellFoldersKey, &folders) ==
          plat::ERROR_SUCCESS &&
      folders.QueryString("Programs", &programs) == plat::ERROR_SUCCESS && !programs.empty()) {
    const std::string group = programs + "\\Portulon";
    for (const char* shortcut : kShortcuts) DeleteOne(ui, group + "\\" + shortcut);
    RemoveIfEmpty(ui, group);
  }
  ui.Step(99);
}

}  // namespace pl_flush
