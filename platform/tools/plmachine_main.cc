// plmachine: create a machine folder, show what a machine is, and mark it
// down or up for fault tests.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/text.h"
#include "platform/tools/tool_args.h"

namespace {

using plat::DWORD;
using plat::ERROR_SUCCESS;

constexpr const char* kUsage = R"(plmachine - create, show and boot a machine of a Portulon network

Usage:
  plmachine create ROOT --os 4.0|5.0 --ras ras|rras [--name NAME]
                   [--locale LCID] [--domain DOMAIN] [--ports N] [--tz-bias MINUTES]
  plmachine show [--machine ROOT]
  plmachine down [--machine ROOT]
  plmachine up   [--machine ROOT]
  plmachine boot [--machine ROOT]

create   provisions a new machine in folder ROOT (its network is ROOT's parent
         folder). NAME must equal the folder's name, ignoring case; by default
         it is that name in upper case. --os 4.0 is Windows NT 4, 5.0 is
         Windows 2000; --ras chooses the remote-access service (RAS or the
         router, RRAS). Defaults: locale 1033, no domain, 4 ports, bias 0
         (UTC = local time + bias).
show     prints the machine's configuration, shares, services and folders.
down     marks the machine down: it refuses remote registry, pipe and share
         access until it is marked up again.
up       marks it up again.
boot     starts every service whose start type is automatic, one after
         another, as the machine does when it boots: each is waited for
         until it reports running (up to a minute), then the state of each
         is printed.

Options:
  --machine ROOT   the machine folder (default: PORTULON_MACHINE)
  --help           show this text
  --version        show the program's version

Exit status:
  0  success
  1  the operation failed, or a service of boot did not report running
  2  the command line is wrong

Files:
  ROOT/machine.down      present while the machine is marked down
  ROOT/registry/         its registry hives, HKLM.reg and HKU.reg
  ROOT/drive_c/          its drive C:

Examples:
  plmachine create net/SRV1 --os 4.0 --ras ras --domain DOM
  plmachine show --machine net/SRV1
  plmachine boot

See also:
  pldomain(1), rasctl(1), sc(1), net(1), reg(1)
)";

std::string BaseName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

const char* RasText(plat::RasFlavour f) { return f == plat::RasFlavour::Rras ? "RRAS" : "RAS"; }

const char* OsText(const std::string& version) {
  if (version == "4.0") return "Windows NT 4.0";
  if (version == "5.0") return "Windows 2000";
  return "Windows NT";
}

const char* StartText(DWORD start) {
  switch (start) {
    case 0: return "boot";
    case 1: return "system";
    case 2: return "auto";
    case 3: return "demand";
    case 4: return "disabled";
    default: return "?";
  }
}

// A remote-access service other than the stand-in (a program of its own
// registered as RemoteAccess) says what it is and how many ports it has in
// its Parameters key: "Kind" and "Ports". False when it does not.
bool DeclaredRemoteAccess(const plat::RegKey& hklm, std::string* kind, DWORD* ports) {
  plat::RegKey parameters;
  return hklm.OpenSubKey("System\\CurrentControlSet\\Services\\RemoteAccess\\Parameters",
                         &parameters) == ERROR_SUCCESS &&
         parameters.QueryString("Kind", kind) == ERROR_SUCCESS && !kind->empty() &&
         parameters.QueryDword("Ports", ports) == ERROR_SUCCESS;
}

// Shares as the server keeps them: one value per share, a list of
// "Name=value" entries (or a single text) of which Path= matters.
void PrintShares(const plat::RegKey& hklm) {
  std::printf("Shares:\n");
  plat::RegKey shares;
  std::vector<plat::RegValue> values;
  if (hklm.OpenSubKey(plat::kSharesKey, &shares) != ERROR_SUCCESS ||
      shares.ListValues(&values) != ERROR_SUCCESS || values.empty()) {
    std::printf("  (none)\n");
    return;
  }
  for (const auto& v : values) {
    std::string path;
    std::vector<std::string> entries;
    if (shares.QueryMultiString(v.name, &entries) != ERROR_SUCCESS) {
      std::string single;
      if (shares.QueryString(v.name, &single) == ERROR_SUCCESS) entries.push_back(single);
    }
    for (const auto& e : entries) {
      if (e.size() > 5 && plat::EqualsIgnoringCase(e.substr(0, 5), "Path=")) path = e.substr(5);
    }
    std::printf("  %-16s %s\n", v.name.c_str(), path.empty() ? "(no path)" : path.c_str());
  }
}

