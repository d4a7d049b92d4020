#include "collector/port_snapshot.h"

#include <optional>
#include <vector>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "platform/ras/mprapi.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "platform/wide.h"

namespace collector {

namespace {

using plat::DWORD;
namespace mprapi = plat::mprapi;

template <size_t N>
std::string Text(const plat::WCHAR (&buffer)[N]) {
  return plat::FromWide(buffer, N);
}

// The functions of MPRAPI.DLL, looked up by name.
struct Mprapi {
  plat::Module module;
  mprapi::PFN_MprAdminServerConnect connect = nullptr;
  mprapi::PFN_MprAdminServerDisconnect disconnect = nullptr;
  mprapi::PFN_MprAdminPortEnum portEnum = nullptr;
  mprapi::PFN_MprAdminPortGetInfo portGetInfo = nullptr;
  mprapi::PFN_MprAdminConnectionGetInfo connectionGetInfo = nullptr;
  mprapi::PFN_MprAdminBufferFree bufferFree = nullptr;

  DWORD Load() {
    if (const DWORD err = module.Load("MPRAPI.DLL"); err != plat::ERROR_SUCCESS) return err;
    module.Export("MprAdminServerConnect", &connect);
    module.Export("MprAdminServerDisconnect", &disconnect);
    module.Export("MprAdminPortEnum", &portEnum);
    module.Export("MprAdminPortGetInfo", &portGetInfo);
    module.Export("MprAdminConnectionGetInfo", &connectionGetInfo);
    module.Export("MprAdminBufferFree", &bufferFree);
    const bool all = connect && disconnect && portEnum && portGetInfo && connectionGetInfo && bufferFree;
    return all ? plat::ERROR_SUCCESS : plat::ERROR_PROC_NOT_FOUND;
  }
};

// A buffer the router handed out, freed when it goes.
class RouterBuffer {
 public:
  explicit RouterBuffer(const Mprapi& api) : api_(api) {}
  ~RouterBuffer() {
    if (data_) api_.bufferFree(data_);
  }
  RouterBuffer(const RouterBuffer&) = delete;
  RouterBuffer& operator=(const RouterBuffer&) = delete;
  plat::BYTE** out() { return &data_; }
  template <typename T>
  const T* as() const {
    return reinterpret_cast<const T*>(data_);
  }

 private:
  const Mprapi& api_;
  plat::BYTE* data_ = nullptr;
};

// The keys of one port's section.
class SectionWriter {
 public:
  SectionWriter(std::string section, std::vector<plat::ProfileChange>* changes)
      : section_(std::move(section)), changes_(changes) {}
  void Number(const char* key, long long value) { Put(key, std::to_string(value)); }
  void Put(const char* key, std::string value) { changes_->push_back({section_, key, std::move(value)}); }

