#include "console/core/ras_func.h"

#include <cstdlib>

#include "common/port_ops_client.h"
#include "common/ras_kind.h"
#include "console/core/console_keys.h"
#include "console/core/registry_helper.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/ras/mprapi.h"
#include "platform/ras/port_data.h"
#include "platform/ras/rassapi.h"
#include "platform/text.h"
#include "platform/wide.h"

namespace pladmin {

namespace rassapi = plat::rassapi;
namespace portdata = plat::portdata;
namespace mprapi = plat::mprapi;

std::string UncServerName(std::string_view server) {
  while (!server.empty() && server.front() == '\\') server.remove_prefix(1);
  return "\\\\" + std::string(server);
}

// ---- CRASFunc ----

plat::DWORD CRASFunc::Load() {
  std::lock_guard lock(mutex_);
  if (tried_) return loadError_;
  tried_ = true;
  loadError_ = module_.Load("RASSAPI.DLL");
  if (loadError_ != plat::ERROR_SUCCESS) return loadError_;
  if (!module_.Export("RasAdminPortEnum", &portEnum_) ||
      !module_.Export("RasAdminPortGetInfo", &portGetInfo_) ||
      !module_.Export("RasAdminPortDisconnect", &portDisconnect_) ||
      !module_.Export("RasAdminFreeBuffer", &freeBuffer_)) {
    loadError_ = plat::ERROR_PROC_NOT_FOUND;
  }
  return loadError_;
}

plat::DWORD CRASFunc::PortEnum(std::string_view server, PortListing* listing) {
  if (const plat::DWORD err = Load(); err != plat::ERROR_SUCCESS) return err;
  const std::u16string serverArg = plat::ToWide(UncServerName(server));
  rassapi::RAS_PORT_0* ports = nullptr;
  plat::WORD count = 0;
  if (const plat::DWORD err = portEnum_(serverArg.c_str(), &ports, &count);
      err != plat::ERROR_SUCCESS) {
    return err;
  }
  listing->total = count;
  listing->inUse = 0;
  listing->ports.clear();
  for (plat::WORD i = 0; i < count; ++i) {
    const rassapi::RAS_PORT_0& p = ports[i];
    PortEntry entry;
    entry.name = plat::FromWide(p.wszPortName, rassapi::RASSAPI_MAX_PORT_NAME);
    entry.start = p.dwStartSessionTime;
    entry.inUse = p.dwStartSessionTime != 0;
    if (entry.inUse) {
      entry.user = plat::FromWide(p.wszLogonDomain, rassapi::DNLEN + 1) + "\\" +
                   plat::FromWide(p.wszUserName, rassapi::UNLEN + 1);
      ++listing->inUse;
    }
    if (listing->ports.size() < kMaxPorts) listing->ports.push_back(std::move(entry));
  }
  if (ports) freeBuffer_(ports);
  return plat::ERROR_SUCCESS;
}

plat::DWORD CRASFunc::PortDetails(std::string_view server, PortEntry* port) {
  if (const plat::DWORD err = Load(); err != plat::ERROR_SUCCESS) return err;
  const std::u16string serverArg = plat::ToWide(UncServerName(server));
  const std::u16string portArg = plat::ToWide(port->name);
  rassapi::RAS_PORT_1 info{};
  rassapi::RAS_PORT_STATISTICS statistics{};
  rassapi::RAS_PARAMETERS* parameters = nullptr;
  const plat::DWORD err =
      portGetInfo_(serverArg.c_str(), portArg.c_str(), &info, &statistics, &parameters);
  if (parameters) freeBuffer_(parameters);
  if (err != plat::ERROR_SUCCESS) return err;
  port->bytesSent = statistics.dwBytesXmited;
  port->bytesReceived = statistics.dwBytesRcved;
  if (info.ProjResult.ip.dwError == plat::ERROR_SUCCESS) {
    port->extra = plat::FromWide(info.ProjResult.ip.wszAddress, rassapi::RAS_IPADDRESSLEN + 1);
  }
  return plat::ERROR_SUCCESS;
}

plat::DWORD CRASFunc::PortDisconnect(std::string_view server, std::string_view port) {
  if (const plat::DWORD err = Load(); err != plat::ERROR_SUCCESS) return err;
  const std::u16string serverArg = plat::ToWide(UncServerName(server));
  const std::u16string portArg = plat::ToWide(port);
  return portDisconnect_(serverArg.c_str(), portArg.c_str());
}

// ---- CRRASFunc ----

bool CRRASFunc::LoadPortData() {
  std::lock_guard lock(loadMutex_);
  if (!triedPortData_) {
    triedPortData_ = true;
    if (portData_.Load("_pladmin.dll") == plat::ERROR_SUCCESS) {
      portData_.Export("RRAS_Init", &init_);
      portData_.Export("RRAS_DisconnectPort", &disconnect_);
      portData_.Export("RRAS_GetNumberOfPorts", &numberOfPorts_);
      portData_.Export("RRAS_UpdatePortData", &updatePortData_);
      portData_.Export("RRAS_GetPortData", &getPortData_);
    }
  }
  return init_ && disconnect_ && numberOfPorts_ && updatePortData_ && getPortData_;
}

bool CRRASFunc::LoadRouterApi() {
  std::lock_guard lock(loadMutex_);
  if (!triedRouter_) {
    triedRouter_ = true;
    if (router_.Load("MPRAPI.DLL") == plat::ERROR_SUCCESS) {
      router_.Export("MprAdminServerConnect", &serverConnect_);
      router_.Export("MprAdminServerDisconnect", &serverDisconnect_);
      router_.Export("MprAdminPortEnum", &portEnum_);
      router_.Export("MprAdminPortGetInfo", &portGetInfo_);
      router_.Export("MprAdminBufferFree", &bufferFree_);
    }
  }
  return serverConnect_ && serverDisconnect_ && portEnum_ && portGetInfo_ && bufferFree_;
}

bool CRRASFunc::Init() { return LoadPortData() && init_() != plat::FALSE; }

int CRRASFunc::ReadPorts(std::string_view server, PortListing* listing) {
  if (!Init()) return kStateRrasInitError;
  const std::string name(server);
  plat::DWORD total = 0, inUse = 0, count = 0;
  if (!numberOfPorts_(name.c_str(), &total, &inUse)) return kStateRrasReadFailure;
  std::lock_guard lock(listingMutex_);
  if (!updatePortData_(name.c_str(), &count)) return kStateRrasReadFailure;
  listing->total = static_cast<int>(total);
  listing->inUse = static_cast<int>(inUse);
  listing->ports.clear();
  for (plat::DWORD i = 0; i < count && listing->ports.size() < kMaxPorts; ++i) {
    char port[portdata::kPortNameSize] = {};
    char user[portdata::kUserSize] = {};
    char extra[portdata::kExtraSize] = {};
    plat::DWORD start = 0;
    if (!getPortData_(i, port, user, extra, &start)) return kStateRrasReadFailure;
    PortEntry entry;
    entry.name = port;
    entry.user = user;
    entry.extra = extra;
    entry.start = start;
    entry.inUse = start != 0 || user[0] != '\0';
    listing->ports.push_back(std::move(entry));
  }
  return kStateReady;
}

plat::DWORD CRRASFunc::ReadBytes(std::string_view server, std::vector<PortEntry>* ports) {
  if (!LoadRouterApi()) return plat::ERROR_MOD_NOT_FOUND;
  const std::u16string serverArg = plat::ToWide(UncServerName(server));
  mprapi::MPR_SERVER_HANDLE handle = nullptr;
  if (const plat::DWORD err = serverConnect_(serverArg.c_str(), &handle);
      err != plat::ERROR_SUCCESS) {
    return err;
  }
  plat::BYTE* buffer = nullptr;
  plat::DWORD read = 0, total = 0;
  plat::DWORD err = portEnum_(handle, 0, nullptr, &buffer, 0xFFFFFFFF, &read, &total, nullptr);
  if (err == plat::ERROR_SUCCESS && buffer) {
    const auto* list = reinterpret_cast<const mprapi::RAS_PORT_0*>(buffer);
    for (plat::DWORD i = 0; i < read; ++i) {
      if (!list[i].hConnection) continue;
      const std::string name = plat::FromWide(list[i].wszPortName, mprapi::MAX_PORT_NAME + 1);
      for (PortEntry& entry : *ports) {
        if (!plat::EqualsIgnoringCase(entry.name, name)) continue;
        plat::BYTE* info = nullptr;
        if (portGetInfo_(handle, 1, list[i].hPort, &info) == plat::ERROR_SUCCESS && info) {
          const auto* p1 = reinterpret_cast<const mprapi::RAS_PORT_1*>(info);
          entry.bytesSent = p1->dwBytesXmited;
          entry.bytesReceived = p1->dwBytesRcved;
        }
        if (info) bufferFree_(info);
      }
    }
  }
  if (buffer) bufferFree_(buffer);
  serverDisconnect_(handle);
  return err;
}

plat::DWORD CRRASFunc::DisconnectPort(std::string_view server, std::string_view port) {
  if (!Init()) return plat::ERROR_MOD_NOT_FOUND;
  const std::string s(server), p(port);
  return disconnect_(s.c_str(), p.c_str()) ? plat::ERROR_SUCCESS : plat::ERROR_GEN_FAILURE;
}

// ---- Detection ----

int GetRemoteAccessKind(std::string_view server) {
  plat::DWORD kind = common::kRasKindRas;
  return common::ReadRemoteAccessKind(server, &kind) ? static_cast<int>(kind) : -1;
}

// ---- COpenVpnFunc ----

plat::DWORD COpenVpnFunc::ReadPorts(std::string_view server, PortListing* listing) {
  std::vector<common::PortOpsReply> sessions;
  if (const plat::DWORD err = common::ListPortOpsSessions(server, &sessions); err != plat::ERROR_SUCCESS) {
    return err;
  }
  const std::vector<std::string> names = common::ReadOpenVpnPortNames(server);
  listing->total = static_cast<int>(names.size());
  listing->inUse = 0;
  listing->ports.clear();
  for (const std::string& name : names) {
    PortEntry entry;
    entry.name = name;
    for (const common::PortOpsReply& s : sessions) {
      if (!plat::EqualsIgnoringCase(s.port, name)) continue;
      entry.inUse = true;
      entry.user = s.account;
      entry.start = static_cast<std::time_t>(s.start);
      ++listing->inUse;
      // Traffic and the tunnel address are a bonus: a session that ended
      // meanwhile still shows.
      common::PortOpsReply client;
      if (common::AskPortOps(server, common::PortOp::Client, name, &client) == plat::ERROR_SUCCESS) {
        entry.bytesSent = static_cast<std::int64_t>(client.sent);
        entry.bytesReceived = static_cast<std::int64_t>(client.received);
        if (client.address != "-") entry.extra = client.address;
      }
    }
    if (listing->ports.size() < kMaxPorts) listing->ports.push_back(std::move(entry));
  }
  return plat::ERROR_SUCCESS;
}

plat::DWORD COpenVpnFunc::DisconnectPort(std::string_view server, std::string_view port) {
  common::PortOpsReply reply;
  return common::AskPortOps(server, common::PortOp::Disconnect, port, &reply);
}

}  // namespace pladmin