// A key under Services is a service when it has an ImagePath.
void PrintServices(const plat::RegKey& hklm) {
  std::printf("Services:\n");
  plat::RegKey services;
  std::vector<std::string> names;
  if (hklm.OpenSubKey("System\\CurrentControlSet\\Services", &services) == ERROR_SUCCESS) {
    services.ListSubKeys(&names);
  }
  int shown = 0;
  for (const auto& name : names) {
    plat::RegKey service;
    std::string image;
    if (services.OpenSubKey(name, &service) != ERROR_SUCCESS ||
        service.QueryString("ImagePath", &image) != ERROR_SUCCESS) {
      continue;
    }
    DWORD start = 3;
    const bool hasStart = service.QueryDword("Start", &start) == ERROR_SUCCESS;
    std::printf("  %-16s %-8s %s\n", name.c_str(), hasStart ? StartText(start) : "", image.c_str());
    ++shown;
  }
  if (shown == 0) std::printf("  (none)\n");
}

void PrintFolders(const std::string& root) {
  struct Folder {
    std::string path;
    const char* what;
  };
  const Folder folders[] = {
      {plat::RegistryDir(root), "hive files HKLM.reg, HKU.reg"},
      {plat::DriveCDir(root), "drive C: (C:\\WINNT, C:\\Program Files, C:\\TEMP)"},
      {plat::EventLogDir(root), "event logs"},
      {plat::PipesDir(root), "named pipes \\\\.\\pipe\\..."},
      {plat::ServicesDir(root), "run-time state of services"},
  };
  std::printf("Folders:\n");
  for (const auto& f : folders) {
    std::error_code ec;
    const bool present = std::filesystem::is_directory(f.path, ec);
    std::printf("  %-10s %s%s\n", (BaseName(f.path) + "/").c_str(), f.what,
                present ? "" : " (missing)");
  }
}

int PrintMachine(pltools::Tool& tool, const std::string& root) {
  plat::MachineConfig c;
  if (DWORD err = plat::ReadMachineConfig(root, &c); err != ERROR_SUCCESS) {
    return tool.Fail(err, "cannot read the machine in " + root);
  }
  plat::RegKey hklm;
  if (DWORD err = plat::RegKey::ConnectRoot(root, plat::Hive::LocalMachine, &hklm);
      err != ERROR_SUCCESS) {
    return tool.Fail(err, "cannot read the registry of " + root);
  }
  std::printf("Machine %s in %s\n", c.name.c_str(), root.c_str());
  std::printf("  Computer name:   %s\n", c.name.c_str());
  std::printf("  OS version:      %s (%s)\n", c.osVersion.c_str(), OsText(c.osVersion));
  std::string kind;
  DWORD ports = 0;
  const bool declared = DeclaredRemoteAccess(hklm, &kind, &ports);
  if (declared) {
    std::printf("  Remote access:   %s, %u ports\n", kind.c_str(), ports);
  } else {
    std::printf("  Remote access:   %s\n", RasText(c.ras));
  }
  if (!declared && c.ras == plat::RasFlavour::Rras) {
    // Without its port-data module a router's ports cannot be disconnected
    // by anything that asks it to.
    std::error_code ec;
    const bool present = std::filesystem::exists(plat::DriveCDir(root) + "/WINNT/system32/_plsvc.dll", ec);
    std::printf("  Port data:       %s\n", present ? "_plsvc.dll in C:\\WINNT\\system32"
                                                   : "_plsvc.dll missing from C:\\WINNT\\system32: "
                                                     "ports cannot be disconnected");
  }
  std::printf("  Locale:          %u\n", c.locale);
  std::printf("  Domain:          %s\n", c.domain.empty() ? "(none)" : c.domain.c_str());
  std::printf("  Ports:           %d\n", declared ? static_cast<int>(ports) : c.rasPorts);
  std::printf("  Time-zone bias:  %d minutes\n", c.timeZoneBiasMinutes);
  std::printf("  State:           %s\n", plat::IsMachineDown(root) ? "down" : "up");
  PrintShares(hklm);
  PrintServices(hklm);
  PrintFolders(root);
  return pltools::kExitSuccess;
}