 private:
  std::string section_;
  std::vector<plat::ProfileChange>* changes_;
};

// The keys of one port; false when a router call failed (traced).
bool DescribePort(const Mprapi& api, mprapi::MPR_SERVER_HANDLE server,
                  const mprapi::RAS_PORT_0& p0, std::time_t now, const TraceLine& trace,
                  std::vector<plat::ProfileChange>* changes) {
  SectionWriter s(Text(p0.wszPortName), changes);
  s.Number("dwPortCondition", p0.dwPortCondition);
  s.Put("szMediaName", Text(p0.wszMediaName));
  s.Put("szDeviceName", Text(p0.wszDeviceName));
  s.Put("szDeviceType", Text(p0.wszDeviceType));
  s.Number("Connected", static_cast<long long>(now) - p0.dwConnectDuration);

  RouterBuffer port(api);
  if (const DWORD err = api.portGetInfo(server, 1, p0.hPort, port.out()); err != plat::ERROR_SUCCESS) {
    trace(plat::FormatText("Admin port get info failed with error %d", err));
    return false;
  }
  const auto* p1 = port.as<mprapi::RAS_PORT_1>();
  s.Number("dwBytesRX", p1->dwBytesRcved);
  s.Number("dwBytesTX", p1->dwBytesXmited);
  s.Number("dwHWCondition", p1->dwHardwareCondition);
  s.Number("dwLineSpeed", p1->dwLineSpeed);
  s.Number("dwFramesRX", p1->dwFramesRcved);
  s.Number("dwFramesTX", p1->dwFramesXmited);
  s.Number("dwCRCError", p1->dwCrcErr);
  s.Number("dwTimeOutErr", p1->dwTimeoutErr);
  s.Number("dwAlignmentErr", p1->dwAlignmentErr);
  s.Number("dwHWOverrunErr", p1->dwHardwareOverrunErr);
  s.Number("dwFramingErr", p1->dwFramingErr);
  s.Number("dwBufferOverrunErr", p1->dwBufferOverrunErr);
  s.Number("dwCompressionRatioIn", p1->dwCompressionRatioIn);
  s.Number("dwCompressionRatioOut", p1->dwCompressionRatioOut);

  // A link that came up within this second has no duration yet, but it has
  // its connection.
  if (p0.dwConnectDuration == 0 && p0.hConnection == nullptr) {
    s.Number("dwBytesRcved", 0);
    return true;
  }
  RouterBuffer level0(api), level1(api);
  DWORD err = api.connectionGetInfo(server, 0, p0.hConnection, level0.out());
  if (err == plat::ERROR_SUCCESS) err = api.connectionGetInfo(server, 1, p0.hConnection, level1.out());
  if (err != plat::ERROR_SUCCESS) {
    trace(plat::FormatText("Admin connection get info failed with error %d", err));
    return false;
  }
  const auto* c0 = level0.as<mprapi::RAS_CONNECTION_0>();
  const auto* c1 = level1.as<mprapi::RAS_CONNECTION_1>();
  s.Put("szUserName", Text(c0->wszLogonDomain) + "\\" + Text(c0->wszUserName));
  s.Put("szInterfaceName", Text(c0->wszInterfaceName));
  s.Put("szComputer", Text(c0->wszRemoteComputer));
  const mprapi::PPP_INFO& ppp = c1->PppInfo;
  if (ppp.ip.dwError == 0) s.Put("szIP", Text(ppp.ip.wszRemoteAddress));
  if (ppp.ipx.dwError == 0) s.Put("szIPX", Text(ppp.ipx.wszAddress));
  if (ppp.nbf.dwError == 0) s.Put("szNBF", Text(ppp.nbf.wszWksta));
  return true;
}

// Every port's keys; false when the router could not be read whole.
bool ReadRouter(const Mprapi& api, const TraceLine& trace, std::vector<plat::ProfileChange>* changes) {
  mprapi::MPR_SERVER_HANDLE server = nullptr;
  if (const DWORD err = api.connect(nullptr, &server); err != plat::ERROR_SUCCESS) {
    trace(plat::FormatText("Admin server connect failed with error %d", err));
    return false;
  }
  bool complete = false;
  {
    RouterBuffer ports(api);
    DWORD read = 0, total = 0, resume = 0;
    const DWORD err = api.portEnum(server, 0, mprapi::INVALID_HANDLE_VALUE, ports.out(),
                                   mprapi::MAX_PREFERRED_LENGTH, &read, &total, &resume);
    if (err != plat::ERROR_SUCCESS) {
      trace(plat::FormatText("Admin port enum failed with error %d", err));
    } else {
      trace(plat::FormatText("PortEnum returned %u ports of %u in total", read, total));
      const std::time_t now = plat::Now();
      complete = true;
      for (DWORD i = 0; i < read && complete; ++i) {
        complete = DescribePort(api, server, ports.as<mprapi::RAS_PORT_0>()[i], now, trace, changes);
      }
    }
    trace("Free Buffer Memory");
  }
  trace("Disconnect");
  api.disconnect(server);
  trace("End");
  return complete;
}

}  // namespace

std::string SnapshotPath() { return plat::GetWindowsDirectory() + "\\" + kSnapshotFile; }
std::string TemporaryPath() { return plat::GetWindowsDirectory() + "\\" + kTemporaryFile; }

bool CollectPortData(const TraceLine& trace) {
  trace("Create");
  const std::string temporary = TemporaryPath();
  plat::DeleteFile(temporary);
  Mprapi api;
  if (const DWORD err = api.Load(); err != plat::ERROR_SUCCESS) {
    trace(plat::FormatText("Unable to load MPRAPI.DLL, error %d", err));
    return false;
  }
  std::vector<plat::ProfileChange> changes;
  if (!ReadRouter(api, trace, &changes)) {
    trace("Port data incomplete, rrasdata.dat left as it was");
    return false;
  }
  // The snapshot is written whole in one go, then moved into place.
  if (const DWORD err = plat::ProfileApply(temporary, changes); err != plat::ERROR_SUCCESS) {
    trace(plat::FormatText("Cannot write the port data, error %d", err));
    return false;
  }
  // A router without ports still leaves a (empty) snapshot behind.
  if (changes.empty()) plat::AppendToFile(temporary, "");
  const DWORD err = plat::MoveFileEx(temporary, SnapshotPath(),
                                     plat::MOVEFILE_REPLACE_EXISTING | plat::MOVEFILE_WRITE_THROUGH);
  if (err != plat::ERROR_SUCCESS) trace(plat::FormatText("MoveFileEx Error %d", err));
  trace("End of End");
  return err == plat::ERROR_SUCCESS;
}

}  // namespace collector
