#include "console/core/server_fetch.h"

#include "common/service_values.h"
#include "console/core/console_keys.h"
#include "console/core/registry_helper.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"

namespace pladmin {

namespace {

// Copies a value only when it differs, and only then marks its group.
template <typename T>
void Update(T* field, const T& value, unsigned bit, unsigned* mask) {
  if (!(*field == value)) {
    *field = value;
    *mask |= bit;
  }
}

// Readers of the open Service key; a missing value or one of another type
// reads as 0 or "", as the registry helper gives them.
plat::DWORD Dword(const plat::RegKey& key, const char* name) {
  plat::DWORD value = 0;
  return key.QueryDword(name, &value) == plat::ERROR_SUCCESS ? value : 0;
}

bool String(const plat::RegKey& key, const char* name, std::string* value) {
  std::string text;
  if (key.QueryString(name, &text) != plat::ERROR_SUCCESS) return false;
  if (text.size() > 599) text.resize(599);
  *value = std::move(text);
  return true;
}

std::string StringOrEmpty(const plat::RegKey& key, const char* name) {
  std::string text;
  String(key, name, &text);
  return text;
}

}  // namespace

bool FetchRegistryData(CServer* record) {
  unsigned& mask = record->changeMask;
  ServerSettings& s = record->settings;
  plat::RegKey hklm, service;
  if (plat::RegKey::Connect(record->name, plat::Hive::LocalMachine, &hklm) != plat::ERROR_SUCCESS ||
      hklm.OpenSubKey(std::string(kProductKey) + "\\" + kServiceSubkey, &service) !=
          plat::ERROR_SUCCESS) {
    record->state = kStateNoRegistry;
    return false;
  }
  std::string share;
  const bool master = Dword(service, common::kMasterValue) == 1;
  Update(&s.master, master, kChangedMaster, &mask);
  if (!String(service, common::kMasterShareValue, &share)) {
    record->state = kStateRegistryIncomplete;
    return false;
  }
  Update(&s.masterShare, share, kChangedMaster, &mask);
  if (master) {
    Update(&s.odbcDsn, StringOrEmpty(service, common::kOdbcDsnValue), kChangedDatabase, &mask);
    Update(&s.odbcAccount, StringOrEmpty(service, common::kOdbcAccountValue), kChangedDatabase, &mask);
    Update(&s.odbcPassword, StringOrEmpty(service, common::kOdbcPasswordValue), kChangedDatabase, &mask);
    Update(&s.exportDates, Dword(service, common::kExportDatesValue), kChangedExport, &mask);
    Update(&s.exportDays, Dword(service, common::kExportDaysValue), kChangedExport, &mask);
    Update(&s.exportHours, Dword(service, common::kExportHoursValue), kChangedExport, &mask);
    Update(&s.exportUsers, Dword(service, common::kExportUsersValue), kChangedExport, &mask);
    Update(&s.exportHistory, Dword(service, common::kExportHistoryValue), kChangedExport, &mask);
  }
  Update(&s.logSessionEventsToEventLog, Dword(service, common::kLogSessionEventsValue),
         kChangedSettings, &mask);
  Update(&s.staticIP, Dword(service, common::kStaticIpValue), kChangedSettings, &mask);
  Update(&s.idleTimer, Dword(service, common::kIdleTimerValue), kChangedSettings, &mask);
  Update(&s.installed, Dword(service, common::kInstalledValue), kChangedSettings, &mask);
  // A bias that cannot be read keeps the last one seen: 0 would move the
  // server's records by the console's whole offset.
  plat::DWORD bias = 0;
  if (ReadTimeZoneBias(record->name, &bias)) {
    Update(&s.activeTimeBias, bias, kChangedSettings, &mask);
    Update(&s.biasSource, kBiasRead, kChangedSettings, &mask);
  }
  std::string version;
  if (!String(service, common::kVersionValue, &version)) {
    record->state = kStateRegistryIncomplete;
    return false;
  }
  Update(&s.version, version, kChangedVersion, &mask);
  Update(&record->cannotDisconnect, StringOrEmpty(service, common::kCannotDisconnectValue), kChangedSettings,
         &mask);
  return true;
}

namespace {

void ForgetPorts(CServer* record) {
  Update(&record->totalPorts, kPortsUnknown, kChangedPorts, &record->changeMask);
  Update(&record->portsInUse, kPortsUnknown, kChangedPorts, &record->changeMask);
  Update(&record->ports, std::vector<PortEntry>{}, kChangedPorts, &record->changeMask);
}

}  // namespace

bool FetchPortData(CServer* record, RasAdmin& admin) {
  // The kind is read once: it changes only with a reinstallation, after
  // which the server has been unreachable at least once.
  if (!record->kindKnown) {
    const int kind = GetRemoteAccessKind(record->name);
    if (kind < 0) {
      record->state = kStateNoRasVersion;
      ForgetPorts(record);
      return false;
    }
    Update(&record->rasKind, kind, kChangedPorts, &record->changeMask);
    record->kindKnown = true;
  }
  const int kind = record->rasKind;
  PortListing listing;
  if (kind == kKindRas || kind == kKindOpenVpn) {
    const bool ras = kind == kKindRas;
    record->state = ras ? kStateRequestingRas : kStateRequestingOpenVpn;
    const plat::DWORD err = ras ? admin.ras.PortEnum(record->name, &listing)
                                : admin.openVpn.ReadPorts(record->name, &listing);
    if (err != plat::ERROR_SUCCESS) {
      record->state = ras ? kStateRasReadFailure : kStateOpenVpnReadFailure;
      ForgetPorts(record);
      return false;
    }
    if (ras) {
      for (PortEntry& port : listing.ports) {
        if (port.inUse) admin.ras.PortDetails(record->name, &port);
      }
    }
  } else {
    record->state = kStateRequestingRras;
    if (const int failure = admin.rras.ReadPorts(record->name, &listing); failure != kStateReady) {
      record->state = failure;
      ForgetPorts(record);
      return false;
    }
    // Traffic is a bonus: without the router interface the ports still show.
    admin.rras.ReadBytes(record->name, &listing.ports);
  }
  Update(&record->totalPorts, listing.total, kChangedPorts, &record->changeMask);
  Update(&record->portsInUse, listing.inUse, kChangedPorts, &record->changeMask);
  Update(&record->ports, listing.ports, kChangedPorts, &record->changeMask);
  return true;
}

bool FetchServer(CServer* record, RasAdmin& admin, const FetchControl& control) {
  record->changeMask = 0;
  record->fetchDone = false;
  record->state = kStateConnecting;
  control.progress(kStateConnecting);
  const bool registryRead = FetchRegistryData(record);
  if (!control.keepRunning()) return false;
  // The ports of a server that cannot be reached are not known any more,
  // nor is its kind: it may come back reinstalled.
  if (!registryRead) {
    ForgetPorts(record);
    record->kindKnown = false;
  }
  bool portsRead = false;
  if (registryRead) {
    portsRead = FetchPortData(record, admin);
    if (!control.keepRunning()) return false;
  }
  if (registryRead && portsRead) record->state = kStateReady;
  record->lastFetch = plat::Now();
  record->fetchDone = true;
  return true;
}

}  // namespace pladmin