int Create(pltools::Tool& tool) {
  plat::MachineConfig config;
  std::string name, os, ras, locale, domain, ports, bias;
  const bool hasName = tool.TakeOption("--name", &name);
  const bool hasOs = tool.TakeOption("--os", &os);
  const bool hasRas = tool.TakeOption("--ras", &ras);
  const bool hasLocale = tool.TakeOption("--locale", &locale);
  const bool hasDomain = tool.TakeOption("--domain", &domain);
  const bool hasPorts = tool.TakeOption("--ports", &ports);
  const bool hasBias = tool.TakeOption("--tz-bias", &bias);
  if (tool.failed() || !tool.RejectUnknownOptions()) return tool.exitCode();

  auto& args = tool.args();  // "create" ROOT
  if (args.size() < 2) return tool.UsageError("create needs the folder of the new machine");
  if (args.size() > 2) return tool.UsageError("unexpected argument '" + args[2] + "'");
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(args[1], ec);
  std::string root = ec ? args[1] : absolute.lexically_normal().string();
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  const std::string folderName = BaseName(root);

  config.name = hasName ? name : plat::ToUpperAscii(folderName);
  if (config.name.empty() || !plat::EqualsIgnoringCase(config.name, folderName)) {
    return tool.ValueError("the machine name '" + config.name + "' must be the folder's name '" +
                           folderName + "'");
  }
  if (!hasOs || (os != "4.0" && os != "5.0")) return tool.UsageError("--os must be 4.0 or 5.0");
  config.osVersion = os;
  if (!hasRas) return tool.UsageError("--ras must be ras or rras");
  if (plat::EqualsIgnoringCase(ras, "ras")) {
    config.ras = plat::RasFlavour::Ras;
  } else if (plat::EqualsIgnoringCase(ras, "rras")) {
    config.ras = plat::RasFlavour::Rras;
  } else {
    return tool.ValueError("--ras must be ras or rras");
  }
  long long number = 0;
  if (hasLocale) {
    if (!pltools::ParseNumber(locale, 1, 0xFFFFFFFFLL, &number)) {
      return tool.ValueError("--locale must be a locale identifier such as 1033");
    }
    config.locale = static_cast<plat::LCID>(number);
  }
  if (hasDomain) config.domain = domain;
  if (hasPorts) {
    if (!pltools::ParseNumber(ports, 0, 256, &number)) {
      return tool.ValueError("--ports must be a number from 0 to 256");
    }
    config.rasPorts = static_cast<int>(number);
  }
  if (hasBias) {
    if (!pltools::ParseNumber(bias, -1440, 1440, &number)) {
      return tool.UsageError("--tz-bias must be minutes from -1440 to 1440");
    }
    config.timeZoneBiasMinutes = static_cast<plat::LONG>(number);
  }

  if (DWORD err = plat::ProvisionMachine(root, config); err != ERROR_SUCCESS) {
    return tool.Fail(err, "cannot create machine " + config.name + " in " + root);
  }
  std::printf("Created machine %s.\n", config.name.c_str());
  return PrintMachine(tool, root);
}

int SetState(pltools::Tool& tool, bool down) {
  if (tool.args().size() > 1) return tool.UsageError("unexpected argument '" + tool.args()[1] + "'");
  if (!tool.RequireMachine()) return tool.exitCode();
  const std::string root = plat::CurrentMachineRoot();
  if (DWORD err = plat::SetMachineDown(root, down); err != ERROR_SUCCESS) {
    return tool.Fail(err, root);
  }
  plat::MachineConfig c;
  plat::ReadMachineConfig(root, &c);
  std::printf("Machine %s is %s.\n", c.name.empty() ? root.c_str() : c.name.c_str(),
              down ? "down" : "up");
  return pltools::kExitSuccess;
}

// Starts the automatic services, as the machine does when it boots, then says
// how each of them stands.
int Boot(pltools::Tool& tool) {
  if (tool.args().size() > 1) return tool.UsageError("unexpected argument '" + tool.args()[1] + "'");
  if (!tool.RequireMachine()) return tool.exitCode();
  const DWORD started = plat::StartAutomaticServices("");
  plat::ServiceManager scm;
  std::vector<std::string> names;
  if (plat::ServiceManager::Open("", &scm) == ERROR_SUCCESS) scm.EnumServices(&names);
  for (const auto& name : names) {
    plat::ServiceHandle service;
    plat::ServiceConfig config;
    plat::SERVICE_STATUS status;
    if (scm.OpenService(name, &service) != ERROR_SUCCESS ||
        service.QueryConfig(&config) != ERROR_SUCCESS ||
        config.startType != plat::SERVICE_AUTO_START ||
        service.QueryStatus(&status) != ERROR_SUCCESS) {
      continue;
    }
    const char* state = status.dwCurrentState == plat::SERVICE_STOPPED         ? "stopped"
                        : status.dwCurrentState == plat::SERVICE_START_PENDING ? "still starting"
                                                                               : "running";
    std::printf("%-20s %s\n", config.name.c_str(), state);
  }
  if (started != ERROR_SUCCESS) return tool.Fail(started, "not every automatic service runs");
  return pltools::kExitSuccess;
}

int Show(pltools::Tool& tool) {
  if (tool.args().size() > 1) return tool.UsageError("unexpected argument '" + tool.args()[1] + "'");
  if (!tool.RequireMachine()) return tool.exitCode();
  return PrintMachine(tool, plat::CurrentMachineRoot());
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("plmachine", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (tool.args().empty()) return tool.UsageError("no command given");

  struct Command {
    const char* name;
    int (*run)(pltools::Tool&);
  };
  static const Command kCommands[] = {
      {"create", Create},
      {"show", Show},
      {"down", [](pltools::Tool& t) { return SetState(t, true); }},
      {"up", [](pltools::Tool& t) { return SetState(t, false); }},
      {"boot", Boot},
  };
  for (const auto& c : kCommands) {
    if (plat::EqualsIgnoringCase(tool.args()[0], c.name)) return c.run(tool);
  }
  return tool.UsageError("unknown command '" + tool.args()[0] + "'");
}
