// _plsvc.dll / _pladmin.dll: the port-data module of a router machine (see
// port_data.h), answered by the machine's remote-access service.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/ras/port_data.h"
#include "platform/ras/rassvc_protocol.h"

namespace {

using plat::BOOL;
using plat::DWORD;
namespace ras = plat::ras;
namespace portdata = plat::portdata;

std::string Server(const char* server) { return server ? std::string(server) : std::string(); }

// The last listing RRAS_UpdatePortData took.
class Listing {
 public:
  void Replace(std::vector<ras::PortInfo> ports) {
    std::lock_guard lock(mutex_);
    ports_ = std::move(ports);
  }
  bool Get(DWORD index, ras::PortInfo* port) const {
    std::lock_guard lock(mutex_);
    if (index >= ports_.size()) return false;
    *port = ports_[index];
    return true;
  }

 private:
  mutable std::mutex mutex_;  // guards ports_
  std::vector<ras::PortInfo> ports_;
};

Listing& LastListing() {
  static Listing listing;
  return listing;
}

void CopyText(const std::string& text, char* out, unsigned size) {
  if (out) std::snprintf(out, size, "%s", text.c_str());
}

template <typename Body>
BOOL Guarded(Body body) {
  try {
    return body() ? plat::TRUE : plat::FALSE;
  } catch (...) {
    return plat::FALSE;
  }
}

}  // namespace

#define PORTDATA_EXPORT extern "C" __attribute__((visibility("default")))

PORTDATA_EXPORT BOOL RRAS_Init() { return plat::TRUE; }

PORTDATA_EXPORT BOOL RRAS_DisconnectPort(const char* server, const char* port) {
  return Guarded([&] {
    if (!port || !*port) return false;
    return ras::CallRasService(Server(server), ras::JoinFields({"DISCONNECT", port}), nullptr,
                               nullptr, nullptr) == plat::ERROR_SUCCESS;
  });
}

PORTDATA_EXPORT BOOL RRAS_GetNumberOfPorts(const char* server, DWORD* total, DWORD* inUse) {
  return Guarded([&] {
    std::vector<ras::PortInfo> ports;
    if (!total || !inUse || ras::ListRasPorts(Server(server), &ports) != plat::ERROR_SUCCESS) {
      return false;
    }
    *total = static_cast<DWORD>(ports.size());
    *inUse = 0;
    for (const auto& p : ports) *inUse += p.state != ras::PortState::Listening ? 1 : 0;
    return true;
  });
}

PORTDATA_EXPORT BOOL RRAS_UpdatePortData(const char* server, DWORD* count) {
  return Guarded([&] {
    std::vector<ras::PortInfo> ports;
    if (!count || ras::ListRasPorts(Server(server), &ports) != plat::ERROR_SUCCESS) return false;
    *count = static_cast<DWORD>(ports.size());
    LastListing().Replace(std::move(ports));
    return true;
  });
}

PORTDATA_EXPORT BOOL RRAS_GetPortData(DWORD index, char* name, char* user, char* extra,
                                      DWORD* start) {
  return Guarded([&] {
    ras::PortInfo p;
    if (!LastListing().Get(index, &p)) return false;
    const bool inUse = p.state != ras::PortState::Listening;
    CopyText(p.name, name, portdata::kPortNameSize);
    CopyText(inUse ? p.domain + "\\" + p.user : std::string(), user, portdata::kUserSize);
    CopyText(inUse && p.address != 0 ? ras::FormatIpAddress(p.address) : std::string(), extra,
             portdata::kExtraSize);
    if (start) *start = inUse ? static_cast<DWORD>(p.start) : 0;
    return true;
  });
}
