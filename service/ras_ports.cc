#include "service/ras_ports.h"

#include <cstdlib>
#include <mutex>
#include <string>

#include "common/port_ops_client.h"
#include "common/port_ops_protocol.h"
#include "common/ras_client.h"
#include "common/service_values.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/pipe.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/ras/port_data.h"
#include "platform/ras/rassapi.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "platform/wide.h"
#include "service/event_report.h"
#include "service/settings.h"

namespace svc {

namespace {

void ClearCannotDisconnect() {
  plat::RegKey key;
  if (plat::RegKey::Open(plat::Hive::LocalMachine, kServiceKey, &key) ==
      plat::ERROR_SUCCESS) {
    key.DeleteValue(common::kCannotDisconnectValue);
  }
}

// Supervision cannot cut sessions on this server (`why`, in words): when this
// begins an outage of disconnects, event 15 and the Service key's value
// CannotDisconnect (common/service_values.h), where the console and the
// tools read it; nothing more while it lasts.
void NoteCannotDisconnect(const RemoteAccess& remote, std::string_view server, const std::string& why) {
  if (!remote.disconnects.Fail()) return;
  const std::string text = std::string(server) + ": " + why +
                           ". Supervision cannot cut sessions on this server: a session past "
                           "its limit or idle stays connected until this is mended.";
  common::Trace("DisconnectPort", "Supervision cannot cut sessions: " + why, 0);
  ReportToEventLog(1, common::kEventCannotDisconnect, "Sessions cannot be cut", text.c_str(), 2);
  plat::RegWriteString(kServiceKey, common::kCannotDisconnectValue, why);
}

// Disconnects work: ends such an outage (event 16 with the failures counted,
// the value removed). The first call of a run removes a value left by an
// earlier one.
void NoteCanDisconnect(const RemoteAccess& remote, std::string_view server) {
  long failed = 0;
  if (!remote.disconnects.Succeed(&failed)) {
    // A value an earlier run left says nothing about this one.
    static std::once_flag cleared;
    std::call_once(cleared, [] { ClearCannotDisconnect(); });
    return;
  }
  const std::string text = std::string(server) + ": sessions can be cut again; " +
                           std::to_string(failed) + " disconnects failed meanwhile";
  common::Trace("DisconnectPort", "Supervision can cut sessions again", failed);
  ReportToEventLog(0, common::kEventDisconnectsAgain, "Sessions can be cut again", text.c_str(), 2);
  ClearCannotDisconnect();
}

}  // namespace

plat::DWORD RAS_LoadOrdinals(RemoteAccess& remote, std::string_view server) {
  if (remote.kind == common::kRasKindOpenVpn) {
    // The adapter serves the operations on its pipe; it may start after us.
    common::Trace("RAS_LoadOrdinals", "Loading OpenVPN port operations", 0);
    NoteCanDisconnect(remote, server);
    return 0;
  }
  if (remote.kind == common::kRasKindRras) {
    common::Trace("RAS_LoadOrdinals", "Loading RRAS ordinals", 0);
    RasAdminFunctions& rras = remote.functions;
    if (const plat::DWORD err = rras.module.Load(kPortDataModule); err != plat::ERROR_SUCCESS) {
      common::Trace("RAS_LoadOrdinals", "Unable to load _plsvc.dll.", 0);
      // The start goes on (the pipe still decides), but no limit is enforced
      // here: said once now, not by every supervision pass.
      NoteCannotDisconnect(remote, server, std::string(kPortDataModule) + " could not be loaded (" +
                                        plat::ErrorText(err) + ")");
      return 0;
    }
    rras.rrasInit = rras.module.GetProcAddress("RRAS_Init");
    rras.rrasDisconnectPort = rras.module.GetProcAddress("RRAS_DisconnectPort");
    if (!rras.rrasInit || !rras.rrasDisconnectPort) {
      common::Trace("RAS_LoadOrdinals", "Unable to locate RRAS_DisconnectPort in _plsvc.dll", 0);
      rras.rrasInit = rras.rrasDisconnectPort = nullptr;
      NoteCannotDisconnect(remote, server, std::string(kPortDataModule) + " has no RRAS_DisconnectPort");
    } else {
      NoteCanDisconnect(remote, server);
    }
    rras.rrasUpdatePortData = rras.module.GetProcAddress("RRAS_UpdatePortData");
    rras.rrasGetPortData = rras.module.GetProcAddress("RRAS_GetPortData");
    if (!rras.rrasUpdatePortData || !rras.rrasGetPortData) {
      common::Trace("RAS_LoadOrdinals", "Unable to locate RRAS_GetPortData in _plsvc.dll", 0);
      rras.rrasUpdatePortData = rras.rrasGetPortData = nullptr;
    }
    return 0;
  }
  NoteCanDisconnect(remote, server);
  common::Trace("RAS_LoadOrdinals", "Loading standard RAS ordinals", 0);
  RasAdminFunctions& ras = remote.functions;
  if (ras.module.Load("RASSAPI.DLL") != plat::ERROR_SUCCESS) {
    common::Trace("RAS_LoadOrdinals", "Unable to load RASSAPI.DLL.", 0);
    return 2;
  }
  struct Lookup {
    const char* name;
    void** slot;
    const char* failure;
  };
  const Lookup lookups[] = {
      {"RasAdminPortDisconnect", &ras.portDisconnect,
       "Unable to locate ordinal Disconnect in RASSAPI.DLL"},
      {"RasAdminPortGetInfo", &ras.portGetInfo, "Unable to locate ordinal GetInfo in RASSAPI.DLL"},
      {"RasAdminFreeBuffer", &ras.freeBuffer,
       "Unable to locate ordinal RasAdminFreeBuffer in RASSAPI.DLL"},
      {"RasAdminPortEnum", &ras.portEnum, "Unable to locate ordinal RasAdminPortEnum in RASSAPI.DLL"},
  };
  for (const auto& l : lookups) {
    *l.slot = ras.module.GetProcAddress(l.name);
    if (!*l.slot) {
      common::Trace("RAS_LoadOrdinals", l.failure, 0);
      return 2;
    }
  }
  return 0;
}

namespace {

// "\\SERVER" as the administration functions take it.
std::u16string ServerArgument(std::string_view server) {
  while (!server.empty() && server.front() == '\\') server.remove_prefix(1);
  return plat::ToWide("\\\\" + std::string(server));
}

// A counter of the port-data file: a DWORD written in decimal. False when the
// key is missing or holds anything else.
bool ReadCounter(const std::string& file, std::string_view port, const char* key,
                 plat::DWORD* value) {
  // No value holds a line break, so that default tells a missing key.
  const std::string text = plat::ProfileGetString(file, port, key, "\n");
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (v > 0xFFFFFFFFull) return false;
  *value = static_cast<plat::DWORD>(v);
  return true;
}

// The port's counters from the collector's snapshot (see the header).
plat::DWORD ReadSnapshotCounters(std::string_view port, plat::DWORD* sent, plat::DWORD* received) {
  const std::string file = plat::GetWindowsDirectory() + "\\" + kRrasDataFile;
  std::time_t written = 0;
  if (plat::GetFileModificationTime(file, &written) != plat::ERROR_SUCCESS) {
    common::Trace("RAS_GetTrafficBytesForPort", "IDLE: no port data", plat::ERROR_FILE_NOT_FOUND);
    return plat::ERROR_FILE_NOT_FOUND;
  }
  const long passes = static_cast<long>(3 * ActionInterval().count() / 1000);
  const long maxAge = passes > kRrasDataMaxAgeSeconds ? passes : kRrasDataMaxAgeSeconds;
  const std::time_t age = plat::Now() - written;
  if (age > maxAge) {
    common::Trace("RAS_GetTrafficBytesForPort", "IDLE: no port data, snapshot too old",
                  static_cast<long>(age));
    return plat::ERROR_INVALID_DATA;
  }
  if (!ReadCounter(file, port, "dwBytesTX", sent) || !ReadCounter(file, port, "dwBytesRX", received)) {
    common::Trace("RAS_GetTrafficBytesForPort", "IDLE: no port data for " + std::string(port),
                  plat::ERROR_INVALID_DATA);
    return plat::ERROR_INVALID_DATA;
  }
  return plat::ERROR_SUCCESS;
}

// One operation on the adapter's pipe; the adapter's error, or the pipe's.
plat::DWORD AskAdapter(common::PortOp op, std::string_view port, common::PortOpsReply* reply,
                       int reason = 0) {
  return common::AskPortOps("", op, port, reply, reason);
}

}  // namespace

plat::DWORD RAS_GetTrafficBytesForPort(const RemoteAccess& remote, std::string_view server,
                                       std::string_view port, plat::DWORD* bytesSent,
                                       plat::DWORD* bytesReceived) {
  if (remote.kind == common::kRasKindOpenVpn) {
    common::PortOpsReply reply;
    const plat::DWORD err = AskAdapter(common::PortOp::Traffic, port, &reply);
    if (err != plat::ERROR_SUCCESS) {
      common::Trace("RAS_GetTrafficBytesForPort", plat::FormatText("IDLE: adapter error %u", err),
                    static_cast<long>(err));
      return err;
    }
    // The idle check compares growth; the low 32 bits keep growing.
    *bytesSent = static_cast<plat::DWORD>(reply.sent);
    *bytesReceived = static_cast<plat::DWORD>(reply.received);
    return plat::ERROR_SUCCESS;
  }
  if (remote.kind == common::kRasKindRras) {
    plat::Beep(4000, 100);
    return ReadSnapshotCounters(port, bytesSent, bytesReceived);
  }
  namespace rassapi = plat::rassapi;
  const auto getInfo = reinterpret_cast<rassapi::PFN_RasAdminPortGetInfo>(remote.functions.portGetInfo);
  const auto freeBuffer = reinterpret_cast<rassapi::PFN_RasAdminFreeBuffer>(remote.functions.freeBuffer);
  rassapi::RAS_PORT_1 info{};
  rassapi::RAS_PORT_STATISTICS statistics{};
  rassapi::RAS_PARAMETERS* parameters = nullptr;
  const std::u16string serverArg = ServerArgument(server);
  const std::u16string portArg = plat::ToWide(port);
  const plat::DWORD err = getInfo ? getInfo(serverArg.c_str(), portArg.c_str(), &info, &statistics,
                                            &parameters)
                                  : plat::ERROR_PROC_NOT_FOUND;
  if (err != plat::ERROR_SUCCESS) {
    common::Trace("RAS_GetTrafficBytesForPort", plat::FormatText("IDLE: PortGetInfo error %u", err),
                  static_cast<long>(err));
    return err;
  }
  *bytesSent = statistics.dwBytesXmited;
  *bytesReceived = statistics.dwBytesRcved;
  if (parameters && freeBuffer) freeBuffer(parameters);
  return plat::ERROR_SUCCESS;
}

namespace {

plat::DWORD DisconnectPortNow(const RemoteAccess& remote, std::string_view server,
                              std::string_view port, int reason) {
  if (remote.kind == common::kRasKindOpenVpn) {
    common::PortOpsReply reply;
    const plat::DWORD err = AskAdapter(common::PortOp::Disconnect, port, &reply, reason);
    common::Trace("DisconnectPort",
                  err == plat::ERROR_SUCCESS ? "OpenVPN - Success" : "OpenVPN - Failed",
                  static_cast<long>(err));
    return err;
  }
  if (remote.kind == common::kRasKindRras) {
    const auto init = reinterpret_cast<plat::portdata::PFN_RRAS_Init>(remote.functions.rrasInit);
    const auto disconnect =
        reinterpret_cast<plat::portdata::PFN_RRAS_DisconnectPort>(remote.functions.rrasDisconnectPort);
    if (!init || !disconnect) {
      common::Trace("DisconnectPort", "RRAS - _plsvc.dll not available",
                    static_cast<long>(plat::ERROR_MOD_NOT_FOUND));
      return plat::ERROR_MOD_NOT_FOUND;
    }
    init();
    const std::string serverArg(server);
    const std::string portArg(port);
    const bool ok = disconnect(serverArg.c_str(), portArg.c_str()) != plat::FALSE;
    common::Trace("DisconnectPort", ok ? "RRAS - Success" : "RRAS - Failed", ok ? 0 : 1);
    return ok ? plat::ERROR_SUCCESS : plat::ERROR_GEN_FAILURE;
  }
  const auto disconnect =
      reinterpret_cast<plat::rassapi::PFN_RasAdminPortDisconnect>(remote.functions.portDisconnect);
  const std::u16string serverArg = ServerArgument(server);
  const std::u16string portArg = plat::ToWide(port);
  const plat::DWORD err =
      disconnect ? disconnect(serverArg.c_str(), portArg.c_str()) : plat::ERROR_PROC_NOT_FOUND;
  common::Trace("DisconnectPort", err == plat::ERROR_SUCCESS ? "RAS - Success" : "RAS - Failed",
                static_cast<long>(err));
  return err;
}

}  // namespace

plat::DWORD DisconnectPort(const RemoteAccess& remote, std::string_view server,
                           std::string_view port, int reason) {
  const plat::DWORD err = DisconnectPortNow(remote, server, port, reason);
  if (err != plat::ERROR_SUCCESS) {
    NoteCannotDisconnect(remote, server, "disconnecting " + std::string(port) + " failed (" +
                                             plat::ErrorText(err) + ")");
  } else {
    NoteCanDisconnect(remote, server);
  }
  return err;
}

namespace {

plat::DWORD EnumRasSessions(const RemoteAccess& remote, std::string_view server,
                            std::vector<RunningSession>* sessions) {
  namespace rassapi = plat::rassapi;
  const auto portEnum = reinterpret_cast<rassapi::PFN_RasAdminPortEnum>(remote.functions.portEnum);
  const auto getInfo = reinterpret_cast<rassapi::PFN_RasAdminPortGetInfo>(remote.functions.portGetInfo);
  const auto freeBuffer = reinterpret_cast<rassapi::PFN_RasAdminFreeBuffer>(remote.functions.freeBuffer);
  if (!portEnum || !getInfo || !freeBuffer) return plat::ERROR_PROC_NOT_FOUND;
  const std::u16string serverArg = ServerArgument(server);
  rassapi::RAS_PORT_0* ports = nullptr;
  plat::WORD count = 0;
  if (const plat::DWORD err = portEnum(serverArg.c_str(), &ports, &count); err != plat::ERROR_SUCCESS) {
    return err;
  }
  for (plat::WORD i = 0; i < count; ++i) {
    const rassapi::RAS_PORT_0& p = ports[i];
    if ((p.Flags & rassapi::USER_AUTHENTICATED) == 0) continue;
    RunningSession s;
    s.port = plat::FromWide(p.wszPortName, rassapi::RASSAPI_MAX_PORT_NAME);
    s.user = plat::FromWide(p.wszLogonDomain, rassapi::DNLEN + 1) + "\\" +
             plat::FromWide(p.wszUserName, rassapi::UNLEN + 1);
    s.start = static_cast<std::time_t>(p.dwStartSessionTime);
    rassapi::RAS_PORT_1 info{};
    rassapi::RAS_PORT_STATISTICS statistics{};
    rassapi::RAS_PARAMETERS* parameters = nullptr;
    if (getInfo(serverArg.c_str(), p.wszPortName, &info, &statistics, &parameters) ==
        plat::ERROR_SUCCESS) {
      s.machine = common::RasClientMachine(info);
    }
    if (parameters) freeBuffer(parameters);
    if (s.machine.empty()) s.machine = "*";
    sessions->push_back(std::move(s));
  }
  if (ports) freeBuffer(ports);
  return plat::ERROR_SUCCESS;
}

plat::DWORD EnumRouterSessions(const RemoteAccess& remote, std::string_view server,
                               std::vector<RunningSession>* sessions) {
  namespace portdata = plat::portdata;
  const auto update =
      reinterpret_cast<portdata::PFN_RRAS_UpdatePortData>(remote.functions.rrasUpdatePortData);
  const auto get = reinterpret_cast<portdata::PFN_RRAS_GetPortData>(remote.functions.rrasGetPortData);
  if (!update || !get) return plat::ERROR_PROC_NOT_FOUND;
  const std::string serverArg(server);
  plat::DWORD count = 0;
  if (!update(serverArg.c_str(), &count)) return plat::ERROR_GEN_FAILURE;
  for (plat::DWORD i = 0; i < count; ++i) {
    char name[portdata::kPortNameSize] = {};
    char user[portdata::kUserSize] = {};
    char extra[portdata::kExtraSize] = {};
    plat::DWORD start = 0;
    if (!get(i, name, user, extra, &start)) break;
    // A link still waiting for its decision has a user but no session yet:
    // the hook module's call brings it to the pipe.
    if (user[0] == '\0' || start == 0) continue;
    sessions->push_back(RunningSession{name, user, "*", static_cast<std::time_t>(start)});
  }
  return plat::ERROR_SUCCESS;
}

// The adapter's sessions, asked one at a time (a reply holds one).
plat::DWORD EnumAdapterSessions(std::vector<RunningSession>* sessions) {
  std::vector<common::PortOpsReply> replies;
  const plat::DWORD err = common::ListPortOpsSessions("", &replies);
  for (const common::PortOpsReply& r : replies) {
    sessions->push_back(RunningSession{r.port, r.account, "*", static_cast<std::time_t>(r.start)});
  }
  return err;
}

}  // namespace

plat::DWORD RAS_EnumRunningSessions(const RemoteAccess& remote, std::string_view server,
                                    std::vector<RunningSession>* sessions) {
  sessions->clear();
  if (remote.kind == common::kRasKindOpenVpn) return EnumAdapterSessions(sessions);
  if (remote.kind == common::kRasKindRras) return EnumRouterSessions(remote, server, sessions);
  return EnumRasSessions(remote, server, sessions);
}

}  // namespace svc
