// Provisioning of a new machine folder and reading its configuration back.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/posix_fd.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace plat {

namespace {

// Programs of ours that a Windows machine keeps in its system directory:
// build name -> name in system32.
struct SystemTool {
  const char* built;
  const char* installed;
};
constexpr SystemTool kSystemDirectoryTools[] = {
    {"net", "net.exe"},
    {"rassvc", "rassvc.exe"},
    {"RASSAPI.DLL", "RASSAPI.DLL"},
    {"MPRAPI.DLL", "MPRAPI.DLL"},
    {"_plsvc.dll", "_plsvc.dll"},
    {"_pladmin.dll", "_pladmin.dll"},
};

constexpr const char* kRasServiceImage = "C:\\WINNT\\system32\\rassvc.exe";
constexpr const char* kProgramsFolder = "C:\\WINNT\\Profiles\\Default User\\Start Menu\\Programs";
constexpr const char* kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

DWORD MakeDirs(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (DWORD err = posix::MakePrivateFolder(partial); err != ERROR_SUCCESS) return err;
  }
  return ERROR_SUCCESS;
}

std::string BaseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string BinDirectory() {
  if (const char* env = std::getenv("PORTULON_BIN_DIR"); env && *env) return env;
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string exe(buf, static_cast<size_t>(n));
  return exe.substr(0, exe.rfind('/'));
}

std::string LocaleText(LCID locale) { return plat::FormatText("%08X", locale); }

// Names of the remote-access service by OS version and flavour: the service
// key and its display name, and the RAS title NT 4 keeps.
struct RasNames {
  const char* serviceName;
  const char* displayName;
  const char* title;
};

RasNames RasNamesFor(const MachineConfig& c) {
  const bool nt4 = c.osVersion.rfind("4.", 0) == 0 || c.osVersion.rfind("3.", 0) == 0;
  if (nt4) {
    if (c.ras == RasFlavour::Rras) {
      return {"Router", "Routing and Remote Access Service", "Routing and Remote Access Service"};
    }
    return {"RemoteAccess", "Remote Access Service", "Remote Access Service"};
  }
  if (c.ras == RasFlavour::Rras) return {"RemoteAccess", "Routing and Remote Access", nullptr};
  return {"RemoteAccess", "Remote Access Service", nullptr};
}

DWORD WriteRegistry(const std::string& root, const MachineConfig& c) {
  struct Write {
    Hive hive;
    const char* key;
    const char* name;
    std::string text;
    bool isDword;
    DWORD dword;
  };
  const RasNames ras = RasNamesFor(c);
  const std::string build = c.osVersion.rfind("4.", 0) == 0 ? "1381" : "2195";
  const std::string services = "System\\CurrentControlSet\\Services\\";
  std::vector<Write> writes = {
      {Hive::LocalMachine, kComputerNameKey, "ComputerName", c.name, false, 0},
      {Hive::LocalMachine, kWindowsVersionKey, "CurrentVersion", c.osVersion, false, 0},
      {Hive::LocalMachine, kWindowsVersionKey, "CurrentBuildNumber", build, false, 0},
      {Hive::LocalMachine, kWindowsVersionKey, "SystemRoot", "C:\\WINNT", false, 0},
      // The machine's PATH, the only one its programs search (never the host's).
      {Hive::LocalMachine, "System\\CurrentControlSet\\Control\\Session Manager\\Environment",
       "Path", "%SystemRoot%\\system32;%SystemRoot%", false, 0},
      {Hive::LocalMachine, kWindowsCurrentVersionKey, "ProgramFilesDir", "C:\\Program Files", false, 0},
      {Hive::LocalMachine, kTimeZoneKey, "Bias", "", true, static_cast<DWORD>(c.timeZoneBiasMinutes)},
      {Hive::LocalMachine, kDomainKey, "DefaultDomainName", c.domain, false, 0},
      {Hive::LocalMachine, kRasKey, kRasPortsValue, "", true, static_cast<DWORD>(c.rasPorts)},
      {Hive::Users, ".DEFAULT\\Control Panel\\International", "Locale", LocaleText(c.locale), false, 0},
      {Hive::CurrentUser, kShellFoldersKey, "Programs", kProgramsFolder, false, 0},
  };
  if (ras.title) writes.push_back({Hive::LocalMachine, kRasKey, "Title", ras.title, false, 0});
  // The remote-access service itself: the stand-in daemon, started at boot.
  const std::string rasService = services + ras.serviceName;
  writes.push_back({Hive::LocalMachine, rasService.c_str(), "DisplayName", ras.displayName, false, 0});
  writes.push_back({Hive::LocalMachine, rasService.c_str(), "ImagePath", kRasServiceImage, false, 0});
  writes.push_back({Hive::LocalMachine, rasService.c_str(), "Type", "", true, 0x10});
  writes.push_back({Hive::LocalMachine, rasService.c_str(), "Start", "", true, 2});
  writes.push_back({Hive::LocalMachine, rasService.c_str(), "ErrorControl", "", true, 1});
  writes.push_back({Hive::LocalMachine, rasService.c_str(), "ObjectName", "LocalSystem", false, 0});

  auto create = [&root](Hive hive, const std::string& path, RegKey* key) -> DWORD {
    RegKey hiveRoot;
    if (DWORD err = RegKey::ConnectRoot(root, hive, &hiveRoot); err != ERROR_SUCCESS) return err;
    return hiveRoot.CreateSubKey(path, key);
  };
  for (const auto& w : writes) {
    RegKey key;
    if (DWORD err = create(w.hive, w.key, &key); err != ERROR_SUCCESS) return err;
    const DWORD err = w.isDword ? key.SetDword(w.name, w.dword) : key.SetString(w.name, w.text);
    if (err != ERROR_SUCCESS) return err;
  }
  // Keys that exist on every machine, empty until something registers there.
  for (const char* empty : {kSharesKey, "System\\CurrentControlSet\\Services\\EventLog\\Application",
                            "System\\CurrentControlSet\\Services\\EventLog\\System"}) {
    RegKey key;
    if (DWORD err = create(Hive::LocalMachine, empty, &key); err != ERROR_SUCCESS) return err;
  }
  // The remote-access service reports its session records to the System log.
  RegKey source;
  return create(Hive::LocalMachine,
                        "System\\CurrentControlSet\\Services\\EventLog\\System\\" +
                            std::string(ras.serviceName),
                        &source);
}

}  // namespace

