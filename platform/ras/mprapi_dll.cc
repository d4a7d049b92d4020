// MPRAPI.DLL: the router administration functions the collector reads the
// ports with, answered by the machine's remote-access service (rassvc) over
// its pipe. A port's handle is its place in the port list (1, 2, ...), a
// connection's handle the one rassvc gave it. Buffers handed out are freed
// with MprAdminBufferFree, which accepts only buffers that came from here.
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/ras/buffer_table.h"
#include "platform/ras/mprapi.h"
#include "platform/ras/router_records.h"
#include "platform/ras/rassvc_protocol.h"
#include "platform/sysinfo.h"
#include "platform/wide.h"

namespace {

using plat::BYTE;
using plat::DWORD;
using plat::WCHAR;
namespace mprapi = plat::mprapi;
namespace ras = plat::ras;

constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INVALID_LEVEL = 124;

ras::BufferTable& Buffers() {
  static ras::BufferTable table;
  return table;
}

// What a server handle stands for: the machine it was connected to.
struct ServerConnection {
  std::string server;
};

// The connections handed out and not yet disconnected.
class ConnectionTable {
 public:
  mprapi::MPR_SERVER_HANDLE Add(std::string server) {
    auto c = std::make_unique<ServerConnection>(ServerConnection{std::move(server)});
    mprapi::MPR_SERVER_HANDLE h = c.get();
    std::lock_guard lock(mutex_);
    live_.insert(std::move(c));
    return h;
  }
  // The machine of a live handle; false for anything else.
  bool Find(mprapi::MPR_SERVER_HANDLE h, std::string* server) {
    std::lock_guard lock(mutex_);
    for (const auto& c : live_) {
      if (c.get() == h) {
        *server = c->server;
        return true;
      }
    }
    return false;
  }
  void Remove(mprapi::MPR_SERVER_HANDLE h) {
    std::lock_guard lock(mutex_);
    for (auto it = live_.begin(); it != live_.end(); ++it) {
      if (it->get() == h) {
        live_.erase(it);
        return;
      }
    }
  }

 private:
  std::mutex mutex_;  // guards live_
  std::set<std::unique_ptr<ServerConnection>> live_;
};

ConnectionTable& Connections() {
  static ConnectionTable table;
  return table;
}

// Every port of the router, with its handle.
DWORD ReadPorts(mprapi::MPR_SERVER_HANDLE h, std::vector<ras::PortInfo>* ports) {
  std::string server;
  if (!Connections().Find(h, &server)) return ERROR_INVALID_HANDLE;
  const DWORD err = ras::ListRasPorts(server, ports);
  for (size_t i = 0; i < ports->size(); ++i) (*ports)[i].handle = static_cast<DWORD>(i + 1);
  return err;
}

template <typename T>
DWORD HandOut(const T& record, BYTE** buffer) {
  T* out = Buffers().Allocate<T>(1);
  if (!out) return plat::ERROR_NOT_ENOUGH_MEMORY;
  *out = record;
  *buffer = reinterpret_cast<BYTE*>(out);
  return plat::ERROR_SUCCESS;
}

DWORD PortEnum(mprapi::MPR_SERVER_HANDLE h, mprapi::HANDLE connection, BYTE** buffer,
               DWORD* entriesRead, DWORD* totalEntries) {
  std::vector<ras::PortInfo> ports;
  if (const DWORD err = ReadPorts(h, &ports); err != plat::ERROR_SUCCESS) return err;
  const bool all = connection == nullptr || connection == mprapi::INVALID_HANDLE_VALUE;
  std::vector<ras::PortInfo> chosen;
  for (const ras::PortInfo& p : ports) {
    if (all || p.connection == mprapi::HandleValue(connection)) chosen.push_back(p);
  }
  if (chosen.empty()) return plat::ERROR_SUCCESS;
  auto* out = Buffers().Allocate<mprapi::RAS_PORT_0>(chosen.size());
  if (!out) return plat::ERROR_NOT_ENOUGH_MEMORY;
  const std::time_t now = plat::Now();
  for (size_t i = 0; i < chosen.size(); ++i) ras::FillRouterPort0(chosen[i], now, &out[i]);
  *buffer = reinterpret_cast<BYTE*>(out);
  *entriesRead = *totalEntries = static_cast<DWORD>(chosen.size());
  return plat::ERROR_SUCCESS;
}

DWORD PortGetInfo(mprapi::MPR_SERVER_HANDLE h, DWORD level, mprapi::HANDLE port, BYTE** buffer) {
  std::vector<ras::PortInfo> ports;
  if (const DWORD err = ReadPorts(h, &ports); err != plat::ERROR_SUCCESS) return err;
  const DWORD index = mprapi::HandleValue(port);
  if (index == 0 || index > ports.size()) return ERROR_INVALID_HANDLE;
  const ras::PortInfo& p = ports[index - 1];
  if (level == 0) {
    mprapi::RAS_PORT_0 record;
    ras::FillRouterPort0(p, plat::Now(), &record);
    return HandOut(record, buffer);
  }
  mprapi::RAS_PORT_1 record;
  ras::FillRouterPort1(p, &record);
  return HandOut(record, buffer);
}

DWORD ConnectionGetInfo(mprapi::MPR_SERVER_HANDLE h, DWORD level, mprapi::HANDLE connection,
                        BYTE** buffer) {
  std::vector<ras::PortInfo> ports;
  if (const DWORD err = ReadPorts(h, &ports); err != plat::ERROR_SUCCESS) return err;
  std::vector<ras::PortInfo> links;
  for (const ras::PortInfo& p : ports) {
    if (p.connection != 0 && p.connection == mprapi::HandleValue(connection)) links.push_back(p);
  }
  if (links.empty()) return ERROR_INVALID_HANDLE;
  if (level == 0) {
    mprapi::RAS_CONNECTION_0 record;
    ras::FillConnection0(links, plat::Now(), &record);
    return HandOut(record, buffer);
  }
  mprapi::RAS_CONNECTION_1 record;
  ras::FillConnection1(links, &record);
  return HandOut(record, buffer);
}

}  // namespace

