// The computer itself: which machine folder this process runs on, the other
// machines of the network, provisioning of a new machine, and marking a
// machine down for fault tests.
//
// A machine is a folder (the machine root):
//   registry/  hive files        drive_c/   drive C:
//   eventlog/  one file per log  pipes/     named pipes
//   services/  run-time state of services
// The network is the folder that holds the machine folders and domains/.
//
// Thread safety: all calls (the current root is guarded). Out parameters on
// failure: left as they were (FindMachine's root, ReadMachineConfig's config).
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace plat {

// Host folder of the machine this process runs on: the value given to
// SetCurrentMachineRoot, else the environment variable PORTULON_MACHINE (read
// at each call).
// Empty when neither names one. Thread-safe.
std::string CurrentMachineRoot();

// Makes `root` the current machine of this process and of the processes it
// starts (PORTULON_MACHINE is set as well). Used by tools (--machine) and tests.
void SetCurrentMachineRoot(const std::string& root);

// Host folder of the network: PORTULON_NETWORK, else the parent folder of the
// current machine root.
std::string NetworkRoot();

// Finds the folder of machine `name` in the network (case-insensitive; "." and
// "" mean the current machine). Returns ERROR_BAD_NETPATH for an unknown machine
// and, when `mustBeUp` is set, for a machine that is down.
DWORD FindMachine(std::string_view name, std::string* root, bool mustBeUp = true);

// A down machine refuses remote registry, pipe and share access.
bool IsMachineDown(const std::string& root);
DWORD SetMachineDown(const std::string& root, bool down);

// Sub-folders of a machine root.
std::string RegistryDir(const std::string& root);
std::string DriveCDir(const std::string& root);
std::string EventLogDir(const std::string& root);
std::string PipesDir(const std::string& root);
std::string ServicesDir(const std::string& root);

enum class RasFlavour { Ras, Rras };

struct MachineConfig {
  std::string name;                // computer name, upper case by convention
  std::string osVersion = "4.0";   // "4.0" (Windows NT 4) or "5.0" (Windows 2000)
  RasFlavour ras = RasFlavour::Ras;
  LCID locale = 1033;              // user and system default locale
  LONG timeZoneBiasMinutes = 0;    // UTC = local time + bias, as on Windows
  std::string domain;              // domain the machine belongs to; empty = none
  int rasPorts = 4;                // COM1..COMn of the remote-access service
};

// Creates the machine folder and its registry: computer name, OS version,
// Windows directory C:\WINNT with system32, ProgramFilesDir, locale, time-zone
// bias, domain, and the remote-access service's keys for the flavour. Tools
// that belong in the system directory (such as net) are linked there from
// PORTULON_BIN_DIR or the folder of the running program.
// Fails with ERROR_ALREADY_EXISTS when `root` already holds a machine.
DWORD ProvisionMachine(const std::string& root, const MachineConfig& config);

// Name of the machine's remote-access service, its key in the service
// database and the source of its event-log records: "Router" for NT 4 with
// routing, else "RemoteAccess".
const char* RasServiceName(const MachineConfig& config);

// Reads the machine's configuration back from its registry.
DWORD ReadMachineConfig(const std::string& root, MachineConfig* config);

// Registry locations the provisioning writes and the platform reads.
inline constexpr const char* kComputerNameKey =
    "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
inline constexpr const char* kWindowsVersionKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";
inline constexpr const char* kWindowsCurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
inline constexpr const char* kTimeZoneKey = "System\\CurrentControlSet\\Control\\TimeZoneInformation";
inline constexpr const char* kInternationalKey = "Control Panel\\International";  // under HKU\.DEFAULT
inline constexpr const char* kDomainKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
inline constexpr const char* kSharesKey = "System\\CurrentControlSet\\Services\\LanmanServer\\Shares";
inline constexpr const char* kRasKey = "Software\\Microsoft\\RAS\\CurrentVersion";
inline constexpr const char* kRasPortsValue = "NumberOfPorts";

}  // namespace plat