const char* RasServiceName(const MachineConfig& config) { return RasNamesFor(config).serviceName; }

DWORD ProvisionMachine(const std::string& rootIn, const MachineConfig& config) {
  std::string root = rootIn;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (config.name.empty() || !EqualsIgnoringCase(BaseName(root), config.name)) {
    return ERROR_INVALID_NAME;
  }
  if (config.osVersion.empty() || config.rasPorts < 0 || config.rasPorts > 256) {
    return ERROR_INVALID_PARAMETER;
  }
  struct stat st;
  if (::stat((RegistryDir(root) + "/HKLM.reg").c_str(), &st) == 0) return ERROR_ALREADY_EXISTS;

  const std::string drive = DriveCDir(root);
  for (const std::string& dir :
       {RegistryDir(root), EventLogDir(root), PipesDir(root), ServicesDir(root),
        drive + "/WINNT/system32", drive + "/Program Files", drive + "/TEMP",
        drive + "/WINNT/Profiles/Default User/Start Menu/Programs"}) {
    if (DWORD err = MakeDirs(dir); err != ERROR_SUCCESS) return err;
  }
  // Pipes carry admission decisions: no other local user may reach them.
  ::chmod(PipesDir(root).c_str(), 0700);

  if (DWORD err = WriteRegistry(root, config); err != ERROR_SUCCESS) return err;

  const std::string bin = BinDirectory();
  for (const auto& tool : kSystemDirectoryTools) {
    const std::string target = bin + "/" + tool.built;
    const std::string link = drive + "/WINNT/system32/" + tool.installed;
    // A machine without its net or rassvc could not start a service: a link
    // that cannot be made fails the provisioning.
    if (::stat(target.c_str(), &st) == 0 && ::symlink(target.c_str(), link.c_str()) != 0) {
      return ErrorFromErrno(errno);
    }
  }
  return ERROR_SUCCESS;
}

DWORD ReadMachineConfig(const std::string& root, MachineConfig* config) {
  RegKey hklm, hku;
  if (RegKey::ConnectRoot(root, Hive::LocalMachine, &hklm) != ERROR_SUCCESS ||
      RegKey::ConnectRoot(root, Hive::Users, &hku) != ERROR_SUCCESS) {
    return ERROR_BAD_NETPATH;
  }
  auto readString = [](const RegKey& base, const char* key, const char* name, std::string* out) {
    RegKey k;
    return base.OpenSubKey(key, &k) == ERROR_SUCCESS && k.QueryString(name, out) == ERROR_SUCCESS;
  };
  auto readDword = [](const RegKey& base, const char* key, const char* name, DWORD* out) {
    RegKey k;
    return base.OpenSubKey(key, &k) == ERROR_SUCCESS && k.QueryDword(name, out) == ERROR_SUCCESS;
  };
  MachineConfig c;
  if (!readString(hklm, kComputerNameKey, "ComputerName", &c.name)) return ERROR_BAD_NETPATH;
  readString(hklm, kWindowsVersionKey, "CurrentVersion", &c.osVersion);
  readString(hklm, kDomainKey, "DefaultDomainName", &c.domain);
  DWORD number = 0;
  if (readDword(hklm, kTimeZoneKey, "Bias", &number)) c.timeZoneBiasMinutes = static_cast<LONG>(number);
  if (readDword(hklm, kRasKey, kRasPortsValue, &number)) c.rasPorts = static_cast<int>(number);
  std::string locale;
  if (readString(hku, ".DEFAULT\\Control Panel\\International", "Locale", &locale)) {
    c.locale = static_cast<LCID>(std::strtoul(locale.c_str(), nullptr, 16));
  }
  // The flavour: NT 4 keeps its RAS title, Windows 2000 names its service.
  std::string title, display;
  if (readString(hklm, kRasKey, "Title", &title)) {
    c.ras = title.rfind("Routing", 0) == 0 ? RasFlavour::Rras : RasFlavour::Ras;
  } else if (readString(hklm, "System\\CurrentControlSet\\Services\\RemoteAccess", "DisplayName",
                        &display)) {
    c.ras = EqualsIgnoringCase(display, "Remote Access Service") ? RasFlavour::Ras : RasFlavour::Rras;
  }
  *config = c;
  return ERROR_SUCCESS;
}

}  // namespace plat