#define MPRAPI_EXPORT extern "C" __attribute__((visibility("default")))

MPRAPI_EXPORT DWORD MprAdminServerConnect(const WCHAR* server, mprapi::MPR_SERVER_HANDLE* handle) {
  if (!handle) return plat::ERROR_INVALID_PARAMETER;
  *handle = nullptr;
  return ras::Guarded([&]() -> DWORD {
    const std::string name = server ? plat::FromWide(server, 64) : std::string();
    // The router must be there to be connected to.
    std::vector<std::string> fields, lines;
    if (const DWORD err = ras::CallRasService(name, "PORTS", &fields, &lines, nullptr);
        err != plat::ERROR_SUCCESS) {
      return err;
    }
    *handle = Connections().Add(name);
    return plat::ERROR_SUCCESS;
  });
}

MPRAPI_EXPORT void MprAdminServerDisconnect(mprapi::MPR_SERVER_HANDLE handle) {
  try {
    Connections().Remove(handle);
  } catch (...) {
  }
}

MPRAPI_EXPORT DWORD MprAdminPortEnum(mprapi::MPR_SERVER_HANDLE handle, DWORD level,
                                     mprapi::HANDLE connection, BYTE** buffer,
                                     DWORD /*preferredMaximumLength*/, DWORD* entriesRead,
                                     DWORD* totalEntries, DWORD* resumeHandle) {
  if (!buffer || !entriesRead || !totalEntries) return plat::ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  *entriesRead = *totalEntries = 0;
  if (resumeHandle) *resumeHandle = 0;
  if (level != 0) return ERROR_INVALID_LEVEL;
  return ras::Guarded(
      [&] { return PortEnum(handle, connection, buffer, entriesRead, totalEntries); });
}

MPRAPI_EXPORT DWORD MprAdminPortGetInfo(mprapi::MPR_SERVER_HANDLE handle, DWORD level,
                                        mprapi::HANDLE port, BYTE** buffer) {
  if (!buffer) return plat::ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  if (level > 1) return ERROR_INVALID_LEVEL;
  return ras::Guarded([&] { return PortGetInfo(handle, level, port, buffer); });
}

MPRAPI_EXPORT DWORD MprAdminConnectionGetInfo(mprapi::MPR_SERVER_HANDLE handle, DWORD level,
                                              mprapi::HANDLE connection, BYTE** buffer) {
  if (!buffer) return plat::ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  if (level > 1) return ERROR_INVALID_LEVEL;
  return ras::Guarded([&] { return ConnectionGetInfo(handle, level, connection, buffer); });
}

MPRAPI_EXPORT DWORD MprAdminBufferFree(void* buffer) { return Buffers().Free(buffer); }
