#include "platform/ras/router_records.h"

#include "platform/errors.h"
#include "platform/wide.h"

namespace plat::ras {

namespace {

bool InSession(const PortInfo& p) {
  return p.state == PortState::Connected || p.state == PortState::Disconnecting;
}

DWORD Seconds(std::time_t from, std::time_t to) {
  return from != 0 && to > from ? static_cast<DWORD>(to - from) : 0;
}

}  // namespace

void FillRouterPort0(const PortInfo& p, std::time_t now, mprapi::RAS_PORT_0* out) {
  *out = mprapi::RAS_PORT_0{};
  out->hPort = mprapi::MakeHandle(p.handle);
  out->hConnection = mprapi::MakeHandle(p.connection);
  switch (p.state) {
    case PortState::Listening: out->dwPortCondition = mprapi::RAS_PORT_LISTENING; break;
    case PortState::Connecting: out->dwPortCondition = mprapi::RAS_PORT_AUTHENTICATING; break;
    case PortState::Connected: out->dwPortCondition = mprapi::RAS_PORT_AUTHENTICATED; break;
    case PortState::Disconnecting: out->dwPortCondition = mprapi::RAS_PORT_DISCONNECTED; break;
  }
  out->dwConnectDuration = InSession(p) ? Seconds(p.start, now) : 0;
  CopyToWide(p.name, out->wszPortName, mprapi::MAX_PORT_NAME + 1);
  CopyToWide("rastapi", out->wszMediaName, mprapi::MAX_MEDIA_NAME + 1);
  CopyToWide("Modem on " + p.name, out->wszDeviceName, mprapi::MAX_DEVICE_NAME + 1);
  CopyToWide("modem", out->wszDeviceType, mprapi::MAX_DEVICETYPE_NAME + 1);
}

void FillRouterPort1(const PortInfo& p, mprapi::RAS_PORT_1* out) {
  *out = mprapi::RAS_PORT_1{};
  out->hPort = mprapi::MakeHandle(p.handle);
  out->hConnection = mprapi::MakeHandle(p.connection);
  out->dwHardwareCondition = mprapi::RAS_HARDWARE_OPERATIONAL;
  out->dwLineSpeed = p.lineSpeed;
  // The interface counts in 32 bits; longer sessions wrap, as they do there.
  out->dwBytesXmited = static_cast<DWORD>(p.bytesSent);
  out->dwBytesRcved = static_cast<DWORD>(p.bytesReceived);
  out->dwFramesXmited = static_cast<DWORD>(p.bytesSent / 512);
  out->dwFramesRcved = static_cast<DWORD>(p.bytesReceived / 512);
  out->dwCompressionRatioIn = out->dwCompressionRatioOut = 100;
}

void FillConnection0(const std::vector<PortInfo>& links, std::time_t now,
                     mprapi::RAS_CONNECTION_0* out) {
  *out = mprapi::RAS_CONNECTION_0{};
  if (links.empty()) return;
  const PortInfo& p = links.front();
  out->hConnection = mprapi::MakeHandle(p.connection);
  out->hInterface = mprapi::MakeHandle(p.connection);
  out->dwConnectDuration = Seconds(p.connected, now);
  out->dwInterfaceType = mprapi::ROUTER_IF_TYPE_CLIENT;
  out->dwConnectionFlags = mprapi::RAS_FLAGS_PPP_CONNECTION | mprapi::RAS_FLAGS_MESSENGER_PRESENT;
  // A dial-in client's interface carries its user name.
  CopyToWide(p.user, out->wszInterfaceName, mprapi::MAX_INTERFACE_NAME_LEN + 1);
  CopyToWide(p.user, out->wszUserName, mprapi::UNLEN + 1);
  CopyToWide(p.domain, out->wszLogonDomain, mprapi::DNLEN + 1);
  CopyToWide(p.computer, out->wszRemoteComputer, mprapi::NETBIOS_NAME_LEN + 1);
}

void FillConnection1(const std::vector<PortInfo>& links, mprapi::RAS_CONNECTION_1* out) {
  *out = mprapi::RAS_CONNECTION_1{};
  if (links.empty()) return;
  const PortInfo& p = links.front();
  out->hConnection = out->hInterface = mprapi::MakeHandle(p.connection);
  auto& ppp = out->PppInfo;
  ppp.nbf.dwError = p.wksta.empty() ? ERROR_NOT_SUPPORTED : ERROR_SUCCESS;
  CopyToWide(p.wksta, ppp.nbf.wszWksta, mprapi::NETBIOS_NAME_LEN + 1);
  ppp.ip.dwError = p.address != 0 ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
  if (p.address != 0) {
    CopyToWide("10.0.0.1", ppp.ip.wszAddress, mprapi::IPADDRESSLEN + 1);
    CopyToWide(FormatIpAddress(p.address), ppp.ip.wszRemoteAddress, mprapi::IPADDRESSLEN + 1);
  }
  ppp.ipx.dwError = ERROR_NOT_SUPPORTED;
  ppp.at.dwError = ERROR_NOT_SUPPORTED;
  std::uint64_t sent = 0, received = 0;
  for (const PortInfo& link : links) {
    sent += link.bytesSent;
    received += link.bytesReceived;
  }
  out->dwBytesXmited = static_cast<DWORD>(sent);
  out->dwBytesRcved = static_cast<DWORD>(received);
  out->dwFramesXmited = static_cast<DWORD>(sent / 512);
  out->dwFramesRcved = static_cast<DWORD>(received / 512);
  out->dwCompressionRatioIn = out->dwCompressionRatioOut = 100;
}

}  // namespace plat::ras
